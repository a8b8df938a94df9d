#include "platform/registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

namespace vardel::platform {

namespace {

constexpr int kBusyTimeoutMs = 10000;

// Roots are fixed rows, so their ids are their enumeration values.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY,
  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE,
  UNIQUE(parent, name));
CREATE TABLE IF NOT EXISTS vals(
  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY(key, name)) WITHOUT ROWID;
INSERT OR IGNORE INTO keys(id, parent, name) VALUES
  (1, NULL, 'HKEY_LOCAL_MACHINE'), (2, NULL, 'HKEY_CURRENT_USER'), (3, NULL, 'HKEY_CLASSES_ROOT');
PRAGMA user_version = 1;
)sql";

// A read-only store that has never been written has no tables; temporary
// ones of the same shape let every query run and find nothing.
constexpr const char* kTempSchema = R"sql(
CREATE TEMP TABLE keys(
  id INTEGER PRIMARY KEY, parent INTEGER, name TEXT NOT NULL COLLATE NOCASE, UNIQUE(parent, name));
CREATE TEMP TABLE vals(
  key INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL,
  data BLOB NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;
INSERT INTO temp.keys(id, parent, name) VALUES
  (1, NULL, 'HKEY_LOCAL_MACHINE'), (2, NULL, 'HKEY_CURRENT_USER'), (3, NULL, 'HKEY_CLASSES_ROOT');
)sql";

// Resets a statement when the scope that used it ends, however it ends.
class Use {
  public:
    explicit Use(sqlite3_stmt* s) : s_(s) {}
    ~Use() {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    sqlite3_stmt* operator*() const { return s_; }

  private:
    sqlite3_stmt* s_;
};

void bind_text(sqlite3_stmt* s, int i, std::string_view t) {
    sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
}

std::string column_text(sqlite3_stmt* s, int i) {
    const void* p = sqlite3_column_blob(s, i);
    int n = sqlite3_column_bytes(s, i);
    return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

// The pieces of a path, empty ones dropped.
std::vector<std::string_view> split_path(std::string_view path) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) out.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

bool ascii_iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string errno_text(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

}  // namespace

// ---- names ---------------------------------------------------------------

const char* root_name(RegistryRoot root) {
    switch (root) {
        case RegistryRoot::LocalMachine:
            return "HKEY_LOCAL_MACHINE";
        case RegistryRoot::CurrentUser:
            return "HKEY_CURRENT_USER";
        case RegistryRoot::ClassesRoot:
            return "HKEY_CLASSES_ROOT";
    }
    return "HKEY_LOCAL_MACHINE";
}

std::optional<RegistryRoot> parse_root(std::string_view text) {
    struct Alias {
        const char* short_name;
        RegistryRoot root;
    };
    static const Alias aliases[] = {{"HKLM", RegistryRoot::LocalMachine},
                                    {"HKCU", RegistryRoot::CurrentUser},
                                    {"HKCR", RegistryRoot::ClassesRoot}};
    for (const Alias& a : aliases) {
        if (ascii_iequal(text, a.short_name) || ascii_iequal(text, root_name(a.root)))
            return a.root;
    }
    return std::nullopt;
}

std::string type_name(uint32_t type) {
    switch (type) {
        case REG_NONE:
            return "REG_NONE";
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_DWORD:
            return "REG_DWORD";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
        default:
            return "REG_TYPE_" + std::to_string(type);
    }
}

std::optional<int32_t> RegistryValue::dword() const {
    if (type != REG_DWORD || data.size() != 4) return std::nullopt;
    uint32_t u = 0;
    for (int i = 3; i >= 0; --i)
        u = (u << 8) | static_cast<unsigned char>(data[static_cast<size_t>(i)]);
    return static_cast<int32_t>(u);
}

// ---- store ---------------------------------------------------------------

RegistryStore::RegistryStore(std::string path, StoreScope scope, bool may_create)
    : path_(std::move(path)), scope_(scope), may_create_(may_create) {}

RegistryStore::~RegistryStore() {
    for (auto& entry : statements_) sqlite3_finalize(entry.second);
    if (db_) sqlite3_close_v2(db_);
}

std::shared_ptr<RegistryStore> RegistryStore::open(const std::string& path, StoreScope scope) {
    std::shared_ptr<RegistryStore> store(
        new RegistryStore(path, scope, scope != StoreScope::MachineWide));
    store->open_database();
    return store;
}

std::shared_ptr<RegistryStore> RegistryStore::create(const std::string& path, StoreScope scope) {
    std::shared_ptr<RegistryStore> store(new RegistryStore(path, scope, true));
    store->open_database();
    return store;
}

void RegistryStore::create_current() {
    SuitePaths where = suite_paths();
    struct stat st;
    if (::lstat(where.settings_store.c_str(), &st) == 0) return;
    // current() notices the new file by its inode and opens it again.
    create(where.settings_store, where.scope);
}

void RegistryStore::verify() {
    RecursiveMutexLock lock(mutex_);
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA quick_check", -1, &s, nullptr);
    std::string problem;
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            std::string line = column_text(s, 0);
            if (line != "ok" && problem.empty()) problem = line;
        }
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) fail(rc, "check");
    if (!problem.empty())
        throw RegistryError(RegistryError::Kind::Corrupt,
                            "settings store " + path_ + ": check: " + problem, problem);
}

