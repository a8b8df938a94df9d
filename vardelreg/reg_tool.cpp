#include "vardelreg/reg_tool.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace vardel {

namespace {

using platform::RegistryError;
using platform::RegistryKey;
using platform::RegistryValue;

std::string hex_bytes(std::string_view data) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", static_cast<unsigned char>(data[i]));
        out += buf;
    }
    return out;
}

// One line whatever the text holds: control bytes become C escapes.
std::string escaped_line(std::string_view data) {
    std::string out;
    for (unsigned char c : data) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                if (c < 32 || c == 127) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\x%02x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

std::string display_data(const RegistryValue& v) {
    if (std::optional<int32_t> n = v.dword()) return std::to_string(*n);
    if (v.type == platform::REG_SZ || v.type == platform::REG_EXPAND_SZ)
        return escaped_line(v.data);
    return hex_bytes(v.data);
}

bool parse_dword(const std::string& text, int32_t& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno == ERANGE || *end != '\0' || end == text.c_str()) return false;
    if (v < INT32_MIN || v > static_cast<long long>(UINT32_MAX)) return false;
    // Above INT32_MAX is the same 4 bytes read unsigned: 0xFFFFFFFE is -2.
    out = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool plain_text(std::string_view s) {
    for (unsigned char c : s)
        if ((c < 32 && c != '\t') || c == 127) return false;
    return true;
}

}  // namespace

RegTool::RegTool(StoreOpener open_store) : open_store_(std::move(open_store)) {}

void RegTool::print_help(std::ostream& out) {
    out << "Usage: vardelreg COMMAND KEY [ARGUMENTS]\n"
           "Reads and writes the Vardel settings store.\n\n"
           "  list KEY                   subkeys (ending in \\), then NAME<TAB>TYPE<TAB>DATA\n"
           "  get KEY [VALUE]            a value's data (no VALUE: the default value)\n"
           "  set KEY VALUE --dword N    write a number (decimal or 0x hex)\n"
           "  set KEY VALUE --sz TEXT    write a text; missing keys are created\n"
           "  delete KEY [VALUE]         delete a key with all below it, or one value\n"
           "  export KEY                 the key and its subkeys as REGEDIT4 text\n"
           "  --help, --version\n\n"
           "KEY is ROOT\\path, ROOT one of HKLM, HKCU, HKCR (or HKEY_LOCAL_MACHINE, ...),\n"
           "e.g. HKLM\\software\\Brindlecore\\Vardel\\backupsets\\Nightly. Names ignore case.\n"
           "Exit status: 0 done, 1 failed, 2 bad command line.\n";
}

bool RegTool::parse_key(const std::string& text, KeyPath& key, std::ostream& err) {
    size_t slash = text.find('\\');
    std::string root = text.substr(0, slash);
    std::optional<platform::RegistryRoot> r = platform::parse_root(root);
    if (!r) {
        err << "vardelreg: unknown root key '" << root << "' (use HKLM, HKCU or HKCR)\n";
        return false;
    }
    key.root = *r;
    key.path = slash == std::string::npos ? std::string() : text.substr(slash + 1);
    return true;
}

std::optional<RegistryKey> RegTool::open_existing(const std::string& text, std::ostream& err) {
    KeyPath kp;
    if (!parse_key(text, kp, err)) return std::nullopt;
    std::optional<RegistryKey> key = RegistryKey::open(store_, kp.root, kp.path);
    if (!key) err << "vardelreg: key not found: " << text << "\n";
    return key;
}

int RegTool::run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        print_help(err);
        return 2;
    }
    const std::string& cmd = args[0];
    if (cmd == "--help" || cmd == "-h") {
        print_help(out);
        return 0;
    }
    if (cmd == "--version") {
        out << "vardelreg " << VARDEL_VERSION << "\n";
        return 0;
    }
    auto usage = [&](const char* form) {
        err << "vardelreg: usage: vardelreg " << form << "\n";
        return 2;
    };
    struct Form {
        const char* name;
        size_t min_args, max_args;
        const char* usage;
    };
    static const Form forms[] = {{"list", 2, 2, "list KEY"},
                                 {"get", 2, 3, "get KEY [VALUE]"},
                                 {"set", 5, 5, "set KEY VALUE --dword N | --sz TEXT"},
                                 {"delete", 2, 3, "delete KEY [VALUE]"},
                                 {"export", 2, 2, "export KEY"}};
    const Form* form = nullptr;
    for (const Form& f : forms)
        if (cmd == f.name) form = &f;
    if (!form) {
        err << "vardelreg: unknown command '" << cmd << "' (try --help)\n";
        return 2;
    }
    if (args.size() < form->min_args || args.size() > form->max_args) return usage(form->usage);
    if (cmd == "set" && args[3] != "--dword" && args[3] != "--sz") return usage(form->usage);
    KeyPath checked;
    if (!parse_key(args[1], checked, err)) return 2;

    try {
        // A write as root is the one way besides the installer to make the
        // machine-wide store; every other program only opens it.
        if (cmd == "set") platform::RegistryStore::create_current();
        store_ = open_store_();
        if (cmd == "list") return list(args[1], out, err);
        if (cmd == "get") return get(args[1], args.size() > 2 ? args[2] : std::string(), out, err);
        if (cmd == "set") return set(args, err);
        if (cmd == "delete") return remove(args[1], args.size() > 2 ? &args[2] : nullptr, err);
        return export_key(args[1], out, err);
    } catch (const RegistryError& e) {
        err << "vardelreg: " << e.what() << "\n";
        return 1;
    }
}

