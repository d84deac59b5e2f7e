// Application settings: defaults, the plain part and its read rules, the opt-out list,
// the URLs taken from the current endpoint, and what a clear keeps.
#include <AppRuntimeData.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

using DataSets::DataSet;
using DataSets::Impl::createDS;
using ResourcesDefs::RemoteType;
using P = AppProperty;

namespace {

// Reads a plain set whose only entry is the given opt-out list.
std::set<QString> decode(const DataSet& list)
{
    AppSettingsDTO record;
    record.setOptOutMessages({QStringLiteral("stale")});
    record.deserializeUnencrypted(setOf({{"optOutMessages", list}}));
    return record.getOptOutMessages();
}

// Calls f(tag, name) for the four properties computed from the current endpoint.
template <class F> void forEachDerived(F&& f)
{
    SessionConfigDetail::PropertyTable<P>::forEach([&](auto tag, const char* name) {
        if constexpr (decltype(tag)::derived)
            f(tag, name);
    });
}

std::vector<QString> derivedURLs(const AppRuntimeData& store)
{
    std::vector<QString> urls;
    forEachDerived(
        [&](auto tag, const char*) { urls.push_back(store.getData<QString, decltype(tag)::property>()); });
    return urls;
}

} // namespace

TEST(AppSettings, OptOutMessagesAreAListInStringOrderReadUpToTheFirstNonText)
{
    std::set<QString> messages{QStringLiteral("b"), QStringLiteral("B"), QStringLiteral("a")};
    for (int i = 0; i <= 10; ++i)
        messages.insert(QStringLiteral("message %1").arg(i));
    AppSettingsDTO record;
    record.setOptOutMessages(messages);
    const DataSet list = valueOf<DataSet>(record.serializeUnencrypted(), "optOutMessages").value();
    EXPECT_TRUE(list->isList());
    ASSERT_EQ(list->size(), 14);
    int position = 0;
    for (const QString& message : messages) // "B", "a", "b", "message 0", "message 1", "message 10", ...
        EXPECT_EQ(valueOf<QString>(list, QString::number(position++)), message);
    EXPECT_EQ(decode(list), messages);

    // The set's own order decides, and any key names are accepted.
    EXPECT_EQ(decode(setOf({{"z", QStringLiteral("first")},
                            {"y", QStringLiteral("second")},
                            {"a", 5},
                            {"m", QStringLiteral("after")}})),
              (std::set<QString>{QStringLiteral("first"), QStringLiteral("second")}));
    EXPECT_TRUE(decode(setOf({{"0", createDS(false)}, {"1", QStringLiteral("ignored")}})).empty());
}

TEST(AppStore, MissingOrMistypedEntriesFollowTheirReadRules)
{
    const DataSet mistyped = setOf({{"optOutMessages", QStringLiteral("not a set")},
                                    {"version", 3},
                                    {"outlookImport", 0},
                                    {"meetingURL", false},
                                    {"userSettings", QStringLiteral("not a set")}});
    for (const DataSet& stored : {createDS(false), mistyped, DataSet()}) {
        AppRuntimeData store, twin;
        changeEvery<P>(store);
        changeEvery<P>(twin);
        const DataSet settings = store.getData<DataSet, P::UserSettings>();
        store.deserializeUnencrypted(stored);
        // The opt-out list and the version always follow the stored set; the rest stays.
        EXPECT_EQ(differing<P>(store, twin), (Names{"OptOutMessages", "Version"}));
        EXPECT_TRUE((store.getData<std::set<QString>, P::OptOutMessages>()).empty());
        EXPECT_TRUE((store.getData<QString, P::Version>()).isNull());
        EXPECT_EQ((store.getData<DataSet, P::UserSettings>()), settings);

        // The encrypted part is always empty and reading one changes nothing.
        EXPECT_TRUE(store.serializeEncrypted()->isEmpty());
        store.deserializeEncrypted(twin.serializeUnencrypted());
        EXPECT_EQ(differing<P>(store, twin), (Names{"OptOutMessages", "Version"}));
    }

    // Stored user settings are taken as the very set, not a copy.
    const DataSet settings = setOf({{"volume", 3}});
    AppRuntimeData store;
    store.deserializeUnencrypted(setOf({{"userSettings", settings}}));
    EXPECT_EQ((store.getData<DataSet, P::UserSettings>()), settings);
}

TEST(AppStore, DerivedURLsFollowTheFirstEndpointOfTheRemoteType)
{
    AppRuntimeData store;
    const auto expectAllThrow = [&store] {
        forEachDerived([&](auto tag, const char* name) {
            EXPECT_THROW((store.getData<QString, decltype(tag)::property>()), std::bad_optional_access)
                << name;
        });
    };
    expectAllThrow();

    // A production entry of another type is no fallback.
    store.setData<Endpoints, P::EndpointDirectory>(
        Endpoints{EndpointData(RemoteType::Production, "ws0", "a0", "w0", "p0", "d0"),
                  EndpointData(RemoteType::Staging, "ws1", "a1", "w1", "p1", "d1"),
                  EndpointData(RemoteType::Staging, "ws2", "a2", "w2", "p2", "d2")});
    store.setData<RemoteType, P::CurrentRemoteType>(RemoteType::Staging);
    const std::vector<QString> first{"a1", "w1", "p1", "d1"};
    EXPECT_EQ(derivedURLs(store), first);

    forEachDerived(
        [&](auto tag, const char*) { store.setData<QString, decltype(tag)::property>(QStringLiteral("x")); });
    EXPECT_EQ(derivedURLs(store), first) << "writing a derived URL does nothing";

    store.setData<RemoteType, P::CurrentRemoteType>(RemoteType::Test);
    expectAllThrow();
}

TEST(AppStore, ThrowingDerivedPropertyReleasesTheLock)
{
    auto store = std::make_shared<AppRuntimeData>();
    EXPECT_THROW((store->getData<QString, P::AnalyticsURL>()), std::bad_optional_access);

    // The writer runs elsewhere so a lock left behind shows as a failure, not a hang.
    auto written =
        std::async(std::launch::async, [store] { store->setData<QString, P::Version>(QStringLiteral("2")); });
    if (written.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the writer is still waiting for the lock";
        static_cast<void>(new std::future<void>(std::move(written))); // its destructor would wait too
        return;
    }
    EXPECT_EQ((store->getData<QString, P::Version>()), QString("2"));
}

TEST(AppStore, CopiesShareTheUserSettings)
{
    AppRuntimeData source, assigned;
    AppRuntimeData copy(source);
    assigned = source;
    const DataSet shared = source.getData<DataSet, P::UserSettings>();
    EXPECT_EQ((copy.getData<DataSet, P::UserSettings>()), shared);
    EXPECT_EQ((assigned.getData<DataSet, P::UserSettings>()), shared);
}
