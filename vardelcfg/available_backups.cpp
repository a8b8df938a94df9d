#include "vardelcfg/available_backups.h"

#include <map>
#include <string_view>
#include <utility>

#include "common/destination_names.h"
#include "common/ini_document.h"
#include "common/text_helpers.h"

namespace vardel {

namespace {

std::string date_text(int64_t seconds) {
    std::string s = ctime_text(seconds);
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// The cycle and backup numbers of a backup's key (any case).
bool instance_key(std::string_view key, int32_t& k, int32_t& m) {
    std::string_view whole = key;
    size_t digits = key.find_first_of("0123456789");
    if (digits == std::string_view::npos) return false;
    key.remove_prefix(digits);
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
    return number(m) && key.empty() && iequals(whole, destination::instance_key(k, m));
}

}  // namespace

std::vector<AvailableSet> available_backups(const BackupSetTable& sets) {
    std::vector<AvailableSet> out;
    for (const BackupSet& set : sets) {
        std::string dest = set.BackupDestination;
        if (dest.empty()) continue;
        if (dest.back() != '/') dest += '/';
        IniDocument state;
        if (!state.load(dest + destination::kStateFile)) continue;
        // The recorded backups by (cycle, backup), from the file's own keys:
        // a loop up to the set's counts would be as long as a hand-edited
        // count is large.
        std::map<std::pair<int32_t, int32_t>, int64_t> found;
        for (const IniDocument::Entry& e : state.entries()) {
            int32_t k = 0, m = 0;
            if (!iequals(e.section, destination::kSection) || e.value.empty() ||
                !instance_key(e.key, k, m))
                continue;
            if (k >= 1 && k <= set.CyclesToSave && m >= 1 && m <= set.BackupsPerCycle)
                found[{k, m}] = state.get_number(destination::kSection, e.key);
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
