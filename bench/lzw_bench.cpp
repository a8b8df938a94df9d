// LZW throughput beside Debian's ncompress at the same 12-bit width:
// our coder on 65536-byte blocks (as the SAF writer and reader feed it)
// against `compress -b12 -c` and `uncompress -c` on the same input, each
// input 64 MiB, best of three runs each.
//   lzw_bench [MiB]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "containers/lzw_decoder.h"
#include "containers/lzw_encoder.h"

using namespace vardel;
using namespace vardel::bench;

namespace {

constexpr size_t kBlock = 65536;

// `out` keeps its capacity between runs, so page faults are not timed.
void our_compress(LzwEncoder& enc, const std::string& in, std::vector<uint8_t>& buf,
                  std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(LzwEncoder::max_output(in.size()));
    enc.reset();
    const auto* p = reinterpret_cast<const uint8_t*>(in.data());
    for (size_t pos = 0; pos < in.size(); pos += kBlock) {
        size_t n = std::min(kBlock, in.size() - pos);
        size_t got = enc.compress(p + pos, n, buf.data());
        out.insert(out.end(), buf.data(), buf.data() + got);
    }
    size_t got = enc.finish(buf.data());
    out.insert(out.end(), buf.data(), buf.data() + got);
}

size_t our_decompress(LzwDecoder& dec, const std::vector<uint8_t>& in) {
    size_t total = 0;
    dec.reset();
    for (size_t pos = 0; pos < in.size(); pos += kBlock) {
        size_t n = std::min(kBlock, in.size() - pos);
        dec.decompress(in.data() + pos, n, [&](const uint8_t*, size_t len) { total += len; });
    }
    return total;
}

double best_of_three(const std::function<double()>& run) {
    double best = 1e30;
    for (int i = 0; i < 3; ++i) best = std::min(best, run());
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    if (!have_command("compress") || !have_command("uncompress")) {
        std::fprintf(stderr, "lzw_bench: compress/uncompress (ncompress) not installed\n");
        return 1;
    }
    const size_t size = mib << 20;
    const double mb = static_cast<double>(size) / 1e6;
    std::string dir = scratch_dir("lzw");
    struct Input {
        const char* name;
        std::string data;
    };
    std::vector<Input> inputs;
    inputs.push_back({"text", text_like(size)});
    inputs.push_back({"text of 5 000 words", words_text(size)});
    inputs.push_back({"random", random_bytes(size)});
    inputs.push_back({"one byte", std::string(size, 'a')});

    LzwEncoder enc;
    LzwDecoder dec;
    std::vector<uint8_t> buf(LzwEncoder::max_output(kBlock));
    std::printf("LZW, %zu MiB per input, MB/s (1 MB = 10^6 bytes)\n", mib);
    for (auto& input : inputs) {
        std::string plain = dir + "/in", packed = dir + "/in.Z";
        write_file(plain, input.data);
        std::vector<uint8_t> ours;
        double c_ours = best_of_three(
            [&] { return time_seconds([&] { our_compress(enc, input.data, buf, ours); }); });
        double c_peer = best_of_three([&] {
            // compress exits with 2 when its output is larger than its input.
            return time_command("compress -b12 -c < " + plain + " > " + packed +
                                "; r=$?; [ $r -eq 0 ] || [ $r -eq 2 ]");
        });
        size_t back = 0;
        double d_ours =
            best_of_three([&] { return time_seconds([&] { back = our_decompress(dec, ours); }); });
        double d_peer = best_of_three(
            [&] { return time_command("uncompress -c < " + packed + " > /dev/null"); });
        if (back != size) {
            std::fprintf(stderr, "lzw_bench: round trip lost data (%zu of %zu)\n", back, size);
            return 1;
        }
        long long peer_size = 0;
        if (FILE* f = std::fopen(packed.c_str(), "rb")) {
            std::fseek(f, 0, SEEK_END);
            peer_size = std::ftell(f);
            std::fclose(f);
        }
        std::string tag = input.name;
        print_rate("compress " + tag, mb / c_ours, "compress -b12", mb / c_peer, "MB/s");
        print_rate("decompress " + tag, mb / d_ours, "uncompress", mb / d_peer, "MB/s");
        std::printf("%-40s ours %10.1f %%       compress -b12 %10.1f %%\n",
                    ("size of " + tag + " (of input)").c_str(),
                    100.0 * static_cast<double>(ours.size()) / static_cast<double>(size),
                    100.0 * static_cast<double>(peer_size) / static_cast<double>(size));
        std::fflush(stdout);
    }
    return 0;
}
