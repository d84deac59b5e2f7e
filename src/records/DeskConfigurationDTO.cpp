// SPDX-License-Identifier: MIT
#include <DeskConfigurationDTO.h>

#include "../contract/StoredValues.h"

DeskConfigurationDTO::~DeskConfigurationDTO() = default;

bool DeskConfigurationDTO::operator==(const DeskConfigurationDTO& other) const
{
    return StoredValues::equalRows(*this, other);
}

DataSets::DataSet DeskConfigurationDTO::serializeEncrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Encrypted>(*this);
}

void DeskConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Encrypted>(*this, ds);
}

DataSets::DataSet DeskConfigurationDTO::serializeUnencrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Plain>(*this);
}

void DeskConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Plain>(*this, ds);
}
