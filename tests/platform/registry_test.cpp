#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/child_process.h"
#include "tests/support/scratch.h"

namespace vardel::platform {
namespace {

class Registry : public test::ScratchTest {
  protected:
    std::shared_ptr<RegistryStore> open_store(StoreScope scope = StoreScope::Root) {
        return RegistryStore::open(path("root/registry.db"), scope);
    }
    static RegistryKey make(const std::shared_ptr<RegistryStore>& s, std::string_view p) {
        return RegistryKey::create(s, RegistryRoot::LocalMachine, p);
    }
};

TEST_F(Registry, NamesIgnoreCaseAndKeepTheirSpelling) {
    auto store = open_store();
    RegistryKey k = make(store, "software\\Brindlecore\\Vardel");
    std::optional<RegistryKey> again =
        RegistryKey::open(store, RegistryRoot::LocalMachine, "SOFTWARE\\brindlecore\\VARDEL");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->name(), "Vardel");

    k.set_sz("LogFilePath", "/var/log/vardel");
    std::optional<RegistryValue> v = again->get_value("logfilepath");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->name, "LogFilePath");
    EXPECT_EQ(v->data, "/var/log/vardel");

    // Writing under another spelling replaces the value and takes the new spelling.
    k.set_dword("LOGFILEPATH", 7);
    ASSERT_EQ(k.values().size(), 1u);
    EXPECT_EQ(k.values()[0].name, "LOGFILEPATH");
    EXPECT_EQ(k.values()[0].dword(), 7);

    // Creating under another spelling opens the same key.
    make(store, "Software\\BRINDLECORE\\vardel\\backupsets");
    EXPECT_EQ(k.subkey_names(), std::vector<std::string>{"backupsets"});
}

TEST_F(Registry, SubkeysComeByIndexInCaseInsensitiveOrder) {
    auto store = open_store();
    RegistryKey sets = make(store, "software\\Brindlecore\\Vardel\\backupsets");
    for (const char* name : {"beta", "Alpha", "gamma", "ALPHA2", "_under", "Delta"})
        sets.create_subkey(name);
    std::vector<std::string> seen;
    for (size_t i = 0;; ++i) {
        std::optional<std::string> name = sets.subkey_at(i);
        if (!name) break;
        seen.push_back(*name);
    }
    EXPECT_EQ(seen,
              (std::vector<std::string>{"_under", "Alpha", "ALPHA2", "beta", "Delta", "gamma"}));
    EXPECT_EQ(sets.subkey_names(), seen);
}

TEST_F(Registry, CreateMakesTheMissingKeysAndOpenOfAMissingKeyGivesNone) {
    auto store = open_store();
    EXPECT_FALSE(RegistryKey::open(store, RegistryRoot::LocalMachine, "software\\Brindlecore"));
    RegistryKey deep = make(store, "\\software\\\\Brindlecore\\Vardel\\vardelgo\\");
    EXPECT_EQ(deep.path(), "HKEY_LOCAL_MACHINE\\software\\Brindlecore\\Vardel\\vardelgo");
    EXPECT_TRUE(RegistryKey::open(store, RegistryRoot::LocalMachine, "software\\Brindlecore"));
    // The roots are separate trees.
    EXPECT_FALSE(RegistryKey::open(store, RegistryRoot::CurrentUser, "software"));
    EXPECT_FALSE(deep.open_subkey("nothing"));
}

TEST_F(Registry, DeletingAKeyTakesItsSubkeysAndValuesAlong) {
    auto store = open_store();
    RegistryKey product = make(store, "software\\Brindlecore\\Vardel");
    RegistryKey nightly = product.create_subkey("backupsets\\Nightly");
    nightly.set_sz("BackupDestination", "/backup");
    nightly.create_subkey("deeper\\still").set_dword("x", 1);
    product.set_dword("ServerPort", 2820);

    EXPECT_TRUE(product.delete_subkey("BACKUPSETS"));
    EXPECT_FALSE(product.delete_subkey("backupsets"));
    EXPECT_FALSE(product.open_subkey("backupsets"));
    EXPECT_EQ(product.get_value("ServerPort")->dword(), 2820);
    // A key made again under the old name starts empty.
    RegistryKey again = product.create_subkey("backupsets\\Nightly");
    EXPECT_TRUE(again.values().empty());
    EXPECT_TRUE(again.subkey_names().empty());

    // A handle to a deleted key reads nothing and refuses writes.
    EXPECT_TRUE(product.delete_subkey("backupsets"));
    EXPECT_FALSE(nightly.exists());
    EXPECT_FALSE(nightly.get_value("BackupDestination"));
    try {
        nightly.set_sz("BackupDestination", "/elsewhere");
        FAIL() << "write to a deleted key";
    } catch (const RegistryError& e) {
        EXPECT_EQ(e.kind(), RegistryError::Kind::KeyGone);
    }
}

