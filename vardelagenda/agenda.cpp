#include "vardelagenda/agenda.h"

#include <string>

#include "common/schedule_rows.h"

namespace vardel {

namespace {

template <typename Cells>
void print_line(std::ostream& out, const Cells& cells) {
    bool first = true;
    for (const auto& cell : cells) {
        if (!first) out << '\t';
        first = false;
        std::string text(cell);
        for (char& c : text)
            if (c == '\t' || c == '\r' || c == '\n') c = ' ';
        out << text;
    }
    out << '\n';
}

}  // namespace

Agenda::Agenda(BackupSetTable sets, int64_t now) : sets_(std::move(sets)) {
    std::vector<ScheduleRule> rules;
    for (size_t i = 0; i < sets_.size(); ++i) {
        rules.push_back(schedule_rule_of(sets_[i]));
        if (sets_[i].Enabled) general_.push_back(i);
    }
    upcoming_ = upcoming_runs(rules, now, &full_, kMaxUpcoming);
}

void Agenda::print(std::ostream& out) const {
    out << "General Schedule\n";
    print_line(out, kGeneralColumnHeaders);
    for (size_t i : general_) print_line(out, general_row(sets_[i]));
    out << "\nUpcoming\n";
    print_line(out, kUpcomingColumnHeaders);
    for (const UpcomingRun& run : upcoming_) print_line(out, upcoming_row(set_of(run), run.time));
    out << '\n';
}

}  // namespace vardel
