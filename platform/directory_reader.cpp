#include "platform/directory_reader.h"

#include <dirent.h>
#include <unistd.h>

#include <cstring>

namespace vardel::platform {

DirectoryReader::~DirectoryReader() {
    close();
}

bool DirectoryReader::open(const std::string& path) {
    close();
    dir_ = ::opendir(path.c_str());
    return dir_ != nullptr;
}

bool DirectoryReader::next(std::string& name) {
    if (!dir_) return false;
    while (dirent* e = ::readdir(static_cast<DIR*>(dir_))) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        name = e->d_name;
        return true;
    }
    return false;
}

int DirectoryReader::fd() const {
    return dir_ ? ::dirfd(static_cast<DIR*>(dir_)) : -1;
}

void DirectoryReader::close() {
    if (dir_) {
        ::closedir(static_cast<DIR*>(dir_));
        dir_ = nullptr;
    }
}

std::string current_directory() {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

}  // namespace vardel::platform
