#pragma once
// The payload archive built into the setup program by the build.
#include <span>

namespace vardel {

std::span<const unsigned char> embedded_payload();

}  // namespace vardel
