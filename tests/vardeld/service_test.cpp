// The service as a process: start-up checks, the two modes, the reload
// signal, scheduled starts, --run and mail through a real SMTP server.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>

#include "common/general_settings.h"
#include "common/ini_document.h"
#include "common/pipe_record.h"
#include "common/registry.h"
#include "common/suite_names.h"
#include "pipeclient/control_client.h"
#include "platform/named_event.h"
#include "platform/registry.h"
#include "tests/support/running_service.h"
#include "tests/support/smtp_server.h"

namespace vardel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Vardeld : public test::ServiceTest {
  protected:
    // A set backing up src/ (of the scratch folder) into dest/<name>/.
    BackupSet make_set(const std::string& name) {
        std::filesystem::create_directories(path("src"));
        BackupSet s;
        s.Name = name;
        s.BackupDestination = path("dest/" + name);
        s.BackupDirs = path("src");
        s.BackuDestinationType = DESTINATION_DIRECTORY;
        s.IntervalType = INTERVAL_ON_DEMAND;
        return s;
    }
    void change_settings(const std::function<void(GeneralSettings&)>& fn) {
        GeneralSettings g;
        g.load();
        fn(g);
        g.save();
    }
    void product_value(const char* name, const std::string& text) {
        auto key = registry::open_key(registry::Root::LocalMachine, kProductKey);
        ASSERT_TRUE(key);
        registry::write_text(*key, name, text);
    }
    void product_number(const char* name, int32_t n) {
        auto key = registry::open_key(registry::Root::LocalMachine, kProductKey);
        ASSERT_TRUE(key);
        registry::write_number(*key, name, n);
    }
};

