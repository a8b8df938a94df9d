#include "vardelrestore/extractor.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "common/destination_names.h"
#include "common/my_error.h"
#include "common/setting_names.h"
#include "common/text_helpers.h"
#include "containers/password_stream.h"
#include "containers/saf_reader.h"
#include "containers/zip_reader.h"
#include "platform/file.h"
#include "platform/file_info.h"

namespace vardel {

namespace {

constexpr size_t kCopyBlock = 1u << 20;
constexpr const char* kAborted = "Abort by user request";

}  // namespace

TargetPlan plan_target(std::string_view path, const ExtractOptions& options) {
    TargetPlan plan;
    // The system would end the name at a zero byte: another file than the one named.
    if (path.find('\0') != std::string_view::npos) {
        plan.kind = TargetPlan::Unsafe;
        return plan;
    }
    const std::string& base = options.base_directory;
    if (!base.empty()) {
        if (path.substr(0, base.size()) == base)
            path.remove_prefix(base.size());
        else if (options.ignore_other_files)
            return plan;
    }
    std::vector<std::string> parts;
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string_view part = path.substr(0, slash);
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            plan.kind = TargetPlan::Unsafe;
            return plan;
        }
        parts.emplace_back(part);
    }
    if (parts.empty()) return plan;  // the base directory itself: nothing to make
    plan.kind = TargetPlan::Write;
    plan.name = std::move(parts.back());
    parts.pop_back();
    plan.folders = std::move(parts);
    return plan;
}

std::string propose_base_directory(const std::vector<std::string_view>& paths) {
    if (paths.empty()) return {};
    std::string_view common = paths.front();
    for (std::string_view p : paths) {
        size_t n = 0;
        while (n < common.size() && n < p.size() && common[n] == p[n]) ++n;
        common = common.substr(0, n);
    }
    size_t slash = common.rfind('/');
    return slash == std::string_view::npos ? std::string()
                                           : std::string(common.substr(0, slash + 1));
}

Extractor::Extractor(const CatalogueNode& node, const VersionTable& table, ExtractOptions options,
                     RestoreUi& ui, std::atomic<bool>& stop)
    : node_(node), table_(table), options_(std::move(options)), ui_(ui), stop_(stop) {}

Extractor::~Extractor() = default;

std::vector<uint32_t> Extractor::rows_to_process(const VersionTable& table,
                                                 const std::vector<uint32_t>& records) {
    std::vector<uint32_t> out;
    out.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        if (i + 1 < records.size()) {
            const VersionRecord& a = table[records[i]];
            const VersionRecord& b = table[records[i + 1]];
            if (a.path == b.path && a.action == b.action) continue;
        }
        out.push_back(records[i]);
    }
    return out;
}

bool Extractor::run(const std::vector<uint32_t>& records) {
    std::vector<uint32_t> rows = rows_to_process(table_, records);
    // Folders go last, deepest first: a vanished folder's files are listed
    // after it and must be gone before it can be.
    std::vector<uint32_t> folders_to_delete;
    try {
        state_.load(node_.destination + destination::kStateFile);
        if (!node_.loadable() || !check_passwords(rows)) {
            stop_ = true;
        } else {
            std::error_code ec;
            std::filesystem::create_directories(options_.target_folder, ec);
            int err = 0;
            if (!root_.open(options_.target_folder, &err)) {
                ui_.message(strprintf("Can't create folder %s: %s", options_.target_folder.c_str(),
                                      system_error_text(err)),
                            "Error!", MessageKind::Error);
                stop_ = true;
            }
        }
        for (uint32_t index : rows) {
            if (stop_) break;
            const VersionRecord& r = table_[index];
            ui_.extracting(std::string(r.path));
            if (r.action == VersionRecord::kSaved) {
                if (!extract_saved(r)) stop_ = true;
            } else if (r.action == VersionRecord::kDeleted) {
                if (r.kind == VersionRecord::Directory)
                    folders_to_delete.push_back(index);
                else if (!delete_item(r))
                    stop_ = true;
            } else {
                ui_.message(strprintf("Unrecognized action '%c' in DoExtracting", r.action),
                            "Logic Error!", MessageKind::Warning);
                stop_ = true;
            }
        }
        for (auto it = folders_to_delete.rbegin(); it != folders_to_delete.rend() && !stop_; ++it) {
            const VersionRecord& r = table_[*it];
            ui_.extracting(std::string(r.path));
            if (!delete_item(r)) stop_ = true;
        }
    } catch (const MyError& e) {
        if (e.code() != RUN_ABORTED)
            ui_.message(e.message(), "Encountered an Error", MessageKind::Error);
        stop_ = true;
    }
    saf_.reset();
    zip_.reset();
    open_chain_.clear();
    open_names_.clear();
    // "Copy completed" means on disk: one flush for every file written.
    int err = 0;
    if (!stop_ && root_.is_open() && !platform::sync_file_system(root_.path(), &err)) {
        ui_.message(strprintf("Write failed on file %s: %s\n", root_.path().c_str(),
                              system_error_text(err)),
                    "Error", MessageKind::Warning);
        stop_ = true;
    }
    root_.close();
    return !stop_;
}

