#include "tests/support/scratch.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vardel::test {

namespace fs = std::filesystem;

std::string make_temp_dir(const char* prefix) {
    std::string tmpl = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    return tmpl;
}

void remove_tree(const std::string& path) {
    std::error_code ec;
    // Tests may leave read-only folders behind; make them writable first.
    for (auto it = fs::recursive_directory_iterator(
             path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_whole_file(const std::string& path, std::string_view content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string program_path(const std::string& name) {
    return std::string(VARDEL_BUILD_DIR) + "/" + name + "/" + name;
}

void ScratchTest::SetUp() {
    scratch_ = make_temp_dir();
    setenv("VARDEL_ROOT", (scratch_ + "/root").c_str(), 1);
    fs::create_directories(scratch_ + "/root");
}

void ScratchTest::TearDown() {
    unsetenv("VARDEL_ROOT");
    if (!HasFailure())
        remove_tree(scratch_);
    else
        std::fprintf(stderr, "scratch folder kept: %s\n", scratch_.c_str());
}

std::string ScratchTest::path(std::string_view rel) const {
    return scratch_ + "/" + std::string(rel);
}

std::string ScratchTest::write_file(std::string_view rel, std::string_view content) {
    std::string p = path(rel);
    write_whole_file(p, content);
    return p;
}

std::string ScratchTest::read_file(const std::string& p) const {
    return read_whole_file(p);
}

}  // namespace vardel::test
