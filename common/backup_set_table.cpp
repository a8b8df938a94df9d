#include "common/backup_set_table.h"

#include <new>

#include "common/my_error.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"

namespace vardel {

BackupSetTable::BackupSetTable() : slots_(kInitialSlots) {}

BackupSetTable::BackupSetTable(const BackupSetTable& other) : slots_(other.slots_.size()) {
    for (size_t i = 0; i < other.count_; ++i)
        slots_[i] = std::make_unique<BackupSet>(*other.slots_[i]);
    count_ = other.count_;
}

BackupSetTable& BackupSetTable::operator=(const BackupSetTable& other) {
    if (this != &other) {
        BackupSetTable copy(other);
        *this = std::move(copy);
    }
    return *this;
}

BackupSet* BackupSetTable::slot(size_t index) {
    return index < slots_.size() ? slots_[index].get() : nullptr;
}

const BackupSet* BackupSetTable::slot(size_t index) const {
    return index < slots_.size() ? slots_[index].get() : nullptr;
}

std::optional<size_t> BackupSetTable::index_of(std::string_view name) const {
    for (size_t i = 0; i < count_; ++i)
        if (iequals(slots_[i]->Name, name)) return i;
    return std::nullopt;
}

BackupSet* BackupSetTable::find(std::string_view name) {
    std::optional<size_t> i = index_of(name);
    return i ? slots_[*i].get() : nullptr;
}

const BackupSet* BackupSetTable::find(std::string_view name) const {
    std::optional<size_t> i = index_of(name);
    return i ? slots_[*i].get() : nullptr;
}

BackupSet& BackupSetTable::add(std::unique_ptr<BackupSet> set) {
    if (count_ == slots_.size()) {
        try {
            slots_.resize(slots_.size() + kGrowth);
        } catch (const std::bad_alloc&) {
            throw MyError(OPERATION_FAILED, "Can't grow backupset table");
        }
    }
    slots_[count_] = std::move(set);
    return *slots_[count_++];
}

BackupSet& BackupSetTable::add_by_name(std::unique_ptr<BackupSet> set) {
    if (std::optional<size_t> i = index_of(set->Name)) {
        slots_[*i] = std::move(set);
        return *slots_[*i];
    }
    return add(std::move(set));
}

void BackupSetTable::remove(size_t index) {
    if (index >= count_) return;
    slots_[index].reset();
    for (size_t i = index + 1; i < count_; ++i) slots_[i - 1] = std::move(slots_[i]);
    --count_;
}

void BackupSetTable::clear() {
    for (size_t i = 0; i < count_; ++i) slots_[i].reset();
    count_ = 0;
}

void BackupSetTable::load() {
    load(registry::current_store(registry::Transaction::Mode::Read));
}

void BackupSetTable::load(const registry::Store& store) {
    load(store, nullptr);
}

void BackupSetTable::load(const registry::Store& store, const SkippedSet& skipped) {
    BackupSetTable fresh;
    registry::Transaction tx(store, registry::Transaction::Mode::Read);
    if (std::optional<registry::Key> sets =
            registry::open_key(store, registry::Root::LocalMachine, kBackupSetsKey)) {
        std::string name;
        for (size_t i = 0; registry::enum_subkey(*sets, i, name); ++i) {
            auto set = std::make_unique<BackupSet>();
            try {
                set->load(name, store);
            } catch (const MyError& e) {
                if (!skipped || e.code() != BAD_DATA) throw;
                skipped(name, e.message());
                continue;
            }
            fresh.add(std::move(set));
        }
    }
    tx.commit();
    *this = std::move(fresh);
}

void BackupSetTable::save() const {
    save(registry::current_store(registry::Transaction::Mode::Write));
}

void BackupSetTable::save(const registry::Store& store) const {
    registry::Transaction tx(store, registry::Transaction::Mode::Write);
    std::optional<registry::Key> sets =
        registry::create_key(store, registry::Root::LocalMachine, kBackupSetsKey);
    if (!sets) throw MyError(OPERATION_FAILED, "Registry path open failed");
    registry::clear_key(*sets);
    for (const BackupSet& set : *this) set.save(store);
    tx.commit();
}

}  // namespace vardel
