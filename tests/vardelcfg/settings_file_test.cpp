// Settings files and backup-set files: what a round trip keeps, what a hand
// edit may hold, and what a bad file does to the records (nothing).
#include "vardelcfg/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/registry.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

// Every field of a record away from its default; enumerations on their
// last name, so that they can be written by name.
template <class Record>
void fill(Record& r, int seed) {
    int i = 0;
    for (const SettingField<Record>& f : Record::fields()) {
        ++i;
        if (f.names)
            r.*f.number = static_cast<int32_t>(f.names->size()) - 1;
        else if (f.is_number())
            r.*f.number = (i % 2 ? -1 : 1) * (seed * 1000 + i);
        else if (f.is_flag())
            r.*f.flag = !f.default_flag;
        else
            r.*f.text = std::string(" \"") + f.name + "\\n C:\\dir\\\\ " + std::to_string(seed);
    }
}

std::string every_printable() {
    std::string s;
    for (char c = 32; c < 127; ++c) s += c;
    return s;
}

TEST(SettingsFileText, SettingsComeBackAsTheyWereExceptTheShareLogin) {
    GeneralSettings out;
    fill(out, 1);
    out.ApprovedServers = "C:\\one\r\nC:\\two";
    out.WaitForLock = 30;
    GeneralSettings in;
    in.ShareLogin = "kept";
    in.SharePassword = "kept too";

    for (const std::string& password :
         {every_printable(), std::string("a\\nb\\\\\""), std::string("\"")}) {
        out.EncodingPassword = password;
        std::string text = SettingsFile::settings_text(out);
        EXPECT_TRUE(text.starts_with("[SETTINGS]\nWriteLogsToFile=N\nLogFilePath=\"")) << text;
        EXPECT_NE(text.find("\nWaitForLock=30\n"), std::string::npos);
        EXPECT_NE(text.find("\nApprovedServers=\"C:\\\\one\\nC:\\\\two\"\n"), std::string::npos);
        EXPECT_EQ(text.find("Share"), std::string::npos);

        SettingsFile::Result r = SettingsFile::read_settings(text, in);
        EXPECT_TRUE(r.done);
        EXPECT_TRUE(r.messages.empty());
        GeneralSettings expected = out;
        expected.ShareLogin = "kept";
        expected.SharePassword = "kept too";
        EXPECT_TRUE(in == expected) << text;
        EXPECT_EQ(in.EncodingPassword, password);
    }
}

