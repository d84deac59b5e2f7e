// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <ChatConfigurationDTO.h>
#include <IConfigurationResettable.h>
#include <RuntimeStore.h>

// The session's thread-safe holder of the chat settings.
//
// Its properties, every column of each: \ref chat_properties.
class SESSIONCONFIG_EXPORT ChatRuntimeData : public RuntimeStore<ChatConfigurationDTO, ChatProperty>,
                                             public IConfigurationResettable
{
public:
    ChatRuntimeData();
    ChatRuntimeData(const ChatRuntimeData&) = delete;
    ChatRuntimeData& operator=(const ChatRuntimeData&) = delete;
    ~ChatRuntimeData() override;

    // Drops the token, which is provisioned anew; everything else stays.
    void resetData() override;
    // Every field back to its default.
    void clear();
};
