#include "vardeld/scanner.h"

#include <algorithm>
#include <cerrno>

#include "common/destination_names.h"
#include "common/list_file.h"
#include "common/log.h"
#include "common/my_error.h"
#include "common/text_helpers.h"
#include "common/wildcard.h"
#include "platform/archive_attribute.h"
#include "platform/atomic_file.h"
#include "platform/directory_reader.h"
#include "platform/work_pool.h"

namespace vardel {

namespace {

// Entries of a folder read ahead of their saving.
constexpr size_t kWindow = 256;

std::string with_slash(std::string p) {
    if (p.empty() || p.back() != '/') p.push_back('/');
    return p;
}

}  // namespace

std::string absolute_path(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::string cwd = platform::current_directory();
    return cwd.empty() ? path : with_slash(cwd) + path;
}

Scanner::Scanner(BackupRun& run, FileSaver& saver, const platform::Env& env)
    : run_(run), saver_(saver), env_(env) {
    for (std::string e : setting_lines(run.set.ExcludeFiles)) {
        e = absolute_path(e);
        if (e.size() > 1 && e.back() == '/') e.pop_back();  // one trailing "/" does not matter
        exclude_files_.push_back(e);
    }
    include_masks_ = setting_lines(run.set.IncludeMasks);
    exclude_masks_ = setting_lines(run.set.ExcludeMasks);
}

void Scanner::checkpoint(const char* trace) {
    if (run_.flags.paused()) saver_.pausing();
    run_.flags.wait_while_paused(env_);
    run_.flags.check_abort(trace);
}

bool Scanner::excluded_dir(const std::string& child) const {
    for (const std::string& e : exclude_files_)
        if (e == child) return true;
    return false;
}

Scanner::Selection Scanner::select(const std::string& path, const platform::FileInfo& info) {
    Selection s;
    const BackupSet& set = run_.set;
    auto archive_set = [&] {
        platform::ArchiveState st = platform::archive_state(path, info);
        if (st == platform::ArchiveState::Unsupported && !run_.archive_bit_unsupported_logged) {
            run_.archive_bit_unsupported_logged = true;
            log(LOG_DEBUG,
                "No archive attribute on the file system of %s: every file counts as changed\n",
                path.c_str());
        }
        return st != platform::ArchiveState::Clear;
    };
    if (run_.sequence == 1) {
        s.selected = true;
        s.clear_archive = set.UseArchiveBit && archive_set();
        return s;
    }
    switch (set.BackupType) {
        case BACKUP_FULL:
            s.selected = true;
            break;
        case BACKUP_INCREMENTAL:
        case BACKUP_DIFFERENTIAL:
            if (set.UseArchiveBit) {
                s.selected = archive_set();
                s.clear_archive = s.selected;
            } else {
                int64_t since = set.BackupType == BACKUP_INCREMENTAL ? run_.last_backup_time
                                                                     : run_.first_backup_time;
                // mtime can be set back (touch -r) after an edit; ctime cannot.
                s.selected = std::max(info.mtime_sec, info.ctime_sec) >= since;
            }
            break;
        default:
            break;
    }
    return s;
}

Scanner::Plan Scanner::plan_file(const std::string& full, const std::string& name,
                                 const platform::FileInfo& info,
                                 DirectoryCatalogue::DirRecord* dir) {
    Plan plan;
    if (!include_masks_.empty()) {
        bool any = false;
        for (const std::string& m : include_masks_)
            if (wildcard_match(m, name)) {
                any = true;
                break;
            }
        if (!any) return plan;
    }
    for (const std::string& m : exclude_masks_)
        if (wildcard_match(m, name)) return plan;
    // The run's own archive, met through a link: reading it into itself
    // would never end.
    if (saver_.is_output(info)) return plan;

    plan.counted = true;
    plan.sel = select(full, info);
    plan.rec = run_.catalogue.find_file(dir, name);
    plan.hand_over = plan.sel.selected || (run_.track_deleted && !plan.rec);
    return plan;
}

void Scanner::take_file(const std::string& full, const std::string& name,
                        const platform::FileInfo& info, const Plan& plan,
                        DirectoryCatalogue::DirRecord* dir, bool& saved_any) {
    if (!plan.counted) return;
    ++run_.counters.files_scanned;
    bool saved = plan.hand_over && saver_.save_file(full, info);
    if (saved) {
        saved_any = true;
        run_.activity = true;
        // Only now: a file that failed to save must stay visible to the next
        // incremental backup.
        if (plan.sel.clear_archive) platform::clear_archive_attribute(full, info);
    }
    if (plan.rec)
        plan.rec->flags |= DirectoryCatalogue::Seen;
    else if (saved || !plan.hand_over)
        run_.catalogue.add_file(dir, name, DirectoryCatalogue::Seen);
    // A new file that failed stays without a record: the list does not name
    // it as backed up, so the second pass and later backups take it again.
}

bool Scanner::list_some(platform::DirectoryReader& d, const std::string& scan_dir,
                        DirectoryCatalogue::DirRecord* dir, std::vector<Child>& children,
                        size_t limit) {
    children.clear();
    // The names first, then their stats: a long window is statted on two
    // threads (the walk of a tree where nothing changed is little else).
    struct Listed {
        std::string name;
        platform::FileInfo info;
        int error = 0;
        bool ok = false;
    };
    std::vector<Listed> listed;
    bool more = true;
    std::string name;
    while (listed.size() < limit) {
        if (!d.next(name)) {
            more = false;
            break;
        }
        checkpoint("Abort in BackupThisPath(2) in dir scan loop\n");
        listed.push_back({name, {}, 0, false});
    }
    auto stat_range = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            Listed& l = listed[i];
            l.ok = env_.stat_in(d, l.name, scan_dir + l.name, l.info, &l.error);
        }
    };
    constexpr size_t kSplitAt = 64;
    platform::WorkPool* pool = saver_.work_pool();
    if (pool && listed.size() >= kSplitAt) {
        const size_t half = listed.size() / 2;
        std::future<void> other = pool->submit([&] { stat_range(half, listed.size()); });
        stat_range(0, half);
        other.get();
    } else {
        stat_range(0, listed.size());
    }
    for (Listed& l : listed) {
        const std::string& name = l.name;
        Child c;
        c.name = name;
        std::string child = scan_dir + name;
        int err = l.error;
        c.info = l.info;
        if (!l.ok) {
            // Gone since the listing is no loss.
            if (err == ENOENT) continue;
            c.what = Child::What::StatFailed;
            c.error = err;
            children.push_back(std::move(c));
            continue;
        }
        bool hidden = c.info.attributes & platform::kAttrHidden;
        bool system = c.info.attributes & platform::kAttrSystem;
        if (system && !run_.set.IncludeSystemFiles) continue;
        if (hidden && !run_.set.IncludeHiddenFiles) {
            ++run_.counters.hidden_left_out;
            continue;
        }
        if (c.info.is_directory()) {
            if (excluded_dir(child)) continue;
            c.what = Child::What::Dir;
        } else if (c.info.kind == platform::FileInfo::Kind::Symlink) {
            // A link to a file is saved as that file; a link to a directory
            // is never followed.
            platform::FileInfo target;
            if (!env_.stat_following(child, target) || !target.is_regular()) continue;
            c.info = target;
        } else if (!c.info.is_regular()) {
            continue;  // FIFOs, sockets, devices: never opened
        }
        if (c.what == Child::What::File) c.plan = plan_file(child, name, c.info, dir);
        children.push_back(std::move(c));
    }
    return more;
}

