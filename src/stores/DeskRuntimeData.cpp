// SPDX-License-Identifier: MIT
#include <DeskRuntimeData.h>

#include "../contract/StoreProperties.h"

DeskRuntimeData::DeskRuntimeData() = default;
DeskRuntimeData::~DeskRuntimeData() = default;

SESSIONCONFIG_DESK_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, DeskRuntimeData)
SESSIONCONFIG_DEFINE_STORAGE(DeskRuntimeData)

// The rows marked DROP go back to their defaults.
void DeskRuntimeData::resetData()
{
    m_record.write([](RecordType& record) {
        const RecordType fresh;
        SESSIONCONFIG_DESK_PROPERTIES(SESSIONCONFIG_RESET_ROW, ~)
    });
}

void DeskRuntimeData::clear()
{
    m_record.replaceWithDefault();
}
