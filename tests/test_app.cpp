#include <AppRuntimeData.h>
#include <AppSettingsDTO.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <vector>

using DataSets::DataSet;
using DataSets::Impl::createDS;
using DataSets::Impl::getDataValue;
using DataSets::Impl::setDataValue;
using ResourcesDefs::RemoteType;

namespace {

template <class T> std::optional<T> valueOf(const DataSet& ds, const QString& key)
{
    T value{};
    if (!getDataValue(ds.get(), key, value))
        return std::nullopt;
    return value;
}

DataSet optOutList(const AppSettingsDTO& record)
{
    return valueOf<DataSet>(record.serializeUnencrypted(), QStringLiteral("optOutMessages")).value();
}

// Reads a plain data set whose only entry is the given opt-out list.
std::set<QString> decode(const DataSet& list)
{
    DataSet plain = createDS(false);
    setDataValue(*plain, QStringLiteral("optOutMessages"), list);
    AppSettingsDTO record;
    record.setOptOutMessages({QStringLiteral("stale")});
    record.deserializeUnencrypted(plain);
    return record.getOptOutMessages();
}

// A value different from every property's default, per value type.
void fill(QString& v)
{
    v = QStringLiteral("x");
}
void fill(RemoteType& v)
{
    v = RemoteType::Staging;
}
void fill(Endpoints& v)
{
    v = Endpoints{EndpointData(RemoteType::Staging, "ws", "a", "w", "p", "d")};
}
void fill(std::set<QString>& v)
{
    v = {QStringLiteral("m")};
}
void fill(bool& v)
{
    v = true;
}
void fill(int& v)
{
    v = 7;
}
void fill(CommandLineOptions& v)
{
    v = CommandLineOptions{2, QStringLiteral("cfg"), true};
}
void fill(QDateTime& v)
{
    v = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5));
}
void fill(QByteArray& v)
{
    v = QByteArrayLiteral("b");
}
void fill(DataSet& v)
{
    v = createDS(false);
    setDataValue(*v, QStringLiteral("k"), 1);
}

// Equality that also tells a null string from an empty one.
template <class T> bool same(const T& a, const T& b)
{
    return a == b;
}
bool same(const QString& a, const QString& b)
{
    return a == b && a.isNull() == b.isNull();
}

