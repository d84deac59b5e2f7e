#include "Watch.h"

#include <SessionData.h>

#include <QCoreApplication>

namespace sessionctl {

ChangeWatch::ChangeWatch(const SessionData& session, QTextStream* echo)
    : m_echo(echo)
{
    watch(session.getAppSessionData(), "app");
    watch(session.getCallFlowSessionData(), "callFlow");
    watch(session.getChatSessionData(), "chat");
    watch(session.getPhoneSessionData(), "phone");
    watch(session.getUserRuntimeData(), "user");
    watch(session.getDeskSessionData(), "desk");
}

template <class Weak> void ChangeWatch::watch(const Weak& weak, const char* domain)
{
    if (const auto store = weak.lock()) {
        m_subscriptions.push_back(store->subscribe(
            &m_context, [this, domain](auto property) { landed(domain, propertyName(property)); }));
    }
}

void ChangeWatch::landed(const char* domain, const char* property)
{
    ++m_received;
    if (m_echo)
        *m_echo << "  changed: " << domain << '.' << property << Qt::endl;
}

void ChangeWatch::deliver()
{
    QCoreApplication::processEvents();
}

} // namespace sessionctl
