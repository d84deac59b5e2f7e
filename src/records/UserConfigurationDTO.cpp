// SPDX-License-Identifier: MIT
#include <UserConfigurationDTO.h>

#include "../contract/StoredValues.h"

UserConfigurationDTO::~UserConfigurationDTO() = default;

bool UserConfigurationDTO::operator==(const UserConfigurationDTO& other) const
{
    return StoredValues::equalRows(*this, other);
}

DataSets::DataSet UserConfigurationDTO::serializeEncrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Encrypted>(*this);
}

void UserConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Encrypted>(*this, ds);
}

DataSets::DataSet UserConfigurationDTO::serializeUnencrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Plain>(*this);
}

void UserConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Plain>(*this, ds);
}
