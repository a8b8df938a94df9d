// The logs as the editor shows, opens and cycles them, against a real store,
// real files and a real SMTP server.
#include "vardelcfg/editor_logs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "common/registry.h"
#include "common/suite_names.h"
#include "tests/support/scratch.h"
#include "tests/support/smtp_server.h"

namespace vardel {
namespace {

class EditorLogsTest : public test::ScratchTest {
  protected:
    void SetUp() override {
        test::ScratchTest::SetUp();
        g_.LogFilePath = path("logs");
        g_.KeepNLogs = 3;
        set_current(2);
        write_file("logs/LOG_0.txt", "oldest\r\n");
        write_file("logs/LOG_2.txt", "INFO      Backup Nightly completed\r\n");
    }
    void set_current(int32_t n) {
        auto key = registry::create_key(registry::Root::LocalMachine, kProductKey);
        registry::write_number(*key, kCurrentCycleValue, n);
    }
    int32_t current() {
        auto key = registry::open_key(registry::Root::LocalMachine, kProductKey);
        return registry::read_number(*key, kCurrentCycleValue, -1);
    }
    EditorLogs logs(EditorLogs::Mailer mailer = {}) {
        return EditorLogs(
            g_, registry::current_store(registry::Transaction::Mode::Write),
            [this](const std::string& p) {
                opened_.push_back(p);
                return true;
            },
            std::move(mailer));
    }
    bool exists(const char* rel) { return std::filesystem::exists(path(rel)); }

    GeneralSettings g_;
    std::vector<std::string> opened_;
};

TEST_F(EditorLogsTest, ItemsNameEachKeptLogAndCyclingWrapsAndEmptiesTheNext) {
    std::vector<std::string> items = logs().item_texts();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_TRUE(std::regex_match(items[0], std::regex("Log 0: to [A-Z][a-z]{2} [A-Z][a-z]{2} "
                                                      "[ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}")))
        << items[0];
    EXPECT_EQ(items[1], "Log 1: (not found)");

    EXPECT_EQ(logs().cycle_now(), std::nullopt);
    EXPECT_EQ(current(), 0);
    EXPECT_FALSE(exists("logs/LOG_0.txt"));
    EXPECT_TRUE(exists("logs/LOG_2.txt"));
    EXPECT_EQ(logs().item_texts()[0], "Log 0: (not found)");

    // Fewer logs kept: the rotation wraps earlier.
    g_.KeepNLogs = 1;
    EXPECT_EQ(logs().item_texts().size(), 1u);
    EXPECT_EQ(logs().cycle_now(), std::nullopt);
    EXPECT_EQ(current(), 0);
}

TEST_F(EditorLogsTest, TheCurrentLogIsMailedFirstAndAFailureChangesNothing) {
    g_.MailOldLog = true;
    g_.MailLogEmail = "admin@example.com";
    g_.FromEmail = "vardel@example.com";
    test::SmtpServer server(path("smtp"));
    ASSERT_TRUE(server.ok()) << server.why_not();
    g_.SMTPHost = server.host();

    EXPECT_EQ(logs().cycle_now(), std::nullopt);
    std::vector<std::string> mail = server.messages();
    ASSERT_EQ(mail.size(), 1u);
    EXPECT_NE(mail[0].find("Subject: Completed Log"), std::string::npos) << mail[0];
    EXPECT_NE(mail[0].find("Backup Nightly completed"), std::string::npos) << mail[0];
    EXPECT_EQ(current(), 0);

    // Log 0 is gone now: nothing to mail, nothing moves.
    std::optional<EditorMessage> m = logs().cycle_now();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, "Can't load log for mailing: " + path("logs/LOG_0.txt") + "\n");
    EXPECT_EQ(m->caption, "Log Error");
    EXPECT_EQ(current(), 0);

    // A server that refuses: the same.
    write_file("logs/LOG_0.txt", "text\n");
    g_.FromEmail = "";
    m = logs().cycle_now();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, "Can't mail log " + path("logs/LOG_0.txt") + "\n");
    EXPECT_EQ(current(), 0);
    EXPECT_TRUE(exists("logs/LOG_0.txt"));

    // Mailing off: a missing log does not stop the cycling.
    g_.MailOldLog = false;
    std::filesystem::remove(path("logs/LOG_0.txt"));
    EXPECT_EQ(logs().cycle_now(), std::nullopt);
    EXPECT_EQ(current(), 1);
}

TEST_F(EditorLogsTest, EditOpensTheChosenOrCurrentLogOrSaysWhy) {
    EXPECT_EQ(logs().edit_log(0), std::nullopt);
    EXPECT_EQ(logs().edit_log(std::nullopt), std::nullopt);
    EXPECT_EQ(opened_, (std::vector<std::string>{path("logs/LOG_0.txt"), path("logs/LOG_2.txt")}));

    std::optional<EditorMessage> m = logs().edit_log(1);
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, (EditorMessage{"Log file not found", "Oops", EditorMessage::Icon::Stop}));

    registry::clear_key(*registry::open_key(registry::Root::LocalMachine, "software"));
    m = logs().edit_log(std::nullopt);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text, "Can't get current log number");
    EXPECT_EQ(logs().cycle_now()->text, "Can't open registry entry for Cycle\n");
    EXPECT_EQ(opened_.size(), 2u);
}

}  // namespace
}  // namespace vardel
