#pragma once
// The password stream: a keyed byte stream XORed over file data. The
// operation is its own inverse, so the same calls encode and decode.
// Byte b at position p becomes b ^ ((K[p] + p) mod 256), K being the key
// followed by its terminating zero; p runs 0..L and wraps to 0.
//
// One object per user (the backup run, the restore tool); not thread-safe.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vardel {

class PasswordStream {
  public:
    // The 43 bytes whose encoded CRC-32 is a SAF archive's check value.
    static constexpr std::string_view kCheckSentence =
        "The quick brown fox jumps over the lazy dog";

    PasswordStream() = default;
    explicit PasswordStream(std::string_view key) { set_key(key); }

    // Stores the key and restarts at position 0.
    void set_key(std::string_view key);
    const std::string& key() const { return key_; }
    // Position 0: called at the start of every file.
    void restart() { position_ = 0; }
    // Where the stream stands after `offset` bytes of a file, so that parts
    // of one file can be encoded apart (each with its own copy).
    void seek(uint64_t offset) { position_ = key_.empty() ? 0 : offset % key_.size(); }
    // Encodes (or decodes) in place, carrying the position over.
    void encode(void* data, std::ptrdiff_t length);
    size_t position() const { return position_; }

    // The SAF check value for a password: CRC-32 of the encoded check sentence.
    static uint32_t make_check_value(std::string_view password);
    static bool test_check_value(std::string_view password, uint32_t stored) {
        return make_check_value(password) == stored;
    }

  private:
    std::string key_;  // password bytes plus the terminating zero
    size_t position_ = 0;
};

}  // namespace vardel
