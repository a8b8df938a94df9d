#include "tests/vardelrestore/restore_support.h"

#include "common/destination_names.h"
#include "common/ini_document.h"
#include "containers/crc32.h"
#include "containers/password_stream.h"
#include "containers/saf_format.h"
#include "tests/support/scratch.h"

namespace vardel::test {

void write_saf(const std::string& path, const std::vector<SafItem>& items,
               const std::string& password) {
    std::string out(saf::kFileHeaderSize, '\0');
    SafFileHeader fh;
    if (!password.empty()) {
        fh.encoding = static_cast<uint16_t>(SafEncoding::PasswordStream);
        fh.check_value = PasswordStream::make_check_value(password);
    }
    uint32_t number = 0;
    auto entry = [&](const std::string& name, std::string data, uint32_t type, uint64_t time) {
        SafDataHeader h;
        h.number = number++;
        h.attributes = type == 1 ? 0x80 : 0;
        uint32_t plain_crc =
            crc32_update(0, reinterpret_cast<const uint8_t*>(data.data()), data.size());
        if (!password.empty()) {
            PasswordStream s(password);
            s.encode(data.data(), static_cast<std::ptrdiff_t>(data.size()));
        }
        h.stored_length = h.plain_length = data.size();
        h.plain_crc = h.stored_crc = plain_crc;
        h.name_length = name.empty() ? 0 : static_cast<uint32_t>(name.size() + 1);
        h.last_write = h.creation = h.last_access = time;
        h.flags = SafDataHeader::make_flags(type, saf::kMethodStored);
        uint8_t bytes[saf::kDataHeaderSize];
        h.encode(bytes);
        out.append(reinterpret_cast<char*>(bytes), sizeof bytes);
        if (!name.empty()) out.append(name.c_str(), name.size() + 1);
        out += data;
    };
    for (const SafItem& i : items) entry(i.name, i.data, i.type, i.last_write);
    fh.trailer_offset = out.size();
    entry("", "", saf::kTypeTrailer, 0);
    fh.entry_count = number;
    fh.archive_length = out.size();
    uint8_t head[saf::kFileHeaderSize];
    fh.encode(head);
    out.replace(0, sizeof head, reinterpret_cast<char*>(head), sizeof head);
    write_whole_file(path, out);
}

void write_state(const std::string& folder, const std::string& name, int format,
                 const std::vector<std::pair<int, int>>& instances, int cycles, int per_cycle,
                 bool encode) {
    namespace d = destination;
    IniDocument ini;
    ini.set_text(d::kSection, d::kName, name);
    ini.set_number(d::kSection, d::kCycles, cycles);
    ini.set_number(d::kSection, d::kBackupsPerCycle, per_cycle);
    ini.set_number(d::kSection, d::kSaveFormat, format);
    ini.set_number(d::kSection, d::kEncode, encode ? 1 : 0);
    for (auto [k, s] : instances) {
        ini.set_number(d::kSection, d::kCycle, k);
        ini.set_number(d::kSection, d::kSequence, s);
        ini.set_number(d::kSection, d::instance_key(k, s), 1700000000 + 100 * k + s);
    }
    write_whole_file(folder + "/" + d::kStateFile, ini.serialise());
}

}  // namespace vardel::test
