#include "containers/password_stream.h"

#include "containers/crc32.h"

namespace vardel {

void PasswordStream::set_key(std::string_view key) {
    key_.assign(key);
    key_.push_back('\0');
    position_ = 0;
}

void PasswordStream::encode(void* data, std::ptrdiff_t length) {
    if (length <= 0 || key_.empty()) return;
    auto* p = static_cast<unsigned char*>(data);
    const auto* k = reinterpret_cast<const unsigned char*>(key_.data());
    const size_t period = key_.size();  // L + 1
    size_t pos = position_;
    for (std::ptrdiff_t i = 0; i < length; ++i) {
        p[i] ^= static_cast<unsigned char>(k[pos] + pos);
        if (++pos == period) pos = 0;
    }
    position_ = pos;
}

uint32_t PasswordStream::make_check_value(std::string_view password) {
    PasswordStream s(password);
    std::string sentence(kCheckSentence);
    s.encode(sentence.data(), static_cast<std::ptrdiff_t>(sentence.size()));
    return crc32_of(sentence.data(), sentence.size());
}

}  // namespace vardel
