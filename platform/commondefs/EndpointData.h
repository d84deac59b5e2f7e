// SPDX-License-Identifier: MIT
#pragma once

#include "commondefs_export.h"

#include <ResourcesDefs.h>

#include <QString>

// One deployment of the service: its remote type and the URLs the client uses there.
//
// Whether an endpoint is production is decided by its remote type alone:
// isProduction() is true exactly when getType() is RemoteType::Production. The URLs
// play no part. A default-constructed endpoint has type Unknown and null URLs, so it
// is not production. A plain value without a lock.
class COMMONDEFS_EXPORT EndpointData
{
public:
    EndpointData() = default;
    // An endpoint of the given remote type with its URLs.
    EndpointData(ResourcesDefs::RemoteType type, QString ws, QString analytics, QString whatsNew,
                 QString passwordReset, QString discoverMobileOffer);

    // The values given at construction; isProduction() as the class says.
    //@{
    ResourcesDefs::RemoteType getType() const { return m_type; }
    QString getWs() const { return m_ws; }
    QString getAnalytics() const { return m_analytics; }
    QString getWhatsNew() const { return m_whatsNew; }
    QString getPasswordReset() const { return m_passwordReset; }
    QString getDiscoverMobileOffer() const { return m_discoverMobileOffer; }
    bool isProduction() const;
    //@}

    // The type and all five URLs compared.
    //@{
    bool operator==(const EndpointData& other) const;
    bool operator!=(const EndpointData& other) const { return !(*this == other); }
    //@}

private:
    ResourcesDefs::RemoteType m_type = ResourcesDefs::RemoteType::Unknown;
    QString m_ws;
    QString m_analytics;
    QString m_whatsNew;
    QString m_passwordReset;
    QString m_discoverMobileOffer;
};