bool Extractor::check_passwords(const std::vector<uint32_t>& rows) {
    std::vector<uint32_t> saves;
    for (uint32_t index : rows) {
        const VersionRecord& r = table_[index];
        if (r.action != VersionRecord::kSaved) continue;
        if (std::find(saves.begin(), saves.end(), r.save) == saves.end()) saves.push_back(r.save);
    }
    if (node_.encoded && options_.password.empty() && !saves.empty()) {
        ui_.message("Archive requires a password to decode", "Missing Info", MessageKind::Error);
        return false;
    }
    for (uint32_t save : saves) {
        if (node_.save_format == SAVE_SAF) {
            // The archive keeps its own check value; a wrong password throws
            // with the reader's text before any file is written.
            SafReader reader;
            try {
                reader.open(node_.destination + destination::saf_archive(node_.cycle, save));
            } catch (const MyError&) {
                continue;  // told when an item of it is extracted
            }
            reader.set_password(options_.password);
        } else if (node_.encoded) {
            const std::string key = destination::check_value_key(node_.cycle, save);
            if (state_.get_text(destination::kSection, key).empty()) continue;
            auto stored = static_cast<uint32_t>(state_.get_number(destination::kSection, key));
            if (!PasswordStream::test_check_value(options_.password, stored)) {
                ui_.message("Invalid password for encoded backup", "Error!", MessageKind::Error);
                return false;
            }
        }
    }
    return true;
}

bool Extractor::unsafe(const VersionRecord& r) {
    ++failed_;
    ui_.message(strprintf("Refused to extract %.*s: its name leads outside the target folder",
                          static_cast<int>(r.path.size()), r.path.data()),
                "Error!", MessageKind::Warning);
    return true;
}

bool Extractor::reach_folder(const TargetPlan& plan, bool create,
                             const platform::TargetFolder*& out) {
    size_t k = 0;
    while (k < open_names_.size() && k < plan.folders.size() && open_names_[k] == plan.folders[k])
        ++k;
    open_names_.resize(k);
    open_chain_.resize(k);
    for (size_t i = k; i < plan.folders.size(); ++i) {
        const platform::TargetFolder& parent = i == 0 ? root_ : open_chain_[i - 1];
        platform::TargetFolder child;
        int err = 0;
        if (!parent.open_child(plan.folders[i], create, child, &err)) {
            // A link in the way is never followed: the item stays out.
            if (create) {
                ++failed_;
                ui_.message(strprintf("Can't create folder %s%s: %s", parent.path().c_str(),
                                      plan.folders[i].c_str(), system_error_text(err)),
                            "Error", MessageKind::Warning);
            }
            return false;
        }
        open_names_.push_back(plan.folders[i]);
        open_chain_.push_back(std::move(child));
    }
    out = open_chain_.empty() ? &root_ : &open_chain_.back();
    return true;
}

