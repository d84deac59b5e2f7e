// SPDX-License-Identifier: MIT
#include <ChatRuntimeData.h>

#include "../contract/StoreProperties.h"

ChatRuntimeData::ChatRuntimeData() = default;
ChatRuntimeData::~ChatRuntimeData() = default;

SESSIONCONFIG_CHAT_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, ChatRuntimeData)
SESSIONCONFIG_DEFINE_STORAGE(ChatRuntimeData)

// The rows marked DROP go back to their defaults.
void ChatRuntimeData::resetData()
{
    m_record.write([](RecordType& record) {
        const RecordType fresh;
        SESSIONCONFIG_CHAT_PROPERTIES(SESSIONCONFIG_RESET_ROW, ~)
    });
}

void ChatRuntimeData::clear()
{
    m_record.replaceWithDefault();
}
