#include "vardelcfg/ui/settings_pages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "vardelcfg/page_bindings.h"
#include "vardelcfg/ui/month_day_grid.h"
#include "vardelcfg/ui/number_field.h"

namespace vardel {

namespace {

QString q(const char* s) {
    return QString::fromUtf8(s);
}

// The controls of one page, named after the values they edit.
class PageBuilder {
  public:
    PageBuilder(int page, QWidget* parent) : page_(page), widget_(new QWidget(parent)) {
        widget_->setObjectName(QStringLiteral("Page%1").arg(page));
    }
    QWidget* widget() const { return widget_; }

    QCheckBox* check(const char* value, const char* label) {
        return named(new QCheckBox(q(label), widget_), value);
    }
    QLineEdit* text(const char* value) { return named(new QLineEdit(widget_), value); }
    QLineEdit* password(const char* value) {
        QLineEdit* e = text(value);
        e->setEchoMode(QLineEdit::Password);
        return e;
    }
    NumberField* number(const char* value) {
        const PageBinding* b = find_binding(page_, value);
        return named(new NumberField(b->min, b->max, widget_), value);
    }
    QComboBox* choice(const char* value) {
        auto* c = named(new QComboBox(widget_), value);
        for (const char* name : *find_binding(page_, value)->choices) c->addItem(q(name));
        return c;
    }
    QPlainTextEdit* lines(const char* value) {
        auto* e = named(new QPlainTextEdit(widget_), value);
        e->setLineWrapMode(QPlainTextEdit::NoWrap);
        e->setTabChangesFocus(true);
        return e;
    }
    QTimeEdit* time(const char* value) {
        auto* t = named(new QTimeEdit(widget_), value);
        t->setDisplayFormat(QStringLiteral("HH:mm:ss"));
        return t;
    }
    QPushButton* browse(const char* value, const char* label = "Browse") {
        auto* b = new QPushButton(q(label), widget_);
        b->setObjectName(q(value) + QStringLiteral("Browse"));
        b->setAutoDefault(false);
        return b;
    }
    QLabel* label(const char* text, QWidget* buddy = nullptr) {
        auto* l = new QLabel(q(text), widget_);
        if (buddy) l->setBuddy(buddy);
        return l;
    }

  private:
    template <class W>
    W* named(W* w, const char* value) {
        w->setObjectName(q(value));
        return w;
    }