bool Extractor::extract_saved(const VersionRecord& r) {
    TargetPlan plan = plan_target(r.path, options_);
    if (plan.kind == TargetPlan::Skip) return true;
    if (plan.kind == TargetPlan::Unsafe) return unsafe(r);
    const platform::TargetFolder* folder = nullptr;
    if (!reach_folder(plan, true, folder)) return true;
    const platform::TargetFolder::Entry there = folder->entry(plan.name);
    const std::string target = folder->path() + plan.name;
    if (r.kind == VersionRecord::Directory) {
        if (there == platform::TargetFolder::Entry::Folder) return true;
        platform::TargetFolder made;
        int err = 0;
        if (!folder->open_child(plan.name, true, made, &err)) {
            ++failed_;
            ui_.message(
                strprintf("Can't create folder %s: %s", target.c_str(), system_error_text(err)),
                "Error", MessageKind::Warning);
        }
        return true;
    }
    const bool replacing = there != platform::TargetFolder::Entry::None;
    if (replacing) {
        switch (options_.overwrite) {
            case ExtractOptions::Overwrite::All:
                break;
            case ExtractOptions::Overwrite::None:
                return true;
            case ExtractOptions::Overwrite::Prompt:
                switch (ui_.ask_overwrite(target)) {
                    case PromptAnswer::Yes:
                        break;
                    case PromptAnswer::No:
                        return true;
                    case PromptAnswer::YesToAll:
                        options_.overwrite = ExtractOptions::Overwrite::All;
                        break;
                    case PromptAnswer::NoToAll:
                        options_.overwrite = ExtractOptions::Overwrite::None;
                        return true;
                    case PromptAnswer::Abort:
                        stop_ = true;
                        return true;
                }
                break;
        }
    }
    switch (node_.save_format) {
        case SAVE_SAF:
            return write_saf(r, *folder, plan.name, replacing);
        case SAVE_ZIP:
            return write_zip(r, *folder, plan.name, replacing);
        case SAVE_DISCRETE:
            return write_discrete(r, *folder, plan.name, replacing);
        default:
            VARDEL_UNEXPECTED_SWITCH();
            return true;
    }
}

void Extractor::discard(const platform::TargetFolder& folder, const std::string& temp) {
    // An unnamed file goes with its descriptor.
    if (!temp.empty()) folder.remove_file(temp);
}

bool Extractor::make_temp(const platform::TargetFolder& folder, const std::string& name,
                          platform::File& out, std::string& temp, mode_t mode, bool replacing,
                          bool& made) {
    // A new file needs no name until it is whole: unnamed, it cannot be seen
    // half-written, and it costs one entry in the folder instead of two.
    temp.clear();
    if (!replacing && folder.create_unnamed(out, mode)) {
        made = true;
        return true;
    }
    made = folder.create_temp(name, out, temp, "extract", mode);
    if (made) return true;
    ++failed_;
    // OK skips the item; Cancel ends the extraction, without a further message.
    return ui_.confirm(strprintf("Can't create dest file %s%s: %s\n", folder.path().c_str(),
                                 name.c_str(), system_error_text(out.error())),
                       "Error", MessageKind::Warning);
}

bool Extractor::put_in_place(const platform::TargetFolder& folder, platform::File& out,
                             const std::string& temp, const std::string& name, uint64_t last_access,
                             uint64_t last_write, bool replacing) {
    platform::set_descriptor_times(out.fd(), last_access, last_write);
    // The file it replaces must not be lost to a crash before the new one
    // is on disk; new files are flushed together at the end.
    if (replacing && !out.sync()) {
        int err = out.error();
        out.close();
        discard(folder, temp);
        ++failed_;
        ui_.message(strprintf("Write failed on file %s%s: %s\n", folder.path().c_str(),
                              name.c_str(), system_error_text(err)),
                    "Error", MessageKind::Warning);
        return true;
    }
    int err = 0;
    bool placed =
        temp.empty() ? folder.link_unnamed(out, name, &err) : folder.rename(temp, name, &err);
    out.close();
    if (!placed) {
        discard(folder, temp);
        ++failed_;
        return ui_.confirm(strprintf("Can't create dest file %s%s: %s\n", folder.path().c_str(),
                                     name.c_str(), system_error_text(err)),
                           "Error", MessageKind::Warning);
    }
    return true;
}

