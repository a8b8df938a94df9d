#pragma once
// The run's catalogue of every directory and file met, behind the list
// files: directory records in ascending path order, each with its files in
// insertion order. Paths and names compare exactly (Linux names are
// case-sensitive: two files differing only in case are two files).
// Records and texts come from an arena of 64000-byte blocks and live until
// the catalogue is destroyed; removing a record only unlinks it.
// One per run, used by the backup thread alone.
#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/chunk_pool.h"

namespace vardel {

class DirectoryCatalogue {
  public:
    enum Flag : uint8_t { Listed = 1, Seen = 2 };

    struct FileRecord {
        std::string_view name;
        uint8_t flags;
        FileRecord* next;
        FileRecord* prev;
    };

    struct DirRecord {
        std::string_view path;  // always ends in "/"
        uint8_t flags;
        FileRecord* first;
        FileRecord* last;
        size_t file_count;
        // Name index, made once a directory holds many files.
        std::unordered_map<std::string_view, FileRecord*>* index;
    };

    DirectoryCatalogue() = default;
    ~DirectoryCatalogue();
    DirectoryCatalogue(const DirectoryCatalogue&) = delete;
    DirectoryCatalogue& operator=(const DirectoryCatalogue&) = delete;

    // `path` is given a trailing "/" when it has none.
    DirRecord* find_dir(std::string_view path);
    DirRecord* find_or_create_dir(std::string_view path);
    void unlink_dir(DirRecord* dir);

    FileRecord* find_file(DirRecord* dir, std::string_view name);
    FileRecord* add_file(DirRecord* dir, std::string_view name, uint8_t flags);
    void unlink_file(DirRecord* dir, FileRecord* file);

    // Directories in ascending path order.
    template <typename F>
    void for_each_dir(F&& f) {
        for (auto& [path, dir] : dirs_) f(*dir);
    }
    size_t dir_count() const { return dirs_.size(); }

  private:
    std::string_view keep(std::string_view text, bool add_slash);

    ChunkPool arena_{ChunkPool::kDefaultChunkSize};
    std::map<std::string_view, DirRecord*> dirs_;
    std::vector<DirRecord*> created_;
};

}  // namespace vardel
