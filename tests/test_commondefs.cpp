// SPDX-License-Identifier: MIT
// Common definitions: endpoints, the endpoint directory's lookups and caller identities.
#include <CallerIds.h>
#include <Endpoints.h>

#include "DataSetTestUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

using ResourcesDefs::RemoteType;

namespace {

// An endpoint told apart from others by its `tag` (kept in the analytics URL).
EndpointData endpoint(RemoteType type, const QString& ws, const QString& tag = QString())
{
    return EndpointData(type, ws, tag, "https://news", "https://pwd", "https://offer");
}

QString tagOf(const std::optional<EndpointData>& e)
{
    return e ? e->getAnalytics() : "<none>";
}

} // namespace

TEST(EndpointDirectory, TheFirstMatchWinsAndAMissingProductionEntryIsADefaultEndpoint)
{
    // Production by its type alone.
    EXPECT_TRUE(EndpointData(RemoteType::Production, {}, {}, {}, {}, {}).isProduction());
    EXPECT_FALSE(endpoint(RemoteType::Staging, "https://production.example").isProduction());
    EXPECT_FALSE(EndpointData().isProduction());

    const Endpoints dir{
        endpoint(RemoteType::Staging, "https://ws", "staging-1"),
        endpoint(RemoteType::Production, "https://ws", "production-1"),
        endpoint(RemoteType::Staging, "https://other", "staging-2"),
        endpoint(RemoteType::Production, "https://prod", "production-2"),
    };
    EXPECT_EQ(tagOf(dir.getEndpoint(RemoteType::Staging)), "staging-1");
    EXPECT_EQ(tagOf(dir.getEndpoint(RemoteType::Production)), "production-1");
    EXPECT_EQ(tagOf(dir.getEndpoint("https://ws")), "staging-1");
    EXPECT_EQ(tagOf(dir.getEndpoint("https://other")), "staging-2");
    // The address must match exactly; null and empty are the same text.
    for (const char* nearMiss : {"HTTPS://WS", "https://ws/", "https://ws ", " https://ws", "https://w", ""})
        EXPECT_FALSE(dir.getEndpoint(nearMiss)) << nearMiss;
    const Endpoints unnamed{endpoint(RemoteType::Test, QString(), "null"),
                            endpoint(RemoteType::Development, "", "empty")};
    EXPECT_EQ(tagOf(unnamed.getEndpoint("")), "null");
    EXPECT_EQ(tagOf(unnamed.getEndpoint(QString())), "null");
    EXPECT_EQ(dir.getProductionEndpoint().getAnalytics(), "production-1");
    EXPECT_FALSE(dir.getEndpoint(RemoteType::Development));
    EXPECT_EQ(unnamed.getProductionEndpoint(), EndpointData());
}

TEST(CallerIds, CompareEveryMemberInOrderAndResetToEmpty)
{
    const CallerIdDto first(1, "+391", true), second(2, "+392", false);
    const auto ids = [](std::vector<CallerIdDto> entries, std::int64_t lastUpdated = 0,
                        bool readOnly = false) {
        CallerIds out;
        for (const CallerIdDto& e : entries)
            out.addCallerId(e);
        out.setLastUpdated(lastUpdated);
        out.setReadOnly(readOnly);
        return out;
    };
    const CallerIds a = ids({first, second});
    EXPECT_EQ(ids({first, second}), a);
    for (const CallerIds& other :
         {ids({second, first}), ids({first}), ids({first, second, second}), // duplicates are kept
          ids({first, CallerIdDto(3, "+392", false)}), ids({first, CallerIdDto(2, "+3920", false)}),
          ids({first, CallerIdDto(2, "+392", true)}), ids({first, second}, 1), ids({first, second}, 0, true)})
        EXPECT_NE(other, a);

    CallerIds cleared = ids({first}, 1700000000000, true);
    cleared.reset();
    EXPECT_EQ(cleared, CallerIds());
}