std::shared_ptr<RegistryStore> RegistryStore::current() {
    static std::mutex mutex;
    static std::shared_ptr<RegistryStore> cached;
    static pid_t owner = 0;
    SuitePaths where = suite_paths();
    std::lock_guard<std::mutex> lock(mutex);
    if (cached && owner != getpid()) {
        // Inherited over fork: the parent's connection must never be used or
        // closed here, so it is left alone for good.
        new std::shared_ptr<RegistryStore>(std::move(cached));
        cached.reset();
    }
    if (cached) {
        struct stat st;
        bool same_file = ::stat(cached->path_.c_str(), &st) == 0 && st.st_dev == cached->device_ &&
                         st.st_ino == cached->inode_;
        if (cached->path_ != where.settings_store || !same_file) cached.reset();
    }
    if (!cached) {
        cached = open(where.settings_store, where.scope);
        owner = getpid();
    }
    return cached;
}

void RegistryStore::fail(int rc, const std::string& doing) {
    std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    std::string what = "settings store " + path_ + ": " + doing + ": " + reason;
    int primary = rc & 0xff;
    RegistryError::Kind kind = RegistryError::Kind::Io;
    if (primary == SQLITE_READONLY || primary == SQLITE_PERM || primary == SQLITE_AUTH)
        kind = RegistryError::Kind::ReadOnly;
    else if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        kind = RegistryError::Kind::Busy;
    else if (primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT)
        kind = RegistryError::Kind::Corrupt;
    else if (rc == SQLITE_CONSTRAINT_FOREIGNKEY)
        kind = RegistryError::Kind::KeyGone;
    throw RegistryError(kind, what, reason);
}

void RegistryStore::exec(const char* sql, const std::string& doing) {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) fail(rc, doing);
}

sqlite3_stmt* RegistryStore::prepare(const char* sql) {
    for (auto& entry : statements_)
        if (entry.first == sql || std::strcmp(entry.first, sql) == 0) return entry.second;
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    if (rc != SQLITE_OK) fail(rc, "prepare");
    statements_.emplace_back(sql, s);
    return s;
}

void RegistryStore::check_writable(const std::string& doing) {
    if (read_only_)
        throw RegistryError(RegistryError::Kind::ReadOnly,
                            "settings store " + path_ + ": " + doing + ": the store is read-only");
    if (depth_ > 0 && !write_tx_)
        throw RegistryError(RegistryError::Kind::Misuse, "settings store " + path_ + ": " + doing +
                                                             " inside a read transaction");
}

