// The backups each destination's state file records, as the editor lists them.
#include "vardelcfg/available_backups.h"

#include <gtest/gtest.h>

#include "common/text_helpers.h"
#include "tests/support/scratch.h"

namespace vardel {
namespace {

class AvailableBackupsTest : public test::ScratchTest {
  protected:
    void add(const std::string& name, const std::string& dest) {
        auto s = std::make_unique<BackupSet>();
        s->Name = name;
        s->BackupDestination = dest;
        s->CyclesToSave = 3;
        s->BackupsPerCycle = 2;
        sets_.add(std::move(s));
    }
    BackupSetTable sets_;
};

TEST_F(AvailableBackupsTest, CyclesWithAFirstBackupAreListedUpToTheSetsCounts) {
    write_file("a/BACKUP.INI",
               "\r\n[BACKUPSET]\r\nNAME=A\r\nBACKUPINSTANCE_1_1=1700000000\r\n"
               "backupinstance_1_2=1700086400\r\nBACKUPINSTANCE_1_3=1700090000\r\n"
               "BACKUPINSTANCE_2_2=1700172800\r\nBACKUPINSTANCE_3_1=1700259200\r\n"
               "BACKUPINSTANCE_4_1=1700345600\r\nBACKUPINSTANCE_3_1x=5\r\n");
    add("A", path("a"));              // without the "/": one is put between
    add("No state", path("empty/"));  // a destination without BACKUP.INI
    add("Nowhere", "");

    std::vector<AvailableSet> list = available_backups(sets_);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].set_name, "A");
    ASSERT_EQ(list[0].cycles.size(), 2u);
    const AvailableCycle& c1 = list[0].cycles[0];
    EXPECT_EQ(c1.text, "Cycle 1");
    ASSERT_EQ(c1.backups.size(), 2u);
    EXPECT_EQ(c1.backups[1].text,
              "Instance 2 as of " + std::string(ctime_text(1700086400)).substr(0, 24));
    EXPECT_EQ(c1.backups[1].cycle, 1);
    EXPECT_EQ(c1.backups[1].backup, 2);
    EXPECT_EQ(c1.backups[1].set_name, "A");
    EXPECT_EQ(list[0].cycles[1].text, "Cycle 3");
    EXPECT_EQ(list[0].cycles[1].backups.size(), 1u);
}

}  // namespace
}  // namespace vardel
