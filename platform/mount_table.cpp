#include "platform/mount_table.h"

#include <fstream>
#include <iterator>

namespace vardel::platform {

namespace {

bool is_octal(char c) {
    return c >= '0' && c <= '7';
}

std::vector<std::string_view> split_blanks(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

}  // namespace

std::string unescape_mount_field(std::string_view f) {
    std::string out;
    out.reserve(f.size());
    for (size_t i = 0; i < f.size(); ++i) {
        if (f[i] == '\\' && i + 3 < f.size() && is_octal(f[i + 1]) && is_octal(f[i + 2]) &&
            is_octal(f[i + 3])) {
            int v = (f[i + 1] - '0') * 64 + (f[i + 2] - '0') * 8 + (f[i + 3] - '0');
            out.push_back(static_cast<char>(v & 0xFF));
            i += 3;
        } else {
            out.push_back(f[i]);
        }
    }
    return out;
}

// "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw"
// id, parent, device, root, mount point, options, optional fields..., "-",
// type, source, super options.
std::vector<MountEntry> parse_mountinfo(std::string_view text) {
    std::vector<MountEntry> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        auto fields = split_blanks(line);
        size_t sep = 6;
        while (sep < fields.size() && fields[sep] != "-") ++sep;
        if (sep + 2 >= fields.size()) continue;
        MountEntry e;
        e.root = unescape_mount_field(fields[3]);
        e.mount_point = unescape_mount_field(fields[4]);
        e.fs_type = unescape_mount_field(fields[sep + 1]);
        e.source = unescape_mount_field(fields[sep + 2]);
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<MountEntry> MountTable::mounts() const {
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    if (!in) return {};
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parse_mountinfo(text);
}

}  // namespace vardel::platform
