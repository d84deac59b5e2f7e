// SPDX-License-Identifier: MIT
#include <UserRuntimeData.h>

#include "../contract/StoreProperties.h"

UserRuntimeData::UserRuntimeData() = default;
SESSIONCONFIG_DEFINE_COPY_AND_MOVE(UserRuntimeData)
UserRuntimeData::~UserRuntimeData() = default;

SESSIONCONFIG_USER_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, UserRuntimeData)
SESSIONCONFIG_DEFINE_STORAGE(UserRuntimeData)

bool UserRuntimeData::isValidSession() const
{
    return m_record.read([](const UserConfigurationDTO& r) {
        return !r.m_userName.isEmpty() && !r.m_appKey.isEmpty() && !r.m_wid.isEmpty();
    });
}

void UserRuntimeData::resetData() {}

void UserRuntimeData::clear()
{
    m_record.replaceWithDefault();
}
