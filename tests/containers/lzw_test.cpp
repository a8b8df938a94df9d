#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/my_error.h"
#include "containers/lzw_bit_joiner.h"
#include "containers/lzw_decoder.h"
#include "containers/lzw_encoder.h"

namespace vardel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Compresses in blocks of the given sizes (cycled), then finishes.
Bytes compress(LzwEncoder& enc, const Bytes& in, const std::vector<size_t>& blocks = {65536}) {
    enc.reset();
    Bytes out;
    size_t pos = 0, i = 0;
    while (pos < in.size()) {
        size_t n = std::min(blocks[i++ % blocks.size()], in.size() - pos);
        size_t at = out.size();
        out.resize(at + LzwEncoder::max_output(n));
        out.resize(at + enc.compress(in.data() + pos, n, out.data() + at));
        pos += n;
    }
    size_t at = out.size();
    out.resize(at + LzwEncoder::kMaxFinishBytes);
    out.resize(at + enc.finish(out.data() + at));
    return out;
}

Bytes compress(const Bytes& in, const std::vector<size_t>& blocks = {65536}) {
    LzwEncoder enc;
    return compress(enc, in, blocks);
}

Bytes decompress(LzwDecoder& dec, const Bytes& in, size_t block = 65536) {
    dec.reset();
    Bytes out;
    for (size_t pos = 0; pos < in.size(); pos += block) {
        size_t n = std::min(block, in.size() - pos);
        dec.decompress(in.data() + pos, n,
                       [&](const uint8_t* d, size_t len) { out.insert(out.end(), d, d + len); });
    }
    EXPECT_TRUE(dec.finished());
    return out;
}

Bytes decompress(const Bytes& in, size_t block = 65536) {
    LzwDecoder dec;
    return decompress(dec, in, block);
}

// Packs (code, width) pairs least significant bit first, as the format does.
Bytes pack(const std::vector<std::pair<uint32_t, uint32_t>>& codes) {
    Bytes out;
    uint64_t bits = 0;
    uint32_t n = 0;
    for (auto [code, width] : codes) {
        bits |= static_cast<uint64_t>(code) << n;
        n += width;
        while (n >= 8) {
            out.push_back(static_cast<uint8_t>(bits));
            bits >>= 8;
            n -= 8;
        }
    }
    if (n) out.push_back(static_cast<uint8_t>(bits));
    return out;
}

// Reads the codes back, following 258 and 256 for the width.
std::vector<std::pair<uint32_t, uint32_t>> unpack(const Bytes& in) {
    std::vector<std::pair<uint32_t, uint32_t>> codes;
    uint32_t width = 9;
    size_t bitpos = 0;
    while (bitpos + width <= in.size() * 8) {
        uint32_t code = 0;
        for (uint32_t i = 0; i < width; ++i, ++bitpos)
            code |= ((in[bitpos / 8] >> (bitpos % 8)) & 1u) << i;
        codes.emplace_back(code, width);
        if (code == 257) break;
        if (code == 258) ++width;
        if (code == 256) width = 9;
    }
    return codes;
}

// The encoder as the format describes it, step by step, with a map for the
// trie: an oracle for the code stream.
Bytes reference_compress(const Bytes& in) {
    std::vector<std::pair<uint32_t, uint32_t>> codes;
    std::map<std::pair<int, int>, int> children;
    int next = 260;
    uint32_t width = 9;
    int cur = -1;
    for (uint8_t b : in) {
        if (cur < 0) {
            cur = b;
            continue;
        }
        auto it = children.find({cur, b});
        if (it != children.end()) {
            cur = it->second;
            continue;
        }
        codes.emplace_back(cur, width);
        children[{cur, b}] = next++;
        cur = b;
        if (next == (1 << width)) {
            if (width == 12) {
                codes.emplace_back(256, 12);
                children.clear();
                next = 260;
                width = 9;
            } else {
                codes.emplace_back(258, width);
                ++width;
            }
        }
    }
    if (cur >= 0) codes.emplace_back(cur, width);
    codes.emplace_back(257, width);
    return pack(codes);
}

Bytes text(size_t n, uint32_t seed = 3) {
    static const char* words[] = {"alpha ", "beta ",   "gamma ", "delta\n", "the ", "file ",
                                  "of ",    "backup ", "x",      "yy",      "zzz "};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < n) {
        const char* w = words[rng() % 11];
        out.insert(out.end(), w, w + std::char_traits<char>::length(w));
    }
    out.resize(n);
    return out;
}

Bytes random_data(size_t n, uint32_t seed = 5) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

