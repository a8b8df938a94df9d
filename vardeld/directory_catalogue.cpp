#include "vardeld/directory_catalogue.h"

#include <cstring>
#include <string>

namespace vardel {

namespace {
constexpr size_t kIndexFrom = 32;  // files before a directory gets a name index
}

DirectoryCatalogue::~DirectoryCatalogue() {
    for (DirRecord* d : created_) delete d->index;
}

std::string_view DirectoryCatalogue::keep(std::string_view text, bool add_slash) {
    size_t n = text.size() + (add_slash ? 1 : 0);
    char* p = static_cast<char*>(arena_.allocate(n + 1));
    std::memcpy(p, text.data(), text.size());
    if (add_slash) p[text.size()] = '/';
    return std::string_view(p, n);
}

DirectoryCatalogue::DirRecord* DirectoryCatalogue::find_dir(std::string_view path) {
    if (path.empty() || path.back() != '/') {
        std::string with(path);
        with.push_back('/');
        auto it = dirs_.find(with);
        return it == dirs_.end() ? nullptr : it->second;
    }
    auto it = dirs_.find(path);
    return it == dirs_.end() ? nullptr : it->second;
}

DirectoryCatalogue::DirRecord* DirectoryCatalogue::find_or_create_dir(std::string_view path) {
    if (DirRecord* d = find_dir(path)) return d;
    bool add_slash = path.empty() || path.back() != '/';
    auto* d = static_cast<DirRecord*>(arena_.allocate(sizeof(DirRecord)));
    d->path = keep(path, add_slash);
    created_.push_back(d);
    dirs_.emplace(d->path, d);
    return d;
}

void DirectoryCatalogue::unlink_dir(DirRecord* dir) {
    auto it = dirs_.find(dir->path);
    if (it != dirs_.end() && it->second == dir) dirs_.erase(it);
}

DirectoryCatalogue::FileRecord* DirectoryCatalogue::find_file(DirRecord* dir,
                                                              std::string_view name) {
    if (dir->index) {
        auto it = dir->index->find(name);
        return it == dir->index->end() ? nullptr : it->second;
    }
    for (FileRecord* f = dir->first; f; f = f->next)
        if (f->name == name) return f;
    return nullptr;
}

DirectoryCatalogue::FileRecord* DirectoryCatalogue::add_file(DirRecord* dir, std::string_view name,
                                                             uint8_t flags) {
    auto* f = static_cast<FileRecord*>(arena_.allocate(sizeof(FileRecord)));
    f->name = keep(name, false);
    f->flags = flags;
    f->prev = dir->last;
    if (dir->last)
        dir->last->next = f;
    else
        dir->first = f;
    dir->last = f;
    ++dir->file_count;
    if (dir->index) {
        dir->index->emplace(f->name, f);
    } else if (dir->file_count >= kIndexFrom) {
        dir->index = new std::unordered_map<std::string_view, FileRecord*>();
        for (FileRecord* g = dir->first; g; g = g->next) dir->index->emplace(g->name, g);
    }
    return f;
}

void DirectoryCatalogue::unlink_file(DirRecord* dir, FileRecord* f) {
    if (f->prev)
        f->prev->next = f->next;
    else
        dir->first = f->next;
    if (f->next)
        f->next->prev = f->prev;
    else
        dir->last = f->prev;
    f->next = f->prev = nullptr;
    --dir->file_count;
    if (dir->index) {
        auto it = dir->index->find(f->name);
        if (it != dir->index->end() && it->second == f) dir->index->erase(it);
    }
}

}  // namespace vardel