void RegistryStore::open_database() {
    // Nobody else has the store yet; the lock keeps the analysis simple.
    RecursiveMutexLock lock(mutex_);
    namespace fs = std::filesystem;
    const bool machine = scope_ == StoreScope::MachineWide;
    const bool as_root = geteuid() == 0;
    const mode_t file_mode = machine ? 0644 : 0600;

    fs::path folder = fs::path(path_).parent_path();
    if (!folder.empty() && may_create_) {
        std::error_code ec;
        bool existed = fs::exists(folder, ec);
        if (!existed) {
            fs::create_directories(folder, ec);
            if (!ec) {
                // The machine-wide folder must not let others swap the file;
                // a per-user one is private.
                if (machine)
                    ::chmod(folder.c_str(), 0755);
                else if (scope_ == StoreScope::PerUser)
                    ::chmod(folder.c_str(), 0700);
            }
        }
    }

    // Create the file ourselves, so its mode is the one we choose and not
    // the umask's.
    int fd = may_create_ ? ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                  file_mode)
                         : -1;
    if (!may_create_) errno = EEXIST;
    if (fd >= 0) {
        ::fchmod(fd, file_mode);
        ::close(fd);
    } else if (errno != EEXIST && errno != EACCES && errno != EROFS && errno != ENOENT) {
        throw RegistryError(RegistryError::Kind::Io, errno_text("settings store " + path_, errno),
                            std::strerror(errno));
    }

    struct stat st;
    if (::lstat(path_.c_str(), &st) != 0) {
        // Not there and not creatable: nothing to read, nothing to write.
        if (errno != ENOENT)
            throw RegistryError(RegistryError::Kind::Io,
                                errno_text("settings store " + path_, errno), std::strerror(errno));
        read_only_ = true;
    } else {
        if (!S_ISREG(st.st_mode))
            throw RegistryError(RegistryError::Kind::Corrupt,
                                "settings store " + path_ + " is not a regular file",
                                "not a regular file");
        if (machine && as_root &&
            (st.st_uid != 0 || st.st_gid != 0 || (st.st_mode & 07777) != 0644)) {
            // Only root may write what root's service will run.
            int mfd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (mfd >= 0) {
                if (::fchown(mfd, 0, 0) != 0 || ::fchmod(mfd, 0644) != 0) {
                    int err = errno;
                    ::close(mfd);
                    throw RegistryError(RegistryError::Kind::Io,
                                        errno_text("settings store " + path_, err));
                }
                ::close(mfd);
            }
            for (const char* suffix : {"-wal", "-shm"}) {
                std::string side = path_ + suffix;
                if (::lchown(side.c_str(), 0, 0) == 0) ::chmod(side.c_str(), 0644);
            }
        }
        device_ = st.st_dev;
        inode_ = st.st_ino;
        read_only_ = ::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0;
    }

    int flags = (read_only_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    const char* open_path = path_.c_str();
    std::string memory;
    if (read_only_ && device_ == 0 && inode_ == 0) {
        memory = ":memory:";
        open_path = memory.c_str();
        flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    }
    int rc = sqlite3_open_v2(open_path, &db_, flags, nullptr);
    if (rc != SQLITE_OK) fail(rc, "open");
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);

    // Fails here, before anything is written, when the file is no database.
    exec("SELECT count(*) FROM sqlite_master", "read");
    exec("PRAGMA foreign_keys = ON; PRAGMA synchronous = FULL", "configure");

    if (!read_only_) {
        if (machine) {
            // Keep the -wal and -shm files after the last writer closes:
            // readers without write access cannot create them.
            int persist = 1;
            sqlite3_file_control(db_, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
        }
        // Switching to WAL needs the file to itself for a moment; another
        // process opening it at the same time makes it wait.
        for (int attempt = 0;; ++attempt) {
            sqlite3_stmt* s = nullptr;
            rc = sqlite3_prepare_v2(db_, "PRAGMA journal_mode = WAL", -1, &s, nullptr);
            if (rc == SQLITE_OK) rc = sqlite3_step(s);
            std::string mode = rc == SQLITE_ROW ? column_text(s, 0) : std::string();
            sqlite3_finalize(s);
            if (rc == SQLITE_ROW && mode == "wal") break;
            if (((rc & 0xff) == SQLITE_BUSY || rc == SQLITE_ROW) && attempt < 100) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            fail(rc == SQLITE_ROW ? SQLITE_ERROR : rc, "switch to WAL journal");
        }
        create_schema();
    } else {
        sqlite3_stmt* s = nullptr;
        rc = sqlite3_prepare_v2(db_, "SELECT 1 FROM sqlite_master WHERE name = 'keys'", -1, &s,
                                nullptr);
        if (rc == SQLITE_OK) rc = sqlite3_step(s);
        sqlite3_finalize(s);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail(rc, "read");
        if (rc == SQLITE_DONE) exec(kTempSchema, "prepare an empty store");
    }
}

