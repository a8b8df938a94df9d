#pragma once
// The settings store: a hierarchical registry of keys and typed values, kept
// in one SQLite database (WAL journal, busy timeout), so that one program
// writes while the others read.
//
// - Three named roots: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,
//   HKEY_CLASSES_ROOT. Paths below a root are pieces joined by "\\"; empty
//   pieces (a leading, trailing or doubled "\\") are ignored.
// - Key and value names keep their spelling and are compared without regard
//   to ASCII case. Subkeys are enumerated by index in case-insensitive name
//   order, stable while nothing changes. The empty value name is the key's
//   default value.
// - Values carry a type tag: REG_SZ (a byte string), REG_DWORD (4 bytes,
//   little-endian, a signed 32-bit number) or any other tag (REG_BINARY...),
//   kept with its bytes so that a value of the wrong type can be detected.
// - A RegistryTransaction makes a series of reads (a consistent snapshot) or
//   writes (all or nothing, even across a crash or a power cut) one unit.
//
// Permissions: a machine-wide store is a file of mode 0644 owned by root in a
// folder of mode 0755: only root writes it (the service runs the stored hook
// commands as root), everyone reads it. A per-user or VARDEL_ROOT store is
// its user's own (mode 0600). A store that the process may not write is
// opened read-only; every write then fails.
//
// Failures throw RegistryError (a missing key is not a failure: open gives
// none). Thread-safety: a store and the keys on it may be used from any
// thread; each call is atomic, and a transaction holds the store for its
// thread until it ends (other threads of the process wait). Keys and stores
// must not be carried across fork(): a child opens its own (current() does
// so by itself).
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/paths.h"
#include "platform/thread_annotations.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vardel::platform {

enum class RegistryRoot { LocalMachine = 1, CurrentUser = 2, ClassesRoot = 3 };

// "HKEY_LOCAL_MACHINE", ...
const char* root_name(RegistryRoot root);
// Accepts the long names and HKLM, HKCU, HKCR, without regard to case.
std::optional<RegistryRoot> parse_root(std::string_view text);

// The Windows registry's own type numbers, so exports read as regedit's do.
enum RegistryType : uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_MULTI_SZ = 7,
};
// "REG_SZ", "REG_DWORD", ...; "REG_TYPE_<n>" for other numbers.
std::string type_name(uint32_t type);

struct RegistryValue {
    std::string name;  // as spelt when written
    uint32_t type = REG_NONE;
    std::string data;  // REG_SZ: the text without a terminating zero

    // The number of a REG_DWORD of 4 bytes; none for anything else.
    std::optional<int32_t> dword() const;
};

class RegistryError : public std::runtime_error {
  public:
    enum class Kind {
        ReadOnly,  // the store may not be written by this process
        Busy,      // another process kept the store locked past the time-out
        Corrupt,   // the file is not a settings store (left untouched)
        KeyGone,   // the key was deleted while a handle was open
        Misuse,    // e.g. a write inside a read transaction
        Io,        // anything else the database or the file system reported
    };
    RegistryError(Kind kind, const std::string& what, const std::string& reason = {})
        : std::runtime_error(what), kind_(kind), reason_(reason.empty() ? what : reason) {}
    Kind kind() const { return kind_; }
    // What went wrong in the database's or the system's own words, without
    // the store's path ("file is not a database").
    const std::string& reason() const { return reason_; }

  private:
    Kind kind_;
    std::string reason_;
};

class RegistryKey;

class RegistryStore : public std::enable_shared_from_this<RegistryStore> {
  public:
    // Opens the store file at `path`, creating the file (and its folder) when
    // missing and the process may, with the permissions `scope` calls for.
    // A machine-wide store is never created here (see create()): a missing
    // one reads as empty and refuses writes. Throws RegistryError.
    static std::shared_ptr<RegistryStore> open(const std::string& path, StoreScope scope);
    // As open(), and a missing machine-wide store is created too: for the
    // installer and vardelreg writing as root only, so that a stray run as
    // root never makes the machine-wide store that locks ordinary users out
    // of their own.
    static std::shared_ptr<RegistryStore> create(const std::string& path, StoreScope scope);
    // The store of suite_paths() for this process, opened on first use and
    // again whenever the answer changes (tests switch VARDEL_ROOT) or the
    // process was forked. Throws RegistryError.
    static std::shared_ptr<RegistryStore> current();
    // Creates this process's store when it is missing (see create()).
    static void create_current();

    // True when the store file is there (a missing machine-wide store is not).
    bool exists() const { return inode_ != 0; }
    // Reads the whole file once; throws RegistryError Kind::Corrupt with
    // SQLite's text when any page is damaged. Opening reads only the first.
    void verify();

    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    const std::string& path() const { return path_; }
    bool read_only() const { return read_only_; }

    // A root key; always there.
    RegistryKey root(RegistryRoot root);

  private:
    friend class RegistryKey;
    friend class RegistryTransaction;

