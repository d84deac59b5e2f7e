#include <CallerIds.h>
#include <CommandLineOptions.h>
#include <EndpointData.h>
#include <Endpoints.h>
#include <PhoneDefinitions.h>
#include <ResourcesDefs.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <type_traits>
#include <utility>
#include <vector>

void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

using ResourcesDefs::RemoteType;

static_assert(std::is_same_v<std::underlying_type_t<RemoteType>, std::int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<PhoneDefinitions::PhoneSettingsMode>, std::int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<PhoneDefinitions::OperationMode>, std::int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<PhoneDefinitions::DTMFMode>, std::int32_t>);
static_assert(std::has_virtual_destructor_v<CallerIds> && std::has_virtual_destructor_v<CallerIdDto>);
static_assert(std::is_same_v<decltype(std::declval<const Endpoints&>().getEndpointVector()),
                             const std::vector<EndpointData>&>);

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

TEST(CommonDefinitions, EndpointIsProductionByItsTypeAlone)
{
    EXPECT_TRUE(EndpointData(RemoteType::Production, {}, {}, {}, {}, {}).isProduction());
    EXPECT_FALSE(endpoint(RemoteType::Staging, QStringLiteral("https://production.example")).isProduction());
    EXPECT_FALSE(endpoint(static_cast<RemoteType>(42), QStringLiteral("https://ws")).isProduction());
    EXPECT_EQ(endpoint(static_cast<RemoteType>(42), QString()).getType(), static_cast<RemoteType>(42));

    const EndpointData none;
    EXPECT_EQ(none.getType(), RemoteType::Unknown);
    EXPECT_FALSE(none.isProduction());
    EXPECT_TRUE(none.getWs().isNull());
    EXPECT_TRUE(none.getDiscoverMobileOffer().isNull());
}

TEST(CommonDefinitions, CommandLineOptionsDefaultsAndMemberOrder)
{
    const CommandLineOptions defaults;
    EXPECT_EQ(defaults.logLevel, 0);
    EXPECT_TRUE(defaults.configFile.isEmpty());
    EXPECT_FALSE(defaults.forceUpdate);
    // The force-update flag is the third member.
    const CommandLineOptions given{2, QStringLiteral("alt.ini"), true};
    EXPECT_TRUE(given.forceUpdate);
    EXPECT_NE(given, defaults);
}

TEST(CommonDefinitions, CallerIdsCompareEveryMemberInOrder)
{
    const CallerIdDto none;
    EXPECT_EQ(none.getId(), 0);
    EXPECT_TRUE(none.getNumber().isNull());
    EXPECT_FALSE(none.isDefault());

    CallerIds a;
    a.addCallerId(CallerIdDto(1, QStringLiteral("+391"), true));
    a.addCallerId(CallerIdDto(2, QStringLiteral("+392"), false));
    EXPECT_EQ(a.getCallerIds().size(), 2u);
    EXPECT_EQ(a.getCallerIds().front().getNumber(), QStringLiteral("+391"));

    auto differs = [&a](auto change) {
        CallerIds b = a;
        change(b);
        return b != a;
    };
    auto withEntries = [](std::vector<CallerIdDto> entries) {
        return [entries](CallerIds& b) {
            b = CallerIds();
            for (const CallerIdDto& e : entries)
                b.addCallerId(e);
        };
    };
    const CallerIdDto first(1, QStringLiteral("+391"), true);
    const CallerIdDto second(2, QStringLiteral("+392"), false);
    EXPECT_FALSE(differs(withEntries({first, second})));
    EXPECT_TRUE(differs(withEntries({second, first})));
    EXPECT_TRUE(differs(withEntries({first})));
    EXPECT_TRUE(differs(withEntries({first, second, second}))); // duplicates are kept
    EXPECT_TRUE(differs(withEntries({first, CallerIdDto(3, QStringLiteral("+392"), false)})));
    EXPECT_TRUE(differs(withEntries({first, CallerIdDto(2, QStringLiteral("+3920"), false)})));
    EXPECT_TRUE(differs(withEntries({first, CallerIdDto(2, QStringLiteral("+392"), true)})));
    EXPECT_TRUE(differs([](CallerIds& b) { b.setLastUpdated(1); }));
    EXPECT_TRUE(differs([](CallerIds& b) { b.setReadOnly(true); }));
}

