// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <utility>

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

// The values' names as a person reads and types them, in one place beside each
// enumeration; found by argument-dependent lookup as enumNames(E{}).
//@{
inline constexpr std::pair<PhoneSettingsMode, const char*> kPhoneSettingsModeNames[] = {
    {PhoneSettingsMode::None, "None"},
    {PhoneSettingsMode::CTI, "CTI"},
    {PhoneSettingsMode::SoftPhone, "SoftPhone"},
    {PhoneSettingsMode::CTIAndSoftPhone, "CTIAndSoftPhone"},
};
inline constexpr std::pair<OperationMode, const char*> kOperationModeNames[] = {
    {OperationMode::SoftPhoneMode, "SoftPhoneMode"},
    {OperationMode::DeskPhoneMode, "DeskPhoneMode"},
};
inline constexpr std::pair<DTMFMode, const char*> kDTMFModeNames[] = {
    {DTMFMode::RFC2833, "RFC2833"},
    {DTMFMode::SIPInfo, "SIPInfo"},
    {DTMFMode::InBand, "InBand"},
};
//@}
// The names of the phone rights.
constexpr const auto& enumNames(PhoneSettingsMode)
{
    return kPhoneSettingsModeNames;
}
// The names of the operation modes.
constexpr const auto& enumNames(OperationMode)
{
    return kOperationModeNames;
}
// The names of the key-press modes.
constexpr const auto& enumNames(DTMFMode)
{
    return kDTMFModeNames;
}

} // namespace PhoneDefinitions
