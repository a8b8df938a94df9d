#include "vardelrestore/version_list.h"

#include <algorithm>

#include "common/text_helpers.h"
#include "platform/file_info.h"

namespace vardel {

const char* VersionList::header(int column) {
    static const char* const kHeaders[kColumnCount] = {
        "File", "Path", "Save #", "Last Mod Date", "Action", "Date Saved", ""};
    return column >= 0 && column < kColumnCount ? kHeaders[column] : "";
}

void VersionList::clear() {
    rows_.clear();
    rows_.shrink_to_fit();
    table_ = nullptr;
}

void VersionList::build(const VersionTable& table, ViewOptions options) {
    table_ = &table;
    options_ = options;
    rows_.clear();
    const size_t n = table.size();
    if (n == 0) return;
    rows_.reserve(n);
    // The table is sorted by path and save: the last record of each path is
    // its latest version (a deletion recorded there included).
    for (size_t i = 0; i < n; ++i) {
        if (options.latest_only && i + 1 < n && table[i].path == table[i + 1].path) continue;
        rows_.push_back(static_cast<uint32_t>(i));
    }
    // Where each candidate's file-name part starts, found once rather than
    // at every comparison.
    std::vector<uint32_t> name_at(n);
    for (uint32_t r : rows_) {
        std::string_view p = table[r].path;
        name_at[r] = static_cast<uint32_t>(p.size() - file_name_part(p).size());
    }
    auto parts = [&](uint32_t r, std::string_view& dir, std::string_view& name) {
        std::string_view p = table[r].path;
        dir = p.substr(0, name_at[r]);
        name = p.substr(name_at[r]);
    };
    const bool by_path = options.by_pathname;
    const bool by_save = options.by_save;
    // Stable: rows that compare equal keep the table's order, as inserting
    // each after its equals would.
    std::stable_sort(rows_.begin(), rows_.end(), [&](uint32_t a, uint32_t b) {
        const VersionRecord& ra = table[a];
        const VersionRecord& rb = table[b];
        if (by_save && ra.save != rb.save) return ra.save < rb.save;
        std::string_view da, na, db, nb;
        parts(a, da, na);
        parts(b, db, nb);
        int c = by_path ? da.compare(db) : na.compare(nb);
        if (c == 0) c = by_path ? na.compare(nb) : da.compare(db);
        if (c != 0) return c < 0;
        return ra.save < rb.save;
    });
}

bool VersionList::continuation(size_t row) const {
    return !options_.by_save && row > 0 && record(row).path == record(row - 1).path;
}

std::string VersionList::cell(size_t row, int column) const {
    const VersionRecord& r = record(row);
    switch (column) {
        case kFile:
            if (continuation(row)) return {};
            return r.kind == VersionRecord::Directory ? "(dir)"
                                                      : std::string(file_name_part(r.path));
        case kPath:
            if (continuation(row)) return {};
            return r.kind == VersionRecord::Directory ? std::string(r.path)
                                                      : std::string(folder_part(r.path));
        case kSave:
            return std::to_string(r.save);
        case kLastModified: {
            if (r.action != VersionRecord::kSaved) return {};
            int64_t seconds = 0, nanoseconds = 0;
            if (r.last_write != 0) platform::unix_from_filetime(r.last_write, seconds, nanoseconds);
            return date_time_text(seconds);
        }
        case kAction:
            return r.action == VersionRecord::kSaved ? "Save" : "Del";
        case kDateSaved:
            return date_time_text(r.date_saved);
        case kIndex:
            return std::to_string(rows_[row]);
        default:
            return {};
    }
}

std::vector<size_t> VersionList::newest_rows() const {
    std::vector<size_t> out;
    for (size_t i = 0; i < rows_.size(); ++i)
        if (i + 1 == rows_.size() || record(i).path != record(i + 1).path) out.push_back(i);
    return out;
}

}  // namespace vardel
