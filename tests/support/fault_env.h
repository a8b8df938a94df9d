#pragma once
// An Env that fails chosen calls for chosen paths, as a failing disk or a
// refused permission would, and passes everything else to the real system.
// Set the faults before the code under test runs.
#include <cerrno>
#include <map>
#include <string>

#include "platform/env.h"

namespace vardel::test {

class FaultEnv : public platform::EnvWrapper {
  public:
    using EnvWrapper::EnvWrapper;

    // Every open of `path` fails with `error_number`; with `times`, only the
    // first that many.
    void fail_open(const std::string& path, int error_number, int times = -1) {
        opens_[path] = error_number;
        open_times_[path] = times;
    }
    // Every stat of `path` (following links or not) fails with `error_number`.
    void fail_stat(const std::string& path, int error_number) { stats_[path] = error_number; }

    bool open(platform::File& file, const std::string& path, platform::OpenMode mode,
              mode_t mode_bits = 0644) const override {
        if (auto it = opens_.find(path); it != opens_.end() && open_times_[path] != 0) {
            if (open_times_[path] > 0) --open_times_[path];
            return file.fail_open(path, it->second);
        }
        return EnvWrapper::open(file, path, mode, mode_bits);
    }
    bool open_in(const platform::File& folder, const std::string& name, const std::string& path,
                 platform::File& file, platform::OpenMode mode) const override {
        if (auto it = opens_.find(path); it != opens_.end() && open_times_[path] != 0) {
            if (open_times_[path] > 0) --open_times_[path];
            return file.fail_open(path, it->second);
        }
        return EnvWrapper::open_in(folder, name, path, file, mode);
    }
    bool stat(const std::string& path, platform::FileInfo& out,
              int* error_number = nullptr) const override {
        return !fails(stats_, path, error_number) && EnvWrapper::stat(path, out, error_number);
    }
    bool stat_in(const platform::DirectoryReader& dir, const std::string& name,
                 const std::string& path, platform::FileInfo& out,
                 int* error_number = nullptr) const override {
        return !fails(stats_, path, error_number) &&
               EnvWrapper::stat_in(dir, name, path, out, error_number);
    }
    bool stat_following(const std::string& path, platform::FileInfo& out,
                        int* error_number = nullptr) const override {
        return !fails(stats_, path, error_number) &&
               EnvWrapper::stat_following(path, out, error_number);
    }

  private:
    // True, with the error set, when `path` is to fail.
    static bool fails(const std::map<std::string, int>& faults, const std::string& path,
                      int* error_number) {
        auto it = faults.find(path);
        if (it == faults.end()) return false;
        if (error_number) *error_number = it->second;
        errno = it->second;
        return true;
    }

    std::map<std::string, int> opens_;
    mutable std::map<std::string, int> open_times_;
    std::map<std::string, int> stats_;
};

}  // namespace vardel::test
