#include "common/registry.h"

#include <gtest/gtest.h>

#include "common/my_error.h"
#include "common/suite_names.h"
#include "tests/support/scratch.h"
#include "tests/support/tiny_fs.h"

namespace vardel {
namespace {

class RegistryHelpers : public test::ScratchTest {
  protected:
    void SetUp() override {
        test::ScratchTest::SetUp();
        key_ = registry::create_key(registry::Root::LocalMachine, kProductKey);
        ASSERT_TRUE(key_);
    }
    const registry::Key& key() const { return *key_; }
    std::string stored(std::string_view name) const { return key().get_value(name)->data; }

    std::optional<registry::Key> key_;
};

template <class F>
MyError error_of(F f) {
    try {
        f();
    } catch (const MyError& e) {
        return e;
    }
    return MyError(NO_ERRORS, "no error");
}

TEST_F(RegistryHelpers, PathsJoinWithOneBackslash) {
    EXPECT_EQ(registry::join_path("software\\Brindlecore\\Vardel", "vardelgo"),
              "software\\Brindlecore\\Vardel\\vardelgo");
    EXPECT_EQ(registry::join_path("software\\Brindlecore\\Vardel\\", "vardelgo"),
              "software\\Brindlecore\\Vardel\\vardelgo");
    EXPECT_EQ(registry::join_path("", "software"), "software");
}

TEST_F(RegistryHelpers, MissingValuesGiveTheirDefaults) {
    EXPECT_EQ(registry::read_number(key(), "CycleLogDays", 7), 7);
    EXPECT_EQ(registry::read_text(key(), "LogFilePath", "none"), "none");
    EXPECT_EQ(registry::read_scrambled(key(), "SharePassword", "plain"), "plain");
    EXPECT_FALSE(registry::read_flag(key(), "OnlyStartIfLoggedOff"));
    EXPECT_TRUE(registry::read_flag(key(), "SmartLocking", "y"));
    EXPECT_FALSE(registry::read_flag(key(), "SmartLocking", "Yes"));
    EXPECT_FALSE(registry::open_key(registry::Root::LocalMachine, "software\\nowhere"));
}

TEST_F(RegistryHelpers, AFlagIsTrueExactlyForY) {
    registry::write_flag(key(), "a", true);
    registry::write_flag(key(), "b", false);
    EXPECT_EQ(stored("a"), "Y");
    EXPECT_EQ(stored("b"), "N");
    key().set_sz("lower", "y");
    key().set_sz("word", "Yes");
    key().set_sz("long", std::string(200, 'Y'));
    EXPECT_TRUE(registry::read_flag(key(), "a", "N"));
    EXPECT_FALSE(registry::read_flag(key(), "b", "Y"));
    EXPECT_TRUE(registry::read_flag(key(), "lower", "N"));
    EXPECT_FALSE(registry::read_flag(key(), "word", "Y"));
    // Too long for the stored form's buffer: the default applies.
    EXPECT_TRUE(registry::read_flag(key(), "long", "Y"));
    EXPECT_FALSE(registry::read_flag(key(), "long", "N"));
}

TEST_F(RegistryHelpers, LinesAreStoredWithTabsAndReadBackWithLineBreaks) {
    registry::write_text(key(), "BackupDirs", "/home\r\n/etc\r\n/srv");
    EXPECT_EQ(stored("BackupDirs"), "/home\t/etc\t/srv");
    EXPECT_EQ(registry::read_text(key(), "BackupDirs", ""), "/home\r\n/etc\r\n/srv");
    key().set_sz("raw", "a\tb\t");
    EXPECT_EQ(registry::read_text(key(), "raw", ""), "a\r\nb\r\n");
}

TEST_F(RegistryHelpers, NumbersAreSigned32BitDwords) {
    registry::write_number(key(), "BackupThreadPriority", -2);
    EXPECT_EQ(key().get_value("BackupThreadPriority")->type, platform::REG_DWORD);
    EXPECT_EQ(stored("BackupThreadPriority"), std::string("\xfe\xff\xff\xff", 4));
    EXPECT_EQ(registry::read_number(key(), "backupthreadpriority", 0), -2);
}

TEST_F(RegistryHelpers, AValueOfTheWrongTypeFailsTheRead) {
    registry::write_number(key(), "LogFilePath", 5);
    registry::write_text(key(), "CycleLogDays", "7");
    key().set_value("Blob", platform::REG_BINARY, "Y");
    MyError e = error_of([&] { registry::read_text(key(), "LogFilePath", ""); });
    EXPECT_EQ(e.code(), BAD_DATA);
    EXPECT_STREQ(e.message(), "Invalid type in registry key 'LogFilePath'");
    e = error_of([&] { registry::read_number(key(), "CycleLogDays", 0); });
    EXPECT_STREQ(e.message(), "Invalid type in registry key 'CycleLogDays'");
    e = error_of([&] { registry::read_flag(key(), "Blob", "N"); });
    EXPECT_STREQ(e.message(), "Invalid type in registry key 'Blob'");
    e = error_of([&] { registry::read_scrambled(key(), "CycleLogDays", ""); });
    EXPECT_EQ(e.code(), NO_ERRORS);  // text is the right type for a scrambled text
}

TEST_F(RegistryHelpers, EveryPrintablePasswordRoundTripsAndStoresNoZeroTabOrLineEnd) {
    EXPECT_EQ(registry::scramble(""), "");
    EXPECT_EQ(registry::unscramble(""), "");
    std::string printable;
    for (int c = 32; c <= 126; ++c) printable += static_cast<char>(c);
    // Shifted through all 30 key positions, so every byte meets every key byte.
    for (size_t shift = 0; shift < 30; ++shift) {
        std::string plain = std::string(shift, 'x') + printable;
        std::string s = registry::scramble(plain);
        ASSERT_EQ(s.size(), plain.size());
        for (unsigned char b : s) {
            ASSERT_GE(b, 34);
            ASSERT_LE(b, 247);
        }
        ASSERT_EQ(registry::unscramble(s), plain);
        registry::write_scrambled(key(), "SharePassword", plain);
        ASSERT_EQ(registry::read_scrambled(key(), "SharePassword", ""), plain);
        registry::write_scrambled_as_text(key(), "EncodingPassword", plain);
        ASSERT_EQ(registry::read_scrambled_as_text(key(), "EncodingPassword", ""), plain);
    }
    EXPECT_NE(stored("SharePassword"), printable);  // not kept in the clear
}

TEST_F(RegistryHelpers, APasswordThatWouldReadBackDifferentIsRefusedAndNothingIsStored) {
    registry::write_scrambled(key(), "SharePassword", "old secret");
    for (std::string bad : {std::string("p\xc3\xa4sswort"), std::string("tab\there"),
                            std::string("line\r\n"), std::string("nul\0x", 5)}) {
        MyError e = error_of([&] { registry::write_scrambled(key(), "SharePassword", bad); });
        EXPECT_EQ(e.code(), INVALID_PARAMETERS);
        EXPECT_STREQ(e.message(), "Password contains characters that cannot be stored");
        e = error_of([&] { registry::write_scrambled_as_text(key(), "EncodingPassword", bad); });
        EXPECT_STREQ(e.message(), "Password contains characters that cannot be stored");
        EXPECT_FALSE(registry::can_scramble(bad));
    }
    EXPECT_EQ(registry::read_scrambled(key(), "SharePassword", ""), "old secret");
    EXPECT_FALSE(key().get_value("EncodingPassword"));
}

TEST_F(RegistryHelpers, SubkeysEnumerateUntilTheLastAndClearEmptiesAKey) {
    std::optional<registry::Key> sets =
        registry::create_key(registry::Root::LocalMachine, kBackupSetsKey);
    ASSERT_TRUE(sets);
    registry::create_key(registry::Root::LocalMachine, registry::join_path(kBackupSetsKey, "b"));
    registry::create_key(registry::Root::LocalMachine, registry::join_path(kBackupSetsKey, "A"));
    registry::write_number(*sets, "stray", 1);
    std::string name;
    ASSERT_TRUE(registry::enum_subkey(*sets, 0, name));
    EXPECT_EQ(name, "A");
    ASSERT_TRUE(registry::enum_subkey(*sets, 1, name));
    EXPECT_EQ(name, "b");
    EXPECT_FALSE(registry::enum_subkey(*sets, 2, name));
    registry::clear_key(*sets);
    EXPECT_FALSE(registry::enum_subkey(*sets, 0, name));
    EXPECT_FALSE(sets->get_value("stray"));
}

TEST_F(RegistryHelpers, AWriteOnAFullDiskIsRefusedAndKeepsTheOldValue) {
    // The whole root on a tiny file system of its own.
    test::TinyFs fs(path("tiny"), 512 * 1024);
    if (!fs.ok()) GTEST_SKIP() << fs.why_not();
    setenv("VARDEL_ROOT", fs.dir().c_str(), 1);
    std::optional<registry::Key> k =
        registry::create_key(registry::Root::LocalMachine, kProductKey);
    ASSERT_TRUE(k);
    registry::write_text(*k, "LogFilePath", "/old");
    {
        std::string filler = fs.dir() + "/filler";
        FILE* f = std::fopen(filler.c_str(), "w");
        ASSERT_TRUE(f);
        std::string block(4096, 'f');
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size() &&
               std::fflush(f) == 0) {
        }
        std::fclose(f);
    }
    MyError e = error_of([&] {
        registry::Transaction tx(registry::Transaction::Mode::Write);
        registry::write_text(*k, "LogFilePath", std::string(200000, 'n'));
        tx.commit();
    });
    EXPECT_EQ(e.code(), OPERATION_FAILED);
    EXPECT_STREQ(e.message(), "Could not set registry value");
    EXPECT_EQ(registry::read_text(*k, "LogFilePath", ""), "/old");
    k.reset();
    setenv("VARDEL_ROOT", path("root").c_str(), 1);
    platform::RegistryStore::current();  // let go of the tiny store before it is unmounted
}

}  // namespace
}  // namespace vardel