TEST_F(Vardeld, StopsAtStartWithoutItsInstallationValues) {
    product_value(kInstallDirValue, "");
    auto r = run_vardeld({"-i"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(log_text().find("ERROR     Can't find InstallDir in registry\r\n"
                              "ERROR     Could not do program inits\r\n"),
              std::string::npos)
        << log_text();

    product_value(kInstallDirValue, "/opt/vardel");
    product_number(kServerPortValue, 0);
    r = run_vardeld({"-i"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(log_text().find("Can't find ServerPort in registry"), std::string::npos);
}

TEST_F(Vardeld, RunsInteractivelyAndLogsItsStartAndEnd) {
    start_vardeld({"-I"});
    ASSERT_TRUE(wait_for_socket()) << service_output();
    EXPECT_EQ(shut_down(), 0);
    std::string log = log_text();
    EXPECT_NE(log.find("DEBUG     Start as Interactive\r\n"), std::string::npos);
    EXPECT_NE(log.find("INFO      Vardeld started  "), std::string::npos);
    EXPECT_NE(log.find("INFO      Running as "), std::string::npos);
    EXPECT_NE(log.find("INFO      Vardeld shut down  "), std::string::npos);
    // Interactively every line is on standard output too.
    EXPECT_NE(service_output().find("Vardeld started"), std::string::npos);
}

TEST_F(Vardeld, ServiceModeReportsToSystemdAndStopsOnSigterm) {
    std::string notify = path("notify.sock");
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", notify.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    timeval tv{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    auto next = [&] {
        char buf[512];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    };
    start_vardeld({}, {"NOTIFY_SOCKET=" + notify});
    std::string got;
    while (got.find("READY=1") == std::string::npos) {
        std::string m = next();
        ASSERT_FALSE(m.empty()) << service_output();
        got += m + "\n";
    }
    signal_service(SIGTERM);
    while (got.find("STOPPING=1") == std::string::npos) {
        std::string m = next();
        ASSERT_FALSE(m.empty());
        got += m + "\n";
    }
    EXPECT_EQ(wait_for_exit(), 0);
    ::close(fd);
    std::string log = log_text();
    EXPECT_NE(log.find("Start as Service"), std::string::npos);
    EXPECT_NE(log.find("Service control stop"), std::string::npos);
    EXPECT_NE(log.find("Vardeld shut down"), std::string::npos);
    EXPECT_TRUE(service_output().empty()) << "service mode prints nothing: " << service_output();
}

TEST_F(Vardeld, APulseOfTheReloadEventReloadsTheSettings) {
    ASSERT_TRUE(start_service());
    make_set("Added").save();
    platform::NamedEvent reload(kReloadEventName);
    reload.pulse();
    ASSERT_TRUE(test::wait_until([&] {
        return log_text().find("Reload settings") != std::string::npos;
    })) << log_text();
    EXPECT_EQ(shut_down(), 0);
}

TEST_F(Vardeld, StartsADueSetByItselfAndQueuesItForTheNextDay) {
    time_t now = ::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    int seconds_of_day = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    if (seconds_of_day > 86400 - 30) GTEST_SKIP() << "too close to midnight";
    write_file("src/a.txt", "due");
    BackupSet s = make_set("Soon");
    s.IntervalType = INTERVAL_DAILY;
    s.StartTime = seconds_of_day + 3;
    s.save();
    ASSERT_TRUE(start_service());
    ASSERT_TRUE(test::wait_until(
        [&] { return log_text().find("Backup Soon completed") != std::string::npos; }, 30s))
        << log_text();
    EXPECT_EQ(shut_down(), 0);
    std::string log = log_text();
    EXPECT_NE(log.find("Starting backup Soon. Send message"), std::string::npos);
    // Queued again: the second "Schedule set" line names tomorrow.
    size_t first = log.find("Schedule set 'Soon' for");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find("Schedule set 'Soon' for", first + 1), std::string::npos);
    EXPECT_TRUE(fs::exists(path("dest/Soon/B1_1.SAF")));
}

// The same through a faked clock (libfaketime, as a user would run it to
// try a schedule): the service's every "now" follows it, and a day-crossing
// re-queue names the next day.
TEST_F(Vardeld, FollowsAFakedClockFromOutside) {
    const char* lib = "/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1";
    if (!fs::exists(lib)) GTEST_SKIP() << "libfaketime is not installed";
    write_file("src/a.txt", "due");
    BackupSet s = make_set("Night");
    s.IntervalType = INTERVAL_DAILY;
    s.StartTime = 3600;  // 01:00
    s.save();
    start_vardeld({"-i"},
                  {std::string("LD_PRELOAD=") + lib, "FAKETIME=@2031-03-10 00:59:56", "TZ=UTC"});
    ASSERT_TRUE(wait_for_socket()) << service_output();
    ASSERT_TRUE(test::wait_until(
        [&] { return log_text().find("Backup Night completed") != std::string::npos; }, 30s))
        << log_text();
    EXPECT_EQ(shut_down(), 0);
    std::string log = log_text();
    EXPECT_NE(log.find("Schedule set 'Night' for  Mon Mar 10 2031 01:00:00"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Schedule set 'Night' for  Tue Mar 11 2031 01:00:00"), std::string::npos)
        << log;
}

// A backup that does not end within the grace of a stop (here a
// before-start command that ignores the abort) cannot be ended safely: the
// process ends instead, its log complete.
TEST_F(Vardeld, AStopThatTheBackupOutlastsEndsTheProcessWithItsLogWritten) {
    write_file("src/a.txt", "a");
    BackupSet s = make_set("Stubborn");
    s.ExecuteBeforeStart = "touch '" + path("started") + "'; sleep 8";
    s.save();
    ASSERT_TRUE(start_service());
    ControlClient::send_once(PIPE_RUN_SET, "Stubborn");
    ASSERT_TRUE(test::wait_until([&] { return fs::exists(path("started")); }, 20s));
    EXPECT_EQ(shut_down(), 0);
    std::string log = log_text();
    EXPECT_NE(log.find("Thread wait timed out in StopService"), std::string::npos) << log;
    EXPECT_NE(log.find("Vardeld shut down"), std::string::npos) << log;
    EXPECT_EQ(log.find("Backup Stubborn completed"), std::string::npos) << log;
}

TEST_F(Vardeld, RunOnceExitsWithTheResult) {
    write_file("src/a.txt", "a");
    make_set("Nightly").save();
    BackupSet broken = make_set("Broken");
    broken.BackupDirs = path("nowhere");
    broken.save();
    BackupSet slow = make_set("Slow");
    slow.ExecuteBeforeStart = "touch '" + path("started") + "'; sleep 3";
    slow.save();

    auto ok = run_vardeld({"--run", "Nightly"});
    EXPECT_EQ(ok.exit_code, 0) << ok.out << ok.err;
    EXPECT_NE(ok.out.find("Backup Nightly completed"), std::string::npos);
    // The log names every file saved: its owner's (and the control group's) alone.
    EXPECT_EQ(fs::status(path("logs/LOG_0.txt")).permissions() & fs::perms::others_all,
              fs::perms::none);
    auto failed = run_vardeld({"--run", "Broken"});
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_NE(failed.err.find("Backup aborted due to internal error (Couldn't find path " +
                              path("nowhere") + ")"),
              std::string::npos);
    auto missing = run_vardeld({"--run", "Nobody"});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("Specified backup name (Nobody) not found"), std::string::npos);
    auto unnamed = run_vardeld({"--run"});
    EXPECT_EQ(unnamed.exit_code, 2);
    EXPECT_NE(unnamed.err.find("--run needs the name of a backup set"), std::string::npos);
    // A shell sees what a user acts on; -v (and the log) every line.
    EXPECT_EQ(ok.out.find("Save " + path("src/a.txt")), std::string::npos) << ok.out;
    auto verbose = run_vardeld({"--run", "Nightly", "-v"});
    EXPECT_NE(verbose.out.find("Save " + path("src/a.txt")), std::string::npos) << verbose.out;

    start_vardeld({"--run", "Slow"});
    ASSERT_TRUE(test::wait_until([&] { return fs::exists(path("started")); }, 20s));
    signal_service(SIGTERM);
    EXPECT_EQ(wait_for_exit(), 2);
    EXPECT_NE(service_output().find("Backup aborted by user request"), std::string::npos);
}

// One value of the wrong type in one set leaves that set out with an ALERT
// naming it; the others run, and the service starts.
TEST_F(Vardeld, ASetWithAMistypedValueIsLeftOutAndTheOthersRun) {
    write_file("src/a.txt", "a");
    make_set("Good").save();
    make_set("Bad").save();
    auto key = registry::open_key(registry::Root::LocalMachine,
                                  registry::join_path(kBackupSetsKey, "Bad"));
    ASSERT_TRUE(key);
    registry::write_text(*key, "StartTime", "ten");
    auto r = run_vardeld({"--run", "Good"});
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Backup set 'Bad' is left out until it is mended: Invalid type in "
                         "registry key 'StartTime'"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Backup Good completed"), std::string::npos) << r.out;
}

// A store that is no database, cut short, with a damaged header, or a folder
// in its place: the service says so once and ends with 1. The log cannot be
// written (its name comes from the store), and reading the store for it
// must not go round and round until the stack runs out.
TEST_F(Vardeld, ADamagedStoreIsReportedOnceAndEndsTheService) {
    std::string whole;
    {
        auto copy =
            platform::RegistryStore::open(path("copy/registry.db"), platform::StoreScope::Root);
        auto k = platform::RegistryKey::create(copy, platform::RegistryRoot::LocalMachine,
                                               "software\\x");
        for (int i = 0; i < 100; ++i) k.set_sz("v" + std::to_string(i), std::string(300, 'v'));
    }
    whole = read_file(path("copy/registry.db"));
    ASSERT_GT(whole.size(), 8192u);
    std::string header = whole;
    header.replace(0, 100, std::string(100, '\x5a'));
    std::string random(8192, '\0');
    for (size_t i = 0; i < random.size(); ++i)
        random[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::string db = path("root/registry.db");
    const std::vector<std::string> forms = {random, whole.substr(0, 5000), header, "folder"};
    for (const std::string& form : forms) {
        for (const char* side : {"", "-wal", "-shm"}) fs::remove_all(db + side);
        if (form == "folder")
            fs::create_directories(db);
        else
            test::write_whole_file(db, form);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"--run", "Nightly"}, std::vector<std::string>{"-i"}}) {
            auto r = run_vardeld(args);
            EXPECT_EQ(r.signal, 0) << args[0];
            EXPECT_EQ(r.exit_code, 1) << args[0] << " " << r.err;
            const std::string said = "The settings store " + db + " is damaged: ";
            size_t at = r.err.find(said);
            EXPECT_NE(at, std::string::npos) << r.err;
            EXPECT_EQ(r.err.find(said, at + 1), std::string::npos) << r.err;
        }
    }
}

// A real SMB share: Samba's smbd serving a scratch folder on loopback, the
// service mounting it with mount.cifs as the share user and backing up into
// it. Needs root, a kernel with the cifs file system and smbd
// (`scripts/install-deps shares`); where any is missing it skips and says so.
TEST_F(Vardeld, BacksUpIntoARealSambaShare) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a share needs root";
    std::string smbd;
    for (const char* p : {"/usr/sbin/smbd", "/usr/bin/smbd"})
        if (fs::exists(p)) smbd = p;
    if (smbd.empty()) GTEST_SKIP() << "smbd is not installed (scripts/install-deps shares)";
    std::string x = path("samba");
    for (const char* d : {"private", "lock", "state", "cache", "pid", "ncalrpc", "exported"})
        fs::create_directories(x + "/" + d);
    std::string conf =
        write_file("samba/smb.conf",
                   "[global]\n"
                   "  interfaces = lo\n  bind interfaces only = yes\n  smb ports = 445\n"
                   "  private dir = " +
                       x + "/private\n  lock directory = " + x +
                       "/lock\n"
                       "  state directory = " +
                       x + "/state\n  cache directory = " + x +
                       "/cache\n"
                       "  pid directory = " +
                       x + "/pid\n  ncalrpc dir = " + x +
                       "/ncalrpc\n"
                       "  log file = " +
                       x + "/log.smbd\n  passdb backend = tdbsam:" + x +
                       "/private/passdb.tdb\n"
                       "  load printers = no\n  disable spoolss = yes\n"
                       "[backups]\n  path = " +
                       x + "/exported\n  read only = no\n  valid users = root\n");
    const std::string password = "Share-Pa55";
    auto added = test::run_program({"/usr/bin/smbpasswd", "-c", conf, "-s", "-a", "root"}, {},
                                   password + "\n" + password + "\n");
    if (added.exit_code != 0) GTEST_SKIP() << "smbpasswd failed: " << added.err;
    test::BackgroundProcess server({smbd, "--foreground", "--no-process-group", "-s", conf}, {},
                                   path("samba/smbd.out"));
    bool listening = test::wait_until(
        [] {
            int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(445);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(fd);
            return ok;
        },
        20s);
    if (!listening)
        GTEST_SKIP() << "smbd did not listen on 127.0.0.1:445: " << read_file(x + "/log.smbd");

    write_file("src/a.txt", "to the share");
    BackupSet s = make_set("Remote");
    s.BackupDestination = "//127.0.0.1/backups/pc1";
    s.save();
    change_settings([&](GeneralSettings& g) {
        g.ShareLogin = "root";
        g.SharePassword = password;
    });
    auto run = run_vardeld({"--run", "Remote"});
    std::string mount_point = path("root/run/shares/127.0.0.1/backups");
    if ((run.out + run.err).find("-- Error 19:") != std::string::npos)
        GTEST_SKIP() << "the kernel has no cifs file system: " << run.err;
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_TRUE(fs::exists(x + "/exported/pc1/BACKUP.INI")) << run.out;
    EXPECT_EQ((run.out + run.err).find(password), std::string::npos);
    test::run_program({"/bin/umount", "-l", mount_point});
}

