// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <utility>

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

// The values' names as a person reads and types them; found by argument-dependent
// lookup as enumNames(RemoteType{}).
inline constexpr std::pair<RemoteType, const char*> kRemoteTypeNames[] = {
    {RemoteType::Unknown, "Unknown"}, {RemoteType::Production, "Production"},
    {RemoteType::Staging, "Staging"}, {RemoteType::Development, "Development"},
    {RemoteType::Test, "Test"},
};
constexpr const auto& enumNames(RemoteType)
{
    return kRemoteTypeNames;
}

} // namespace ResourcesDefs
