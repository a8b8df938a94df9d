#include "vardelrestore/version_table.h"

#include <algorithm>
#include <cstring>

namespace vardel {

VersionTable::VersionTable() {
    records_.reserve(kGrowth);
}

void VersionTable::reserve_more(size_t more) {
    if (records_.capacity() - records_.size() < more) records_.reserve(records_.size() + more);
}

void VersionTable::add(std::string_view path, uint32_t container_index, uint32_t save,
                       uint64_t last_write, int64_t date_saved, char action,
                       VersionRecord::Kind kind) {
    if (records_.size() == records_.capacity()) records_.reserve(records_.size() + kGrowth);
    char* text = nullptr;
    if (!path.empty()) {
        text = static_cast<char*>(pool_.allocate(path.size()));
        std::memcpy(text, path.data(), path.size());
    }
    VersionRecord r;
    r.path = std::string_view(text, path.size());
    r.container_index = container_index;
    r.save = save;
    r.last_write = last_write;
    r.date_saved = date_saved;
    r.action = action;
    r.kind = kind;
    // Inserting each record at its place would move the tail once per
    // record: quadratic for an archive in walk order. Records that come in
    // order are appended; the rest are merged once at the end, which gives
    // the same order (a record goes after every record equal to it).
    if (in_order_ && !records_.empty() && before(r, records_.back())) {
        in_order_ = false;
        sorted_ = records_.size();
    }
    records_.push_back(r);
}

void VersionTable::finish() {
    if (in_order_) return;
    auto mid = records_.begin() + static_cast<std::ptrdiff_t>(sorted_);
    std::stable_sort(mid, records_.end(), before);
    std::inplace_merge(records_.begin(), mid, records_.end(), before);
    in_order_ = true;
    sorted_ = records_.size();
}

void VersionTable::clear() {
    records_.clear();
    pool_.reset();
    in_order_ = true;
    sorted_ = 0;
}

}  // namespace vardel
