#pragma once
// Module registry: the typed helpers every program reads and writes its
// settings with, over a settings store of platform/registry.h: the one a
// caller passes in (an editor or a test opening a store of its choice), or
// by default the store of this process's suite_paths().
//
// Kinds of value:
//   number          REG_DWORD, a signed 32-bit integer (-2 is 0xFFFFFFFE)
//   text            REG_SZ; each "\r\n" is stored as one tab, and reading
//                   turns every tab into "\r\n"
//   flag            REG_SZ "Y" or "N"; true exactly when the text is "Y"
//                   ignoring case
//   scrambled text  REG_SZ, the text scrambled with the password key below;
//                   no tab conversion
// A value that is missing gives the caller's default. A value of another
// type than its kind fails the read: MyError BAD_DATA "Invalid type in
// registry key '%s'" (the value's name). A refused write fails with
// MyError OPERATION_FAILED "Could not set registry value". A store that
// cannot be read at all fails with OPERATION_FAILED "Could not read the
// settings store: ..." (the reason). The details of every store failure go
// to the log at DEBUG level.
//
// Scrambling: byte c (signed) at position i with key byte k = key[i mod 30]
// is stored as ((k + c) rem 255) + 1; unscrambling stored byte s (signed)
// gives the low 8 bits of ((s - k - 1) rem 255), remainders truncating. The
// key bytes lie in 1..120, so every printable ASCII byte (32..126) becomes a
// byte from 34 to 247 (never a zero, a tab, CR or LF) and comes back
// exactly. Other bytes are refused before anything is stored, since a
// password that reads back different would lock its owner out of the
// backups made with it.
//
// Thread-safety: like the store (any thread); a Transaction holds the store
// for its thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace vardel::registry {

using Key = platform::RegistryKey;
using Root = platform::RegistryRoot;
using Store = std::shared_ptr<platform::RegistryStore>;

// Paths are joined piecewise: a "\\" goes between base and piece unless the
// base is empty or already ends in one.
std::string join_path(std::string_view base, std::string_view piece);

// The key at `path`, opened for reading and writing; none when it does not
// exist (or the store cannot be opened at all). Without a store: this
// process's.
std::optional<Key> open_key(const Store& store, Root root, std::string_view path);
std::optional<Key> open_key(Root root, std::string_view path);
// Creates (with every missing key on the path) or opens; none on failure
// (a read-only store, a full disk, ...).
std::optional<Key> create_key(const Store& store, Root root, std::string_view path);
std::optional<Key> create_key(Root root, std::string_view path);
// Handles close when they go out of scope; this closes one early.
void close_key(std::optional<Key>& key);

int32_t read_number(const Key& key, std::string_view name, int32_t default_value);
std::string read_text(const Key& key, std::string_view name, std::string_view default_value);
// Missing, or too long for the 128-byte buffer of the stored form: the
// default applies, true when `default_text` is "Y" ignoring case.
bool read_flag(const Key& key, std::string_view name, std::string_view default_text = {});
// The default is returned as given (not unscrambled).
std::string read_scrambled(const Key& key, std::string_view name, std::string_view default_value);
// A scrambled text kept as text ("EncodingPassword"): read as text, with the
// tab conversion, then unscrambled.
std::string read_scrambled_as_text(const Key& key, std::string_view name,
                                   std::string_view default_value);

void write_number(const Key& key, std::string_view name, int32_t value);
void write_text(const Key& key, std::string_view name, std::string_view text);
void write_flag(const Key& key, std::string_view name, bool value);
// Throws MyError INVALID_PARAMETERS "Password contains characters that
// cannot be stored" (writing nothing) unless can_scramble(plain).
void write_scrambled(const Key& key, std::string_view name, std::string_view plain);
// Scrambled, then written as text; refused as write_scrambled is.
void write_scrambled_as_text(const Key& key, std::string_view name, std::string_view plain);

// The name of the subkey at `index` (case-insensitive name order); false
// past the last one.
bool enum_subkey(const Key& key, size_t index, std::string& name);
// Deletes every subkey (with all below it) and then every value of `key`.
void clear_key(const Key& key);

// The password key's rules (also used by the settings files).
inline constexpr std::string_view kUnstorablePassword =
    "Password contains characters that cannot be stored";
std::string scramble(std::string_view plain);
std::string unscramble(std::string_view stored);
// True when every byte is printable ASCII (32..126): exactly the texts that
// survive scramble, storage as text and unscramble unchanged.
bool can_scramble(std::string_view plain);
// Throws the MyError above unless can_scramble(plain).
void check_scramblable(std::string_view plain);

// One unit of work on a store (see RegistryTransaction): a Read sees one
// snapshot, a Write lands whole or not at all. Failures become MyError
// OPERATION_FAILED: "Could not set registry value" for a write, "Could not
// read the settings store: ..." for a read.
class Transaction {
  public:
    enum class Mode { Read, Write };
    Transaction(const Store& store, Mode mode);
    // On this process's store.
    explicit Transaction(Mode mode);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

  private:
    Mode mode_;
    std::unique_ptr<platform::RegistryTransaction> tx_;
};

// This process's store (suite_paths()), for callers that pass a store on.
// Fails as a Transaction of `mode` on it would.
Store current_store(Transaction::Mode mode);

}  // namespace vardel::registry