// The destination's record must give back the set's name exactly, or the
// second run would take the folder for another set's.
TEST_F(Vardeld, NamesWithOddBlanksAndQuotesBackUpRunAfterRun) {
    write_file("src/a.txt", "a");
    for (std::string name : {"My  Docs", "Nightly ", "\"Quoted\" set"}) {
        make_set(name).save();
        for (int run = 1; run <= 2; ++run) {
            write_file("src/a.txt", "change " + std::to_string(run));
            auto r = run_vardeld({"--run", name});
            EXPECT_EQ(r.exit_code, 0) << name << " run " << run << "\n" << r.out << r.err;
        }
    }
}

// The record says whether the files were encoded: asked for without a
// password, they were not, and a restore must not decode them.
TEST_F(Vardeld, TheRecordSaysEncodedOnlyWhenAPasswordWasThere) {
    write_file("src/a.txt", "secret");
    BackupSet s = make_set("Coded");
    s.PasswordEncode = true;
    s.save();
    auto plain = run_vardeld({"--run", "Coded"});
    ASSERT_EQ(plain.exit_code, 0) << plain.out << plain.err;
    IniDocument first;
    ASSERT_TRUE(first.load(path("dest/Coded/BACKUP.INI")));
    EXPECT_EQ(first.get_number("BACKUPSET", "ENCODE"), 0);

    change_settings([](GeneralSettings& g) { g.EncodingPassword = "pw"; });
    s.BackupType = BACKUP_FULL;
    s.save();
    auto coded = run_vardeld({"--run", "Coded"});
    ASSERT_EQ(coded.exit_code, 0) << coded.out << coded.err;
    IniDocument second;
    ASSERT_TRUE(second.load(path("dest/Coded/BACKUP.INI")));
    EXPECT_EQ(second.get_number("BACKUPSET", "ENCODE"), 1);
}