void Scanner::backup_this_path(const std::string& path) {
    ++run_.counters.dirs_walked;
    checkpoint("Abort in BackupThisPath(1)\n");

    platform::FileInfo info;
    int err = 0;
    if (!env_.stat(path, info, &err)) {
        run_.report.note(LOG_COMPLAIN, "Can't stat %s", path.c_str());
        return;
    }
    // A root named through a symbolic link is followed; below a root never.
    if (info.kind == platform::FileInfo::Kind::Symlink) {
        platform::FileInfo target;
        if (env_.stat_following(path, target) && (target.is_directory() || target.is_regular()))
            info = target;
    }
    bool is_dir = info.is_directory();
    // The destination below a backed-up folder (or the same folder again
    // through a link or a bind mount): its backups are not backed up, and
    // the run never reads what it is writing.
    if (is_dir && info.inode == run_.destination_info.inode &&
        info.device == run_.destination_info.device && run_.destination.is_open()) {
        log(LOG_DEBUG, "Destination %s is not backed up\n", path.c_str());
        return;
    }
    std::string scan_dir = is_dir ? with_slash(path) : std::string(folder_part(path));
    std::string pattern = is_dir ? scan_dir + "*" : path;
    DirectoryCatalogue::DirRecord* dir = run_.catalogue.find_or_create_dir(scan_dir);
    dir->flags |= DirectoryCatalogue::Seen;

    bool saved_any = false, walked_dir = false;
    try {
        if (!is_dir) {
            std::string name(file_name_part(path));
            checkpoint("Abort in BackupThisPath(2) in dir scan loop\n");
            bool hidden = info.attributes & platform::kAttrHidden;
            bool system = info.attributes & platform::kAttrSystem;
            if (system && !run_.set.IncludeSystemFiles) return;
            if (hidden && !run_.set.IncludeHiddenFiles) {
                ++run_.counters.hidden_left_out;
                return;
            }
            std::string full = scan_dir + name;
            if (info.is_regular())
                take_file(full, name, info, plan_file(full, name, info, dir), dir, saved_any);
            return;
        }
        platform::DirectoryReader d;
        if (!env_.open_directory(d, path, &err)) {
            log(LOG_COMPLAIN, "FindFirst scan failed for %s\n", pattern.c_str());
            // Nothing below it is saved: the report must say so.
            if (err != ENOENT) run_.report.not_saved(path, system_error_text(err));
            return;
        }
        // A folder is read a window of entries at a time: what the window
        // hands the saver is known before the first of them is saved, so
        // the saver can read ahead, and the order stays the folder's own.
        std::vector<Child> children;
        bool more = true;
        while (more) {
            more = list_some(d, scan_dir, dir, children, kWindow);
            for (size_t i = 0; i < children.size(); ++i) {
                const Child& c = children[i];
                std::string child = scan_dir + c.name;
                if (c.what == Child::What::StatFailed) {
                    // Anything but a file gone is a file not saved, and the
                    // report must say so.
                    run_.report.note(LOG_COMPLAIN, "Can't stat %s", child.c_str());
                    run_.report.not_saved(child, system_error_text(c.error));
                    // Still there: not to be listed as deleted.
                    if (auto* rec = run_.catalogue.find_file(dir, c.name))
                        rec->flags |= DirectoryCatalogue::Seen;
                    continue;
                }
                if (c.what == Child::What::Dir) {
                    checkpoint("Abort in BackupThisPath(2) in dir scan loop\n");
                    backup_this_path(child);
                    walked_dir = true;
                    continue;
                }
                // The files up to the next folder are saved next, in order.
                if (i == 0 || children[i - 1].what == Child::What::Dir)
                    for (size_t k = i; k < children.size() && children[k].what != Child::What::Dir;
                         ++k)
                        if (children[k].what == Child::What::File && children[k].plan.hand_over)
                            saver_.expect(scan_dir + children[k].name, children[k].info);
                checkpoint("Abort in BackupThisPath(2) in dir scan loop\n");
                take_file(child, c.name, c.info, c.plan, dir, saved_any);
            }
        }
    } catch (const MyError&) {
        log(LOG_DEBUG, "close scan in dir %s\n", pattern.c_str());
        throw;
    }
    if (is_dir && !saved_any && !walked_dir && run_.sequence == 1)
        saver_.record_empty_directory(scan_dir);
}

