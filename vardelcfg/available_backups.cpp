#include "vardelcfg/available_backups.h"

#include <map>
#include <string_view>
#include <utility>

#include "common/ini_document.h"
#include "common/text_helpers.h"

namespace vardel {

namespace {

std::string date_text(int64_t seconds) {
    std::string s = ctime_text(seconds);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// "BACKUPINSTANCE_%d_%d" (any case): the cycle and backup numbers.
bool instance_key(std::string_view key, int32_t& k, int32_t& m) {
    constexpr std::string_view kPrefix = "BACKUPINSTANCE_";
    if (key.size() <= kPrefix.size() || !iequals(key.substr(0, kPrefix.size()), kPrefix))
        return false;
    key.remove_prefix(kPrefix.size());
    auto number = [&](int32_t& out) {
        size_t i = 0;
        int64_t n = 0;
        while (i < key.size() && i < 9 && key[i] >= '0' && key[i] <= '9')
            n = n * 10 + (key[i++] - '0');
        if (i == 0) return false;
        out = static_cast<int32_t>(n);
        key.remove_prefix(i);
        return true;
    };
    if (!number(k) || key.empty() || key.front() != '_') return false;
    key.remove_prefix(1);
    return number(m) && key.empty();
}

}  // namespace

std::vector<AvailableSet> available_backups(const BackupSetTable& sets) {
    std::vector<AvailableSet> out;
    for (const BackupSet& set : sets) {
        std::string dest = set.BackupDestination;
        if (dest.empty()) continue;
        if (dest.back() != '/') dest += '/';
        IniDocument state;
        if (!state.load(dest + "BACKUP.INI")) continue;
        // The recorded backups by (cycle, backup), from the file's own keys:
        // a loop up to the set's counts would be as long as a hand-edited
        // count is large.
        std::map<std::pair<int32_t, int32_t>, int64_t> found;
        for (const IniDocument::Entry& e : state.entries()) {
            int32_t k = 0, m = 0;
            if (!iequals(e.section, "BACKUPSET") || e.value.empty() || !instance_key(e.key, k, m))
                continue;
            if (k >= 1 && k <= set.CyclesToSave && m >= 1 && m <= set.BackupsPerCycle)
                found[{k, m}] = state.get_number("BACKUPSET", e.key);
        }
        AvailableSet item{set.Name, {}};
        for (const auto& [km, t] : found) {
            auto [k, m] = km;
            // A cycle is listed only when it has its first backup.
            if (!found.count({k, 1})) continue;
            if (item.cycles.empty() || item.cycles.back().cycle != k)
                item.cycles.push_back({k, strprintf("Cycle %d", k), {}});
            item.cycles.back().backups.push_back(
                {set.Name, k, m, t, strprintf("Instance %d as of %s", m, date_text(t).c_str())});
        }
        out.push_back(std::move(item));
    }
    return out;
}

}  // namespace vardel
