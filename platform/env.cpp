#include "platform/env.h"

#include <cerrno>
#include <thread>

#include "platform/directory_reader.h"
#include "platform/process.h"

namespace vardel::platform {

void Interrupt::raise() {
    raised_.store(true);
    wake();
}

void Interrupt::wake() {
    {
        std::lock_guard lock(mutex_);
        ++wakes_;
    }
    cv_.notify_all();
}

bool Interrupt::wait_until(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(mutex_);
    uint64_t seen = wakes_;
    cv_.wait_until(lock, deadline, [&] { return raised_.load() || wakes_ != seen; });
    return raised_.load();
}

const Env& Env::real() {
    static const Env env;
    return env;
}

int64_t Env::now() const {
    return system_clock().now();
}

std::chrono::steady_clock::time_point Env::steady_now() const {
    return std::chrono::steady_clock::now();
}

bool Env::sleep_for(std::chrono::milliseconds duration, const Interrupt* interrupt) const {
    auto deadline = std::chrono::steady_clock::now() + duration;
    if (!interrupt) {
        std::this_thread::sleep_until(deadline);
        return true;
    }
    if (interrupt->raised()) return false;
    return !interrupt->wait_until(deadline);
}

bool Env::stat(const std::string& path, FileInfo& out, int* error_number) const {
    return stat_path(path, out, error_number);
}

bool Env::stat_following(const std::string& path, FileInfo& out, int* error_number) const {
    return stat_path_following(path, out, error_number);
}

bool Env::stat_in(const DirectoryReader& dir, const std::string& name, const std::string& path,
                  FileInfo& out, int* error_number) const {
    return stat_at(dir.fd(), name, path, out, error_number);
}

bool Env::open(File& file, const std::string& path, OpenMode mode, mode_t mode_bits) const {
    return file.open(path, mode, mode_bits);
}

bool Env::open_in(const File& folder, const std::string& name, const std::string& path, File& file,
                  OpenMode mode) const {
    return file.open_at(folder.fd(), name, mode, 0644, path);
}

bool Env::open_directory(DirectoryReader& reader, const std::string& path,
                         int* error_number) const {
    if (reader.open(path)) return true;
    if (error_number) *error_number = errno;
    return false;
}

int Env::run_shell_command(const std::string& command, int* error_number) const {
    return platform::run_shell_command(command, error_number);
}

}  // namespace vardel::platform