bool Extractor::write_saf(const VersionRecord& r, const platform::TargetFolder& folder,
                          const std::string& name, bool replacing) {
    if (!saf_ || open_save_ != static_cast<int32_t>(r.save)) {
        zip_.reset();
        saf_ = std::make_unique<SafReader>();
        open_save_ = -1;
        try {
            saf_->open(node_.destination + destination::saf_archive(node_.cycle, r.save));
        } catch (const MyError&) {
            saf_.reset();
            ui_.message("Can't open SAF file", "Error!", MessageKind::Error);
            return false;
        }
        if (saf_->encoding() == SafEncoding::PasswordStream) saf_->set_password(options_.password);
        open_save_ = static_cast<int32_t>(r.save);
    }
    const SafEntry e = saf_->entry(r.container_index);
    const mode_t mode = (e.attributes & platform::kAttrReadOnly) ? 0444 : 0666;
    platform::File out;
    std::string temp;
    bool made = false;
    if (!make_temp(folder, name, out, temp, mode, replacing, made)) return false;
    if (!made) return true;
    bool crc_ok = true;
    try {
        saf_->extract_data(
            r.container_index, out,
            [this] {
                if (stop_) throw MyError(RUN_ABORTED, kAborted);
            },
            &crc_ok);
    } catch (...) {
        out.close();
        discard(folder, temp);
        throw;
    }
    if (!crc_ok) {
        // Damaged data must not take the place of a file, nor pass for restored.
        out.close();
        discard(folder, temp);
        ++failed_;
        ui_.message(strprintf("Bad data in the backup of %.*s: not extracted",
                              static_cast<int>(r.path.size()), r.path.data()),
                    "ERROR Reading File", MessageKind::Warning);
        return true;
    }
    return put_in_place(folder, out, temp, name, e.last_access, e.last_write, replacing);
}

bool Extractor::write_zip(const VersionRecord& r, const platform::TargetFolder& folder,
                          const std::string& name, bool replacing) {
    if (!zip_ || open_save_ != static_cast<int32_t>(r.save)) {
        saf_.reset();
        open_save_ = -1;
        zip_ = ZipReader::open(node_.destination + destination::zip_archive(node_.cycle, r.save));
        if (!zip_) {
            ui_.message("Can't open ZIP file", "Error!", MessageKind::Error);
            return false;
        }
        open_save_ = static_cast<int32_t>(r.save);
    }
    char text[1024];
    const ZipEntryInfo* e = zip_->entry(r.container_index);
    if (!e) {
        ++failed_;
        zip_->result_text(ZR_ARGS, text, sizeof text);
        ui_.message(strprintf("Error on zip extract: %s", text), "Zip Error!",
                    MessageKind::Warning);
        return true;
    }
    const mode_t stored_mode = e->unix_mode & 0777;
    const mode_t mode = (e->attributes & platform::kAttrReadOnly) ? 0444 : 0666;
    platform::File out;
    std::string temp;
    bool made = false;
    if (!make_temp(folder, name, out, temp, mode, replacing, made)) return false;
    if (!made) return true;
    PasswordStream stream;
    const bool decode = node_.encoded && !options_.password.empty();
    if (decode) stream.set_key(options_.password);
    ZipResult result = zip_->extract_data(r.container_index, out, [&](void* data, size_t size) {
        if (decode) stream.encode(data, static_cast<std::ptrdiff_t>(size));
    });
    if (result != ZR_OK) {
        out.close();
        discard(folder, temp);
        ++failed_;
        zip_->result_text(result, text, sizeof text);
        ui_.message(strprintf("Error on zip extract: %s", text), "Zip Error!",
                    MessageKind::Warning);
        return true;
    }
    if (stored_mode) out.set_mode(stored_mode);
    return put_in_place(folder, out, temp, name, e->last_write, e->last_write, replacing);
}

