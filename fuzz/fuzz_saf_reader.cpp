// The SAF reader on arbitrary bytes: open, password, every data header and
// every entry extracted must give entries or MyError, never a crash, a
// hang, a huge allocation or a write anywhere but the one target.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/my_error.h"
#include "containers/saf_reader.h"

namespace {
std::string scratch() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/fuzz-saf-XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();
        return std::string(tmpl);
    }();
    return dir;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string archive = scratch() + "/in.SAF", target = scratch() + "/target";
    FILE* f = std::fopen(archive.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    static vardel::SafReader reader;
    try {
        reader.open(archive);
        reader.set_password("pw");
        for (uint32_t i = 0; i < reader.entry_count(); ++i) reader.entry(i);
        for (uint32_t i = 0; i < reader.entry_count(); ++i) {
            try {
                reader.extract_entry(i, target);
            } catch (const vardel::MyError&) {
            }
            ::unlink(target.c_str());
            ::rmdir(target.c_str());
        }
    } catch (const vardel::MyError&) {
    }
    reader.close();
    return 0;
}
