// SPDX-License-Identifier: MIT
#include "EndpointData.h"

#include <utility>

EndpointData::EndpointData(ResourcesDefs::RemoteType type, QString ws, QString analytics, QString whatsNew,
                           QString passwordReset, QString discoverMobileOffer)
    : m_type(type)
    , m_ws(std::move(ws))
    , m_analytics(std::move(analytics))
    , m_whatsNew(std::move(whatsNew))
    , m_passwordReset(std::move(passwordReset))
    , m_discoverMobileOffer(std::move(discoverMobileOffer))
{}

bool EndpointData::isProduction() const
{
    return m_type == ResourcesDefs::RemoteType::Production;
}

bool EndpointData::operator==(const EndpointData& other) const
{
    return m_type == other.m_type && m_ws == other.m_ws && m_analytics == other.m_analytics &&
           m_whatsNew == other.m_whatsNew && m_passwordReset == other.m_passwordReset &&
           m_discoverMobileOffer == other.m_discoverMobileOffer;
}
