// SPDX-License-Identifier: MIT
#include <ChatRuntimeData.h>

#include "../contract/StoreProperties.h"

ChatRuntimeData::ChatRuntimeData() = default;
ChatRuntimeData::~ChatRuntimeData() = default;

// The rows marked DROP go back to their defaults.
void ChatRuntimeData::resetData()
{
    m_record.write([](RecordType& record) {
        const RecordType fresh;
        StoreRows::reset(record, fresh);
    });
}

void ChatRuntimeData::clear()
{
    m_record.replaceWithDefault();
}