TEST_F(Registry, ClearRemovesEverySubkeyAndValue) {
    auto store = open_store();
    RegistryKey sets = make(store, "software\\Brindlecore\\Vardel\\backupsets");
    sets.create_subkey("A").set_sz("x", "1");
    sets.create_subkey("B");
    sets.set_sz("", "default");
    sets.clear();
    EXPECT_TRUE(sets.exists());
    EXPECT_TRUE(sets.subkey_names().empty());
    EXPECT_TRUE(sets.values().empty());
}

TEST_F(Registry, TypesAreKeptWithTheirBytes) {
    auto store = open_store();
    RegistryKey k = make(store, "software\\t");
    k.set_dword("minus", -2);
    k.set_value("blob", REG_BINARY, std::string("\x00\x01\xff", 3));
    k.set_sz("text", "1234");
    EXPECT_EQ(k.get_value("minus")->data, std::string("\xfe\xff\xff\xff", 4));
    EXPECT_EQ(k.get_value("minus")->dword(), -2);
    EXPECT_EQ(k.get_value("blob")->type, REG_BINARY);
    EXPECT_EQ(k.get_value("blob")->data, std::string("\x00\x01\xff", 3));
    EXPECT_FALSE(k.get_value("text")->dword());  // four bytes, but not a DWORD
    EXPECT_TRUE(k.delete_value("TEXT"));
    EXPECT_FALSE(k.delete_value("text"));
    EXPECT_EQ(type_name(REG_DWORD), "REG_DWORD");
    EXPECT_EQ(type_name(99), "REG_TYPE_99");
}

TEST_F(Registry, RootNamesParseLongAndShort) {
    EXPECT_EQ(parse_root("HKLM"), RegistryRoot::LocalMachine);
    EXPECT_EQ(parse_root("hkey_current_user"), RegistryRoot::CurrentUser);
    EXPECT_EQ(parse_root("HKCR"), RegistryRoot::ClassesRoot);
    EXPECT_FALSE(parse_root("HKXX"));
}

TEST_F(Registry, AWriteTransactionLandsWholeOrNotAtAll) {
    auto store = open_store();
    RegistryKey k = make(store, "software\\tx");
    {
        RegistryTransaction tx(store, RegistryTransaction::Mode::Write);
        k.set_dword("a", 1);
        k.create_subkey("sub");
    }  // no commit
    EXPECT_FALSE(k.get_value("a"));
    EXPECT_FALSE(k.open_subkey("sub"));

    // An inner transaction that fails dooms the outer one.
    {
        RegistryTransaction outer(store, RegistryTransaction::Mode::Write);
        k.set_dword("a", 1);
        { RegistryTransaction inner(store, RegistryTransaction::Mode::Write); }
        EXPECT_THROW(outer.commit(), RegistryError);
    }
    EXPECT_FALSE(k.get_value("a"));

    {
        RegistryTransaction tx(store, RegistryTransaction::Mode::Write);
        k.set_dword("a", 1);
        k.set_dword("b", 2);
        tx.commit();
    }
    EXPECT_EQ(k.values().size(), 2u);

    RegistryTransaction read(store, RegistryTransaction::Mode::Read);
    EXPECT_THROW(k.set_dword("c", 3), RegistryError);
    EXPECT_THROW(RegistryTransaction(store, RegistryTransaction::Mode::Write), RegistryError);
}

TEST_F(Registry, AReadTransactionSeesOneSnapshotWhileAnotherConnectionWrites) {
    auto reader_store = open_store();
    auto writer_store = open_store();  // a connection of its own, as another program has
    RegistryKey w = make(writer_store, "software\\snap");
    w.set_dword("a", 1);
    w.set_dword("b", 1);

    RegistryKey r = *RegistryKey::open(reader_store, RegistryRoot::LocalMachine, "software\\snap");
    RegistryTransaction read(reader_store, RegistryTransaction::Mode::Read);
    EXPECT_EQ(r.get_value("a")->dword(), 1);
    {
        // WAL: the writer is not held up by the open reader.
        RegistryTransaction tx(writer_store, RegistryTransaction::Mode::Write);
        w.set_dword("a", 2);
        w.set_dword("b", 2);
        tx.commit();
    }
    EXPECT_EQ(r.get_value("b")->dword(), 1);
    read.commit();
    EXPECT_EQ(r.get_value("b")->dword(), 2);
}

