// SPDX-License-Identifier: MIT
#include <DeskConfigurationDTO.h>
#include <DeskRuntimeData.h>

#include "../contract/StoredValues.h"

DeskConfigurationDTO::~DeskConfigurationDTO() = default;

bool DeskConfigurationDTO::operator==(const DeskConfigurationDTO& other) const
{
    SESSIONCONFIG_RECORD_EQUALS(SESSIONCONFIG_DESK_PROPERTIES);
}

DataSets::DataSet DeskConfigurationDTO::serializeEncrypted() const
{
    SESSIONCONFIG_SERIALIZE_PART(SESSIONCONFIG_DESK_PROPERTIES, ENCRYPTED);
}

void DeskConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    SESSIONCONFIG_DESERIALIZE_PART(SESSIONCONFIG_DESK_PROPERTIES, ENCRYPTED);
}

DataSets::DataSet DeskConfigurationDTO::serializeUnencrypted() const
{
    SESSIONCONFIG_SERIALIZE_PART(SESSIONCONFIG_DESK_PROPERTIES, PLAIN);
}

void DeskConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    SESSIONCONFIG_DESERIALIZE_PART(SESSIONCONFIG_DESK_PROPERTIES, PLAIN);
}
