#include "containers/password_stream.h"

#include <gtest/gtest.h>

#include <vector>

namespace vardel {
namespace {

std::vector<unsigned char> key_stream(PasswordStream& s, size_t n) {
    std::vector<unsigned char> zeros(n, 0);
    s.encode(zeros.data(), static_cast<std::ptrdiff_t>(n));
    return zeros;
}

TEST(PasswordStream, AOneBytePasswordRepeatsWithPeriodTwo) {
    PasswordStream s("A");
    EXPECT_EQ(key_stream(s, 6), (std::vector<unsigned char>{'A', 1, 'A', 1, 'A', 1}));
}

TEST(PasswordStream, TheLastByteOfEachPeriodIsTheLengthAndPositionsAddIn) {
    PasswordStream s("abc");
    // K = a b c \0 at positions 0..3: a+0, b+1, c+2, 0+3
    EXPECT_EQ(key_stream(s, 8),
              (std::vector<unsigned char>{'a', 'b' + 1, 'c' + 2, 3, 'a', 'b' + 1, 'c' + 2, 3}));
    PasswordStream wrap(std::string(300, '\xff'));
    auto ks = key_stream(wrap, 301);
    EXPECT_EQ(ks[299], static_cast<unsigned char>(0xff + 299));
    EXPECT_EQ(ks[300], static_cast<unsigned char>(300 % 256));
}

TEST(PasswordStream, TwoCallsEqualOneAndEncodingTwiceRestores) {
    std::string plain = "some file data that spans more than one period of the key";
    PasswordStream one("secret"), two("secret");
    std::string a = plain, b = plain;
    one.encode(a.data(), static_cast<std::ptrdiff_t>(a.size()));
    two.encode(b.data(), 10);
    two.encode(b.data() + 10, static_cast<std::ptrdiff_t>(b.size() - 10));
    EXPECT_EQ(a, b);
    EXPECT_NE(a, plain);
    one.restart();
    one.encode(a.data(), static_cast<std::ptrdiff_t>(a.size()));
    EXPECT_EQ(a, plain);
    one.encode(a.data(), 0);
    one.encode(a.data(), -5);
    EXPECT_EQ(a, plain);
}

TEST(PasswordStream, RestartStartsEveryFileAtKeyByteZero) {
    PasswordStream s("pw");
    std::string f1 = "first file", f2 = "second";
    s.encode(f1.data(), static_cast<std::ptrdiff_t>(f1.size()));
    s.restart();
    s.encode(f2.data(), static_cast<std::ptrdiff_t>(f2.size()));
    PasswordStream fresh("pw");
    std::string expect = "second";
    fresh.encode(expect.data(), static_cast<std::ptrdiff_t>(expect.size()));
    EXPECT_EQ(f2, expect);
}

// The standard CRC-32, bit by bit, independent of zlib.
uint32_t crc32_by_hand(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

TEST(PasswordStream, CheckValueIsTheCrcOfTheEncodedSentence) {
    std::string sentence(PasswordStream::kCheckSentence);
    ASSERT_EQ(sentence.size(), 43u);
    EXPECT_EQ(crc32_by_hand(sentence), 0x414FA339u);  // the well-known CRC of the sentence
    std::string encoded = sentence;
    const std::string key = "Tr0ub4dor";
    for (size_t i = 0, p = 0; i < encoded.size(); ++i) {
        unsigned char k = p < key.size() ? static_cast<unsigned char>(key[p]) : 0;
        encoded[i] = static_cast<char>(encoded[i] ^ static_cast<unsigned char>(k + p));
        p = p == key.size() ? 0 : p + 1;
    }
    uint32_t expected = crc32_by_hand(encoded);
    EXPECT_EQ(PasswordStream::make_check_value(key), expected);
    EXPECT_TRUE(PasswordStream::test_check_value(key, expected));
    EXPECT_FALSE(PasswordStream::test_check_value("tr0ub4dor", expected));
}

}  // namespace
}  // namespace vardel