Bytes mixed(size_t n) {
    Bytes out;
    uint32_t seed = 1;
    while (out.size() < n) {
        Bytes part;
        switch (seed % 3) {
            case 0:
                part = text(300000, seed);
                break;
            case 1:
                part = random_data(200000, seed);
                break;
            default:
                part.assign(150000, static_cast<uint8_t>(seed));
                break;
        }
        out.insert(out.end(), part.begin(), part.end());
        ++seed;
    }
    out.resize(n);
    return out;
}

TEST(Lzw, EmptyInputIsCode257Alone) {
    EXPECT_EQ(compress(Bytes{}), (Bytes{0x01, 0x01}));
    EXPECT_TRUE(decompress(Bytes{0x01, 0x01}).empty());
}

TEST(Lzw, OneByteIsItsCodeThenTheEnd) {
    Bytes out = compress(bytes_of("A"));
    EXPECT_EQ(out, pack({{'A', 9}, {257, 9}}));
    EXPECT_EQ(out, (Bytes{0x41, 0x02, 0x02}));
    EXPECT_EQ(decompress(out), bytes_of("A"));
}

TEST(Lzw, StreamIsCodeForCodeTheDesignedOne) {
    for (const Bytes& in : {text(200000), random_data(50000), Bytes(70000, 'q'), mixed(600000),
                            bytes_of("abababababababab"), bytes_of("TOBEORNOTTOBEORTOBEORNOT")}) {
        EXPECT_EQ(compress(in), reference_compress(in));
    }
}

TEST(Lzw, WidensAfterCode511AndClearsAt12BitsAfter4095) {
    // Random bytes rarely repeat a pair: nearly every byte assigns a code.
    auto codes = unpack(compress(random_data(20000)));
    // Data codes before the first 258: the first one assigns 260, the 252nd
    // assigns 511, and 258 follows at once at 9 bits.
    size_t i = 0, data = 0;
    while (codes[i].first != 258) {
        EXPECT_LT(codes[i].first, 512u);
        ++data, ++i;
    }
    EXPECT_EQ(data, 252u);
    EXPECT_EQ(codes[i].second, 9u);
    EXPECT_EQ(codes[i + 1].second, 10u);
    // 252 + 512 + 1024 + 2048 data codes assign 260..4095 in all;
    // then 256 comes at 12 bits and the next code is 9 bits wide again.
    size_t widen = 1;
    data = 252;
    for (++i; codes[i].first != 256; ++i) {
        if (codes[i].first == 258)
            ++widen;
        else
            ++data;
    }
    EXPECT_EQ(widen, 3u);
    EXPECT_EQ(data, 3836u);
    EXPECT_EQ(codes[i].second, 12u);
    EXPECT_EQ(codes[i + 1].second, 9u);
}

TEST(Lzw, ARunOfOneByteUsesCodesBeforeTheDecoderHasThem) {
    Bytes run(100000, 'x');
    Bytes out = compress(run);
    auto codes = unpack(out);
    // "xx" is sent as 260 right after 260 was defined: the decoder meets it
    // as the next free code.
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(codes[0].first, uint32_t{'x'});
    EXPECT_EQ(codes[1].first, 260u);
    EXPECT_EQ(decompress(out), run);
}

TEST(Lzw, AnyBlockSplitGivesTheSameStreamAndTheSameOutput) {
    Bytes in = mixed(400000);
    Bytes whole = compress(in, {65536});
    EXPECT_EQ(compress(in, {1}), whole);
    EXPECT_EQ(compress(in, {7, 1, 4093, 65536, 2}), whole);
    EXPECT_EQ(compress(in, {in.size()}), whole);
    EXPECT_EQ(decompress(whole, 1), in);
    EXPECT_EQ(decompress(whole, 3), in);
    EXPECT_EQ(decompress(whole, 65536), in);
}

// Pieces compressed apart and joined decode as one stream, at any join's
// bit offset and in blocks of any size; a single piece is the plain stream.
TEST(Lzw, PiecesCompressedApartJoinIntoOneStream) {
    Bytes in = mixed(300000);
    LzwEncoder enc;
    Bytes piece;
    for (size_t size : {size_t{1000}, size_t{4099}, size_t{65536}}) {
        Bytes joined;
        LzwBitJoiner joiner;
        for (size_t pos = 0; pos < in.size(); pos += size) {
            size_t n = std::min(size, in.size() - pos);
            uint64_t bits = enc.compress_piece(in.data() + pos, n, pos + n == in.size(), piece);
            EXPECT_EQ((bits + 7) / 8, piece.size());
            joiner.append(piece.data(), bits, joined);
        }
        joiner.finish(joined);
        EXPECT_LT(joined.size(), compress(in).size() * 101 / 100) << size;
        for (size_t block : {size_t{1}, size_t{5}, size_t{65536}})
            EXPECT_EQ(decompress(joined, block), in) << size << " " << block;
    }
    for (const Bytes& one : {Bytes{}, Bytes{'x'}, Bytes(in.begin(), in.begin() + 70000)}) {
        uint64_t bits = enc.compress_piece(one.data(), one.size(), true, piece);
        Bytes joined;
        LzwBitJoiner joiner;
        joiner.append(piece.data(), bits, joined);
        joiner.finish(joined);
        EXPECT_EQ(joined, compress(one));
    }
}