TEST_F(Registry, APrivateStoreIsItsOwnersAlone) {
    open_store(StoreScope::Root);
    struct stat st;
    ASSERT_EQ(::stat(path("root/registry.db").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_uid, geteuid());
}

TEST_F(Registry, AMachineWideStoreIsWritableByRootAndReadableByAll) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    std::string db = path("machine/registry.db");
    auto store = RegistryStore::create(db, StoreScope::MachineWide);
    make(store, "software\\Brindlecore\\Vardel").set_sz("ExecuteOnSuccess", "true");
    store.reset();
    struct stat st;
    ASSERT_EQ(::stat(db.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(st.st_uid, 0u);

    // A file someone loosened is tightened again when root opens it.
    ::chmod(db.c_str(), 0666);
    RegistryStore::open(db, StoreScope::MachineWide);
    ::stat(db.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // An ordinary account reads it, with no writer running, and cannot write.
    ::chmod(scratch().c_str(), 0755);
    test::ChildResult r = test::run_in_child([&] {
        if (setgid(65534) != 0 || setuid(65534) != 0) return 10;
        try {
            auto s = RegistryStore::open(db, StoreScope::MachineWide);
            if (!s->read_only()) return 11;
            auto k =
                RegistryKey::open(s, RegistryRoot::LocalMachine, "software\\Brindlecore\\Vardel");
            if (!k || k->get_value("ExecuteOnSuccess")->data != "true") return 12;
            try {
                k->set_sz("ExecuteOnSuccess", "rm -rf /");
                return 13;
            } catch (const RegistryError& e) {
                return e.kind() == RegistryError::Kind::ReadOnly ? 0 : 14;
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 15;
        }
    });
    EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST_F(Registry, AFileThatIsNoStoreIsReportedAndLeftAlone) {
    std::string garbage(4096, 'x');
    std::string db = write_file("root/registry.db", garbage);
    try {
        open_store();
        FAIL() << "opened garbage";
    } catch (const RegistryError& e) {
        EXPECT_EQ(e.kind(), RegistryError::Kind::Corrupt) << e.what();
    }
    EXPECT_EQ(read_file(db), garbage);
}

TEST_F(Registry, OnlyCreateMakesAMissingMachineWideStore) {
    std::string db = path("machine/registry.db");
    auto store = RegistryStore::open(db, StoreScope::MachineWide);
    EXPECT_FALSE(store->exists());
    EXPECT_FALSE(RegistryKey::open(store, RegistryRoot::LocalMachine, "software"));
    EXPECT_THROW(make(store, "software\\x"), RegistryError);
    struct stat st;
    EXPECT_NE(::stat(path("machine").c_str(), &st), 0) << "the folder was made";

    if (geteuid() != 0) GTEST_SKIP() << "making it needs root";
    store = RegistryStore::create(db, StoreScope::MachineWide);
    EXPECT_TRUE(store->exists());
    make(store, "software\\x").set_dword("n", 1);
}

TEST_F(Registry, AStoreWithADamagedPageFailsItsCheckAsCorrupt) {
    std::string db = path("root/registry.db");
    {
        auto store = open_store();
        RegistryTransaction tx(store, RegistryTransaction::Mode::Write);
        RegistryKey k = make(store, "software\\many");
        for (int i = 0; i < 400; ++i) k.set_sz("value" + std::to_string(i), std::string(200, 'v'));
        tx.commit();
        store->verify();
    }
    // Opening reads only the first page: the damage further on is found by
    // the check, as the service does at its start.
    std::string bytes = read_file(db);
    ASSERT_GT(bytes.size(), 16384u);
    for (size_t i = 8192; i < 12288; ++i) bytes[i] = static_cast<char>(i * 7);
    test::write_whole_file(db, bytes);
    auto store = open_store();
    try {
        store->verify();
        FAIL() << "the damage went unseen";
    } catch (const RegistryError& e) {
        EXPECT_EQ(e.kind(), RegistryError::Kind::Corrupt) << e.what();
        EXPECT_EQ(e.reason().find(db), std::string::npos) << e.reason();
    }
}

TEST_F(Registry, TheCurrentStoreFollowsTheRootAndIsNotSharedWithAForkedChild) {
    auto first = RegistryStore::current();
    EXPECT_EQ(first->path(), path("root/registry.db"));
    EXPECT_EQ(RegistryStore::current(), first);
    make(first, "software\\here").set_dword("x", 1);

    test::ChildResult r = test::run_in_child([&] {
        auto mine = RegistryStore::current();
        if (mine == first) return 1;
        auto k = RegistryKey::open(mine, RegistryRoot::LocalMachine, "software\\here");
        if (!k) return 2;
        k->set_dword("x", 2);
        return 0;
    });
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(make(first, "software\\here").get_value("x")->dword(), 2);

    setenv("VARDEL_ROOT", path("other").c_str(), 1);
    auto second = RegistryStore::current();
    EXPECT_EQ(second->path(), path("other/registry.db"));
    EXPECT_FALSE(RegistryKey::open(second, RegistryRoot::LocalMachine, "software\\here"));
}

}  // namespace
}  // namespace vardel::platform
