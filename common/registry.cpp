#include "common/registry.h"

#include "common/log.h"
#include "common/my_error.h"
#include "common/text_helpers.h"

namespace vardel::registry {

namespace {

using platform::RegistryError;
using platform::RegistryStore;
using platform::RegistryValue;

// Every byte from 1 to 120: see the header for why.
constexpr unsigned char kPasswordKey[30] = {87, 14, 103, 42,  5,  71, 118, 29, 64, 11,
                                            96, 53, 37,  112, 8,  79, 46,  21, 99, 60,
                                            3,  84, 115, 33,  68, 17, 91,  50, 25, 107};

// The stored form is read into a buffer of 128 bytes, zero included.
constexpr size_t kFlagBuffer = 128;

constexpr const char* kWriteFailed = "Could not set registry value";

void note(const RegistryError& e) {
    log(LOG_DEBUG, "Registry: %s\n", e.what());
}

[[noreturn]] void read_failed(const RegistryError& e) {
    note(e);
    throw MyError::format(OPERATION_FAILED, "Could not read the settings store: %s", e.what());
}

[[noreturn]] void write_failed(const RegistryError& e) {
    note(e);
    throw MyError(OPERATION_FAILED, kWriteFailed);
}

[[noreturn]] void wrong_type(std::string_view name) {
    throw MyError::format(BAD_DATA, "Invalid type in registry key '%.*s'",
                          static_cast<int>(name.size()), name.data());
}

std::optional<RegistryValue> get(const Key& key, std::string_view name) {
    try {
        return key.get_value(name);
    } catch (const RegistryError& e) {
        read_failed(e);
    }
}

void set(const Key& key, std::string_view name, uint32_t type, std::string_view data) {
    try {
        key.set_value(name, type, data);
    } catch (const RegistryError& e) {
        write_failed(e);
    }
}

std::string tabs_to_line_breaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\t')
            out += "\r\n";
        else
            out += c;
    }
    return out;
}