int RegTool::list(const std::string& text, std::ostream& out, std::ostream& err) {
    std::optional<RegistryKey> key = open_existing(text, err);
    if (!key) return 1;
    for (const std::string& name : key->subkey_names()) out << name << "\\\n";
    for (const RegistryValue& v : key->values()) {
        out << (v.name.empty() ? "(default)" : escaped_line(v.name)) << '\t'
            << platform::type_name(v.type) << '\t' << display_data(v) << '\n';
    }
    return 0;
}

int RegTool::get(const std::string& text, const std::string& value, std::ostream& out,
                 std::ostream& err) {
    std::optional<RegistryKey> key = open_existing(text, err);
    if (!key) return 1;
    std::optional<RegistryValue> v = key->get_value(value);
    if (!v) {
        err << "vardelreg: value not found: " << (value.empty() ? "(default)" : value) << " in "
            << text << "\n";
        return 1;
    }
    if (std::optional<int32_t> n = v->dword())
        out << *n << '\n';
    else if (v->type == platform::REG_SZ || v->type == platform::REG_EXPAND_SZ)
        out << v->data << '\n';
    else
        out << hex_bytes(v->data) << '\n';
    return 0;
}

int RegTool::set(const std::vector<std::string>& args, std::ostream& err) {
    KeyPath kp;
    if (!parse_key(args[1], kp, err)) return 2;
    const std::string& name = args[2];
    const std::string& data = args[4];
    int32_t number = 0;
    if (args[3] == "--dword" && !parse_dword(data, number)) {
        err << "vardelreg: not a 32-bit number: '" << data << "'\n";
        return 2;
    }
    RegistryKey key = RegistryKey::create(store_, kp.root, kp.path);
    if (args[3] == "--dword")
        key.set_dword(name, number);
    else
        key.set_sz(name, data);
    return 0;
}

int RegTool::remove(const std::string& text, const std::string* value, std::ostream& err) {
    KeyPath kp;
    if (!parse_key(text, kp, err)) return 2;
    if (value) {
        std::optional<RegistryKey> key = open_existing(text, err);
        if (!key) return 1;
        if (!key->delete_value(*value)) {
            err << "vardelreg: value not found: " << (value->empty() ? "(default)" : *value)
                << " in " << text << "\n";
            return 1;
        }
        return 0;
    }
    bool has_piece = kp.path.find_first_not_of('\\') != std::string::npos;
    if (!has_piece) {
        err << "vardelreg: a root key cannot be deleted\n";
        return 1;
    }
    if (!store_->root(kp.root).delete_subkey(kp.path)) {
        err << "vardelreg: key not found: " << text << "\n";
        return 1;
    }
    return 0;
}

int RegTool::export_key(const std::string& text, std::ostream& out, std::ostream& err) {
    // One snapshot, so the export never mixes two saves.
    platform::RegistryTransaction tx(store_, platform::RegistryTransaction::Mode::Read);
    std::optional<RegistryKey> key = open_existing(text, err);
    if (!key) return 1;
    out << "REGEDIT4\n";
    export_tree(*key, out);
    tx.commit();
    return 0;
}

void RegTool::export_tree(const RegistryKey& key, std::ostream& out) {
    out << "\n[" << key.path() << "]\n";
    for (const RegistryValue& v : key.values()) {
        out << (v.name.empty() ? std::string("@") : quoted(v.name)) << '=';
        if (std::optional<int32_t> n = v.dword()) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<uint32_t>(*n));
            out << buf;
        } else if (v.type == platform::REG_SZ && plain_text(v.data)) {
            out << quoted(v.data);
        } else if (v.type == platform::REG_BINARY) {
            out << "hex:" << hex_bytes(v.data);
        } else {
            out << "hex(" << std::hex << v.type << std::dec << "):" << hex_bytes(v.data);
        }
        out << '\n';
    }
    for (const std::string& name : key.subkey_names()) {
        if (std::optional<RegistryKey> sub = key.open_subkey(name)) export_tree(*sub, out);
    }
}

}  // namespace vardel
