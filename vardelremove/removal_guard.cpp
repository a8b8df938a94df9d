#include "vardelremove/removal_guard.h"

#include <dirent.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vardel {

namespace {

// Trees that hold the system itself; nothing of the suite's lives directly
// in them, and the kernel's own file systems not at all.
const char* const kSystemTrees[] = {"bin",   "boot",   "dev",  "etc",  "lib", "lib32",
                                    "lib64", "libx32", "proc", "root", "run", "sbin",
                                    "sys",   "tmp",    "usr",  "var"};
const char* const kVirtualTrees[] = {"dev", "proc", "run", "sys"};

std::vector<std::string> pieces(const std::string& path) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        if (end > pos) out.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

bool is_within(const std::string& inner, const std::string& outer) {
    if (outer == "/") return true;
    return inner == outer ||
           (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
            inner[outer.size()] == '/');
}

}  // namespace

std::string normal_path(const std::string& path) {
    std::string n = std::filesystem::path(path).lexically_normal().string();
    while (n.size() > 1 && n.back() == '/') n.pop_back();
    return n;
}

bool RemovalGuard::is_protected(const std::string& absolute) const {
    const std::string path = normal_path(absolute);
    std::vector<std::string> p = pieces(path);
    if (p.size() <= 1) return true;
    for (const char* tree : kVirtualTrees)
        if (p[0] == tree) return true;
    if (p.size() == 2)
        for (const char* tree : kSystemTrees)
            if (p[0] == tree) return true;
    // A home, or a folder holding one.
    for (const std::string& home : homes)
        if (!home.empty() && home != "/" && is_within(normal_path(home), path)) return true;
    // A folder a package installed (its file lists name folders too).
    const std::string info = places.path("/var/lib/dpkg/info");
    if (DIR* dir = ::opendir(info.c_str())) {
        bool found = false;
        while (dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (found || name.size() < 6 || name.compare(name.size() - 5, 5, ".list") != 0)
                continue;
            if (name == std::string(install::kPackageName) + ".list") continue;
            std::ifstream list(info + "/" + name);
            std::string line;
            while (!found && std::getline(list, line)) found = line == path;
        }
        ::closedir(dir);
        if (found) return true;
    }
    return false;
}

FolderVerdict RemovalGuard::judge(const std::string& folder) const {
    if (folder.size() <= 5) return FolderVerdict::TooShort;
    if (folder[0] != '/') return FolderVerdict::NotFullPath;
    const std::string path = normal_path(folder);
    if (is_protected(path)) return FolderVerdict::Protected;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return FolderVerdict::Missing;
    if (S_ISLNK(st.st_mode)) return FolderVerdict::Link;
    if (!S_ISDIR(st.st_mode)) return FolderVerdict::Missing;
    // Through links on the way to it, the folder may be another one.
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real) && is_protected(real)) return FolderVerdict::Protected;
    return FolderVerdict::Deletable;
}

}  // namespace vardel