TEST(Lzw, TwentyMegabytesOfMixedDataRoundTripInBlocksOf65536) {
    Bytes in = mixed(20 << 20);
    Bytes out = compress(in);
    EXPECT_LT(out.size(), in.size());
    EXPECT_EQ(decompress(out), in);
}

TEST(Lzw, ResetStartsEachFileAfresh) {
    LzwEncoder enc;
    LzwDecoder dec;
    Bytes a = text(100000, 1), b = random_data(30000, 2);
    Bytes ca = compress(enc, a);
    Bytes cb = compress(enc, b);
    EXPECT_EQ(cb, compress(b));
    // Pieces small and large after each other: a reset that empties only
    // the slots a small piece used leaves nothing behind.
    for (size_t n : {300u, 5u, 70000u, 900u, 300u, 2000u}) {
        Bytes piece(a.begin() + static_cast<std::ptrdiff_t>(n), a.begin() + 2 * n);
        std::vector<uint8_t> reused, fresh;
        EXPECT_EQ(enc.compress_piece(piece.data(), n, true, reused),
                  LzwEncoder().compress_piece(piece.data(), n, true, fresh));
        EXPECT_EQ(reused, fresh) << n;
    }
    EXPECT_EQ(compress(enc, b), cb);
    EXPECT_EQ(decompress(dec, ca), a);
    EXPECT_EQ(decompress(dec, cb), b);
    // After a failure, a reset makes the decoder whole again.
    Bytes bad = pack({{'A', 9}, {400, 9}});
    dec.reset();
    EXPECT_THROW(dec.decompress(bad.data(), bad.size(), [](const uint8_t*, size_t) {}), MyError);
    EXPECT_EQ(decompress(dec, ca), a);
}

std::string decode_error(const Bytes& stream) {
    LzwDecoder dec;
    try {
        dec.decompress(stream.data(), stream.size(), [](const uint8_t*, size_t) {});
    } catch (const MyError& e) {
        EXPECT_EQ(e.code(), BAD_DATA);
        return e.message();
    }
    return "";
}

TEST(Lzw, CorruptCodesAreBadData) {
    // A code above the next free code.
    EXPECT_EQ(decode_error(pack({{'A', 9}, {261, 9}, {257, 9}})), "Bad data in decompression");
    EXPECT_EQ(decode_error(pack({{300, 9}})), "Bad data in decompression");
    // Codes without an entry: 259, and a dictionary code right after a clear.
    EXPECT_EQ(decode_error(pack({{'A', 9}, {259, 9}})), "code data error in decompression");
    EXPECT_EQ(decode_error(pack({{260, 9}})), "code data error in decompression");
    EXPECT_EQ(decode_error(pack({{'A', 9}, {'B', 9}, {256, 9}, {260, 9}})),
              "code data error in decompression");
    // The next free code itself is fine (the repeated-string case).
    EXPECT_EQ(decode_error(pack({{'A', 9}, {260, 9}, {257, 9}})), "");
}

TEST(Lzw, AStreamThatNeverClearsFailsBeforeTheTableOverflows) {
    // 1 + 3836 codes fill entries 260..4095; the next code would need 4096.
    std::vector<std::pair<uint32_t, uint32_t>> codes(3837, {'A', 9});
    codes.emplace_back(257, 9);
    EXPECT_EQ(decompress(pack(codes)).size(), 3837u);
    codes.back() = {'A', 9};
    codes.emplace_back(257, 9);
    EXPECT_EQ(decode_error(pack(codes)), "Bad data in decompression");
}

TEST(Lzw, DecodingStopsAtTheEndCode) {
    Bytes stream = compress(bytes_of("hello"));
    Bytes tail = stream;
    tail.insert(tail.end(), {0xFF, 0xFF, 0x12});
    EXPECT_EQ(decompress(tail), bytes_of("hello"));
    // A 258 at 12 bits clears like 256.
    EXPECT_EQ(decompress(pack({{'a', 9},
                               {258, 9},
                               {'b', 10},
                               {258, 10},
                               {258, 11},
                               {'c', 12},
                               {258, 12},
                               {'d', 9},
                               {257, 9}})),
              bytes_of("abcd"));
}

}  // namespace
}  // namespace vardel
