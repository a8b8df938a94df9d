// Feeds arbitrary bytes to the ZIP reader as an archive file: opening,
// listing and extracting every entry must give result codes, never a crash.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "containers/zip_reader.h"

namespace {

const std::string& work_dir() {
    static std::string dir = [] {
        std::string tmpl = (std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp") +
                           std::string("/vardel-fuzz-zip-XXXXXX");
        if (!mkdtemp(tmpl.data())) std::abort();
        return tmpl;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string archive = work_dir() + "/in.zip";
    const std::string target = work_dir() + "/out";
    if (FILE* f = std::fopen(archive.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    vardel::ZipResult result = 0;
    auto reader = vardel::ZipReader::open(archive, &result);
    if (reader) {
        for (size_t i = 0; i < reader->entry_count() && i < 64; ++i) {
            const vardel::ZipEntryInfo* e = reader->entry(i);
            // A claimed size bounds what an entry may inflate to; keep the runs short.
            if (e->size > (16u << 20)) continue;
            reader->extract(i, target, [](void* p, size_t n) {
                if (n) static_cast<unsigned char*>(p)[0] ^= 1;
            });
            std::error_code ec;
            std::filesystem::remove_all(target, ec);
        }
        char text[32];
        reader->result_text(vardel::ZR_RECENT, text, sizeof text);
    }
    return 0;
}
