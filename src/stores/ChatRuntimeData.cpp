#include <ChatRuntimeData.h>

#include "../contract/StoreProperties.h"

ChatRuntimeData::ChatRuntimeData() = default;
ChatRuntimeData::~ChatRuntimeData() = default;

CHAT_PROPERTIES(SESSIONCONFIG_DEFINE_ROW, ChatRuntimeData)
SESSIONCONFIG_DEFINE_STORAGE(ChatRuntimeData)

void ChatRuntimeData::resetData()
{
    m_record.write([](ChatConfigurationDTO& r) { r.m_token = QString(); });
}

void ChatRuntimeData::clear()
{
    m_record.replaceWithDefault();
}