    int page_;
    QWidget* widget_;
};

// A row of widgets and stretch at its end.
QHBoxLayout* row(std::initializer_list<QWidget*> widgets, bool stretch = true) {
    auto* r = new QHBoxLayout;
    for (QWidget* w : widgets) r->addWidget(w);
    if (stretch) r->addStretch(1);
    return r;
}

QGroupBox* group(QWidget* parent, const char* title, QLayout* content) {
    auto* g = new QGroupBox(q(title), parent);
    g->setLayout(content);
    return g;
}

QWidget* logs_page(QWidget* parent) {
    PageBuilder b(PAGE_LOGS, parent);
    auto* v = new QVBoxLayout(b.widget());
    v->addWidget(b.check("WriteLogsToFile", "Write logs to file"));
    QLineEdit* path = b.text("LogFilePath");
    auto* path_row = new QHBoxLayout;
    path_row->addWidget(b.label("Logfile path", path));
    path_row->addWidget(path, 1);
    QPushButton* dots = b.browse("LogFilePath", "...");
    dots->setMaximumWidth(dots->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 24);
    path_row->addWidget(dots);
    v->addLayout(path_row);
    NumberField* days = b.number("CycleLogDays");
    NumberField* size = b.number("CycleLogSize");
    v->addLayout(row({b.label("Cycle Log after:", days), days, b.label("Days"),
                      b.label("or:", size), size, b.label("KB")}));
    NumberField* keep = b.number("KeepNLogs");
    v->addLayout(row({b.label("Keep", keep), keep, b.label("Logs")}));
    v->addSpacing(8);
    v->addWidget(b.check("MailOldLog", "Mail Log before cycling to:"));
    auto* mail = new QHBoxLayout;
    mail->addSpacing(20);
    mail->addWidget(b.text("MailLogEmail"), 1);
    v->addLayout(mail);
    v->addStretch(1);
    return b.widget();
}

QWidget* user_interaction_page(QWidget* parent) {
    PageBuilder b(PAGE_USER_INTERACTION, parent);
    auto* v = new QVBoxLayout(b.widget());
    v->addWidget(b.check("WarnUserWhenBackupStarts", "Warn User when backup starts"));
    v->addWidget(b.check("WarnOfActiveBackup", "Warn of active backup when logging on"));
    v->addSpacing(8);
    v->addWidget(b.check("SendEmailOnCompletion", "Send Email on Completion to:"));
    auto* mail = new QHBoxLayout;
    mail->addSpacing(20);
    mail->addWidget(b.text("CompletionEmail"), 1);
    v->addLayout(mail);
    v->addSpacing(8);
    QComboBox* click = b.choice("ClickAction");
    v->addLayout(row({b.label("Tray Single-click action", click), click}));
    v->addStretch(1);
    return b.widget();
}

QWidget* security_page(QWidget* parent) {
    PageBuilder b(PAGE_COMPRESSION_SECURITY, parent);
    auto* v = new QVBoxLayout(b.widget());
    auto* file = new QGridLayout;
    QLineEdit* encoding = b.password("EncodingPassword");
    file->addWidget(b.label("Encoding Password", encoding), 0, 0);
    file->addWidget(encoding, 0, 1);
    v->addWidget(group(b.widget(), "File Security", file));
    auto* share = new QGridLayout;
    QLineEdit* login = b.text("ShareLogin");
    QLineEdit* password = b.password("SharePassword");
    share->addWidget(b.label("Login Name", login), 0, 0);
    share->addWidget(login, 0, 1);
    share->addWidget(b.label("Password", password), 1, 0);
    share->addWidget(password, 1, 1);
    v->addWidget(group(b.widget(), "Share Login", share));
    v->addStretch(1);
    return b.widget();
}

QWidget* locking_page(QWidget* parent) {
    PageBuilder b(PAGE_VALIDATION_LOCKING, parent);
    auto* v = new QVBoxLayout(b.widget());
    auto* lock = new QGridLayout;
    QComboBox* level = b.choice("FileLockLevel");
    QComboBox* failure = b.choice("LockFailureHandling");
    NumberField* retry = b.number("RetryLockTimes");
    NumberField* wait = b.number("WaitForLock");
    lock->addWidget(b.label("File Lock Level", level), 0, 0);
    lock->addWidget(level, 0, 1);
    lock->addWidget(b.label("Failure Handling", failure), 1, 0);
    lock->addWidget(failure, 1, 1);
    lock->addWidget(b.label("Retry Lock", retry), 2, 0);
    lock->addLayout(row({retry, b.label("times")}), 2, 1);
    lock->addWidget(b.label("Wait For Lock", wait), 3, 0);
    lock->addLayout(row({wait, b.label("seconds")}), 3, 1);
    lock->addWidget(b.check("SmartLocking", "Smart Locking"), 4, 0, 1, 2);
    lock->setColumnStretch(2, 1);
    v->addLayout(lock);
    auto* validation = new QGridLayout;
    QComboBox* verify = b.choice("FileValidationLevel");
    QComboBox* change = b.choice("FileChangeHandling");
    NumberField* retries = b.number("FileChangeRetries");
    validation->addWidget(b.label("File Verification Level", verify), 0, 0);
    validation->addWidget(verify, 0, 1);
    validation->addWidget(b.label("File Change Handling", change), 1, 0);
    validation->addWidget(change, 1, 1);
    validation->addWidget(b.label("Number of Retries", retries), 2, 0);
    validation->addLayout(row({retries}), 2, 1);
    validation->setColumnStretch(2, 1);
    v->addWidget(group(b.widget(), "Data Validation", validation));
    v->addStretch(1);
    return b.widget();
}

QWidget* servers_page(QWidget* parent) {
    PageBuilder b(PAGE_SERVERS, parent);
    auto* v = new QVBoxLayout(b.widget());
    auto* mail = new QGridLayout;
    QLineEdit* host = b.text("SMTPHost");
    QLineEdit* from = b.text("FromEmail");
    mail->addWidget(b.label("SMTP Host", host), 0, 0);
    mail->addWidget(host, 0, 1);
    mail->addWidget(b.label("FROM Email Address", from), 1, 0);
    mail->addWidget(from, 1, 1);
    v->addWidget(group(b.widget(), "Email Server", mail));
    v->addStretch(1);
    return b.widget();
}

QWidget* backup_type_page(QWidget* parent) {
    PageBuilder b(PAGE_BACKUP_TYPE, parent);
    auto* v = new QVBoxLayout(b.widget());
    QLineEdit* name = b.text("Name");
    auto* name_row = new QHBoxLayout;
    name_row->addWidget(b.label("Backup Set Name", name));
    name_row->addWidget(name, 1);
    v->addLayout(name_row);
    auto* params = new QGridLayout;
    QComboBox* type = b.choice("BackupType");
    NumberField* per_cycle = b.number("BackupsPerCycle");
    NumberField* cycles = b.number("CyclesToSave");
    params->addWidget(b.label("Backup Type", type), 0, 0);
    params->addWidget(type, 0, 1);
    params->addWidget(b.label("Backups Per Cycle", per_cycle), 1, 0);
    params->addLayout(row({per_cycle}), 1, 1);
    params->addWidget(b.label("Cycles To Save", cycles), 2, 0);
    params->addLayout(row({cycles}), 2, 1);
    params->setColumnStretch(2, 1);
    v->addWidget(group(b.widget(), "Backup Parameters", params));
    v->addStretch(1);
    return b.widget();
}

QWidget* destination_page(QWidget* parent) {
    PageBuilder b(PAGE_DESTINATION, parent);
    auto* v = new QVBoxLayout(b.widget());
    auto* dest = new QVBoxLayout;
    QLineEdit* path = b.text("BackupDestination");
    dest->addWidget(b.label("Directory Or Share", path));
    auto* path_row = new QHBoxLayout;
    path_row->addWidget(path, 1);
    path_row->addWidget(b.browse("BackupDestination"));
    dest->addLayout(path_row);
    v->addWidget(group(b.widget(), "Backup Destination", dest));
    NumberField* priority = b.number("BackupThreadPriority");
    v->addWidget(group(b.widget(), "Priority Settings",
                       row({b.label("Backup Thread Priority", priority), priority})));
    auto* options = new QGridLayout;
    QComboBox* format = b.choice("SaveFormat");
    options->addWidget(b.label("Save Format", format), 0, 0);
    options->addWidget(format, 0, 1);
    options->addWidget(b.check("PasswordEncode", "Password-Protect"), 1, 0, 1, 2);
    options->setColumnStretch(2, 1);
    v->addWidget(group(b.widget(), "Destination Options", options));
    v->addStretch(1);
    return b.widget();
}

QWidget* scheduling_page(QWidget* parent) {
    PageBuilder b(PAGE_SCHEDULING, parent);
    auto* h = new QHBoxLayout(b.widget());
    auto* interval = new QVBoxLayout;
    interval->addWidget(b.choice("IntervalType"));
    auto* days = new QListWidget(b.widget());
    days->setObjectName(QStringLiteral("IntervalDays"));
    days->setSelectionMode(QAbstractItemView::MultiSelection);
    for (const char* day : setting_names::kWeekdays) days->addItem(q(day));
    days->setMaximumHeight(days->sizeHintForRow(0) * 7 + 2 * days->frameWidth() + 4);
    interval->addWidget(days);
    auto* grid = new MonthDayGrid(b.widget());
    grid->setObjectName(QStringLiteral("MonthList"));
    interval->addWidget(grid);
    interval->addStretch(1);
    h->addWidget(group(b.widget(), "Interval", interval), 1);

    auto* times = new QGridLayout;
    QTimeEdit* start = b.time("StartTime");
    QLineEdit* repeat = b.text("RepeatEvery");
    QTimeEdit* until = b.time("RepeatUntil");
    times->addWidget(b.label("Start Time", start), 0, 0);
    times->addWidget(start, 0, 1);
    times->addWidget(b.label("Repeat Every  (hh:mm)", repeat), 1, 0);
    times->addWidget(repeat, 1, 1);
    times->addWidget(b.label("Until", until), 2, 0);
    times->addWidget(until, 2, 1);
    times->addWidget(b.check("Enabled", "Enabled"), 3, 0, 1, 2);
    times->setRowStretch(4, 1);
    repeat->setMaximumWidth(start->sizeHint().width());
    h->addWidget(group(b.widget(), "Times", times), 1);
    return b.widget();
}

QWidget* files_page(QWidget* parent) {
    PageBuilder b(PAGE_FILES, parent);
    auto* v = new QVBoxLayout(b.widget());
    auto* tabs = new QTabWidget(b.widget());
    tabs->setObjectName(QStringLiteral("FileTabs"));

    auto list_tab = [&](const char* label, const char* value) {
        auto* tab = new QWidget(tabs);
        auto* t = new QVBoxLayout(tab);
        QPlainTextEdit* list = b.lines(value);
        list->setParent(tab);
        auto* top = new QHBoxLayout;
        auto* l = b.label(label, list);
        l->setParent(tab);
        QPushButton* browse = b.browse(value);
        browse->setParent(tab);
        top->addWidget(l, 1);
        top->addWidget(browse);
        t->addLayout(top);
        t->addWidget(list, 1);
        return tab;
    };
    tabs->addTab(list_tab("Files / Directories to backup", "BackupDirs"),
                 QStringLiteral("Include Files/Dirs"));
    tabs->addTab(list_tab("Files / Directories to specifically exclude", "ExcludeFiles"),
                 QStringLiteral("Exclude Files/Dirs"));
    auto* masks = new QWidget(tabs);
    auto* m = new QGridLayout(masks);
    for (int column = 0; column < 2; ++column) {
        const char* value = column == 0 ? "IncludeMasks" : "ExcludeMasks";
        QPlainTextEdit* list = b.lines(value);
        list->setParent(masks);
        QLabel* l = b.label(column == 0 ? "Include Masks" : "Exclude Masks", list);
        l->setParent(masks);
        m->addWidget(l, 0, column);
        m->addWidget(list, 1, column);
    }
    tabs->addTab(masks, QStringLiteral("Include and Exlude Masks"));
    v->addWidget(tabs, 1);

    auto* flags = new QGridLayout;
    flags->addWidget(b.check("IncludeSystemFiles", "Include System Files"), 0, 0);
    flags->addWidget(b.check("IncludeHiddenFiles", "Include Hidden Files"), 0, 1);
    flags->addWidget(b.check("UseArchiveBit", "Use Archive Bit"), 1, 0);
    flags->addWidget(b.check("TrackDeletedFiles", "Track Deleted Files"), 1, 1);
    v->addLayout(flags);
    return b.widget();
}

QWidget* actions_page(QWidget* parent) {
    PageBuilder b(PAGE_ACTIONS, parent);
    auto* v = new QVBoxLayout(b.widget());
    const char* const labels[][2] = {
        {"ExecuteBeforeStart", "Execute before starting backup"},
        {"ExecuteOnSuccess", "Execute after successful backup"},
        {"ExecuteOnFailure", "Execute after failed backup"},
    };
    for (const auto& [value, label] : labels) {
        QLineEdit* command = b.text(value);
        v->addWidget(b.label(label, command));
        auto* r = new QHBoxLayout;
        r->addWidget(command, 1);
        r->addWidget(b.browse(value));
        v->addLayout(r);
        v->addSpacing(6);
    }
    v->addStretch(1);
    return b.widget();
}

}  // namespace

QWidget* build_page(int page, QWidget* parent) {
    switch (page) {
        case PAGE_LOGS:
            return logs_page(parent);
        case PAGE_USER_INTERACTION:
            return user_interaction_page(parent);
        case PAGE_COMPRESSION_SECURITY:
            return security_page(parent);
        case PAGE_VALIDATION_LOCKING:
            return locking_page(parent);
        case PAGE_SERVERS:
            return servers_page(parent);
        case PAGE_BACKUP_TYPE:
            return backup_type_page(parent);
        case PAGE_DESTINATION:
            return destination_page(parent);
        case PAGE_SCHEDULING:
            return scheduling_page(parent);
        case PAGE_FILES:
            return files_page(parent);
        case PAGE_ACTIONS:
            return actions_page(parent);
        default:
            return new QWidget(parent);
    }
}

}  // namespace vardel
