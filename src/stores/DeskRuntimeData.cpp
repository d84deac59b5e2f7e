// SPDX-License-Identifier: MIT
#include <DeskRuntimeData.h>

#include "../contract/StoreProperties.h"

DeskRuntimeData::DeskRuntimeData() = default;
DeskRuntimeData::~DeskRuntimeData() = default;

// The rows marked DROP go back to their defaults.
void DeskRuntimeData::resetData()
{
    m_record.write([](RecordType& record) {
        const RecordType fresh;
        StoreRows::reset(record, fresh);
    });
}

void DeskRuntimeData::clear()
{
    m_record.replaceWithDefault();
}
