#include "vardelrestore/backup_loader.h"

#include <vector>

#include "common/destination_names.h"
#include "common/list_file.h"
#include "common/my_error.h"
#include "common/setting_names.h"
#include "common/text_helpers.h"
#include "containers/saf_reader.h"
#include "containers/zip_reader.h"
#include "platform/directory_reader.h"
#include "platform/file_info.h"

namespace vardel {

std::string BackupLoader::discrete_record_path(std::string_view inside_folder) {
    return "/" + std::string(inside_folder);
}

std::string BackupLoader::zip_record_path(std::string_view entry_name) {
    if (!entry_name.empty() && entry_name.front() == '/') return std::string(entry_name);
    return "/" + std::string(entry_name);
}

BackupLoader::Outcome BackupLoader::load(const CatalogueNode& node, bool single) {
    lock_.reset();
    table_.clear();
    lock_ = SetLock::acquire(node.set_name);
    if (!lock_) {
        ui_.message(strprintf("Backup Set '%s' is currently in use by another program (possibly "
                              "the backup process",
                              node.set_name.c_str()),
                    "Can't Access Backup Set", MessageKind::Error);
        return Outcome::InUse;
    }
    if (!node.loadable()) return Outcome::NoState;
    IniDocument state;
    if (!state.load(node.destination + destination::kStateFile)) return Outcome::NoState;

    const int32_t cycle = node.cycle;
    auto time_of = [&](int32_t save) {
        return state.get_number(destination::kSection, destination::instance_key(cycle, save));
    };
    int32_t last = node.save;
    if (node.level != CatalogueNode::Save) {
        // A cycle stands for the backups it holds: one not yet made is no
        // backup to read (nor, with `single`, the cycle's last).
        last = 1;
        for (int32_t s = 1; s <= node.backups_per_cycle; ++s)
            if (!state.get_text(destination::kSection, destination::instance_key(cycle, s)).empty())
                last = s;
    }
    try {
        if (single) {
            read_backup(node, last, time_of(last));
        } else {
            for (int32_t s = 1; s <= last; ++s) read_backup(node, s, time_of(s));
        }
    } catch (const MyError&) {
        // A missing archive ends the chain there; what was read stays.
    }
    table_.finish();
    return Outcome::Loaded;
}

void BackupLoader::read_backup(const CatalogueNode& node, int32_t save, int64_t save_time) {
    switch (node.save_format) {
        case SAVE_SAF:
            read_saf(node, save, save_time);
            break;
        case SAVE_ZIP:
            if (!read_zip(node, save, save_time)) return;
            break;
        case SAVE_DISCRETE:
            if (!read_discrete(node, save, save_time)) return;
            break;
        default:
            VARDEL_UNEXPECTED_SWITCH();
            return;
    }
    read_list_file(node, save, save_time);
}

void BackupLoader::read_saf(const CatalogueNode& node, int32_t save, int64_t save_time) {
    SafReader reader;
    reader.open(node.destination + destination::saf_archive(node.cycle, save));
    try {
        reader.load_headers();
    } catch (const MyError&) {
        ui_.message(strprintf("SAF file error: %s", reader.error_text().c_str()),
                    "ERROR Reading File", MessageKind::Error);
    }
    const std::vector<SafEntry>& entries = reader.load_headers();
    table_.reserve_more(entries.size());
    for (const SafEntry& e : entries) {
        if (e.type != saf::kTypeFile && e.type != saf::kTypeDirectory) continue;
        table_.add(e.name, e.number, static_cast<uint32_t>(save), e.last_write, save_time,
                   VersionRecord::kSaved,
                   e.type == saf::kTypeFile ? VersionRecord::File : VersionRecord::Directory);
    }
}

bool BackupLoader::read_zip(const CatalogueNode& node, int32_t save, int64_t save_time) {
    const std::string path = node.destination + destination::zip_archive(node.cycle, save);
    std::unique_ptr<ZipReader> zip = ZipReader::open(path);
    if (!zip) {
        // A missing archive was removed with its backup; one that is there
        // and cannot be read must be told, or older versions of its files
        // would be restored as the latest without a word.
        platform::FileInfo fi;
        if (platform::stat_path(path, fi))
            ui_.message(strprintf("ZIP file error: Can't read %s", path.c_str()),
                        "ERROR Reading File", MessageKind::Error);
        return false;
    }
    table_.reserve_more(zip->entry_count());
    for (size_t i = 0; i < zip->entry_count(); ++i) {
        const ZipEntryInfo* e = zip->entry(i);
        if (e->attributes & platform::kAttrDirectory) continue;
        table_.add(zip_record_path(e->name), static_cast<uint32_t>(i), static_cast<uint32_t>(save),
                   e->last_write, save_time, VersionRecord::kSaved, VersionRecord::File);
    }
    return true;
}

bool BackupLoader::read_discrete(const CatalogueNode& node, int32_t save, int64_t save_time) {
    const std::string top = node.destination + destination::files_folder(node.cycle, save) + "/";
    // A backup that saved nothing still has its folder, and its list may
    // record deletions: only a missing folder ends the chain.
    bool exists = false;
    // Folders still to read, relative to `top` (each ending in "/", or "").
    std::vector<std::string> pending{""};
    std::string name;
    while (!pending.empty()) {
        std::string rel = std::move(pending.back());
        pending.pop_back();
        platform::DirectoryReader dir;
        if (!dir.open(top + rel)) continue;
        if (rel.empty()) exists = true;
        while (dir.next(name)) {
            std::string inside = rel + name;
            platform::FileInfo fi;
            if (!platform::stat_path(top + inside, fi)) continue;
            if (fi.is_directory()) {
                pending.push_back(inside + "/");
            } else if (fi.is_regular()) {
                table_.add(discrete_record_path(inside), 0, static_cast<uint32_t>(save),
                           fi.times.last_write, save_time, VersionRecord::kSaved,
                           VersionRecord::File);
            }
        }
    }
    return exists;
}

void BackupLoader::read_list_file(const CatalogueNode& node, int32_t save, int64_t save_time) {
    std::string current;
    const auto s = static_cast<uint32_t>(save);
    vardel::read_list_file(
        node.destination + destination::list_file(node.cycle, save), [&](const ListLine& line) {
            switch (line.kind) {
                case 'A':
                case 'C':
                    current = line.text;
                    if (current.empty() || current.back() != '/') current.push_back('/');
                    if (line.kind == 'C') {
                        // Without its "/", so it groups with the folder's saved version.
                        std::string_view folder = current;
                        if (folder.size() > 1) folder.remove_suffix(1);
                        table_.add(folder, 0, s, 0, save_time, VersionRecord::kDeleted,
                                   VersionRecord::Directory);
                    }
                    break;
                case 'D':
                    // A name before any folder belongs nowhere.
                    if (!current.empty())
                        table_.add(current + line.text, 0, s, 0, save_time, VersionRecord::kDeleted,
                                   VersionRecord::File);
                    break;
                default:
                    break;
            }
        });
}

}  // namespace vardel