void RegistryStore::create_schema() {
    exec("BEGIN IMMEDIATE", "begin");
    int rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = sqlite3_errmsg(db_);
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw RegistryError(
            rc == SQLITE_NOTADB ? RegistryError::Kind::Corrupt : RegistryError::Kind::Io,
            "settings store " + path_ + ": create tables: " + msg);
    }
    exec("COMMIT", "commit");
}

bool RegistryStore::key_exists(int64_t id) {
    Use s(prepare("SELECT 1 FROM keys WHERE id = ?1"));
    sqlite3_bind_int64(*s, 1, id);
    int rc = sqlite3_step(*s);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) fail(rc, "find key");
    return false;
}

int64_t RegistryStore::find_child(int64_t parent, std::string_view name) {
    Use s(prepare("SELECT id FROM keys WHERE parent = ?1 AND name = ?2"));
    sqlite3_bind_int64(*s, 1, parent);
    bind_text(*s, 2, name);
    int rc = sqlite3_step(*s);
    if (rc == SQLITE_ROW) return sqlite3_column_int64(*s, 0);
    if (rc != SQLITE_DONE) fail(rc, "find key");
    return -1;
}

RegistryKey RegistryStore::root(RegistryRoot r) {
    return RegistryKey(shared_from_this(), r, static_cast<int64_t>(r), root_name(r));
}

// ---- keys ----------------------------------------------------------------

std::optional<RegistryKey> RegistryKey::open(const std::shared_ptr<RegistryStore>& store,
                                             RegistryRoot root, std::string_view path) {
    return walk(store->root(root), path, false);
}

RegistryKey RegistryKey::create(const std::shared_ptr<RegistryStore>& store, RegistryRoot root,
                                std::string_view path) {
    return *walk(store->root(root), path, true);
}

std::optional<RegistryKey> RegistryKey::open_subkey(std::string_view relative) const {
    return walk(*this, relative, false);
}

RegistryKey RegistryKey::create_subkey(std::string_view relative) const {
    return *walk(*this, relative, true);
}

std::optional<RegistryKey> RegistryKey::walk(const RegistryKey& from, std::string_view relative,
                                             bool create) {
    RegistryStore& st = *from.store_;
    std::vector<std::string_view> pieces = split_path(relative);
    std::string path = from.path_;
    int64_t id = from.id_;
    if (!create) {
        RecursiveMutexLock lock(st.mutex_);
        if (pieces.empty() && !st.key_exists(id)) return std::nullopt;
        for (std::string_view piece : pieces) {
            id = st.find_child(id, piece);
            if (id < 0) return std::nullopt;
            path += '\\';
            path += piece;
        }
        return RegistryKey(from.store_, from.root_, id, path);
    }
    RegistryTransaction tx(from.store_, RegistryTransaction::Mode::Write);
    st.mutex_.assert_held();  // by tx
    st.check_writable("create key");
    if (!st.key_exists(id))
        throw RegistryError(RegistryError::Kind::KeyGone,
                            "settings store " + st.path_ + ": key " + from.path_ + " was deleted");
    for (std::string_view piece : pieces) {
        int64_t child = st.find_child(id, piece);
        if (child < 0) {
            Use s(st.prepare("INSERT INTO keys(parent, name) VALUES(?1, ?2)"));
            sqlite3_bind_int64(*s, 1, id);
            bind_text(*s, 2, piece);
            int rc = sqlite3_step(*s);
            if (rc != SQLITE_DONE) st.fail(rc, "create key");
            child = sqlite3_last_insert_rowid(st.db_);
        }
        id = child;
        path += '\\';
        path += piece;
    }
    tx.commit();
    return RegistryKey(from.store_, from.root_, id, path);
}

std::string RegistryKey::name() const {
    if (id_ <= 3) return std::string();
    RecursiveMutexLock lock(store_->mutex_);
    Use s(store_->prepare("SELECT name FROM keys WHERE id = ?1"));
    sqlite3_bind_int64(*s, 1, id_);
    int rc = sqlite3_step(*s);
    if (rc == SQLITE_ROW) return column_text(*s, 0);
    if (rc != SQLITE_DONE) store_->fail(rc, "read key name");
    return std::string();
}

bool RegistryKey::exists() const {
    RecursiveMutexLock lock(store_->mutex_);
    return store_->key_exists(id_);
}

