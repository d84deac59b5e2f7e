// SPDX-License-Identifier: MIT
#include <CallFlowConfigurationDTO.h>

#include "../contract/StoredValues.h"

CallFlowConfigurationDTO::~CallFlowConfigurationDTO() = default;

bool CallFlowConfigurationDTO::operator==(const CallFlowConfigurationDTO& other) const
{
    return StoredValues::equalRows(*this, other);
}

// The call-flow configuration is provisioned after every start, never restored: no row
// is stored, so it writes nothing and reads nothing back.
DataSets::DataSet CallFlowConfigurationDTO::serializeEncrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Encrypted>(*this);
}

void CallFlowConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Encrypted>(*this, ds);
}

DataSets::DataSet CallFlowConfigurationDTO::serializeUnencrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Plain>(*this);
}

void CallFlowConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Plain>(*this, ds);
}
