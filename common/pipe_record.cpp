#include "common/pipe_record.h"

namespace vardel {

std::string PipeRecord::encode() const {
    std::string_view t(text);
    if (t.size() > kMaxText) t = t.substr(0, kMaxText);
    // A zero byte inside the text would end it early on the other side.
    size_t zero = t.find('\0');
    if (zero != std::string_view::npos) t = t.substr(0, zero);
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
    out.append(t);
    out.push_back('\0');
    return out;
}

std::optional<PipeRecord> PipeRecord::decode(std::string_view bytes) {
    if (bytes.size() < 4 || bytes.size() > kMaxRecord) return std::nullopt;
    PipeRecord r;
    for (int i = 0; i < 4; ++i)
        r.code |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    std::string_view t = bytes.substr(4);
    size_t zero = t.find('\0');
    r.text.assign(zero == std::string_view::npos ? t : t.substr(0, zero));
    return r;
}

}  // namespace vardel
