// SPDX-License-Identifier: MIT
#include "Watch.h"

#include "Domains.h"

#include <SessionData.h>

#include <QCoreApplication>

namespace sessionctl {

ChangeWatch::ChangeWatch(const SessionData& session, QTextStream* echo)
    : m_echo(echo)
{
    forEachDomain([&](const auto& domain) {
        if (const auto store = domain.of(session)) {
            m_subscriptions.push_back(store->subscribe(&m_context, [this, name = domain.name](auto property) {
                landed(name, propertyName(property));
            }));
        }
    });
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