TEST_F(Vardeld, MailsCompletionReportsAndCycledLogs) {
    test::SmtpServer smtp(path("smtp"));
    ASSERT_TRUE(smtp.ok()) << smtp.why_not();
    write_file("src/a.txt", "a");
    make_set("Nightly").save();
    BackupSet broken = make_set("Broken");
    broken.BackupDirs = path("nowhere");
    broken.save();
    change_settings([&](GeneralSettings& g) {
        g.SMTPHost = smtp.host();
        g.FromEmail = "vardel@example.org";
        g.SendEmailOnCompletion = true;
        g.CompletionEmail = "ops@example.org";
        g.MailOldLog = true;
        g.MailLogEmail = "logs@example.org";
        g.CycleLogSize = 0;  // every log is too large: cycle after each run
    });

    EXPECT_EQ(run_vardeld({"--run", "Nightly"}).exit_code, 0);
    EXPECT_EQ(run_vardeld({"--run", "Broken"}).exit_code, 1);
    auto mails = smtp.messages();
    ASSERT_EQ(mails.size(), 4u);
    auto find = [&](const std::string& a, const std::string& b) {
        for (const auto& m : mails)
            if (m.find(a) != std::string::npos && m.find(b) != std::string::npos) return m;
        return std::string();
    };
    std::string done = find("Subject: Backup 'Nightly'", "ops@example.org");
    ASSERT_FALSE(done.empty());
    EXPECT_NE(done.find("Backup Completed "), std::string::npos);
    EXPECT_NE(done.find("Duration: "), std::string::npos);
    EXPECT_NE(done.find("1 files scanned, 1 saved"), std::string::npos);
    std::string failed = find("Subject: Backup 'Broken'", "Couldn't find path");
    EXPECT_FALSE(failed.empty());
    std::string cycled = find("Subject: Completed Log", "logs@example.org");
    ASSERT_FALSE(cycled.empty());
    EXPECT_NE(cycled.find("Start backup set 'Nightly'"), std::string::npos);
    // The new log started empty: the first run's lines are only in the mail.
    EXPECT_EQ(read_file(path("logs/LOG_1.txt")).find("Start backup set 'Nightly'"),
              std::string::npos);

    // Without a sender nothing goes out, and the log says why.
    change_settings([](GeneralSettings& g) { g.FromEmail.clear(); });
    auto unsent = run_vardeld({"--run", "Nightly"});
    EXPECT_EQ(unsent.exit_code, 0);
    EXPECT_NE(
        (unsent.out + unsent.err).find("Sendmail failed: No sender address (FromEmail) is set"),
        std::string::npos)
        << unsent.out << unsent.err;
    EXPECT_EQ(smtp.messages().size(), 4u);
}

