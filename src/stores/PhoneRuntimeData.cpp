// SPDX-License-Identifier: MIT
#include <PhoneRuntimeData.h>

#include "../contract/StoreProperties.h"

PhoneRuntimeData::PhoneRuntimeData() = default;
PhoneRuntimeData::PhoneRuntimeData(const PhoneRuntimeData&) = default;
PhoneRuntimeData::PhoneRuntimeData(PhoneRuntimeData&&) noexcept = default;
PhoneRuntimeData& PhoneRuntimeData::operator=(const PhoneRuntimeData&) = default;
PhoneRuntimeData& PhoneRuntimeData::operator=(PhoneRuntimeData&&) noexcept = default;
PhoneRuntimeData::~PhoneRuntimeData() = default;

// The rows marked DROP go back to their defaults.
void PhoneRuntimeData::resetData()
{
    m_record.write([](RecordType& record) {
        const RecordType fresh;
        StoreRows::reset(record, fresh);
    });
}

void PhoneRuntimeData::clear()
{
    m_record.replaceWithDefault();
}
