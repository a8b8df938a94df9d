#include "containers/zip_read_hook.h"

namespace vardel {

void ZipReadHook::start_file() {
    if (encoder_) encoder_->restart();
}

bool ZipReadHook::read(platform::File& file, void* buffer, size_t size, size_t& bytes_read) {
    bytes_read = 0;
    if (abort_.load(std::memory_order_relaxed)) return false;
    ssize_t n = file.read(buffer, size);
    if (n < 0) return false;
    bytes_read = static_cast<size_t>(n);
    if (encoder_ && n > 0) encoder_->encode(buffer, n);
    return true;
}

}  // namespace vardel
