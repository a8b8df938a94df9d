#pragma once
// vardelreg's logic: list, read, write, delete and export keys and values of
// the settings store, for administrators, scripts and tests.
//
//   list KEY                       subkeys (each ending in "\"), then values
//                                  as NAME<TAB>TYPE<TAB>DATA
//   get KEY [VALUE]                the value's data as stored (text as it
//                                  is, a DWORD in decimal); no VALUE: the
//                                  key's default (unnamed) value
//   set KEY VALUE --dword N        N decimal or 0x hex, -2147483648..0xFFFFFFFF
//   set KEY VALUE --sz TEXT        missing keys on the path are created
//   delete KEY [VALUE]             the key with everything below, or one value
//   export KEY                     the key and its subtree as REGEDIT4 text
//
// KEY is ROOT\path, ROOT one of HKLM, HKCU, HKCR or their long names. Exit
// status 0 on success, 1 when the operation fails (a missing key or value,
// a refused write), 2 for a bad command line; the reason goes to `err`.
// One object per command line; not thread-safe.
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace vardel {

class RegTool {
  public:
    using StoreOpener = std::function<std::shared_ptr<platform::RegistryStore>()>;
    // The store is opened only when a command needs it.
    explicit RegTool(StoreOpener open_store = &platform::RegistryStore::current);

    // args without the program name.
    int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

    static void print_help(std::ostream& out);

  private:
    struct KeyPath {
        platform::RegistryRoot root;
        std::string path;  // below the root
    };
    static bool parse_key(const std::string& text, KeyPath& key, std::ostream& err);
    std::optional<platform::RegistryKey> open_existing(const std::string& text, std::ostream& err);

    int list(const std::string& key, std::ostream& out, std::ostream& err);
    int get(const std::string& key, const std::string& value, std::ostream& out, std::ostream& err);
    int set(const std::vector<std::string>& args, std::ostream& err);
    int remove(const std::string& key, const std::string* value, std::ostream& err);
    int export_key(const std::string& key, std::ostream& out, std::ostream& err);
    void export_tree(const platform::RegistryKey& key, std::ostream& out);

    StoreOpener open_store_;
    std::shared_ptr<platform::RegistryStore> store_;
};

}  // namespace vardel