// Calls f(tag, name) for the four properties computed from the current endpoint.
template <class F> void forEachDerived(F&& f)
{
    PropertyTable<AppProperty>::forEach([&](auto tag, const char* name) {
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

constexpr bool keptByClear(AppProperty p)
{
    return p == AppProperty::AppText || p == AppProperty::CurrentRemoteType ||
           p == AppProperty::EndpointDirectory || p == AppProperty::DBSessionsPath ||
           p == AppProperty::CmdLineOptions;
}

} // namespace

TEST(AppSettingsDTO, NewRecordHasItsDefaultsAndWritesFourPlainEntries)
{
    AppSettingsDTO record;
    EXPECT_EQ(record.getNextTimeout(), 14400);
    EXPECT_FALSE(record.isForceUpdate());
    EXPECT_THROW(record.getEndpoint(), std::bad_optional_access);
    ASSERT_TRUE(record.userSettings());
    EXPECT_TRUE(record.userSettings()->isEmpty());
    EXPECT_NE(AppSettingsDTO().userSettings(), record.userSettings()) << "each record needs its own set";

    const DataSet plain = record.serializeUnencrypted();
    EXPECT_EQ(plain->size(), 4);
    EXPECT_FALSE(valueOf<QString>(plain, QStringLiteral("meetingURL")));
    EXPECT_TRUE(optOutList(record)->isEmpty());
    EXPECT_EQ(valueOf<QString>(plain, QStringLiteral("version")), QString(""));
    EXPECT_EQ(valueOf<bool>(plain, QStringLiteral("outlookImport")), false);
    EXPECT_EQ(valueOf<DataSet>(plain, QStringLiteral("userSettings")), record.userSettings())
        << "shared, not copied";
    EXPECT_TRUE(record.serializeEncrypted()->isEmpty());

    record.setCommandLineOptions(CommandLineOptions{0, QString(), true});
    EXPECT_TRUE(record.isForceUpdate());
}

TEST(AppSettingsDTO, OptOutMessagesAreWrittenInStringOrderUnderListPositions)
{
    AppSettingsDTO record;
    record.setOptOutMessages({QStringLiteral("b"), QStringLiteral("B"), QStringLiteral("a")});
    const DataSet list = optOutList(record);
    EXPECT_TRUE(list->isList());
    EXPECT_EQ(list->size(), 3);
    EXPECT_EQ(valueOf<QString>(list, QStringLiteral("0")), QString("B"));
    EXPECT_EQ(valueOf<QString>(list, QStringLiteral("1")), QString("a"));
    EXPECT_EQ(valueOf<QString>(list, QStringLiteral("2")), QString("b"));
}

TEST(AppSettingsDTO, ElevenOptOutMessagesRoundTripWhateverTheEntryOrder)
{
    std::set<QString> messages;
    for (int i = 0; i <= 10; ++i)
        messages.insert(QStringLiteral("message %1").arg(i));
    AppSettingsDTO record;
    record.setOptOutMessages(messages);
    const DataSet list = optOutList(record);
    EXPECT_EQ(list->size(), 11);
    for (int i = 0; i <= 10; ++i)
        EXPECT_TRUE(valueOf<QString>(list, QString::number(i))) << i;
    EXPECT_EQ(decode(list), messages);

    DataSet reversed = createDS(true);
    for (int i = 10; i >= 0; --i)
        setDataValue(*reversed, QString::number(i), valueOf<QString>(list, QString::number(i)).value());
    EXPECT_EQ(decode(reversed), messages);
}

TEST(AppSettingsDTO, OptOutDecodingStopsAtTheFirstEntryThatIsNotText)
{
    // Iteration order, not key order, decides; any key names are accepted.
    DataSet list = createDS(false);
    setDataValue(*list, QStringLiteral("z"), QStringLiteral("first"));
    setDataValue(*list, QStringLiteral("y"), QStringLiteral("second"));
    setDataValue(*list, QStringLiteral("a"), 5);
    setDataValue(*list, QStringLiteral("m"), QStringLiteral("after"));
    EXPECT_EQ(decode(list), (std::set<QString>{QStringLiteral("first"), QStringLiteral("second")}));

    DataSet nestedFirst = createDS(false);
    setDataValue(*nestedFirst, QStringLiteral("0"), createDS(false));
    setDataValue(*nestedFirst, QStringLiteral("1"), QStringLiteral("ignored"));
    EXPECT_TRUE(decode(nestedFirst).empty());
}

TEST(AppSettingsDTO, MissingOrMistypedEntriesFollowTheirReadRules)
{
    DataSet mistyped = createDS(false);
    setDataValue(*mistyped, QStringLiteral("optOutMessages"), QStringLiteral("not a set"));
    setDataValue(*mistyped, QStringLiteral("version"), 3);
    setDataValue(*mistyped, QStringLiteral("outlookImport"), 0);
    setDataValue(*mistyped, QStringLiteral("meetingURL"), false);
    setDataValue(*mistyped, QStringLiteral("userSettings"), QStringLiteral("not a set"));

    for (const DataSet& stored : {createDS(false), mistyped, DataSet()}) {
        AppRuntimeData store;
        const DataSet settings = store.getData<DataSet, AppProperty::UserSettings>();
        store.setData<std::set<QString>, AppProperty::OptOutMessages>({QStringLiteral("m")});
        store.setData<QString, AppProperty::Version>(QStringLiteral("1"));
        store.setData<bool, AppProperty::EnableOutlookImport>(true);
        store.setData<QString, AppProperty::MeetingURL>(QStringLiteral("meet"));
        store.deserializeUnencrypted(stored);

        EXPECT_TRUE((store.getData<std::set<QString>, AppProperty::OptOutMessages>()).empty());
        EXPECT_TRUE((store.getData<QString, AppProperty::Version>()).isNull());
        EXPECT_TRUE((store.getData<bool, AppProperty::EnableOutlookImport>()));
        EXPECT_EQ((store.getData<QString, AppProperty::MeetingURL>()), QString("meet"));
        EXPECT_EQ((store.getData<DataSet, AppProperty::UserSettings>()), settings);
    }
}

TEST(AppSettingsDTO, EmptyMeetingURLIsNotWrittenAndSoKeepsTheReadersURL)
{
    AppSettingsDTO writer;
    writer.setMeetingURL(QStringLiteral(""));
    const DataSet plain = writer.serializeUnencrypted();
    EXPECT_FALSE(valueOf<QString>(plain, QStringLiteral("meetingURL")));

    AppSettingsDTO reader;
    reader.setMeetingURL(QStringLiteral("old"));
    reader.deserializeUnencrypted(plain);
    EXPECT_EQ(reader.getMeetingURL(), QString("old"));
}

TEST(AppRuntimeData, PlainSetRoundTripsAndSharesTheUserSettings)
{
    AppRuntimeData source;
    source.setData<std::set<QString>, AppProperty::OptOutMessages>(
        {QStringLiteral("y"), QStringLiteral("x")});
    source.setData<QString, AppProperty::MeetingURL>(QStringLiteral("https://meet"));
    source.setData<QString, AppProperty::PrivacyURL>(QStringLiteral("not stored"));
    const DataSet plain = source.serializeUnencrypted();
    EXPECT_EQ(plain->size(), 5);
    const DataSet list = valueOf<DataSet>(plain, QStringLiteral("optOutMessages")).value();
    EXPECT_EQ(valueOf<QString>(list, QStringLiteral("0")), QString("x"));
    EXPECT_EQ(valueOf<QString>(list, QStringLiteral("1")), QString("y"));

    setDataValue(*plain, QStringLiteral("version"), QStringLiteral("7.1"));
    setDataValue(*plain, QStringLiteral("outlookImport"), true);
    AppRuntimeData restored;
    restored.deserializeUnencrypted(plain);
    EXPECT_EQ((restored.getData<std::set<QString>, AppProperty::OptOutMessages>()),
              (std::set<QString>{QStringLiteral("x"), QStringLiteral("y")}));
    EXPECT_EQ((restored.getData<QString, AppProperty::MeetingURL>()), QString("https://meet"));
    EXPECT_EQ((restored.getData<QString, AppProperty::Version>()), QString("7.1"));
    EXPECT_TRUE((restored.getData<bool, AppProperty::EnableOutlookImport>()));
    EXPECT_TRUE((restored.getData<QString, AppProperty::PrivacyURL>()).isNull());
    EXPECT_EQ((restored.getData<DataSet, AppProperty::UserSettings>()),
              (source.getData<DataSet, AppProperty::UserSettings>()));
}

TEST(AppRuntimeData, EncryptedPartIsAlwaysEmptyAndIgnoredOnRead)
{
    AppRuntimeData store;
    store.setData<QString, AppProperty::Version>(QStringLiteral("1"));
    store.setData<QString, AppProperty::MeetingURL>(QStringLiteral("meet"));
    EXPECT_TRUE(store.serializeEncrypted()->isEmpty());

    store.deserializeEncrypted(store.serializeUnencrypted());
    DataSet other = createDS(false);
    setDataValue(*other, QStringLiteral("version"), QStringLiteral("9"));
    store.deserializeEncrypted(other);
    EXPECT_EQ((store.getData<QString, AppProperty::Version>()), QString("1"));
    EXPECT_EQ((store.getData<std::set<QString>, AppProperty::OptOutMessages>()), std::set<QString>());
}

TEST(AppRuntimeData, DerivedURLsFollowTheFirstEndpointOfTheRemoteType)
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
    store.setData<Endpoints, AppProperty::EndpointDirectory>(
        Endpoints{EndpointData(RemoteType::Production, "ws0", "a0", "w0", "p0", "d0"),
                  EndpointData(RemoteType::Staging, "ws1", "a1", "w1", "p1", "d1"),
                  EndpointData(RemoteType::Staging, "ws2", "a2", "w2", "p2", "d2")});
    store.setData<RemoteType, AppProperty::CurrentRemoteType>(RemoteType::Staging);
    const std::vector<QString> first{"a1", "w1", "p1", "d1"};
    EXPECT_EQ(derivedURLs(store), first);

    forEachDerived(
        [&](auto tag, const char*) { store.setData<QString, decltype(tag)::property>(QStringLiteral("x")); });
    EXPECT_EQ(derivedURLs(store), first);

    store.setData<RemoteType, AppProperty::CurrentRemoteType>(RemoteType::Test);
    expectAllThrow();
}

TEST(AppRuntimeData, ThrowingDerivedPropertyReleasesTheLock)
{
    auto store = std::make_shared<AppRuntimeData>();
    EXPECT_THROW((store->getData<QString, AppProperty::AnalyticsURL>()), std::bad_optional_access);

    // The writer runs elsewhere so a lock left behind shows as a failure, not a hang.
    auto written = std::async(
        std::launch::async, [store] { store->setData<QString, AppProperty::Version>(QStringLiteral("2")); });
    if (written.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the writer is still waiting for the lock";
        static_cast<void>(new std::future<void>(std::move(written))); // its destructor would wait too
        return;
    }
    EXPECT_EQ((store->getData<QString, AppProperty::Version>()), QString("2"));
}

TEST(AppRuntimeData, ClearResetsAllButTheKeptFieldsAndEmptiesTheSharedUserSettings)
{
    const AppRuntimeData fresh;
    AppRuntimeData store;
    PropertyTable<AppProperty>::forEach([&](auto tag, const char* name) {
        using Tag = decltype(tag);
        using T = typename Tag::Type;
        if constexpr (!Tag::derived) {
            T value{};
            fill(value);
            ASSERT_FALSE(same(value, fresh.getData<T, Tag::property>())) << name;
            store.setData<T, Tag::property>(value);
        }
    });
    const DataSet heldBefore = store.getData<DataSet, AppProperty::UserSettings>();

    store.clear();

    EXPECT_EQ((store.getData<DataSet, AppProperty::UserSettings>()), heldBefore);
    EXPECT_TRUE(heldBefore->isEmpty());
    PropertyTable<AppProperty>::forEach([&](auto tag, const char* name) {
        using Tag = decltype(tag);
        using T = typename Tag::Type;
        if constexpr (!Tag::derived && Tag::property != AppProperty::UserSettings) {
            T expected{};
            if constexpr (keptByClear(Tag::property))
                fill(expected);
            else
                expected = fresh.getData<T, Tag::property>();
            EXPECT_TRUE(same(store.getData<T, Tag::property>(), expected)) << name;
        }
    });
}

TEST(AppRuntimeData, ClearLeavesANullUserSettingsHandleAlone)
{
    AppRuntimeData store;
    store.setData<DataSet, AppProperty::UserSettings>(DataSet());
    store.clear();
    EXPECT_FALSE((store.getData<DataSet, AppProperty::UserSettings>()));
    EXPECT_EQ((store.getData<int, AppProperty::NextTimeout>()), 14400);
}

TEST(AppRuntimeData, CopiesShareOnlyTheUserSettings)
{
    AppRuntimeData source;
    source.setData<QString, AppProperty::Version>(QStringLiteral("1"));
    source.setData<int, AppProperty::NextTimeout>(5);
    source.setData<std::set<QString>, AppProperty::OptOutMessages>({QStringLiteral("a")});
    const DataSet shared = source.getData<DataSet, AppProperty::UserSettings>();

    AppRuntimeData constructed(source);
    AppRuntimeData assigned;
    assigned = source;
    for (AppRuntimeData* copy : {&constructed, &assigned}) {
        EXPECT_EQ((copy->getData<int, AppProperty::NextTimeout>()), 5);
        EXPECT_EQ((copy->getData<DataSet, AppProperty::UserSettings>()), shared);
        copy->setData<QString, AppProperty::Version>(QStringLiteral("2"));
        copy->setData<std::set<QString>, AppProperty::OptOutMessages>({QStringLiteral("b")});
        copy->setData<DataSet, AppProperty::UserSettings>(createDS(false));
    }
    EXPECT_EQ((source.getData<QString, AppProperty::Version>()), QString("1"));
    EXPECT_EQ((source.getData<std::set<QString>, AppProperty::OptOutMessages>()),
              std::set<QString>{QStringLiteral("a")});
    EXPECT_EQ((source.getData<DataSet, AppProperty::UserSettings>()), shared);

    AppRuntimeData moved(std::move(constructed));
    EXPECT_EQ((moved.getData<QString, AppProperty::Version>()), QString("2"));
}
