#pragma once
// The table of backup sets that GeneralSettings owns: a number of slots (12
// at first, growing by 12), each empty or owning one BackupSet. Filled slots
// are contiguous from the first: adding fills the first empty slot, removing
// closes the gap. The order is the order of loading (the store's
// enumeration) or of adding.
//
// Copying copies every set. Pointers and references to sets stay valid until
// that set is removed or replaced, or the table is cleared or destroyed.
// No locks; one thread at a time.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "common/backup_set.h"

namespace vardel {

class BackupSetTable {
  public:
    static constexpr size_t kInitialSlots = 12;
    static constexpr size_t kGrowth = 12;

    BackupSetTable();
    BackupSetTable(const BackupSetTable& other);
    BackupSetTable& operator=(const BackupSetTable& other);
    BackupSetTable(BackupSetTable&&) noexcept = default;
    BackupSetTable& operator=(BackupSetTable&&) noexcept = default;

    size_t slot_count() const { return slots_.size(); }
    // Filled slots.
    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

    // The set in slot `index`, or nullptr for an empty or missing slot.
    BackupSet* slot(size_t index);
    const BackupSet* slot(size_t index) const;
    // A filled slot (index < size()).
    BackupSet& operator[](size_t index) { return *slots_[index]; }
    const BackupSet& operator[](size_t index) const { return *slots_[index]; }

    // The slot of the set named `name` without regard to case.
    std::optional<size_t> index_of(std::string_view name) const;
    BackupSet* find(std::string_view name);
    const BackupSet* find(std::string_view name) const;

    // Puts the set into the first empty slot, growing the table by 12 slots
    // when all are full (MyError OPERATION_FAILED "Can't grow backupset
    // table" when memory runs out).
    BackupSet& add(std::unique_ptr<BackupSet> set);
    // A set whose name equals the new one's without regard to case is
    // replaced in its slot; otherwise as add().
    BackupSet& add_by_name(std::unique_ptr<BackupSet> set);
    // Removes the set in `index` (< size()); the later ones move up.
    void remove(size_t index);
    // Releases every set; the slots stay.
    void clear();

    // Fills the table afresh with one set per subkey of "backupsets" in the
    // store's order (a missing "backupsets" key leaves it empty), reading one
    // snapshot. Fails as BackupSet::load() does, leaving the table as it was.
    void load(const registry::Store& store);
    void load();
    // A set that cannot be loaded (a value of the wrong type): its name and
    // the reason. For the service, which runs the other sets; an editor must
    // not drop a set it could not read, or its save would delete it.
    using SkippedSet = std::function<void(const std::string& name, const std::string& why)>;
    // As load(), but a set that fails with BAD_DATA is left out and told to
    // `skipped` instead of failing the whole table.
    void load(const registry::Store& store, const SkippedSet& skipped);
    // Replaces the whole of "backupsets" with the sets in slot order, in one
    // transaction (or within the caller's). MyError OPERATION_FAILED
    // "Registry path open failed" when "backupsets" cannot be created, or as
    // BackupSet::save() fails; nothing is written then.
    void save(const registry::Store& store) const;
    void save() const;

    // Range over the filled slots: for (BackupSet& s : table).
    template <class Set, class Slot>
    class Iterator {
      public:
        explicit Iterator(Slot* p) : p_(p) {}
        Set& operator*() const { return **p_; }
        Set* operator->() const { return p_->get(); }
        Iterator& operator++() {
            ++p_;
            return *this;
        }
        bool operator==(const Iterator& o) const { return p_ == o.p_; }

      private:
        Slot* p_;
    };
    using iterator = Iterator<BackupSet, std::unique_ptr<BackupSet>>;
    using const_iterator = Iterator<const BackupSet, const std::unique_ptr<BackupSet>>;
    iterator begin() { return iterator(slots_.data()); }
    iterator end() { return iterator(slots_.data() + count_); }
    const_iterator begin() const { return const_iterator(slots_.data()); }
    const_iterator end() const { return const_iterator(slots_.data() + count_); }

  private:
    std::vector<std::unique_ptr<BackupSet>> slots_;
    size_t count_ = 0;
};

}  // namespace vardel
