// SPDX-License-Identifier: MIT
#include <CallFlowConfigurationDTO.h>
#include <CallFlowRuntimeData.h>

#include "../contract/StoredValues.h"

CallFlowConfigurationDTO::~CallFlowConfigurationDTO() = default;

bool CallFlowConfigurationDTO::operator==(const CallFlowConfigurationDTO& other) const
{
    SESSIONCONFIG_RECORD_EQUALS(SESSIONCONFIG_CALLFLOW_PROPERTIES);
}

// The call-flow configuration is provisioned after every start, never restored: no row
// is stored, so it writes nothing and reads nothing back.
DataSets::DataSet CallFlowConfigurationDTO::serializeEncrypted() const
{
    SESSIONCONFIG_SERIALIZE_PART(SESSIONCONFIG_CALLFLOW_PROPERTIES, ENCRYPTED);
}

void CallFlowConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    SESSIONCONFIG_DESERIALIZE_PART(SESSIONCONFIG_CALLFLOW_PROPERTIES, ENCRYPTED);
}

DataSets::DataSet CallFlowConfigurationDTO::serializeUnencrypted() const
{
    SESSIONCONFIG_SERIALIZE_PART(SESSIONCONFIG_CALLFLOW_PROPERTIES, PLAIN);
}

void CallFlowConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    SESSIONCONFIG_DESERIALIZE_PART(SESSIONCONFIG_CALLFLOW_PROPERTIES, PLAIN);
}
