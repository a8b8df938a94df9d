#include "vardelcfg/editor_state.h"

#include <memory>
#include <system_error>

#include "common/log.h"
#include "common/my_error.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "platform/named_event.h"

namespace vardel {

// Marks the editor's own filling of controls; nests.
class EditorState::Guard {
  public:
    explicit Guard(EditorState& s) : s_(s) { ++s_.initialising_; }
    ~Guard() { --s_.initialising_; }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

  private:
    EditorState& s_;
};

EditorState::EditorState(GeneralSettings settings, Options options)
    : settings_(std::move(settings)), options_(std::move(options)), listener_(&no_listener_) {
    for (const BackupSet& s : settings_.backup_sets()) item_texts_.push_back(s.Name);
}

void EditorState::start() {
    Guard guard(*this);
    current_set_ = -1;
    load_pages(0, kFirstSetPage - 1);
    show(PAGE_LOGS);
}

void EditorState::load_pages(int first, int last) {
    for (int page = first; page <= last; ++page) {
        bool defaulted = false;
        const BackupSet* set = is_set_page(page) ? &settings_.backup_sets()[current_set_] : nullptr;
        controls_[page] = load_page(page, settings_, set, options_.data_path, &defaulted);
        listener_->page_filled(page);
        if (defaulted) mark_modified(true);
    }
}

void EditorState::store_set_pages(int set) {
    for (int page = kFirstSetPage; page < kPageCount; ++page)
        store_page(page, controls_[page], settings_, &settings_.backup_sets()[set]);
}

void EditorState::store_pages() {
    for (int page = 0; page < kFirstSetPage; ++page)
        store_page(page, controls_[page], settings_, nullptr);
    if (current_set_ >= 0) store_set_pages(current_set_);
}

void EditorState::show(int page) {
    Guard guard(*this);
    shown_page_ = page;
    listener_->page_shown(page);
}

void EditorState::edit_control(int page, std::string_view control, ControlValue value) {
    controls_.at(page)[std::string(control)] = std::move(value);
    mark_modified(true);
}

void EditorState::mark_modified(bool on) {
    if (initialising()) return;
    modified_ = on;
    listener_->apply_changed(on);
}

std::optional<int32_t> EditorState::leave_number(int page, std::string_view control) {
    const PageBinding* b = find_binding(page, control);
    if (!b || b->kind != ControlKind::Number) return std::nullopt;
    std::optional<int32_t> clamped =
        clamp_to_range(value_number(controls_[page], control), b->min, b->max);
    if (clamped) {
        controls_[page][std::string(control)] = *clamped;
        listener_->control_changed(page, std::string(control));
    }
    return clamped;
}

bool EditorState::leave_repeat() const {
    return repeat_text_valid(value_text(controls_[PAGE_SCHEDULING], "RepeatEvery"));
}

std::optional<std::string> EditorState::leave_set_name() {
    if (current_set_ < 0) return std::nullopt;
    std::string name = value_text(controls_[PAGE_BACKUP_TYPE], "Name");
    std::optional<std::string> problem =
        set_name_problem(settings_.backup_sets(), static_cast<size_t>(current_set_), name);
    if (problem) return problem;
    std::string& text = item_texts_[current_set_];
    if (!iequals(text, name)) {
        text = name;
        listener_->set_item_text_changed(static_cast<size_t>(current_set_));
    }
    return std::nullopt;
}

DestinationCheck EditorState::leave_destination(
    const std::vector<platform::MountEntry>& mounts) const {
    if (current_set_ < 0) return {};
    return check_destination(value_text(controls_[PAGE_DESTINATION], "BackupDestination"),
                             settings_.backup_sets()[current_set_].BackupDestination, mounts);
}

bool EditorState::warning_switched_off(const DestinationCheck& check) const {
    if (!check.switch_value) return true;
    try {
        std::optional<registry::Key> key =
            registry::open_key(options_.store, registry::Root::LocalMachine, kProductKey);
        return key && registry::read_number(*key, check.switch_value, 0) != 0;
    } catch (const MyError&) {
        return false;  // a damaged switch: warn rather than stay silent
    }
}

void EditorState::switch_warning_off(const DestinationCheck& check) {
    if (!check.switch_value) return;
    // A convenience: a store this process may not write keeps asking.
    try {
        if (std::optional<registry::Key> key =
                registry::create_key(options_.store, registry::Root::LocalMachine, kProductKey))
            registry::write_number(*key, check.switch_value, 1);
    } catch (const MyError& e) {
        log(LOG_DEBUG, "%s not stored: %s\n", check.switch_value, e.message());
    }
}

void EditorState::take_destination(const DestinationCheck& check) {
    if (current_set_ < 0 || check.warning == DestinationCheck::Warning::None) return;
    settings_.backup_sets()[current_set_].BackupDestination = check.converted;
    controls_[PAGE_DESTINATION]["BackupDestination"] = check.converted;
    listener_->control_changed(PAGE_DESTINATION, "BackupDestination");
}

std::vector<OverlapQuestion> EditorState::include_overlaps(std::string_view path) const {
    return vardel::include_overlaps(value_text(controls_[PAGE_FILES], "BackupDirs"), path);
}

void EditorState::add_line(int page, std::string_view control, std::string_view line) {
    std::string key(control);
    controls_.at(page)[key] = append_line(value_text(controls_[page], control), line);
    listener_->control_changed(page, key);
    mark_modified(true);
}

void EditorState::flip_month_day(int day) {
    ControlValues& v = controls_[PAGE_SCHEDULING];
    v["MonthList"] = vardel::flip_month_day(value_text(v, "MonthList"), day);
    listener_->control_changed(PAGE_SCHEDULING, "MonthList");
    mark_modified(true);
}

void EditorState::show_page(int page) {
    if (page < 0 || page >= kPageCount) return;
    show(page);
}

void EditorState::choose_set(int set, int page) {
    if (set < 0 || static_cast<size_t>(set) >= set_count()) return;
    Guard guard(*this);
    if (current_set_ >= 0) store_set_pages(current_set_);
    current_set_ = set;
    load_pages(kFirstSetPage, kPageCount - 1);
    if (is_set_page(page))
        show(page);
    else if (!is_set_page(shown_page_))
        show(PAGE_BACKUP_TYPE);
}

void EditorState::step_page(int direction) {
    show(direction < 0 ? previous_page(shown_page_) : next_page(shown_page_));
}

void EditorState::next_set() {
    if (set_count() == 0) return;
    int set = current_set_ < 0 ? 0 : (current_set_ + 1) % static_cast<int>(set_count());
    choose_set(set);
    listener_->set_item_selected(set);
}

void EditorState::previous_set() {
    if (set_count() == 0) return;
    int set = current_set_ <= 0 ? static_cast<int>(set_count()) - 1 : current_set_ - 1;
    choose_set(set);
    listener_->set_item_selected(set);
}

size_t EditorState::add_set(std::unique_ptr<BackupSet> set) {
    BackupSetTable& sets = settings_.backup_sets();
    set->Name = "<new>";
    set->Enabled = true;
    for (int n = 1; sets.find(set->Name); ++n) set->Name = strprintf("<new %d>", n);
    item_texts_.push_back(set->Name);
    sets.add(std::move(set));
    size_t index = sets.size() - 1;
    listener_->set_added(index);
    listener_->set_item_selected(static_cast<int>(index));
    choose_set(static_cast<int>(index));
    mark_modified(true);
    return index;
}

size_t EditorState::new_set() {
    return add_set(std::make_unique<BackupSet>());
}

std::optional<size_t> EditorState::copy_set() {
    if (current_set_ < 0) return std::nullopt;
    // The copy takes what the pages show, not only what was stored before.
    store_set_pages(current_set_);
    return add_set(std::make_unique<BackupSet>(settings_.backup_sets()[current_set_]));
}

bool EditorState::delete_set() {
    if (current_set_ < 0) return false;
    size_t index = static_cast<size_t>(current_set_);
    current_set_ = -1;
    listener_->set_item_selected(-1);
    settings_.backup_sets().remove(index);
    item_texts_.erase(item_texts_.begin() + static_cast<std::ptrdiff_t>(index));
    listener_->set_removed(index);
    if (set_count() > 0) {
        listener_->set_item_selected(0);
        choose_set(0);
    }
    mark_modified(true);
    return true;
}

EditorState::SaveResult EditorState::save() {
    using Outcome = SaveResult::Outcome;
    auto result = [](Outcome outcome, size_t set = 0, std::string message = {}) {
        SaveResult r;
        r.outcome = outcome;
        r.set = set;
        r.message = std::move(message);
        return r;
    };
    // Stored as it stands, a text such as "1h30" would become one minute
    // unnoticed; the field's own check runs only when the focus leaves it.
    if (modified_ && current_set_ >= 0 && !leave_repeat())
        return result(Outcome::InvalidRepeat, static_cast<size_t>(current_set_), kRepeatInvalid);
    store_pages();
    if (!modified_) return {};
    // Two sets of one name would share one key (one is lost); a name with a
    // "/" or "\\" is no single key. Such a table is not written at all.
    const BackupSetTable& sets = settings_.backup_sets();
    for (size_t i = sets.size(); i-- > 0;) {
        if (std::optional<std::string> problem = set_name_problem(sets, i, sets[i].Name))
            return result(Outcome::InvalidName, i, *problem);
    }
    if (options_.read_only) return result(Outcome::ReadOnly);
    settings_.save(options_.store);
    if (!options_.reload_event) return result(Outcome::Written);
    try {
        options_.reload_event->pulse();
    } catch (const std::system_error& e) {
        return result(
            Outcome::NotSignalled, 0,
            strprintf("The settings were saved, but the backup service could not be told to "
                      "reload them (%s). It uses them from its next start.",
                      e.code().message().c_str()));
    }
    return result(Outcome::Written);
}

EditorState::SaveResult EditorState::apply() {
    SaveResult result = save();
    if (!result.saved()) return result;
    if (current_set_ >= 0) {
        const std::string& name = settings_.backup_sets()[current_set_].Name;
        std::string& text = item_texts_[current_set_];
        if (!iequals(text, name)) {
            text = name;
            listener_->set_item_text_changed(static_cast<size_t>(current_set_));
        }
    }
    mark_modified(false);
    return result;
}

void EditorState::general_replaced() {
    {
        Guard guard(*this);
        load_pages(0, kFirstSetPage - 1);
    }
    mark_modified(true);
}

void EditorState::sets_replaced() {
    {
        Guard guard(*this);
        item_texts_.clear();
        for (const BackupSet& s : settings_.backup_sets()) item_texts_.push_back(s.Name);
        if (current_set_ >= static_cast<int>(set_count())) current_set_ = -1;
        listener_->sets_rebuilt();
        if (current_set_ >= 0) {
            load_pages(kFirstSetPage, kPageCount - 1);
            listener_->set_item_selected(current_set_);
        }
    }
    mark_modified(true);
}

}  // namespace vardel
