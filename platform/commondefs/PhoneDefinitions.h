// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace PhoneDefinitions {

// The user's phone rights as a bit set: bit 0 is desk-phone control (CTI), bit 1
// the soft phone. Other bits are carried unchanged.
enum class PhoneSettingsMode : std::int32_t {
    None = 0,
    CTI = 1,
    SoftPhone = 2,
    CTIAndSoftPhone = 3,
};

// Where calls are placed: on the computer or through the desk phone.
enum class OperationMode : std::int32_t {
    SoftPhoneMode = 0,
    DeskPhoneMode = 1,
};

// How key presses are sent during a call.
enum class DTMFMode : std::int32_t {
    RFC2833 = 0,
    SIPInfo = 1,
    InBand = 2,
};

} // namespace PhoneDefinitions
