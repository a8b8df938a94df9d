#pragma once
// Shared pieces of the benchmarks: wall-clock timing, running a peer tool
// through the shell, generating inputs, printing a figure beside the peer's.
#include <cstdint>
#include <functional>
#include <string>

namespace vardel::bench {

// Seconds taken by fn.
double time_seconds(const std::function<void()>& fn);
// Runs a shell command (through /bin/sh -c) and returns its wall time in
// seconds; exits the benchmark with a message when the command fails.
double time_command(const std::string& command);
bool have_command(const std::string& name);

// "name: ours X unit, peer Y unit, ratio R (higher is better for us)".
// For rates (MB/s, files/s) the ratio is ours/peer.
void print_rate(const std::string& what, double ours, const std::string& peer_name, double peer,
                const std::string& unit);
// For times the ratio is ours/peer (lower is better for us).
void print_time(const std::string& what, double ours, const std::string& peer_name, double peer);

// A scratch folder removed at exit (kept when VARDEL_BENCH_KEEP is set).
std::string scratch_dir(const std::string& tag);

// Deterministic inputs.
std::string text_like(size_t bytes, uint32_t seed = 1);
// Text of words drawn at random from a vocabulary of 5 000 made-up words
// (the same vocabulary for every seed), in lines of about 72 characters: far
// less redundant than text_like.
std::string words_text(size_t bytes, uint32_t seed = 1);
std::string random_bytes(size_t bytes, uint32_t seed = 1);
void write_file(const std::string& path, const std::string& data);

}  // namespace vardel::bench
