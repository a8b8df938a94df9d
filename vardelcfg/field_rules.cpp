#include "vardelcfg/field_rules.h"

#include <climits>

#include "common/backup_set_table.h"
#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"

namespace vardel {

std::optional<int32_t> clamp_to_range(int32_t value, int32_t min, int32_t max) {
    if (value < min) return min;
    if (value > max) return max;
    return std::nullopt;
}

std::string format_repeat(int32_t seconds) {
    int32_t m = seconds / 60;
    if (m == 0) return "";
    if (m < 60) return strprintf("%d", m);
    return strprintf("%d:%.02d", m / 60, m % 60);
}

namespace {

// The leading digits as a number (0 when there are none); huge values stop
// growing rather than overflow.
int64_t leading_number(std::string_view s) {
    int64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        n = n * 10 + (c - '0');
        if (n > INT32_MAX) return INT32_MAX;
    }
    return n;
}

}  // namespace

int32_t parse_repeat(std::string_view text) {
    int64_t minutes;
    if (size_t colon = text.find(':'); colon != std::string_view::npos)
        minutes =
            leading_number(text.substr(0, colon)) * 60 + leading_number(text.substr(colon + 1));
    else
        minutes = leading_number(text);
    // A value past what the store holds is cut to the largest whole minute.
    int64_t seconds = minutes * 60;
    return seconds > INT32_MAX ? (INT32_MAX / 60) * 60 : static_cast<int32_t>(seconds);
}

bool repeat_text_valid(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i < text.size() && text[i] == ':') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    }
    return i == text.size();
}

std::string store_weekdays(std::string_view chosen) {
    std::string out(7, ' ');
    for (size_t i = 0; i < 7; ++i)
        if (day_chosen(chosen, i)) out[i] = '+';
    return out;
}

std::string flip_month_day(std::string_view list, int day) {
    std::string out(list);
    if (out.size() < 31) out.resize(31, '-');
    if (day < 1 || day > 31) return out;
    char& c = out[static_cast<size_t>(day - 1)];
    c = c == '+' ? '-' : '+';
    return out;
}

std::string default_log_path(std::string_view data_path) {
    std::string p(data_path);
    if (p.empty() || p.back() != '/') p += '/';
    return p + "logs/";
}

std::string suite_data_path(const registry::Store& store) {
    if (std::optional<registry::Key> key =
            registry::open_key(store, registry::Root::LocalMachine, kProductKey)) {
        try {
            std::string path = registry::read_text(*key, kDataPathValue, "");
            if (!path.empty()) return path;
        } catch (const MyError&) {
            // A damaged value: fall back like a missing one.
        }
    }
    return std::string(folder_part(store->path()));
}

std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> lines;
    for_each_line(text, [&](std::string_view line) {
        lines.emplace_back(line);
        return true;
    });
    return lines;
}

std::string without_empty_lines(std::string_view text) {
    std::string out;
    for_each_line(text, [&](std::string_view line) {
        if (line.empty()) return true;
        if (!out.empty()) out += "\r\n";
        out += line;
        return true;
    });
    return out;
}

std::optional<std::string> set_name_problem(const BackupSetTable& sets, size_t index,
                                            std::string_view name) {
    if (name.empty()) return std::string("A Backup Set must have a name");
    for (char c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32 || c == 127)
            return std::string(
                "A Backup Set name must not contain '/', '\\' or control characters");
    }
    for (size_t i = 0; i < sets.size(); ++i) {
        if (i != index && iequals(sets[i].Name, name))
            return strprintf("There is already a Backup Set named '%s'", sets[i].Name.c_str());
    }
    return std::nullopt;
}

std::string OverlapQuestion::text() const {
    return strprintf("Item '%s' is a parent node of '%s'. Are you sure you want to add '%s'?",
                     parent.c_str(), child.c_str(), added.c_str());
}

namespace {

// `parent` is `path` or a folder above it.
bool holds(std::string_view parent, std::string_view path) {
    if (parent.empty() || path.substr(0, parent.size()) != parent) return false;
    return path.size() == parent.size() || parent.back() == '/' || path[parent.size()] == '/';
}

}  // namespace

std::vector<OverlapQuestion> include_overlaps(std::string_view lines, std::string_view added) {
    std::vector<OverlapQuestion> questions;
    for_each_line(lines, [&](std::string_view line) {
        if (holds(line, added))
            questions.push_back({std::string(line), std::string(added), std::string(added)});
        else if (holds(added, line))
            questions.push_back({std::string(added), std::string(line), std::string(added)});
        return true;
    });
    return questions;
}

std::string append_line(std::string_view lines, std::string_view line) {
    std::string out(lines);
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    out += line;
    return out;
}

}  // namespace vardel
