#pragma once
// The rows the list shows: which records of the VersionTable, in which
// order, and each cell's text, made when it is asked for. A view change
// rebuilds only the order (one index per row), so a million rows cost one
// sort, never a million formatted texts.
//
// Built and read on one thread (the GUI thread, or the loading thread
// before it hands over).
#include <cstdint>
#include <string>
#include <vector>

#include "vardelrestore/version_table.h"

namespace vardel {

struct ViewOptions {
    bool latest_only = false;  // "&Latest version Only"
    bool by_pathname = false;  // "Sort by &Pathname"; off: "Sort by &Filename"
    bool by_save = false;      // "Sort by &Save"
    bool operator==(const ViewOptions&) const = default;
};

class VersionList {
  public:
    enum Column { kFile, kPath, kSave, kLastModified, kAction, kDateSaved, kIndex, kColumnCount };
    // "File", "Path", "Save #", "Last Mod Date", "Action", "Date Saved", "".
    static const char* header(int column);

    // The rows for `table` (which must outlive the list or the next build).
    void build(const VersionTable& table, ViewOptions options);
    void clear();

    size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }
    const ViewOptions& options() const { return options_; }
    // The record a row shows (the hidden index column).
    uint32_t record_index(size_t row) const { return rows_[row]; }
    const VersionRecord& record(size_t row) const { return (*table_)[rows_[row]]; }
    // A row that repeats the path of the row above (not when sorted by save):
    // its File and Path cells are empty, so one item's versions read as a group.
    bool continuation(size_t row) const;
    std::string cell(size_t row, int column) const;
    // The rows "N&ewest Files" selects: each row whose path differs from the
    // next row's, and the last row.
    std::vector<size_t> newest_rows() const;

  private:
    const VersionTable* table_ = nullptr;
    std::vector<uint32_t> rows_;
    ViewOptions options_;
};

}  // namespace vardel
