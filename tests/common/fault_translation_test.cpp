#include "common/fault_translation.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/child_process.h"

namespace vardel {
namespace {

TEST(FaultTranslation, IntegerDivisionByZeroIsReportedAndEndsTheProcess) {
    test::ChildResult r = test::run_in_child([] {
        install_fault_translation();
        volatile int zero = 0;
        volatile int x = 10 / zero;
        return x;  // never reached: the process ends in the handler
    });
    EXPECT_NE(r.exit_code, 0);
    EXPECT_EQ(r.signal, 0) << "ended by the handler, not by the raw signal";
    EXPECT_NE(r.err.find("ERROR     WinMain error: -1073741676,Integer division by zero\r\n"),
              std::string::npos)
        << r.err;
}

TEST(FaultTranslation, ABadPointerIsAnAccessViolation) {
    test::ChildResult r = test::run_in_child([] {
        install_fault_translation();
        volatile int* p = nullptr;
        return *p;
    });
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("WinMain error: -1073741819,Memory Access violation"), std::string::npos)
        << r.err;
}

TEST(FaultTranslation, ASignalWithoutACodeOfItsOwnIsUnrecognized) {
    test::ChildResult r = test::run_in_child([] {
        install_fault_translation();
        raise(SIGBUS);  // si_code SI_TKILL, not a misalignment
        return 0;
    });
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("WinMain error: 0,Unrecognized exception"), std::string::npos) << r.err;
}

TEST(FaultTranslation, EveryTableCodeHasItsMessage) {
    EXPECT_STREQ(fault_message(static_cast<int32_t>(0xC0000096)),
                 "Encoutered privileged instruction");
    EXPECT_STREQ(fault_message(static_cast<int32_t>(0x80000002)), "Misaligned data");
    EXPECT_STREQ(fault_message(12345), "Unrecognized exception");
}

}  // namespace
}  // namespace vardel
