// SPDX-License-Identifier: MIT
#include <PhoneRuntimeData.h>

#include "../contract/StoreProperties.h"

PhoneRuntimeData::PhoneRuntimeData() = default;
SESSIONCONFIG_DEFINE_COPY_AND_MOVE(PhoneRuntimeData)
PhoneRuntimeData::~PhoneRuntimeData() = default;

SESSIONCONFIG_PHONE_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, PhoneRuntimeData)
SESSIONCONFIG_DEFINE_STORAGE(PhoneRuntimeData)

// The rows marked DROP go back to their defaults.
void PhoneRuntimeData::resetData()
{
    m_record.write([](RecordType& record) {
        const RecordType fresh;
        SESSIONCONFIG_PHONE_PROPERTIES(SESSIONCONFIG_RESET_ROW, ~)
    });
}

void PhoneRuntimeData::clear()
{
    m_record.replaceWithDefault();
}