bool Extractor::write_discrete(const VersionRecord& r, const platform::TargetFolder& folder,
                               const std::string& name, bool replacing) {
    std::string_view inside = r.path;
    if (!inside.empty() && inside.front() == '/') inside.remove_prefix(1);
    const std::string source = node_.destination + destination::files_folder(node_.cycle, r.save) +
                               "/" + std::string(inside);
    platform::FileInfo fi;
    int err = 0;
    if (!platform::stat_path(source, fi, &err) || !fi.is_regular()) {
        if (err == 0) err = EINVAL;
        ++failed_;
        ui_.message(strprintf("Can't stat file %s: %s", source.c_str(), system_error_text(err)),
                    "Error", MessageKind::Warning);
        return true;
    }
    platform::File in;
    if (!in.open(source, platform::OpenMode::Read)) {
        ++failed_;
        ui_.message(
            strprintf("Can't open file %s: %s", source.c_str(), system_error_text(in.error())),
            "Error", MessageKind::Warning);
        return true;
    }
    platform::File out;
    std::string temp;
    bool made = false;
    if (!make_temp(folder, name, out, temp, 0600, replacing, made)) return false;
    if (!made) return true;

    const bool decode = node_.encoded && !options_.password.empty();
    PasswordStream stream;
    if (decode) stream.set_key(options_.password);
    bool in_kernel = !decode;
    int failure = 0;
    while (in_kernel && !stop_) {
        ssize_t n = in.copy_to(out, kCopyBlock);
        if (n == 0) break;
        if (n > 0) continue;
        int e = in.error();
        bool refused = e == EXDEV || e == EINVAL || e == ENOSYS || e == EOPNOTSUPP;
        if (!refused || in.position() != 0) {
            failure = e;
            break;
        }
        in_kernel = false;
    }
    if (!in_kernel && !failure) buffer_.resize(kCopyBlock);
    while (!in_kernel && !failure && !stop_) {
        ssize_t n = in.read(buffer_.data(), buffer_.size());
        if (n < 0) failure = in.error();
        if (n <= 0) break;
        if (decode) stream.encode(buffer_.data(), n);
        if (!out.write_all(buffer_.data(), static_cast<size_t>(n))) failure = out.error();
    }
    if (failure || stop_) {
        out.close();
        discard(folder, temp);
        if (stop_) throw MyError(RUN_ABORTED, kAborted);
        ++failed_;
        ui_.message(strprintf("Write failed on file %s%s: %s\n", folder.path().c_str(),
                              name.c_str(), system_error_text(failure)),
                    "Error", MessageKind::Warning);
        return true;
    }
    out.set_mode(fi.mode & 0777);
    return put_in_place(folder, out, temp, name, fi.times.last_access, fi.times.last_write,
                        replacing);
}

bool Extractor::delete_item(const VersionRecord& r) {
    TargetPlan plan = plan_target(r.path, options_);
    if (plan.kind == TargetPlan::Skip) return true;
    if (plan.kind == TargetPlan::Unsafe) return unsafe(r);
    const platform::TargetFolder* folder = nullptr;
    // A folder that is missing, or a link, holds nothing of ours to delete.
    if (!reach_folder(plan, false, folder)) return true;
    const platform::TargetFolder::Entry there = folder->entry(plan.name);
    if (there == platform::TargetFolder::Entry::None) return true;
    const std::string target = folder->path() + plan.name;
    switch (deletion_) {
        case Deletion::All:
            break;
        case Deletion::None:
            return true;
        case Deletion::Prompt:
            switch (ui_.ask_delete(target)) {
                case PromptAnswer::Yes:
                    break;
                case PromptAnswer::No:
                    return true;
                case PromptAnswer::YesToAll:
                    deletion_ = Deletion::All;
                    break;
                case PromptAnswer::NoToAll:
                    deletion_ = Deletion::None;
                    return true;
                case PromptAnswer::Abort:
                    stop_ = true;
                    return true;
            }
            break;
    }
    int err = 0;
    bool removed = false;
    if (there == platform::TargetFolder::Entry::Folder) {
        removed = folder->remove_folder(plan.name, &err);
        // A folder held open below the one removed would take writes into nowhere.
        open_chain_.clear();
        open_names_.clear();
    } else {
        removed = folder->remove_file(plan.name, &err);
    }
    // A folder that still holds files of the user's stays, as it must.
    if (!removed && err != ENOTEMPTY && err != EEXIST) {
        ++failed_;
        ui_.message(strprintf("Can't delete %s: %s", target.c_str(), system_error_text(err)),
                    "Error", MessageKind::Warning);
    }
    return true;
}

}  // namespace vardel