TEST(SettingsFileText, SetsComeBackAsTheyWereInTheirOrder) {
    BackupSetTable table;
    for (const char* name : {"Nightly", "a=b [x]", " Weekly "}) {
        auto s = std::make_unique<BackupSet>();
        fill(*s, 2);
        s->Name = name;
        s->ExecuteOnSuccess = "/bin/mail -s done\\nobody";  // a backslash before "n"
        table.add(std::move(s));
    }
    std::string text;
    for (const BackupSet& s : table) text += SettingsFile::set_text(s);
    EXPECT_NE(text.find("\nExecuteOnSuccess=\"/bin/mail -s done\\\\nobody\"\n"), std::string::npos);

    BackupSetTable in;
    SettingsFile::Result r = SettingsFile::read_sets(text, in);
    ASSERT_TRUE(r.done);
    ASSERT_EQ(in.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(in[i], table[i]);
}

TEST(SettingsFileText, HandEditsReadAsTheSyntaxSays) {
    GeneralSettings g;
    std::string text =
        "\xEF\xBB\xBF  ; kept by hand\r\n"
        "\r\n"
        "[settings]\r\n"
        "  keepnlogs =  12 apples  \r\n"
        "MailOldLog=yes\r\n"
        "SmartLocking = n\r\n"
        "ClickAction=show STATUS\r\n"
        "FileLockLevel=Nonsense\r\n"
        "CycleLogDays=none\r\n"
        "LogFilePath = \"/var/log/my logs  \"   \r\n"
        "MailLogEmail=a\\b\\\\c\\nd\r\n"
        "Colour=blue\r\n"
        "[Other]\r\n"
        "SMTPHost=mail:2525";  // no line end at the end of the file
    g.FileLockLevel = 2;
    SettingsFile::Result r = SettingsFile::read_settings(text, g);
    EXPECT_TRUE(r.done);
    EXPECT_EQ(g.KeepNLogs, 12);
    EXPECT_FALSE(g.MailOldLog);  // only "Y" is on
    EXPECT_FALSE(g.SmartLocking);
    EXPECT_EQ(g.ClickAction, 3);
    EXPECT_EQ(g.FileLockLevel, 0);
    EXPECT_EQ(g.CycleLogDays, 0);
    EXPECT_EQ(g.LogFilePath, "/var/log/my logs  ");
    EXPECT_EQ(g.MailLogEmail, "a\\b\\c\r\nd");
    EXPECT_EQ(g.SMTPHost, "mail:2525");
    EXPECT_EQ(g.WaitForLock, 1);  // not in the file: left as it was
    std::vector<EditorMessage> expected = {
        {"Unknown parameter 'Colour'", "Load Error", EditorMessage::Icon::Exclamation},
        {"Unknown parameter '[Other]'", "Load Error", EditorMessage::Icon::Exclamation}};
    EXPECT_EQ(r.messages, expected);

    BackupSet s;
    BackupSetTable t;
    r = SettingsFile::read_sets("[A]\nEnabled=yes\nBackupType=differential\n", t);
    ASSERT_TRUE(r.done);
    EXPECT_FALSE(t[0].Enabled);
    EXPECT_EQ(t[0].BackupType, 2);
    EXPECT_EQ(t[0].CyclesToSave, s.CyclesToSave);  // the record's default
}

TEST(SettingsFileText, AFileOfTheWrongKindChangesNothing) {
    GeneralSettings g;
    g.KeepNLogs = 9;
    for (const char* text : {"KeepNLogs=3\n[SETTINGS]\n", "[Nightly]\nKeepNLogs=3\n"}) {
        SettingsFile::Result r = SettingsFile::read_settings(text, g);
        EXPECT_FALSE(r.done);
        ASSERT_EQ(r.messages.size(), 1u);
        EXPECT_EQ(r.messages[0].text, "Missing required section '[SETTINGS]'");
        EXPECT_EQ(r.messages[0].icon, EditorMessage::Icon::Stop);
    }
    EXPECT_FALSE(SettingsFile::read_settings("; only a comment\n", g).done);
    EXPECT_EQ(g.KeepNLogs, 9);

    BackupSetTable t;
    SettingsFile::Result r = SettingsFile::read_sets("BackupType=Full\n[Nightly]\n", t);
    EXPECT_FALSE(r.done);
    EXPECT_EQ(r.messages, (std::vector<EditorMessage>{
                              {"Missing Set Name line", "Load Error", EditorMessage::Icon::Stop}}));
    EXPECT_TRUE(t.empty());
}

class SettingsFiles : public test::ScratchTest {};

TEST_F(SettingsFiles, ASetOfAKnownNameReplacesItAndTheOthersStay) {
    GeneralSettings g;
    for (const char* name : {"Daily", "Nightly", "Weekly"}) {
        auto s = std::make_unique<BackupSet>();
        s->Name = name;
        s->BackupDestination = std::string("/old/") + name;
        g.backup_sets().add(std::move(s));
    }
    std::string file =
        write_file("in.BST", "[NIGHTLY]\r\nBackupDestination=\"/new\"\r\n\r\n[Extra]\r\n");
    SettingsFile::Result r = SettingsFile::import_sets(file, g.backup_sets());
    ASSERT_TRUE(r.done);
    const BackupSetTable& t = g.backup_sets();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].BackupDestination, "/old/Daily");
    EXPECT_EQ(t[1].Name, "NIGHTLY");
    EXPECT_EQ(t[1].BackupDestination, "/new");
    EXPECT_EQ(t[2].BackupDestination, "/old/Weekly");
    EXPECT_EQ(t[3].Name, "Extra");
}

TEST_F(SettingsFiles, FilesAreTextWrittenWholeAndASettingsFileIsPrivate) {
    GeneralSettings g;
    g.EncodingPassword = "secret";
    std::string file = path("out.INI");
    ASSERT_TRUE(SettingsFile::export_settings(file, g).done);
    std::string text = read_file(file);
    EXPECT_TRUE(text.starts_with("[SETTINGS]\r\nWriteLogsToFile=Y\r\n"));
    EXPECT_TRUE(text.ends_with("\r\nFromEmail=\r\n"));
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);

    // No sets: a message and no file.
    SettingsFile::Result r = SettingsFile::export_all_sets(path("none.BST"), g.backup_sets());
    EXPECT_FALSE(r.done);
    EXPECT_EQ(r.messages, std::vector<EditorMessage>{SettingsFile::no_sets_message()});
    EXPECT_FALSE(std::filesystem::exists(path("none.BST")));

    // A folder that is not there: an error, and the file already at the
    // target stays whole.
    auto set = std::make_unique<BackupSet>();
    set->Name = "Nightly";
    g.backup_sets().add(std::move(set));
    r = SettingsFile::export_all_sets(path("missing/out.BST"), g.backup_sets());
    EXPECT_FALSE(r.done);
    EXPECT_NE(r.error.find("missing/"), std::string::npos) << r.error;

    // A file that cannot be read whole imports nothing.
    r = SettingsFile::import_settings(scratch(), g);
    EXPECT_FALSE(r.done);
    EXPECT_NE(r.error.find("Can't read"), std::string::npos) << r.error;
    r = SettingsFile::import_sets(path("nothing.BST"), g.backup_sets());
    EXPECT_FALSE(r.done);
    EXPECT_NE(r.error.find("Can't open"), std::string::npos) << r.error;
    EXPECT_EQ(g.backup_sets().size(), 1u);
}

}  // namespace
}  // namespace vardel
