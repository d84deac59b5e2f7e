// SPDX-License-Identifier: MIT
#include <UserRuntimeData.h>

#include "../contract/StoreProperties.h"

UserRuntimeData::UserRuntimeData() = default;
UserRuntimeData::UserRuntimeData(const UserRuntimeData&) = default;
UserRuntimeData::UserRuntimeData(UserRuntimeData&&) noexcept = default;
UserRuntimeData& UserRuntimeData::operator=(const UserRuntimeData&) = default;
UserRuntimeData& UserRuntimeData::operator=(UserRuntimeData&&) noexcept = default;
UserRuntimeData::~UserRuntimeData() = default;

bool UserRuntimeData::isValidSession() const
{
    return m_record.read([](const UserConfigurationDTO& r) {
        return !r.getUserName().isEmpty() && !r.getAppKey().isEmpty() && !r.getWID().isEmpty();
    });
}

void UserRuntimeData::resetData() {}

void UserRuntimeData::clear()
{
    m_record.replaceWithDefault();
}