void RegistryKey::require_exists(const std::string& doing) const {
    if (!store_->key_exists(id_))
        throw RegistryError(
            RegistryError::Kind::KeyGone,
            "settings store " + store_->path_ + ": " + doing + ": key " + path_ + " was deleted");
}

std::optional<RegistryValue> RegistryKey::get_value(std::string_view name) const {
    RecursiveMutexLock lock(store_->mutex_);
    Use s(store_->prepare("SELECT name, type, data FROM vals WHERE key = ?1 AND name = ?2"));
    sqlite3_bind_int64(*s, 1, id_);
    bind_text(*s, 2, name);
    int rc = sqlite3_step(*s);
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) store_->fail(rc, "read value");
    RegistryValue v;
    v.name = column_text(*s, 0);
    v.type = static_cast<uint32_t>(sqlite3_column_int64(*s, 1));
    v.data = column_text(*s, 2);
    return v;
}

void RegistryKey::set_value(std::string_view name, uint32_t type, std::string_view data) const {
    RecursiveMutexLock lock(store_->mutex_);
    store_->check_writable("write value");
    Use s(store_->prepare(
        "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
        "ON CONFLICT(key, name) DO UPDATE SET name = excluded.name, type = excluded.type, "
        "data = excluded.data"));
    sqlite3_bind_int64(*s, 1, id_);
    bind_text(*s, 2, name);
    sqlite3_bind_int64(*s, 3, type);
    sqlite3_bind_blob(*s, 4, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    int rc = sqlite3_step(*s);
    if (rc == SQLITE_CONSTRAINT_FOREIGNKEY) require_exists("write value");
    if (rc != SQLITE_DONE) store_->fail(rc, "write value");
}

void RegistryKey::set_dword(std::string_view name, int32_t number) const {
    uint32_t u = static_cast<uint32_t>(number);
    char bytes[4] = {static_cast<char>(u & 0xff), static_cast<char>((u >> 8) & 0xff),
                     static_cast<char>((u >> 16) & 0xff), static_cast<char>((u >> 24) & 0xff)};
    set_value(name, REG_DWORD, std::string_view(bytes, 4));
}

void RegistryKey::set_sz(std::string_view name, std::string_view text) const {
    set_value(name, REG_SZ, text);
}

bool RegistryKey::delete_value(std::string_view name) const {
    RecursiveMutexLock lock(store_->mutex_);
    store_->check_writable("delete value");
    Use s(store_->prepare("DELETE FROM vals WHERE key = ?1 AND name = ?2"));
    sqlite3_bind_int64(*s, 1, id_);
    bind_text(*s, 2, name);
    int rc = sqlite3_step(*s);
    if (rc != SQLITE_DONE) store_->fail(rc, "delete value");
    return sqlite3_changes(store_->db_) > 0;
}

std::vector<RegistryValue> RegistryKey::values() const {
    RecursiveMutexLock lock(store_->mutex_);
    Use s(store_->prepare("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY name"));
    sqlite3_bind_int64(*s, 1, id_);
    std::vector<RegistryValue> out;
    int rc;
    while ((rc = sqlite3_step(*s)) == SQLITE_ROW) {
        RegistryValue v;
        v.name = column_text(*s, 0);
        v.type = static_cast<uint32_t>(sqlite3_column_int64(*s, 1));
        v.data = column_text(*s, 2);
        out.push_back(std::move(v));
    }
    if (rc != SQLITE_DONE) store_->fail(rc, "list values");
    return out;
}

std::optional<std::string> RegistryKey::subkey_at(size_t index) const {
    RecursiveMutexLock lock(store_->mutex_);
    Use s(
        store_->prepare("SELECT name FROM keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2"));
    sqlite3_bind_int64(*s, 1, id_);
    sqlite3_bind_int64(*s, 2, static_cast<sqlite3_int64>(index));
    int rc = sqlite3_step(*s);
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) store_->fail(rc, "enumerate keys");
    return column_text(*s, 0);
}

std::vector<std::string> RegistryKey::subkey_names() const {
    RecursiveMutexLock lock(store_->mutex_);
    Use s(store_->prepare("SELECT name FROM keys WHERE parent = ?1 ORDER BY name"));
    sqlite3_bind_int64(*s, 1, id_);
    std::vector<std::string> out;
    int rc;
    while ((rc = sqlite3_step(*s)) == SQLITE_ROW) out.push_back(column_text(*s, 0));
    if (rc != SQLITE_DONE) store_->fail(rc, "enumerate keys");
    return out;
}

