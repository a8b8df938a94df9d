#include "vardelrestore/catalogue.h"

#include <cerrno>

#include "common/destination_names.h"
#include "common/setting_names.h"
#include "common/text_helpers.h"

namespace vardel {

namespace {

std::string as_folder(std::string path) {
    if (path.empty() || path.back() != '/') path.push_back('/');
    return path;
}

int32_t number(const IniDocument& ini, const char* key) {
    return static_cast<int32_t>(ini.get_number(destination::kSection, key));
}

bool has_key(const IniDocument& ini, const std::string& key) {
    for (const IniDocument::Entry& e : ini.entries())
        if (iequals(e.section, destination::kSection) && iequals(e.key, key)) return true;
    return false;
}

}  // namespace

std::string CatalogueNode::label() const {
    switch (level) {
        case Cycle:
            return strprintf("Cycle %d", cycle);
        case Save: {
            std::string text =
                strprintf("Save %d, as of %s", save, date_time_text(save_time).c_str());
            while (!text.empty() && text.back() == ' ') text.pop_back();
            return text;
        }
        default:
            return set_name;
    }
}

bool CatalogueNode::loadable() const {
    return destination_type == DESTINATION_DIRECTORY;
}

size_t Catalogue::add_set(CatalogueNode root, const IniDocument& state) {
    const size_t root_index = nodes_.size();
    root.level = CatalogueNode::Set;
    root.parent = root_index;
    nodes_.push_back(root);
    latest_cycle_.resize(nodes_.size());
    latest_cycle_[root_index] = number(state, destination::kCycle);
    for (int32_t k = 1; k <= root.cycles; ++k) {
        const std::string first = destination::instance_key(k, 1);
        if (!has_key(state, first)) continue;
        CatalogueNode cycle = root;
        cycle.level = CatalogueNode::Cycle;
        cycle.cycle = k;
        cycle.save_time = state.get_number(destination::kSection, first);
        cycle.parent = root_index;
        const size_t cycle_index = nodes_.size();
        nodes_.push_back(cycle);
        for (int32_t l = 1; l <= root.backups_per_cycle; ++l) {
            const std::string key = destination::instance_key(k, l);
            if (!has_key(state, key)) continue;
            CatalogueNode save = cycle;
            save.level = CatalogueNode::Save;
            save.save = l;
            save.save_time = state.get_number(destination::kSection, key);
            save.parent = cycle_index;
            nodes_.push_back(save);
        }
    }
    latest_cycle_.resize(nodes_.size());
    return root_index;
}

void Catalogue::build(const BackupSetTable& sets) {
    for (const BackupSet& set : sets) {
        IniDocument state;
        std::string folder = as_folder(set.BackupDestination);
        if (set.BackupDestination.empty() || !state.load(folder + destination::kStateFile))
            continue;
        CatalogueNode root;
        root.set_name = set.Name;
        root.destination = folder;
        root.destination_type = set.BackuDestinationType;
        root.backups_per_cycle = set.BackupsPerCycle;
        root.cycles = set.CyclesToSave;
        root.save_format = set.SaveFormat;
        // What the backups are, as their state says: a set switched to
        // encoding without a password never encoded anything.
        root.encoded = has_key(state, destination::kEncode)
                           ? number(state, destination::kEncode) != 0
                           : set.PasswordEncode;
        add_set(root, state);
    }
}

Catalogue::AddResult Catalogue::add_from_ini(const std::string& ini_path, size_t* root_out) {
    IniDocument state;
    if (!state.load(ini_path)) return AddResult::Unreadable;
    std::string name = state.get_text(destination::kSection, destination::kName);
    if (name.empty()) return AddResult::NotABackupIni;
    for (int n = 1; find_set(name); ++n) name += strprintf(" %d", n);
    CatalogueNode root;
    root.set_name = name;
    std::string folder(folder_part(ini_path));
    root.destination = folder.empty() ? "./" : folder;
    root.destination_type = DESTINATION_DIRECTORY;
    root.save_format = number(state, destination::kSaveFormat);
    root.encoded = number(state, destination::kEncode) != 0;
    root.backups_per_cycle = number(state, destination::kBackupsPerCycle);
    root.cycles = number(state, destination::kCycles);
    size_t index = add_set(root, state);
    if (root_out) *root_out = index;
    return AddResult::Added;
}

std::optional<size_t> Catalogue::find_set(std::string_view name) const {
    for (size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i].level == CatalogueNode::Set && iequals(nodes_[i].set_name, name)) return i;
    return std::nullopt;
}

std::optional<size_t> Catalogue::find(size_t root, int32_t cycle, int32_t save) const {
    for (size_t i = root + 1; i < nodes_.size() && nodes_[i].level != CatalogueNode::Set; ++i) {
        const CatalogueNode& n = nodes_[i];
        if (n.cycle != cycle) continue;
        if (save <= 0 && n.level == CatalogueNode::Cycle) return i;
        if (save > 0 && n.level == CatalogueNode::Save && n.save == save) return i;
    }
    return std::nullopt;
}

std::optional<size_t> Catalogue::latest_cycle(size_t root) const {
    if (root >= nodes_.size()) return std::nullopt;
    if (auto found = find(root, latest_cycle_[root])) return found;
    // No CYCLE recorded (an old state): the last cycle shown.
    std::optional<size_t> last;
    for (size_t i = root + 1; i < nodes_.size() && nodes_[i].level != CatalogueNode::Set; ++i)
        if (nodes_[i].level == CatalogueNode::Cycle) last = i;
    return last;
}

}  // namespace vardel
