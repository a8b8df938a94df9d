// vardelgo NAME: the name as a command line gives it, matched against the
// stored sets, and the run request through a real service.
#include <gtest/gtest.h>

#include "common/general_settings.h"
#include "tests/support/running_service.h"
#include "vardelgo/manual_start.h"

namespace vardel {
namespace {

using test::CollectingClient;

TEST(ManualStartName, QuotesAndBlanksAreStrippedAsACommandLineGivesThem) {
    auto name = ManualStart::name_from_command_line;
    EXPECT_EQ(name("  \"My Set\"  "), "My Set");
    EXPECT_EQ(name("\"My Set"), "My Set");
    EXPECT_EQ(name("  my set \t"), "my set");
    EXPECT_EQ(name("My Set\""), "My Set\"");  // unquoted: a final quote is part of the name
    EXPECT_EQ(name("\"\""), "");
    EXPECT_EQ(name("   "), "");
    EXPECT_EQ(name(""), "");
    EXPECT_EQ(ManualStart::join_arguments({"My", "Set"}), "My Set");
}

class Vardelgo : public test::ServiceTest {
  protected:
    // Without a display, as from a shell on a server.
    test::ChildResult go(std::vector<std::string> args) {
        args.insert(args.begin(), test::program_path("vardelgo"));
        return test::run_program(args, {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
    }
};

TEST_F(Vardelgo, FindsTheSetWithoutRegardToCaseAndSendsItsStoredName) {
    add_set("Other", 0);
    add_set("My Set", 0);
    GeneralSettings g;
    g.load();
    std::vector<std::string> sent;
    ManualStart start(g.backup_sets(), [&](const std::string& n) { sent.push_back(n); });
    std::string message;
    EXPECT_EQ(start.start_from_command_line("mY sET", message), ManualStart::Outcome::Sent);
    EXPECT_EQ(sent, std::vector<std::string>{"My Set"});
    EXPECT_EQ(start.start_from_command_line("My Se", message), ManualStart::Outcome::NotFound);
    EXPECT_EQ(message, "Specified backup name (My Se) not found");
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(Vardelgo, AQuotedNameInOtherCaseStartsTheSet) {
    add_set("My Set", 2);
    ASSERT_TRUE(start_service()) << service_output();
    CollectingClient follower(CollectingClient::Asks::Register);
    ASSERT_TRUE(follower.connected());

    test::ChildResult r = go({" \"my SET\" "});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(follower.wait_for(PIPE_BACKUP_STARTING, "My Set"));
    EXPECT_TRUE(follower.wait_for(PIPE_BACKUP_COMPLETED, "My Set"));

    // Unquoted words are one name too.
    r = go({"MY", "set"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    size_t from = follower.size();
    EXPECT_TRUE(follower.wait_for(PIPE_BACKUP_COMPLETED, "My Set", from));
}

TEST_F(Vardelgo, AnUnknownNameOrAMissingServiceIsReported) {
    add_set("My Set", 1);
    test::ChildResult r = go({"My Set"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Couldn't open connection to service\n");

    ASSERT_TRUE(start_service()) << service_output();
    CollectingClient follower(CollectingClient::Asks::Subscribe);
    r = go({"Nope"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Specified backup name (Nope) not found\n");
    // Nothing reached the service: its next request is the status below.
    size_t from = follower.size();
    follower.send(PIPE_SINGLE_STATUS);
    std::optional<size_t> end =
        follower.wait_for([](const PipeRecord& rec) { return rec.code == PIPE_STATUS; }, from);
    ASSERT_TRUE(end);
    for (const PipeRecord& rec : follower.records())
        EXPECT_EQ(rec.text.find("got wum_message"), std::string::npos) << rec.text;

    EXPECT_EQ(go({}).exit_code, 2);
    EXPECT_EQ(go({"  "}).exit_code, 2);
}

}  // namespace
}  // namespace vardel
