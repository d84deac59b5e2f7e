// SPDX-License-Identifier: MIT
#include <Endpoints.h>

#include <algorithm>

namespace {

template <class Match>
std::optional<EndpointData> firstMatch(const std::vector<EndpointData>& endpoints, Match match)
{
    const auto it = std::find_if(endpoints.begin(), endpoints.end(), match);
    if (it == endpoints.end())
        return std::nullopt;
    return *it;
}

} // namespace

Endpoints::Endpoints(const std::vector<EndpointData>& endpoints)
    : m_endpoints(endpoints)
{}

Endpoints::Endpoints(std::initializer_list<EndpointData> endpoints)
    : m_endpoints(endpoints)
{}

std::optional<EndpointData> Endpoints::getEndpoint(ResourcesDefs::RemoteType type) const
{
    return firstMatch(m_endpoints, [type](const EndpointData& e) { return e.getType() == type; });
}

std::optional<EndpointData> Endpoints::getEndpoint(const QString& ws) const
{
    return firstMatch(m_endpoints, [&ws](const EndpointData& e) { return e.getWs() == ws; });
}

EndpointData Endpoints::getProductionEndpoint() const
{
    return firstMatch(m_endpoints, [](const EndpointData& e) { return e.isProduction(); })
        .value_or(EndpointData());
}
