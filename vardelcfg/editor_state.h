#pragma once
// The settings editor apart from its widgets: the settings being edited, the
// page shown, the current set, the contents of every page's controls, the
// unsaved-changes flag and the guard that keeps the editor's own filling of
// controls from counting as a change; and every command of the window.
//
// The window mirrors this state: it reports each user edit (edit_control),
// runs the commands, and redraws what the Listener tells it changed. Message
// boxes stay with the window: a command that needs a question is asked by
// the window first.
//
// One thread (the GUI thread). The listener is called synchronously from
// inside the commands; it must not call commands back.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/general_settings.h"
#include "common/registry.h"
#include "platform/mount_table.h"
#include "vardelcfg/destination_check.h"
#include "vardelcfg/field_rules.h"
#include "vardelcfg/page_bindings.h"

namespace vardel {

namespace platform {
class NamedEvent;
}

class EditorState {
  public:
    class Listener {
      public:
        virtual ~Listener() = default;
        // The controls of `page` hold new values: show them all.
        virtual void page_filled(int /*page*/) {}
        // One control changed by the editor itself (a clamp, a conversion).
        virtual void control_changed(int /*page*/, const std::string& /*control*/) {}
        // Show `page` in the frame with its caption, select its tree item
        // (the current set's, for a set page) and set the set commands'
        // availability.
        virtual void page_shown(int /*page*/) {}
        // Select the set's own tree item; -1: clear the selection.
        virtual void set_item_selected(int /*set*/) {}
        virtual void set_added(size_t /*set*/) {}
        virtual void set_removed(size_t /*set*/) {}
        virtual void set_item_text_changed(size_t /*set*/) {}
        // Every set's tree items anew (after an import).
        virtual void sets_rebuilt() {}
        // Apply, "&Apply Changes" and the toolbar's Apply: enabled or not.
        virtual void apply_changed(bool /*on*/) {}
    };

    struct Options {
        registry::Store store;   // loaded from and saved to
        std::string data_path;   // for the default log folder
        bool read_only = false;  // the store may not be written by this process
        // Pulsed after every save that wrote; none: nothing to pulse.
        platform::NamedEvent* reload_event = nullptr;
    };

    EditorState(GeneralSettings settings, Options options);
    EditorState(const EditorState&) = delete;
    EditorState& operator=(const EditorState&) = delete;

    void set_listener(Listener* listener) { listener_ = listener; }
    // The start state: "Logs" shown, the suite-wide pages loaded, no set
    // current, nothing modified.
    void start();

    int shown_page() const { return shown_page_; }
    int current_set() const { return current_set_; }
    bool modified() const { return modified_; }
    bool read_only() const { return options_.read_only; }
    bool initialising() const { return initialising_ > 0; }
    // Previous, Next, Delete, Create Shortcut and Export Current Set.
    bool set_commands_enabled() const { return is_set_page(shown_page_); }
    const GeneralSettings& settings() const { return settings_; }
    // The store the settings come from and go to.
    const registry::Store& store() const { return options_.store; }
    GeneralSettings& settings() { return settings_; }
    size_t set_count() const { return settings_.backup_sets().size(); }
    // A set's tree item text: its name, or the name field's text once that
    // field was left.
    const std::string& item_text(size_t set) const { return item_texts_.at(set); }
    const ControlValues& controls(int page) const { return controls_.at(page); }

    // A user's change of one control; marks the settings modified.
    void edit_control(int page, std::string_view control, ControlValue value);
    // Enables or disables Apply, unless the editor is filling controls.
    void mark_modified(bool on);

    // Leaving fields. A number outside its range is clamped (the new value
    // is returned: beep). A repeat text that is not valid gives false: show
    // kRepeatInvalid and keep the focus there.
    std::optional<int32_t> leave_number(int page, std::string_view control);
    bool leave_repeat() const;
    // The name field: a problem to show (the focus stays), or none, and the
    // tree item takes the text.
    std::optional<std::string> leave_set_name();
    // The destination field: what to warn of. Then, when the warning is not
    // switched off, the window shows it; then take_destination().
    DestinationCheck leave_destination(const std::vector<platform::MountEntry>& mounts) const;
    bool warning_switched_off(const DestinationCheck& check) const;
    void switch_warning_off(const DestinationCheck& check);
    void take_destination(const DestinationCheck& check);
    // The include list's "Browse": the questions to ask before add_line().
    std::vector<OverlapQuestion> include_overlaps(std::string_view path) const;
    void add_line(int page, std::string_view control, std::string_view line);
    // A click on day `day` of the month grid.
    void flip_month_day(int day);

    // Navigation: a suite-wide page from the tree; a set's item (page -1)
    // or one of its page items; the "<- Prev" / "Next ->" buttons; the
    // previous / next set.
    void show_page(int page);
    void choose_set(int set, int page = -1);
    void step_page(int direction);
    void next_set();
    void previous_set();

    // New, Copy and Delete. Copy and Delete need a current set (nothing
    // happens without one; the window asks its question first).
    size_t new_set();
    std::optional<size_t> copy_set();
    bool delete_set();

    // Save: every page's controls into the records, then, only when
    // modified, the whole settings in one transaction and a pulse of the
    // reload event. Throws MyError when the store refuses (nothing written).
    struct SaveResult {
        enum class Outcome {
            Written,
            NothingToWrite,
            InvalidName,    // set `set` has a name that cannot be stored: `message`
            InvalidRepeat,  // the repeat field holds what is no repeat: `message`
            ReadOnly,       // the store may not be written by this process
            NotSignalled,   // written, but the reload event failed: `message`
        };
        Outcome outcome = Outcome::NothingToWrite;
        size_t set = 0;
        std::string message;
        bool saved() const {
            return outcome == Outcome::Written || outcome == Outcome::NothingToWrite ||
                   outcome == Outcome::NotSignalled;
        }
    };
    SaveResult save();
    // Apply, OK and "&Save Settings": save, then the current set's tree
    // item takes its name and Apply goes off, when the save succeeded.
    SaveResult apply();

    // For the commands that change the records from outside the pages (the
    // imports): store_pages() first, then change settings(), then one of
    // these reloads the pages and marks the settings modified.
    void store_pages();
    void general_replaced();
    void sets_replaced();

  private:
    class Guard;
    void load_pages(int first, int last);
    void store_set_pages(int set);
    void show(int page);
    size_t add_set(std::unique_ptr<BackupSet> set);

    GeneralSettings settings_;
    Options options_;
    Listener* listener_ = nullptr;
    Listener no_listener_;
    int shown_page_ = PAGE_LOGS;
    int current_set_ = -1;
    bool modified_ = false;
    int initialising_ = 0;
    std::vector<ControlValues> controls_ = std::vector<ControlValues>(kPageCount);
    std::vector<std::string> item_texts_;
};

}  // namespace vardel