bool RegistryKey::delete_subkey(std::string_view relative) const {
    if (split_path(relative).empty())
        throw RegistryError(RegistryError::Kind::Misuse, "a key cannot delete itself");
    RegistryTransaction tx(store_, RegistryTransaction::Mode::Write);
    store_->mutex_.assert_held();  // by tx
    store_->check_writable("delete key");
    std::optional<RegistryKey> victim = walk(*this, relative, false);
    if (!victim) return false;
    // Subkeys and values go with it (ON DELETE CASCADE).
    Use s(store_->prepare("DELETE FROM keys WHERE id = ?1"));
    sqlite3_bind_int64(*s, 1, victim->id_);
    int rc = sqlite3_step(*s);
    if (rc != SQLITE_DONE) store_->fail(rc, "delete key");
    tx.commit();
    return true;
}

void RegistryKey::clear() const {
    RegistryTransaction tx(store_, RegistryTransaction::Mode::Write);
    store_->mutex_.assert_held();  // by tx
    store_->check_writable("clear key");
    {
        Use s(store_->prepare("DELETE FROM keys WHERE parent = ?1"));
        sqlite3_bind_int64(*s, 1, id_);
        int rc = sqlite3_step(*s);
        if (rc != SQLITE_DONE) store_->fail(rc, "clear key");
    }
    {
        Use s(store_->prepare("DELETE FROM vals WHERE key = ?1"));
        sqlite3_bind_int64(*s, 1, id_);
        int rc = sqlite3_step(*s);
        if (rc != SQLITE_DONE) store_->fail(rc, "clear key");
    }
    tx.commit();
}

// ---- transactions --------------------------------------------------------

RegistryTransaction::RegistryTransaction(std::shared_ptr<RegistryStore> store, Mode mode)
    : store_(std::move(store)), lock_(store_->mutex_.native()), mode_(mode) {
    RegistryStore& st = *store_;
    st.mutex_.assert_held();
    if (st.depth_ == 0) {
        if (mode == Mode::Write) {
            st.check_writable("begin a write");
            st.exec("BEGIN IMMEDIATE", "begin a write");
        } else {
            st.exec("BEGIN DEFERRED", "begin a read");
        }
        st.write_tx_ = mode == Mode::Write;
        st.doomed_ = false;
    } else if (mode == Mode::Write && !st.write_tx_) {
        throw RegistryError(RegistryError::Kind::Misuse,
                            "settings store " + st.path_ + ": a write inside a read transaction");
    }
    ++st.depth_;
}

RegistryTransaction::~RegistryTransaction() {
    try {
        end(false);
    } catch (...) {
        // Rolling back cannot be reported from here; the data is unchanged.
    }
}

void RegistryTransaction::commit() {
    end(true);
}

void RegistryTransaction::end(bool commit) {
    if (done_) return;
    done_ = true;
    RegistryStore& st = *store_;
    st.mutex_.assert_held();  // by lock_
    if (st.depth_ > 1) {
        --st.depth_;
        if (!commit && mode_ == Mode::Write) st.doomed_ = true;
        return;
    }
    st.depth_ = 0;
    bool doomed = st.doomed_;
    st.doomed_ = false;
    st.write_tx_ = false;
    if (commit && !doomed) {
        int rc = sqlite3_exec(st.db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) return;
        std::string msg = sqlite3_errmsg(st.db_);
        if (!sqlite3_get_autocommit(st.db_))
            sqlite3_exec(st.db_, "ROLLBACK", nullptr, nullptr, nullptr);
        int primary = rc & 0xff;
        throw RegistryError(
            primary == SQLITE_BUSY ? RegistryError::Kind::Busy : RegistryError::Kind::Io,
            "settings store " + st.path_ + ": commit: " + msg);
    }
    if (!sqlite3_get_autocommit(st.db_))
        sqlite3_exec(st.db_, "ROLLBACK", nullptr, nullptr, nullptr);
    if (commit && doomed)
        throw RegistryError(RegistryError::Kind::Misuse, "settings store " + st.path_ +
                                                             ": part of the transaction failed; "
                                                             "nothing was written");
}

}  // namespace vardel::platform