// A mail server that takes the connection and never says a word keeps the
// log's mailing thread busy for a minute: the service answers all the same.
TEST_F(Vardeld, AnswersStatusWhileTheOldLogIsStillBeingMailed) {
    int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&at), len), 0);
    ASSERT_EQ(::listen(silent, 4), 0);  // the kernel accepts; nobody answers
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&at), &len), 0);
    write_file("src/a.txt", "a");
    make_set("Nightly").save();
    change_settings([&](GeneralSettings& g) {
        g.SMTPHost = "127.0.0.1:" + std::to_string(ntohs(at.sin_port));
        g.FromEmail = "vardel@example.org";
        g.MailOldLog = true;
        g.MailLogEmail = "logs@example.org";
        g.CycleLogSize = 0;  // every log is too large: cycle after each run
    });
    ASSERT_TRUE(start_service()) << service_output();
    test::CollectingClient notices(test::CollectingClient::Asks::Register);
    ASSERT_TRUE(notices.connected());

    for (int run = 0; run < 2; ++run) {
        size_t from = notices.size();
        ControlClient::send_once(PIPE_RUN_SET, "Nightly");
        ASSERT_TRUE(notices.wait_for(PIPE_BACKUP_COMPLETED, "Nightly", from));
    }
    // Well within the minute the mailer waits for a greeting.
    ControlClient c("broken");
    ASSERT_TRUE(c.connect());
    ASSERT_TRUE(c.queue_message(PIPE_SINGLE_STATUS));
    PipeRecord answer;
    ASSERT_EQ(c.read_record(answer, 3s), ControlClient::ReadResult::Record) << service_output();
    EXPECT_EQ(answer.code, PIPE_STATUS);
    ::close(silent);  // the mailer fails at once, and the service can end
}

