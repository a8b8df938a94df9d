#include "common/ini_document.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "common/mystring.h"
#include "common/text_helpers.h"
#include "common/wildcard.h"
#include "platform/atomic_file.h"
#include "platform/file.h"

namespace vardel {

IniDocument::Entry* IniDocument::find(std::string_view section, std::string_view key) {
    for (Entry& e : entries_)
        if (iequals(e.section, section) && iequals(e.key, key)) return &e;
    return nullptr;
}

const IniDocument::Entry* IniDocument::find(std::string_view section, std::string_view key) const {
    return const_cast<IniDocument*>(this)->find(section, key);
}

void IniDocument::set_text(std::string_view section, std::string_view key, std::string_view value) {
    if (Entry* e = find(section, key)) {
        e->value.assign(value);
        return;
    }
    if (entries_.size() == entries_.capacity()) entries_.reserve(entries_.size() + 256);
    entries_.push_back(Entry{std::string(section), std::string(key), std::string(value)});
}

void IniDocument::set_number(std::string_view section, std::string_view key, int64_t value) {
    set_text(section, key, std::to_string(value));
}

std::string IniDocument::get_text(std::string_view section, std::string_view key) const {
    const Entry* e = find(section, key);
    return e ? e->value : std::string();
}

int64_t IniDocument::get_number(std::string_view section, std::string_view key) const {
    const Entry* e = find(section, key);
    if (!e) return 0;
    const std::string& v = e->value;
    size_t i = 0;
    while (i < v.size() && (v[i] == ' ' || v[i] == '\t')) ++i;
    bool neg = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) neg = v[i++] == '-';
    int64_t n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        if (n > (INT64_MAX - 9) / 10) break;  // an absurd value stops, never overflows
        n = n * 10 + (v[i] - '0');
    }
    return neg ? -n : n;
}

bool IniDocument::remove(std::string_view section, std::string_view key) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (iequals(it->section, section) && iequals(it->key, key)) {
            entries_.erase(it);
            return true;
        }
    }
    return false;
}

void IniDocument::parse_line(const std::string& raw, std::string& section) {
    MyString line(raw);
    line.trim(TrimMode::Both);
    std::string_view l = line.view();
    if (l.empty() || l.front() == ';') return;
    if (wildcard_match("[*]", l)) {
        section.assign(l.substr(1, l.size() - 2));
        return;
    }
    size_t i = 0;
    while (i < l.size() && l[i] != '=' && l[i] != ' ') ++i;
    std::string key(l.substr(0, i));
    while (i < l.size() && l[i] == ' ') ++i;
    if (i < l.size() && l[i] == '=') ++i;
    while (i < l.size() && l[i] == ' ') ++i;
    std::string value;
    bool quoted = i < l.size() && l[i] == '"';
    if (quoted) ++i;
    for (; i < l.size(); ++i) {
        char c = l[i];
        if (c == '\\' && i + 1 < l.size()) {
            value.push_back(l[++i]);
        } else if (c == '\\') {
            // A lone backslash at the end escapes nothing and is dropped.
        } else if (quoted && c == '"') {
            break;
        } else {
            value.push_back(c);
        }
    }
    set_text(section, key, value);
}

void IniDocument::parse(std::string_view text) {
    std::string section;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string_view::npos) break;  // a last line without a line feed is ignored
        size_t end = lf;
        if (end > start && text[end - 1] == '\r') --end;
        parse_line(std::string(text.substr(start, end - start)), section);
        start = lf + 1;
    }
}

bool IniDocument::load(const std::string& path, int* error_number) {
    file_name_ = path;
    if (error_number) *error_number = 0;
    std::string text;
    int err = 0;
    switch (platform::read_regular_file(path, text, platform::Links::Follow, &err)) {
        case platform::ReadStatus::Read:
            parse(text);
            return true;
        default:
            // A FIFO is refused: it would block its reader for ever.
            break;
    }
    // A file read in part is no state to act on: the caller must not take it
    // for an empty one.
    if (error_number) *error_number = err ? err : EIO;
    return false;
}

namespace {

// A value is written as it is when the reader gives it back unchanged. The
// others (blanks at an end or in a run, a tab, a backslash, a leading quote)
// are written quoted, with every blank, quote and backslash escaped, which
// the same reader turns back into the value: written plainly, a set name
// such as "My  Docs" would read back as "My Docs" and the next run would
// take its own folder for another set's. (A lone tab still reads as a blank.)
bool reads_back_unchanged(std::string_view v) {
    if (v.empty()) return true;
    if (v.front() == '"' || v.front() == ' ' || v.back() == ' ') return false;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\t' || v[i] == '\\') return false;
        if (v[i] == ' ' && v[i - 1] == ' ') return false;
    }
    return true;
}

std::string written_value(const std::string& v) {
    if (reads_back_unchanged(v)) return v;
    std::string out = "\"";
    for (char c : v) {
        if (c == ' ' || c == '\t' || c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

}  // namespace

std::string IniDocument::serialise() const {
    std::string out;
    std::vector<bool> written(entries_.size(), false);
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (written[i]) continue;
        out += "\r\n[" + entries_[i].section + "]\r\n";
        for (size_t j = i; j < entries_.size(); ++j) {
            if (!written[j] && iequals(entries_[j].section, entries_[i].section)) {
                out += entries_[j].key + "=" + written_value(entries_[j].value) + "\r\n";
                written[j] = true;
            }
        }
    }
    return out;
}

bool IniDocument::save(std::string* error) const {
    if (file_name_.empty()) {
        if (error) *error = "No file name";
        return false;
    }
    return platform::write_file_atomically(file_name_, serialise(), error);
}

}  // namespace vardel
