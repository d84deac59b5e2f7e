// SPDX-License-Identifier: MIT
#include <UserConfigurationDTO.h>
#include <UserRuntimeData.h>

#include "../contract/StoredValues.h"

UserConfigurationDTO::~UserConfigurationDTO() = default;

bool UserConfigurationDTO::operator==(const UserConfigurationDTO& other) const
{
    SESSIONCONFIG_RECORD_EQUALS(SESSIONCONFIG_USER_PROPERTIES);
}

DataSets::DataSet UserConfigurationDTO::serializeEncrypted() const
{
    SESSIONCONFIG_SERIALIZE_PART(SESSIONCONFIG_USER_PROPERTIES, ENCRYPTED);
}

void UserConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    SESSIONCONFIG_DESERIALIZE_PART(SESSIONCONFIG_USER_PROPERTIES, ENCRYPTED);
}

DataSets::DataSet UserConfigurationDTO::serializeUnencrypted() const
{
    SESSIONCONFIG_SERIALIZE_PART(SESSIONCONFIG_USER_PROPERTIES, PLAIN);
}

void UserConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    SESSIONCONFIG_DESERIALIZE_PART(SESSIONCONFIG_USER_PROPERTIES, PLAIN);
}