void Scanner::load_list_files() {
    for (int64_t i = 1; i < run_.sequence; ++i) {
        std::string name = destination::list_file(run_.cycle, i);
        std::string p = run_.destination_folder + name;
        DirectoryCatalogue::DirRecord* current = nullptr;
        std::string text;
        platform::ReadStatus got = run_.destination.read_file(name, text);
        if (got == platform::ReadStatus::NotRegular)
            log(LOG_ERROR, "%s is not a regular file\n", p.c_str());
        if (got != platform::ReadStatus::Read) {
            log(LOG_ERROR, "Backup %s: missing listfile %s\n", run_.set.Name.c_str(), p.c_str());
            continue;
        }
        parse_list_text(text, [&](const ListLine& l) {
            switch (l.kind) {
                case 'A':
                    current = run_.catalogue.find_or_create_dir(l.text);
                    current->flags |= DirectoryCatalogue::Listed;
                    break;
                case 'C':
                    // The record goes with its files but stays current, so the
                    // D lines that follow find nothing to remove.
                    current = run_.catalogue.find_or_create_dir(l.text);
                    run_.catalogue.unlink_dir(current);
                    break;
                case 'B':
                case 'D': {
                    if (!current) {
                        log(LOG_ERROR, "Encountered file before dir during list loading\n");
                        break;
                    }
                    std::string name(file_name_part(l.text));
                    if (l.kind == 'B') {
                        if (!run_.catalogue.find_file(current, name))
                            run_.catalogue.add_file(current, name, DirectoryCatalogue::Listed);
                    } else if (auto* f = run_.catalogue.find_file(current, name)) {
                        run_.catalogue.unlink_file(current, f);
                    }
                    break;
                }
            }
        });
    }
}

