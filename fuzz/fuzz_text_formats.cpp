// The suite's small text formats on arbitrary bytes: an INI document, a list
// file line, a socket record and the status text in it must parse to
// something or nothing, never crash; a list line written from any text reads
// back as that text, and a record's text survives its own encoding.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/destination_names.h"
#include "common/ini_document.h"
#include "common/list_file.h"
#include "common/pipe_record.h"
#include "pipeclient/service_status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);

    vardel::IniDocument doc;
    doc.parse(in);
    vardel::IniDocument again;
    again.parse(doc.serialise());
    (void)again.get_number(vardel::destination::kSection, vardel::destination::kSequence);

    vardel::ListLine line;
    vardel::parse_list_line(in, line);
    std::string written = vardel::format_list_line('B', in);
    vardel::ListLine back;
    if (!vardel::parse_list_line(std::string_view(written).substr(0, written.size() - 2), back) ||
        back.text != in)
        std::abort();

    if (auto rec = vardel::PipeRecord::decode(in)) {
        if (rec->text.size() > vardel::PipeRecord::kMaxText) std::abort();
        if (vardel::PipeRecord::decode(rec->encode())->text != rec->text) std::abort();
        vardel::ServiceStatus status = vardel::ServiceStatus::parse(rec->text);
        (void)status.enabled();
        (void)status.running();
    }
    return 0;
}
