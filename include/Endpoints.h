// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <EndpointData.h>

#include <initializer_list>
#include <optional>
#include <vector>

// The service endpoints known to the client, in the order they were provisioned.
// Nothing is sorted or de-duplicated; every lookup scans from the first entry and
// returns a copy of the earliest match. A directory is a plain value without a lock.
class SESSIONCONFIG_EXPORT Endpoints
{
public:
    Endpoints() = default;
    // A directory of the given endpoints, in their order.
    //@{
    Endpoints(const std::vector<EndpointData>& endpoints);
    Endpoints(std::initializer_list<EndpointData> endpoints);
    //@}

    // Every entry, in provisioning order.
    const std::vector<EndpointData>& getEndpointVector() const { return m_endpoints; }

    // The first entry of the given remote type.
    std::optional<EndpointData> getEndpoint(ResourcesDefs::RemoteType type) const;
    // The first entry whose web-service URL equals `ws` exactly (case-sensitive,
    // nothing trimmed; a null and an empty string are equal).
    std::optional<EndpointData> getEndpoint(const QString& ws) const;
    // The first production entry. A directory without one (an empty one included)
    // answers with a default-constructed EndpointData: type Unknown, null URLs, and
    // isProduction() false, so the caller can tell that none was found.
    EndpointData getProductionEndpoint() const;

    // Entry by entry, in order.
    //@{
    bool operator==(const Endpoints& other) const { return m_endpoints == other.m_endpoints; }
    bool operator!=(const Endpoints& other) const { return !(*this == other); }
    //@}

private:
    std::vector<EndpointData> m_endpoints;
};
