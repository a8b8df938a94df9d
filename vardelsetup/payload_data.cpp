#include "vardelsetup/payload_data.h"

// Defined by payload_data.S, which includes the archive's bytes.
extern "C" const unsigned char vardel_payload_begin[];
extern "C" const unsigned char vardel_payload_end[];

namespace vardel {

std::span<const unsigned char> embedded_payload() {
    return {vardel_payload_begin, vardel_payload_end};
}

}  // namespace vardel