    RegistryStore(std::string path, StoreScope scope, bool may_create);
    void open_database();
    void create_schema() REQUIRES(mutex_);
    sqlite3_stmt* prepare(const char* sql) REQUIRES(mutex_);
    [[noreturn]] void fail(int rc, const std::string& doing) REQUIRES(mutex_);
    void exec(const char* sql, const std::string& doing) REQUIRES(mutex_);
    void check_writable(const std::string& doing) REQUIRES(mutex_);
    // True when a key with this id exists.
    bool key_exists(int64_t id) REQUIRES(mutex_);
    // Child `name` of key `parent`, or -1.
    int64_t find_child(int64_t parent, std::string_view name) REQUIRES(mutex_);

    std::string path_;
    StoreScope scope_;
    bool may_create_;
    bool read_only_ = false;
    dev_t device_ = 0;  // the file opened, to notice a store replaced under us
    ino_t inode_ = 0;
    // Taken again by a transaction's own calls.
    RecursiveMutex mutex_;
    sqlite3* db_ PT_GUARDED_BY(mutex_) = nullptr;
    std::vector<std::pair<const char*, sqlite3_stmt*>> statements_ GUARDED_BY(mutex_);
    // Transaction nesting: only the outermost begins and ends the SQLite one.
    int depth_ GUARDED_BY(mutex_) = 0;
    bool write_tx_ GUARDED_BY(mutex_) = false;
    bool doomed_ GUARDED_BY(mutex_) = false;  // an inner write ended without commit
};

// A handle to one key: the store (kept alive by the handle) and the key's
// identity. Cheap to copy. Operations on a key deleted meanwhile fail with
// RegistryError::Kind::KeyGone (reads of it report nothing).
class RegistryKey {
  public:
    // The key at `path` below `root`, or none when some key on it is missing.
    static std::optional<RegistryKey> open(const std::shared_ptr<RegistryStore>& store,
                                           RegistryRoot root, std::string_view path);
    // Opens the key, creating it and every missing key on its path.
    static RegistryKey create(const std::shared_ptr<RegistryStore>& store, RegistryRoot root,
                              std::string_view path);

    std::optional<RegistryKey> open_subkey(std::string_view relative) const;
    RegistryKey create_subkey(std::string_view relative) const;

    // "HKEY_LOCAL_MACHINE\\software\\..." with the pieces as the caller spelt them.
    const std::string& path() const { return path_; }
    // The key's own name as stored ("" for a root).
    std::string name() const;
    RegistryRoot root() const { return root_; }
    const std::shared_ptr<RegistryStore>& store() const { return store_; }
    bool exists() const;

    // Values. get_value gives none when the value is missing.
    std::optional<RegistryValue> get_value(std::string_view name) const;
    // Creates or replaces; a replaced value takes the new spelling of its name.
    void set_value(std::string_view name, uint32_t type, std::string_view data) const;
    void set_dword(std::string_view name, int32_t number) const;
    void set_sz(std::string_view name, std::string_view text) const;
    // False when there was no such value.
    bool delete_value(std::string_view name) const;
    // Every value, in case-insensitive name order.
    std::vector<RegistryValue> values() const;

    // Subkeys. subkey_at gives the name at `index` in case-insensitive order,
    // none past the last.
    std::optional<std::string> subkey_at(size_t index) const;
    std::vector<std::string> subkey_names() const;
    // Deletes the subkey at `relative` with everything below it; false when
    // it did not exist. A root cannot be deleted.
    bool delete_subkey(std::string_view relative) const;
    // Deletes every subkey (with everything below) and then every value.
    void clear() const;

  private:
    friend class RegistryStore;
    RegistryKey(std::shared_ptr<RegistryStore> store, RegistryRoot root, int64_t id,
                std::string path)
        : store_(std::move(store)), root_(root), id_(id), path_(std::move(path)) {}
    static std::optional<RegistryKey> walk(const RegistryKey& from, std::string_view relative,
                                           bool create);
    void require_exists(const std::string& doing) const REQUIRES(store_->mutex_);

    std::shared_ptr<RegistryStore> store_;
    RegistryRoot root_;
    int64_t id_;
    std::string path_;
};

// A transaction on a store, ended by commit() or, failing that, rolled back
// by the destructor. Read: every read inside sees one snapshot (a writer in
// another process commits wholly before or wholly after it). Write: the
// writes inside become visible and durable together at commit(), or not at
// all. Transactions nest: an inner one joins the outermost; an inner write
// that ends without commit() makes the outer commit() fail. A write inside an
// outer read transaction is refused (Kind::Misuse). Lives on one thread.
class RegistryTransaction {
  public:
    enum class Mode { Read, Write };
    RegistryTransaction(std::shared_ptr<RegistryStore> store, Mode mode);
    ~RegistryTransaction();
    RegistryTransaction(const RegistryTransaction&) = delete;
    RegistryTransaction& operator=(const RegistryTransaction&) = delete;

    // Throws RegistryError when the outermost commit fails (nothing written).
    void commit();

  private:
    void end(bool commit);

    std::shared_ptr<RegistryStore> store_;
    std::unique_lock<std::recursive_mutex> lock_;  // the store's mutex_, for the whole life
    Mode mode_;
    bool done_ = false;
};

}  // namespace vardel::platform
