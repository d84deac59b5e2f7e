// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace ResourcesDefs {

// Which deployment of the service the client talks to. Held as a 32-bit value:
// any integer may be cast to it, and unknown values are carried unchanged.
enum class RemoteType : std::int32_t {
    Unknown = 0,
    Production = 1,
    Staging = 2,
    Development = 3,
    Test = 4,
};

} // namespace ResourcesDefs