TEST(CommonDefinitions, CallerIdsCopyIndependentlyAndResetToEmpty)
{
    CallerIds source;
    source.addCallerId(CallerIdDto(1, QStringLiteral("+391"), true));
    source.setLastUpdated(1700000000000);
    source.setReadOnly(true);

    CallerIds copy = source;
    copy.addCallerId(CallerIdDto(2, QStringLiteral("+392"), false));
    EXPECT_EQ(source.getCallerIds().size(), 1u);

    CallerIds target;
    target = std::move(copy);
    EXPECT_EQ(target.getCallerIds().size(), 2u);
    EXPECT_EQ(target.getLastUpdated(), 1700000000000);
    EXPECT_TRUE(target.isReadOnly());

    target.reset();
    EXPECT_EQ(target, CallerIds());
    EXPECT_TRUE(target.getCallerIds().empty());
    EXPECT_EQ(target.getLastUpdated(), 0);
    EXPECT_FALSE(target.isReadOnly());
}

TEST(EndpointDirectory, EmptyDirectoryFindsNothing)
{
    const Endpoints empty;
    EXPECT_FALSE(empty.getEndpoint(RemoteType::Production));
    EXPECT_FALSE(empty.getEndpoint(QString()));
    EXPECT_FALSE(empty.getEndpoint(QStringLiteral("https://ws")));
    EXPECT_TRUE(empty.getEndpointVector().empty());
    // No production entry: a default endpoint, which says it is not production.
    EXPECT_EQ(empty.getProductionEndpoint(), EndpointData());
    EXPECT_FALSE(empty.getProductionEndpoint().isProduction());
}

TEST(EndpointDirectory, FirstMatchWins)
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
    EXPECT_EQ(dir.getProductionEndpoint().getAnalytics(), QStringLiteral("production-1"));
    EXPECT_FALSE(dir.getEndpoint(RemoteType::Development));

    const Endpoints noProduction{endpoint(RemoteType::Staging, QStringLiteral("https://ws"))};
    EXPECT_EQ(noProduction.getProductionEndpoint(), EndpointData());
}

TEST(EndpointDirectory, WsLookupIsExact)
{
    const Endpoints dir{
        endpoint(RemoteType::Staging, QStringLiteral("https://ws.example/api"), QStringLiteral("named")),
        endpoint(RemoteType::Test, QString(), QStringLiteral("first-empty")),
        endpoint(RemoteType::Development, QStringLiteral(""), QStringLiteral("second-empty")),
    };
    EXPECT_EQ(tagOf(dir.getEndpoint(QStringLiteral("https://ws.example/api"))), QStringLiteral("named"));
    for (const char* nearMiss :
         {"HTTPS://WS.EXAMPLE/API", "https://ws.example/api/", "https://ws.example/api ",
          " https://ws.example/api", "https://ws.example/ap"}) {
        EXPECT_FALSE(dir.getEndpoint(QString::fromLatin1(nearMiss))) << nearMiss;
    }
    // Null and empty are the same text.
    EXPECT_EQ(tagOf(dir.getEndpoint(QStringLiteral(""))), QStringLiteral("first-empty"));
    EXPECT_EQ(tagOf(dir.getEndpoint(QString())), QStringLiteral("first-empty"));
}

TEST(EndpointDirectory, InitializerListAndVectorBuildTheSameDirectory)
{
    const std::vector<EndpointData> entries{
        endpoint(RemoteType::Test, QStringLiteral("https://t"), QStringLiteral("t")),
        endpoint(RemoteType::Production, QStringLiteral("https://p"), QStringLiteral("p")),
        endpoint(RemoteType::Staging, QStringLiteral("https://s"), QStringLiteral("s")),
    };
    const Endpoints fromVector(entries);
    const Endpoints fromList{entries[0], entries[1], entries[2]};

    EXPECT_EQ(fromVector.getEndpointVector(), entries);
    EXPECT_EQ(fromList.getEndpointVector(), entries);
    for (const EndpointData& e : entries) {
        EXPECT_EQ(fromVector.getEndpoint(e.getType()), fromList.getEndpoint(e.getType()));
        EXPECT_EQ(fromVector.getEndpoint(e.getWs()), fromList.getEndpoint(e.getWs()));
        EXPECT_EQ(fromList.getEndpoint(e.getWs()), e);
    }
    EXPECT_EQ(fromVector.getProductionEndpoint(), entries[1]);
    EXPECT_EQ(fromList.getProductionEndpoint(), entries[1]);

    const Endpoints copy = fromList;
    EXPECT_EQ(copy.getEndpointVector(), entries);
}
