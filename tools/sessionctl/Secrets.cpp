// SPDX-License-Identifier: MIT
#include "Secrets.h"

#include <ChatRuntimeData.h>
#include <PhoneRuntimeData.h>
#include <SessionData.h>
#include <UserRuntimeData.h>

#include <QString>

namespace sessionctl {

namespace {

// Overwrites the text's characters when this copy is the only one left (the record
// let go of its own): a shared buffer would be copied by data(), not wiped.
void wipe(QString& text)
{
    if (text.isEmpty() || !text.isDetached())
        return;
    volatile char16_t* p = reinterpret_cast<volatile char16_t*>(text.data());
    for (qsizetype i = 0; i < text.size(); ++i)
        p[i] = 0;
}

template <auto Property, class Store> void wipeProperty(Store& store)
{
    QString value = store.template getData<QString, Property>();
    store.template setData<QString, Property>(QString());
    wipe(value);
}

} // namespace

void wipeSecrets(SessionData& session)
{
    wipeProperty<UserProperty::Password>(*session.getUserRuntimeData().lock());
    wipeProperty<PhoneProperty::Token>(*session.getPhoneSessionData().lock());
    wipeProperty<ChatProperty::Token>(*session.getChatSessionData().lock());
}

} // namespace sessionctl
