// Common definitions: endpoints, the endpoint directory's lookups and caller identities.
#include <CallerIds.h>
#include <Endpoints.h>
#include <PhoneDefinitions.h>

#include "DataSetTestUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <type_traits>
#include <vector>

using ResourcesDefs::RemoteType;

// Stored values and casts rely on every enumeration being held in 32 bits.
template <class... E>
constexpr bool kAll32Bit = (std::is_same_v<std::underlying_type_t<E>, std::int32_t> && ...);
static_assert(kAll32Bit<RemoteType, PhoneDefinitions::PhoneSettingsMode, PhoneDefinitions::OperationMode,
                        PhoneDefinitions::DTMFMode>);

namespace {

// An endpoint told apart from others by its `tag` (kept in the analytics URL).
EndpointData endpoint(RemoteType type, const QString& ws, const QString& tag = QString())
{
    return EndpointData(type, ws, tag, QStringLiteral("https://news"), QStringLiteral("https://pwd"),
                        QStringLiteral("https://offer"));
}

QString tagOf(const std::optional<EndpointData>& e)
{
    return e ? e->getAnalytics() : QStringLiteral("<none>");
}

} // namespace

TEST(Endpoint, IsProductionByItsTypeAlone)
{
    EXPECT_TRUE(EndpointData(RemoteType::Production, {}, {}, {}, {}, {}).isProduction());
    EXPECT_FALSE(endpoint(RemoteType::Staging, QStringLiteral("https://production.example")).isProduction());
    EXPECT_FALSE(endpoint(static_cast<RemoteType>(42), QStringLiteral("https://ws")).isProduction());

    const EndpointData none;
    EXPECT_EQ(none.getType(), RemoteType::Unknown);
    EXPECT_FALSE(none.isProduction());
    EXPECT_TRUE(none.getWs().isNull());
}

TEST(EndpointDirectory, TheFirstMatchWinsAndAMissingProductionEntryIsADefaultEndpoint)
{
    const Endpoints dir{
        endpoint(RemoteType::Staging, QStringLiteral("https://ws"), QStringLiteral("staging-1")),
        endpoint(RemoteType::Production, QStringLiteral("https://ws"), QStringLiteral("production-1")),
        endpoint(RemoteType::Staging, QStringLiteral("https://other"), QStringLiteral("staging-2")),
        endpoint(RemoteType::Production, QStringLiteral("https://prod"), QStringLiteral("production-2")),
    };
    EXPECT_EQ(tagOf(dir.getEndpoint(RemoteType::Staging)), QStringLiteral("staging-1"));
    EXPECT_EQ(tagOf(dir.getEndpoint(RemoteType::Production)), QStringLiteral("production-1"));
    EXPECT_EQ(tagOf(dir.getEndpoint(QStringLiteral("https://ws"))), QStringLiteral("staging-1"));
    EXPECT_EQ(tagOf(dir.getEndpoint(QStringLiteral("https://other"))), QStringLiteral("staging-2"));
    // The address must match exactly; null and empty are the same text.
    for (const char* nearMiss : {"HTTPS://WS", "https://ws/", "https://ws ", " https://ws", "https://w", ""})
        EXPECT_FALSE(dir.getEndpoint(QString::fromLatin1(nearMiss))) << nearMiss;
    const Endpoints unnamed{endpoint(RemoteType::Test, QString(), QStringLiteral("null")),
                            endpoint(RemoteType::Development, QStringLiteral(""), QStringLiteral("empty"))};
    EXPECT_EQ(tagOf(unnamed.getEndpoint(QStringLiteral(""))), QStringLiteral("null"));
    EXPECT_EQ(tagOf(unnamed.getEndpoint(QString())), QStringLiteral("null"));
    EXPECT_EQ(dir.getProductionEndpoint().getAnalytics(), QStringLiteral("production-1"));
    EXPECT_FALSE(dir.getEndpoint(RemoteType::Development));

    const Endpoints empty, noProduction{endpoint(RemoteType::Staging, QStringLiteral("https://ws"))};
    EXPECT_FALSE(empty.getEndpoint(RemoteType::Production));
    EXPECT_FALSE(empty.getEndpoint(QString()));
    EXPECT_EQ(empty.getProductionEndpoint(), EndpointData());
    EXPECT_EQ(noProduction.getProductionEndpoint(), EndpointData());
}

TEST(CallerIds, CompareEveryMemberInOrderAndResetToEmpty)
{
    const CallerIdDto first(1, QStringLiteral("+391"), true);
    const CallerIdDto second(2, QStringLiteral("+392"), false);
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
          ids({first, CallerIdDto(3, QStringLiteral("+392"), false)}),
          ids({first, CallerIdDto(2, QStringLiteral("+3920"), false)}),
          ids({first, CallerIdDto(2, QStringLiteral("+392"), true)}), ids({first, second}, 1),
          ids({first, second}, 0, true)})
        EXPECT_NE(other, a);

    CallerIds cleared = ids({first}, 1700000000000, true);
    cleared.reset();
    EXPECT_TRUE(cleared.getCallerIds().empty());
    EXPECT_EQ(cleared.getLastUpdated(), 0);
    EXPECT_FALSE(cleared.isReadOnly());
}
