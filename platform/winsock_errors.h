#pragma once
// Network failures in the words of the suite's network error table: each
// errno maps onto its Winsock number (EWOULDBLOCK 10035, ETIMEDOUT 10060,
// ECONNREFUSED 10061, ...), whose text is the symbolic name, a colon, a
// blank and a description. Thread-safe.
#include <string>

namespace vardel::platform {

inline constexpr int kWsaWouldBlock = 10035;
inline constexpr int kWsaConnReset = 10054;
inline constexpr int kWsaTimedOut = 10060;

// The Winsock number for an errno value; an errno without one is returned as it is.
int winsock_code(int errno_value);
// "WSAECONNREFUSED: Connection attempt refused by host", or "Unknown error %d".
std::string network_error_text(int winsock_code);

}  // namespace vardel::platform
