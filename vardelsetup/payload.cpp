#include "vardelsetup/payload.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "common/text_helpers.h"
#include "containers/zip_reader.h"
#include "platform/file.h"

namespace vardel {

namespace {

// The payload is flat: an entry that names a folder, or climbs out of
// one, is no file of the suite's.
bool plain_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

}  // namespace

PayloadUnpacker::PayloadUnpacker(std::span<const unsigned char> payload, std::string scratch,
                                 Progress progress)
    : payload_(payload), scratch_(std::move(scratch)), progress_(std::move(progress)) {}

std::string PayloadUnpacker::folder() const {
    return scratch_ + "/" + kFolderName + "/";
}

bool PayloadUnpacker::fail(std::string text) {
    error_ = std::move(text);
    return false;
}

bool PayloadUnpacker::run() {
    if (payload_.empty()) return fail("The setup program carries no files to install");
    const std::string archive = scratch_ + "/" + kArchiveName;
    if (progress_) progress_("Extracting resource...", 0);
    if (!write_archive(archive)) return false;
    if (progress_) progress_("Extracting files...", 0);
    if (!extract(archive)) return false;
    if (progress_) progress_("Done.", 100);
    return true;
}

bool PayloadUnpacker::write_archive(const std::string& path) {
    platform::File out;
    // Made anew: a file already there (or a link) is never written through.
    if (!out.open(path, platform::OpenMode::CreateNew, 0600))
        return fail(strprintf("Can't create %s: %s", path.c_str(), system_error_text(out.error())));
    size_t written = 0;
    while (written < payload_.size()) {
        if (cancelled_) return fail("Cancelled");
        size_t n = std::min(kBlockSize, payload_.size() - written);
        if (!out.write_all(payload_.data() + written, n))
            return fail(
                strprintf("Can't write %s: %s", path.c_str(), system_error_text(out.error())));
        written += n;
        if (progress_)
            progress_("Extracting resource...", static_cast<int>(written * 100 / payload_.size()));
    }
    if (!out.sync())
        return fail(strprintf("Can't write %s: %s", path.c_str(), system_error_text(out.error())));
    return true;
}

bool PayloadUnpacker::extract(const std::string& archive) {
    ZipResult result = ZR_OK;
    std::unique_ptr<ZipReader> zip = ZipReader::open(archive, &result);
    if (!zip) {
        ::unlink(archive.c_str());
        return fail("The setup program's files are damaged: " + archive +
                    " is no readable archive");
    }
    const std::string dir = folder();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return fail(strprintf("Can't create %s: %s", dir.c_str(), system_error_text(errno)));
    const size_t count = zip->entry_count();
    for (size_t i = 0; i < count; ++i) {
        if (cancelled_) return fail("Cancelled");
        if (progress_) progress_("Extracting files...", static_cast<int>(i * 100 / count));
        const ZipEntryInfo* e = zip->entry(i);
        // A damaged entry is left out; the copy step then names the file missing.
        if (e && plain_name(e->name) && (e->attributes & 0x10) == 0) zip->extract(i, dir + e->name);
    }
    return true;
}

}  // namespace vardel