std::string line_breaks_to_tabs(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += '\t';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::string join_path(std::string_view base, std::string_view piece) {
    std::string out(base);
    if (!out.empty() && out.back() != '\\') out += '\\';
    out += piece;
    return out;
}

std::optional<Key> open_key(const Store& store, Root root, std::string_view path) {
    try {
        return Key::open(store, root, path);
    } catch (const RegistryError& e) {
        note(e);
        return std::nullopt;
    }
}

std::optional<Key> open_key(Root root, std::string_view path) {
    try {
        return open_key(RegistryStore::current(), root, path);
    } catch (const RegistryError& e) {
        note(e);
        return std::nullopt;
    }
}

std::optional<Key> create_key(const Store& store, Root root, std::string_view path) {
    try {
        return Key::create(store, root, path);
    } catch (const RegistryError& e) {
        note(e);
        return std::nullopt;
    }
}

std::optional<Key> create_key(Root root, std::string_view path) {
    try {
        return create_key(RegistryStore::current(), root, path);
    } catch (const RegistryError& e) {
        note(e);
        return std::nullopt;
    }
}

void close_key(std::optional<Key>& key) {
    key.reset();
}

int32_t read_number(const Key& key, std::string_view name, int32_t default_value) {
    std::optional<RegistryValue> v = get(key, name);
    if (!v) return default_value;
    std::optional<int32_t> n = v->dword();
    if (!n) wrong_type(name);
    return *n;
}

std::string read_text(const Key& key, std::string_view name, std::string_view default_value) {
    std::optional<RegistryValue> v = get(key, name);
    if (!v) return std::string(default_value);
    if (v->type != platform::REG_SZ) wrong_type(name);
    return tabs_to_line_breaks(v->data);
}

bool read_flag(const Key& key, std::string_view name, std::string_view default_text) {
    std::optional<RegistryValue> v = get(key, name);
    if (!v || (v->type == platform::REG_SZ && v->data.size() + 1 > kFlagBuffer))
        return iequals(default_text, "Y");
    if (v->type != platform::REG_SZ) wrong_type(name);
    return iequals(v->data, "Y");
}

std::string read_scrambled(const Key& key, std::string_view name, std::string_view default_value) {
    std::optional<RegistryValue> v = get(key, name);
    if (!v) return std::string(default_value);
    if (v->type != platform::REG_SZ) wrong_type(name);
    return unscramble(v->data);
}

std::string read_scrambled_as_text(const Key& key, std::string_view name,
                                   std::string_view default_value) {
    std::optional<RegistryValue> v = get(key, name);
    if (!v) return std::string(default_value);
    if (v->type != platform::REG_SZ) wrong_type(name);
    return unscramble(tabs_to_line_breaks(v->data));
}

void write_number(const Key& key, std::string_view name, int32_t value) {
    try {
        key.set_dword(name, value);
    } catch (const RegistryError& e) {
        write_failed(e);
    }
}

void write_text(const Key& key, std::string_view name, std::string_view text) {
    set(key, name, platform::REG_SZ, line_breaks_to_tabs(text));
}

void write_flag(const Key& key, std::string_view name, bool value) {
    set(key, name, platform::REG_SZ, value ? "Y" : "N");
}

void write_scrambled(const Key& key, std::string_view name, std::string_view plain) {
    check_scramblable(plain);
    set(key, name, platform::REG_SZ, scramble(plain));
}

void write_scrambled_as_text(const Key& key, std::string_view name, std::string_view plain) {
    check_scramblable(plain);
    write_text(key, name, scramble(plain));
}

bool enum_subkey(const Key& key, size_t index, std::string& name) {
    try {
        std::optional<std::string> n = key.subkey_at(index);
        if (!n) return false;
        name = std::move(*n);
        return true;
    } catch (const RegistryError& e) {
        read_failed(e);
    }
}

void clear_key(const Key& key) {
    try {
        key.clear();
    } catch (const RegistryError& e) {
        write_failed(e);
    }
}

std::string scramble(std::string_view plain) {
    std::string out(plain.size(), '\0');
    for (size_t i = 0; i < plain.size(); ++i) {
        // The stored form is defined on signed bytes.
        int c = static_cast<signed char>(plain[i]);  // NOLINT(bugprone-signed-char-misuse)
        int k = kPasswordKey[i % 30];
        int s = ((k + c) % 255) + 1;
        out[i] = static_cast<char>(static_cast<unsigned char>(s & 0xff));
    }
    return out;
}

std::string unscramble(std::string_view stored) {
    std::string out(stored.size(), '\0');
    for (size_t i = 0; i < stored.size(); ++i) {
        int s = static_cast<signed char>(stored[i]);  // NOLINT(bugprone-signed-char-misuse)
        int k = kPasswordKey[i % 30];
        int p = (s - k - 1) % 255;
        out[i] = static_cast<char>(static_cast<unsigned char>(p & 0xff));
    }
    return out;
}

bool can_scramble(std::string_view plain) {
    for (char c : plain) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || u > 126) return false;
    }
    return true;
}

void check_scramblable(std::string_view plain) {
    if (!can_scramble(plain)) throw MyError(INVALID_PARAMETERS, kUnstorablePassword);
}

Store current_store(Transaction::Mode mode) {
    try {
        return RegistryStore::current();
    } catch (const RegistryError& e) {
        if (mode == Transaction::Mode::Write) write_failed(e);
        read_failed(e);
    }
}

Transaction::Transaction(const Store& store, Mode mode) : mode_(mode) {
    using PT = platform::RegistryTransaction;
    try {
        tx_ = std::make_unique<PT>(store, mode == Mode::Write ? PT::Mode::Write : PT::Mode::Read);
    } catch (const RegistryError& e) {
        if (mode == Mode::Write) write_failed(e);
        read_failed(e);
    }
}

Transaction::Transaction(Mode mode) : Transaction(current_store(mode), mode) {}

Transaction::~Transaction() = default;

void Transaction::commit() {
    try {
        tx_->commit();
    } catch (const RegistryError& e) {
        if (mode_ == Mode::Write) write_failed(e);
        read_failed(e);
    }
}

}  // namespace vardel::registry
