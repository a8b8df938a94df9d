#include "platform/winsock_errors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace vardel::platform {
namespace {

TEST(WinsockErrors, ErrnoValuesMapOntoTheTableAndItsTexts) {
    EXPECT_EQ(winsock_code(EWOULDBLOCK), 10035);
    EXPECT_EQ(winsock_code(ETIMEDOUT), 10060);
    EXPECT_EQ(winsock_code(ECONNREFUSED), 10061);
    EXPECT_EQ(winsock_code(EHOSTUNREACH), 10065);
    EXPECT_EQ(winsock_code(EPIPE), 10054);
    EXPECT_EQ(network_error_text(10035), "WSAEWOULDBLOCK: Call would block");
    EXPECT_EQ(network_error_text(10060), "WSAETIMEDOUT: Connection attempt timed out");
    EXPECT_EQ(network_error_text(10061), "WSAECONNREFUSED: Connection attempt refused by host");
    EXPECT_EQ(network_error_text(10065), "WSAEHOSTUNREACH: No route to host");
    EXPECT_EQ(network_error_text(10091), "WSASYSNOTREADY: Network not ready");
    EXPECT_EQ(network_error_text(10092),
              "WSAVERNOTSUPPORTED: Requested winsock version not available");
    EXPECT_EQ(network_error_text(winsock_code(ELOOP)), "WSAELOOP: ???");
    EXPECT_EQ(network_error_text(10101), "WSAEDISCON: ???");
    EXPECT_EQ(network_error_text(12345), "Unknown error 12345");
}

}  // namespace
}  // namespace vardel::platform
