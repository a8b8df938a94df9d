// Renders every window and dialog of the restore tool with a set loaded
// from sample backups made here: the main window (and at 1280 x 720), the
// "Extract Files" dialog, the progress dialog, the two prompts and the
// result box.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "common/destination_names.h"
#include "common/ini_document.h"
#include "common/list_file.h"
#include "containers/saf_writer.h"
#include "gui/guarded_application.h"
#include "gui/message_box.h"
#include "gui/screenshot.h"
#include "platform/file.h"
#include "vardelrestore/ui/extract_dialog.h"
#include "vardelrestore/ui/progress_dialog.h"
#include "vardelrestore/ui/prompt_dialog.h"
#include "vardelrestore/ui/restore_window.h"

namespace {

using namespace vardel;

void write(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    platform::File f;
    if (f.open(path, platform::OpenMode::CreateReplace)) f.write_all(text.data(), text.size());
}

// A SAF set of two backups of a small home folder, with a deletion between.
BackupSetTable sample_set(const std::string& base) {
    const std::string home = base + "/home/anna";
    const char* files[] = {"Documents/letter to the bank.txt",
                           "Documents/taxes 2024.pdf",
                           "Documents/recipes/bread.txt",
                           "Pictures/holiday/beach.jpg",
                           "Pictures/holiday/sunset over the bay.jpg",
                           "notes.txt",
                           "Music/playlist.m3u"};
    for (const char* f : files) write(home + "/" + f, std::string(1000, 'x') + f);
    const std::string dest = base + "/backups/Home";
    std::filesystem::create_directories(dest);
    IniDocument ini;
    namespace d = destination;
    for (int save = 1; save <= 2; ++save) {
        SafWriter w;
        w.create_archive(dest + "/" + d::saf_archive(1, save));
        for (int i = 0; i < 7; ++i) {
            if (save == 2 && i % 3 != 0) continue;
            std::string p = home + "/" + files[i];
            platform::File src;
            src.open(p, platform::OpenMode::Read);
            w.open_file_entry(p);
            w.write_entry_data(src);
            w.close_entry();
        }
        w.close_archive();
        ini.set_number(d::kSection, d::instance_key(1, save), 1733652000 + save * 86400);
    }
    write(dest + "/" + d::list_file(1, 2),
          format_list_line('A', home + "/Documents/") + format_list_line('D', "old draft.txt"));
    ini.set_text(d::kSection, d::kName, "Home");
    ini.set_number(d::kSection, d::kCycle, 1);
    ini.set_number(d::kSection, d::kSequence, 2);
    write(dest + "/BACKUP.INI", ini.serialise());
    BackupSetTable table;
    auto set = std::make_unique<BackupSet>();
    set->Name = "Home";
    set->BackupDestination = dest;
    set->BackupsPerCycle = 4;
    set->CyclesToSave = 2;
    set->BackuDestinationType = 1;
    table.add(std::move(set));
    return table;
}

}  // namespace

int main(int argc, char** argv) {
    QString folder = gui::screenshot_folder(argc, argv);
    QTemporaryDir scratch;
    // A store of its own: nothing of the machine's settings is read or written.
    setenv("VARDEL_ROOT", qPrintable(scratch.filePath("root")), 1);
    QDir().mkpath(scratch.filePath("root"));
    gui::GuardedApplication app(argc, argv, "vardelrestore_screenshots");
    bool ok = true;

    RestoreWindow window(sample_set(scratch.path().toStdString()));
    window.resize(940, 560);
    window.select_node(3);  // cycle 1, save 2
    QEventLoop wait;
    QObject::connect(&window, &RestoreWindow::load_finished, &wait, &QEventLoop::quit);
    window.command(40002)->trigger();
    wait.exec();
    ok &= gui::save_screenshot(window, folder, "vardelrestore-main");
    window.resize(1280, 720);
    ok &= gui::save_screenshot(window, folder, "vardelrestore-main-1280x720");

    std::vector<std::string_view> paths;
    for (size_t r = 0; r < window.list().size(); ++r) paths.push_back(window.list().record(r).path);
    ExtractOptions previous;
    ExtractDialog extract(paths, true, previous);
    ok &= gui::save_screenshot(extract, folder, "vardelrestore-extract-dialog");

    ProgressDialog progress;
    progress.show_item(QString::fromStdString(
        scratch.path().toStdString() + "/home/anna/Pictures/holiday/sunset over the bay.jpg"));
    ok &= gui::save_screenshot(progress, folder, "vardelrestore-progress");

    PromptDialog overwrite(PromptDialog::Kind::Overwrite,
                           "/home/anna/restored/Documents/letter to the bank.txt");
    ok &= gui::save_screenshot(overwrite, folder, "vardelrestore-overwrite-prompt");
    PromptDialog del(PromptDialog::Kind::Delete, "/home/anna/restored/Documents/old draft.txt");
    ok &= gui::save_screenshot(del, folder, "vardelrestore-delete-prompt");

    auto result = gui::build_message_box(nullptr, "Copy completed", "Copy Results",
                                         gui::MessageIcon::Information);
    ok &= gui::save_screenshot(*result, folder, "vardelrestore-copy-results");
    return ok ? 0 : 1;
}
