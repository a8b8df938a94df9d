#pragma once
// Every saved version of every item of the loaded backups: one record per
// file or folder an archive or copy folder holds, and one per deletion a
// list file records. Kept sorted by path (exact byte order: Linux names
// differ by case) and then by save; records of equal path and save keep the
// order they were added in. Path texts live in a pool of 64000-byte blocks
// that clear() empties for the next load.
//
// Filled by one loading thread; read by the GUI thread only once the load
// has ended. Not thread-safe by itself.
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/chunk_pool.h"

namespace vardel {

struct VersionRecord {
    enum Kind : uint8_t { File = 1, Directory = 2 };
    static constexpr char kSaved = 'S';
    static constexpr char kDeleted = 'D';

    std::string_view path;         // as stored, "/" separated; points into the pool
    uint32_t container_index = 0;  // entry number in the SAF or ZIP file; 0 otherwise
    uint32_t save = 0;             // backup number within the cycle
    uint64_t last_write = 0;       // FILETIME; 0 for deletions
    int64_t date_saved = 0;        // the backup's save time (seconds since 1970)
    char action = kSaved;
    Kind kind = File;
};

class VersionTable {
  public:
    static constexpr size_t kGrowth = 16000;

    VersionTable();

    // Adds a record (its path copied into the pool). A record that sorts at
    // or after the last one is appended; any other waits for finish().
    void add(std::string_view path, uint32_t container_index, uint32_t save, uint64_t last_write,
             int64_t date_saved, char action, VersionRecord::Kind kind);
    // Room for `more` records at once (a ZIP file's or folder's entry count).
    void reserve_more(size_t more);
    // Puts records added out of order into place (a stable merge). Call once
    // a load has added everything; the table is sorted afterwards.
    void finish();

    void clear();
    size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    const VersionRecord& operator[](size_t i) const { return records_[i]; }
    const std::vector<VersionRecord>& records() const { return records_; }

    // The table's order: path, then save.
    static bool before(const VersionRecord& a, const VersionRecord& b) {
        if (int c = a.path.compare(b.path); c != 0) return c < 0;
        return a.save < b.save;
    }

  private:
    ChunkPool pool_;
    std::vector<VersionRecord> records_;
    size_t sorted_ = 0;  // records_[0, sorted_) are in order
    bool in_order_ = true;
};

}  // namespace vardel