void Scanner::write_list_file() {
    std::string text;
    bool changes = false;
    run_.catalogue.for_each_dir([&](DirectoryCatalogue::DirRecord& d) {
        for (auto* f = d.first; f; f = f->next) {
            if (f->flags & DirectoryCatalogue::Seen) d.flags |= DirectoryCatalogue::Seen;
            if (!(f->flags & DirectoryCatalogue::Listed) || !(f->flags & DirectoryCatalogue::Seen))
                d.flags &= ~DirectoryCatalogue::Listed;
        }
        bool seen = d.flags & DirectoryCatalogue::Seen,
             listed = d.flags & DirectoryCatalogue::Listed;
        if (seen && !listed)
            text += format_list_line('A', d.path);
        else if (!seen)
            text += format_list_line('C', d.path);
        for (auto* f = d.first; f; f = f->next) {
            bool fs = f->flags & DirectoryCatalogue::Seen,
                 fl = f->flags & DirectoryCatalogue::Listed;
            if (fs && !fl) {
                text += format_list_line('B', f->name);
                changes = true;
            } else if (!fs) {
                text += format_list_line('D', f->name);
                changes = true;
            }
        }
    });
    // Written whole or not at all: a torn list would mislead every later
    // backup of the cycle.
    std::string error;
    int err = 0;
    const std::string name = destination::list_file(run_.cycle, run_.sequence);
    if (!run_.destination.write_file(name, text, 0600, &error, &err)) {
        // A backup whose list could not be written for lack of room is no
        // whole backup; any other failure is the list's alone.
        if (destination_full(err)) throw full_destination(run_, err);
        log(LOG_ERROR, "Can't create listfile %s%s\n", run_.destination_folder.c_str(),
            name.c_str());
    }
    if (changes) run_.activity = true;
}

}  // namespace vardel
