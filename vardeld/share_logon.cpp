#include "vardeld/share_logon.h"

#include <cerrno>
#include <system_error>

#include "common/log.h"
#include "common/text_helpers.h"
#include "platform/file_info.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace vardel {

namespace {

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

std::vector<std::string> components(std::string_view p) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < p.size()) {
        while (i < p.size() && is_separator(p[i])) ++i;
        size_t start = i;
        while (i < p.size() && !is_separator(p[i])) ++i;
        std::string_view c = p.substr(start, i - start);
        if (!c.empty() && c != ".") out.emplace_back(c);
    }
    return out;
}

bool plain_name(const std::string& s) {
    return !s.empty() && s != "." && s != "..";
}

std::string lower(std::string s) {
    for (char& c : s) c = ascii_lower(c);
    return s;
}

std::string join_below(std::string folder, const std::vector<std::string>& rest, size_t from) {
    for (size_t i = from; i < rest.size(); ++i) folder += "/" + rest[i];
    return folder;
}

// Nothing a credentials file cannot hold: one value per line.
bool fits_one_line(const std::string& s) {
    return s.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

ShareLogonResult unreachable(int error_number, std::string text) {
    ShareLogonResult r;
    r.reachable = false;
    r.error_number = error_number;
    r.error_text = std::move(text);
    return r;
}

}  // namespace

bool is_unc_path(const std::string& p) {
    return p.size() >= 2 && is_separator(p[0]) && is_separator(p[1]) && p[0] == p[1];
}

std::string share_root(std::string_view p) {
    std::string s(p);
    for (char& c : s)
        if (c == '\\') c = '/';
    size_t server_end = s.find('/', 2);
    if (server_end == std::string::npos) return s;
    size_t share_end = s.find('/', server_end + 1);
    return share_end == std::string::npos ? s : s.substr(0, share_end);
}

bool parse_share_path(std::string_view p, SharePath& out) {
    if (!is_unc_path(std::string(p.substr(0, 2)))) return false;
    std::string_view after = p.substr(2);
    size_t server_end = 0;
    while (server_end < after.size() && !is_separator(after[server_end])) ++server_end;
    SharePath r;
    r.server = std::string(after.substr(0, server_end));
    if (server_end >= after.size()) return false;
    std::string_view tail = after.substr(server_end + 1);
    size_t share_end = 0;
    while (share_end < tail.size() && !is_separator(tail[share_end])) ++share_end;
    r.share = std::string(tail.substr(0, share_end));
    if (!plain_name(r.server) || !plain_name(r.share)) return false;
    r.rest = components(tail.substr(share_end));
    for (const auto& c : r.rest)
        if (c == "..") return false;
    out = std::move(r);
    return true;
}

ShareLogon::ShareLogon()
    : own_table_(std::make_unique<platform::MountTable>()),
      own_mounter_(std::make_unique<platform::CifsMount>()),
      table_(own_table_.get()),
      mounter_(own_mounter_.get()) {}

ShareLogon::ShareLogon(const platform::MountTable& table, platform::CifsMount& mounter)
    : table_(&table), mounter_(&mounter) {}

ShareLogon::~ShareLogon() = default;

// The mount that covers the most of the destination; of equals, the last
// mounted. Server and share compare without regard to case, as SMB does, and
// so do the folders below them. Any file system type counts: the source
// names the share whichever client mounted it.
ShareLogon::Found ShareLogon::find_mount(const SharePath& dest) const {
    Found best;
    size_t best_depth = 0;
    for (const auto& m : table_->mounts()) {
        SharePath src;
        if (!parse_share_path(m.source, src)) continue;
        if (!iequals(src.server, dest.server) || !iequals(src.share, dest.share)) continue;
        // A mount of "//server/share" whose root is a folder of the share is
        // a bind mount of that folder.
        std::vector<std::string> covers = src.rest.empty() ? components(m.root) : src.rest;
        if (covers.size() > dest.rest.size()) continue;
        bool prefix = true;
        for (size_t i = 0; i < covers.size() && prefix; ++i)
            prefix = iequals(covers[i], dest.rest[i]);
        if (!prefix) continue;
        if (best.mount_point.empty() || covers.size() >= best_depth) {
            best.mount_point = m.mount_point;
            best.folder = join_below(m.mount_point, dest.rest, covers.size());
            best_depth = covers.size();
        }
    }
    return best;
}

ShareLogonResult ShareLogon::log_on_if_necessary(const std::string& destination,
                                                 const GeneralSettings& settings) {
    log(LOG_DEBUG, "LogOnIfNecessary %s\n", destination.c_str());
    if (!is_unc_path(destination)) {
        log(LOG_DEBUG, "Not a UNC\n");
        ShareLogonResult r;
        r.folder = destination;
        return r;
    }
    const std::string root = share_root(destination);
    log(LOG_DEBUG, "DISK Resource=%s\n", root.c_str());
    SharePath dest;
    if (!parse_share_path(destination, dest)) return unreachable(EINVAL, "Invalid network path");

    const std::string& login = settings.ShareLogin;
    const std::string& password = settings.SharePassword;
    if (login.empty()) {
        log(LOG_DEBUG, "Skip LogonUser section\n");
    } else if (!logged_on_) {
        // The share user's identity is what the mount presents to the server;
        // it is good when a credentials file can carry it.
        log(LOG_DEBUG, "Do LogonUser section\n");
        bool ok = fits_one_line(login) && fits_one_line(password);
        log(LOG_DEBUG, ok ? "LogonUser succeeded\n" : "LogonUser failed\n");
        log(LOG_DEBUG, ok ? "Successfully impersonating\n" : "Impersonate failed\n");
        logged_on_ = ok;
    }

    log(LOG_DEBUG, "Will try to log on\n");
    Found found = find_mount(dest);
    if (!found.mount_point.empty()) {
        platform::FileInfo info;
        if (platform::stat_path_following(found.mount_point, info)) {
            log(LOG_DEBUG, "GetFileAttributes succeeded with %x\n", info.attributes);
            ShareLogonResult r;
            r.folder = found.folder;
            return r;
        }
    }

    log(LOG_DEBUG, "Must try to log onto share\n");
    if (login.empty()) {
        log(LOG_DEBUG, "No share login specified\n");
        // Nothing is mounted there; the path read as a local one would put
        // the backup on this machine's own disk.
        return unreachable(ENOTCONN, "The share is not mounted and no share login is set");
    }

    platform::CifsMountRequest req;
    req.source = "//" + dest.server + "/" + dest.share;
    try {
        req.mount_point =
            platform::runtime_subdir("shares") + "/" + lower(dest.server) + "/" + lower(dest.share);
    } catch (const std::system_error& e) {
        return unreachable(e.code().value(), e.what());
    }
    req.username = login;
    req.password = password;
    req.uid = platform::effective_uid();
    req.gid = platform::effective_gid();
    platform::CifsMountResult mounted = mounter_->mount(req);
    if (!mounted.mounted) return unreachable(mounted.error_number, mounted.error_text);
    log(LOG_DEBUG, "logon succeeded\n");
    ShareLogonResult r;
    r.folder = join_below(req.mount_point, dest.rest, 0);
    return r;
}

}  // namespace vardel