// A run killed while it clears the slot it will fill: "BACKUP.INI" forgot
// the backup being deleted before its first file went, so it never names a
// backup that is gone; the next run mends the rest.
TEST_F(Vardeld, AKillWhileASlotIsClearedLeavesNoRecordOfTheDeletedBackup) {
    const int files = 1000;
    for (int i = 0; i < files; ++i)
        write_file("src/d" + std::to_string(i / 100) + "/f" + std::to_string(i), "x");
    BackupSet s = make_set("Copies");
    s.SaveFormat = SAVE_DISCRETE;
    s.BackupsPerCycle = 1;  // every run clears B1_1 first
    s.CyclesToSave = 1;
    s.save();
    ASSERT_EQ(run_vardeld({"--run", "Copies"}).exit_code, 0);
    std::string copies = path("dest/Copies/B1_1"), ini = path("dest/Copies/BACKUP.INI");
    auto count = [&] {
        return std::distance(fs::recursive_directory_iterator(copies), {}) - 10;  // the folders
    };
    ASSERT_EQ(count(), files);
    int in = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(in, copies.c_str(), IN_DELETE);
    for (const auto& e : fs::directory_iterator(copies))
        ::inotify_add_watch(in, e.path().c_str(), IN_DELETE);
    start_vardeld({"--run", "Copies"});
    pollfd p{in, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 30000), 1) << "no file of the slot was deleted";
    signal_service(SIGKILL);
    wait_for_exit();
    ::close(in);
    EXPECT_LT(count(), files);
    IniDocument st;
    ASSERT_TRUE(st.load(ini));
    EXPECT_EQ(st.get_text("BACKUPSET", "BACKUPINSTANCE_1_1"), "");
    ASSERT_EQ(run_vardeld({"--run", "Copies"}).exit_code, 0);
    EXPECT_EQ(count(), files);
    ASSERT_TRUE(st.load(ini));
    EXPECT_NE(st.get_text("BACKUPSET", "BACKUPINSTANCE_1_1"), "");
}

// Run by an ordinary user, a backup meets a file it may not read, a folder
// it may not list and one it may list but not enter: each is named with its
// reason, the report counts them, and the run exits 3 ("completed, but files
// were not saved"), never 0.
TEST_F(Vardeld, WhatAnOrdinaryUserCannotReadIsNamedAndCounted) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody || !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs root, the account nobody and setpriv to run as another user";
    write_file("src/open.txt", "o");
    std::string secret = write_file("src/secret.txt", "s");
    write_file("src/closed/x.txt", "x");
    std::string peek = write_file("src/peek/y.txt", "y");
    ::chmod(secret.c_str(), 0600);
    ::chmod(path("src/closed").c_str(), 0700);
    ::chmod(path("src/peek").c_str(), 0744);
    make_set("Mine").save();
    // The store, the run folder, the logs and the destination are nobody's,
    // as a user's own would be; the sources stay root's.
    ::chmod(scratch().c_str(), 0755);
    fs::create_directories(path("dest/Mine"));
    for (const char* own : {"root", "logs", "dest"})
        for (const auto& e : fs::recursive_directory_iterator(path(own)))
            ASSERT_EQ(::lchown(e.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    for (const char* own : {"root", "logs", "dest"})
        ASSERT_EQ(::chown(path(own).c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    auto r = test::run_program({"/usr/bin/setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                                "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups",
                                test::program_path("vardeld"), "--run", "Mine"});
    EXPECT_EQ(r.exit_code, 3) << r.out << r.err;
    for (const std::string& p : {secret, path("src/closed"), peek})
        EXPECT_NE(r.out.find("Could not save " + p + ": Permission denied"), std::string::npos)
            << p << "\n"
            << r.out;
    EXPECT_NE(r.out.find("Backup 'Mine' completed, but 3 files could not be saved"),
              std::string::npos)
        << r.out;
    EXPECT_NE(log_text().find("Backup 'Mine' completed, but 3 files could not be saved"),
              std::string::npos);
}

}  // namespace
}  // namespace vardel
