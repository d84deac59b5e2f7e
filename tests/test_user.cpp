// The signed-in user: equality, what the encrypted part holds (never the password or the
// company) and how it is read back, the valid-session rule, what a reset and a clear drop.
#include <UserRuntimeData.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

using P = UserProperty;
using R = UserConfigurationDTO;

namespace {

using Setter = void (R::*)(QString);
const Setter kSetters[] = {&R::setUserName,    &R::setPassword,   &R::setAppKey,    &R::setWID,
                           &R::setAvatar,      &R::setCompany,    &R::setFirstName, &R::setLastName,
                           &R::setMeetingRoom, &R::setDepartment, &R::setUuid};

// The stored key of each property in the order written; password and company have none.
const std::pair<P, const char*> kKeys[] = {
    {P::UserName, "user"},           {P::AppKey, "appKey"},         {P::WID, "wid"},
    {P::Avatar, "avatar"},           {P::FirstName, "firstName"},   {P::LastName, "lastName"},
    {P::MeetingRoom, "meetingRoom"}, {P::Department, "department"}, {P::Uuid, "uuid"}};

} // namespace

TEST(UserRecord, EqualityComparesEveryFieldExactlyAndEmptyEqualsNull)
{
    for (size_t i = 0; i < std::size(kSetters); ++i) {
        const Setter set = kSetters[i];
        R lower, upper, empty;
        (lower.*set)(QStringLiteral("name"));
        (upper.*set)(QStringLiteral("NAME"));
        (empty.*set)(QStringLiteral(""));
        EXPECT_FALSE(lower == upper) << "setter " << i;
        EXPECT_FALSE(lower == R());
        EXPECT_TRUE(empty == R());
    }
}

TEST(UserStore, EncryptedPartHoldsNineTextsInOrderNeverThePasswordOrCompany)
{
    UserRuntimeData store;
    changeEvery<P>(store);
    const DataSets::DataSet ds = store.serializeEncrypted();
    QStringList keys;
    for (const auto& [property, key] : kKeys) {
        keys << QLatin1String(key);
        EXPECT_EQ(valueOf<QString>(ds, key), QLatin1Char('-') + QLatin1String(propertyName(property)));
    }
    EXPECT_EQ(keysOf(ds), keys);
    EXPECT_TRUE(store.serializeUnencrypted()->isEmpty());

    // Empty fields are written too, as empty text.
    const DataSets::DataSet empty = R().serializeEncrypted();
    EXPECT_EQ(keysOf(empty), keys);
    for (const QString& key : keys)
        EXPECT_EQ(valueOf<QString>(empty, key), QString()) << qPrintable(key);
}

TEST(UserStore, ReadingKeepsFieldsTheSetDoesNotYield)
{
    UserRuntimeData store, twin;
    changeEvery<P>(store);
    changeEvery<P>(twin);
    store.deserializeEncrypted(setOf({{"user", QStringLiteral("new")},
                                      {"appKey", 5},
                                      {"wid", true},
                                      {"avatar", DataSets::Impl::createDS(false)},
                                      {"firstName", QStringLiteral("new")},
                                      {"lastName", QString()}, // empty text is a value like any other
                                      {"uuid", QStringLiteral("new")},
                                      {"password", QStringLiteral("new")},
                                      {"company", QStringLiteral("new")}}));
    EXPECT_EQ(differing<P>(store, twin), (Names{"UserName", "FirstName", "LastName", "Uuid"}));
    EXPECT_EQ((store.getData<QString, P::UserName>()), QStringLiteral("new"));
    EXPECT_TRUE((store.getData<QString, P::LastName>()).isEmpty());

    // No set at all, or the plain part: nothing to read, nothing changes.
    store.deserializeEncrypted(DataSets::DataSet());
    store.deserializeUnencrypted(twin.serializeEncrypted());
    EXPECT_EQ(differing<P>(store, twin), (Names{"UserName", "FirstName", "LastName", "Uuid"}));
}

TEST(UserStore, ValidSessionNeedsExactlyUserNameAppKeyAndWid)
{
    UserRuntimeData store;
    EXPECT_FALSE(store.isValidSession());
    changeEvery<P>(store);
    store.setData<QString, P::WID>(QString());
    EXPECT_FALSE(store.isValidSession()) << "every other field set, WID empty";

    store.clear();
    store.setData<QString, P::UserName>(QStringLiteral("alice"));
    store.setData<QString, P::AppKey>(QStringLiteral("key"));
    EXPECT_FALSE(store.isValidSession());
    store.setData<QString, P::WID>(QStringLiteral("w"));
    EXPECT_TRUE(store.isValidSession()) << "password and profile play no part";

    auto dropAndRestore = [&store](auto set) {
        set(QString());
        EXPECT_FALSE(store.isValidSession());
        set(QStringLiteral(" ")); // length counts, no trimming
        EXPECT_TRUE(store.isValidSession());
    };
    dropAndRestore([&](const QString& v) { store.setData<QString, P::UserName>(v); });
    dropAndRestore([&](const QString& v) { store.setData<QString, P::AppKey>(v); });
    dropAndRestore([&](const QString& v) { store.setData<QString, P::WID>(v); });

    store.resetData();
    EXPECT_TRUE(store.isValidSession()) << "a reset keeps the user";
    store.clear();
    EXPECT_FALSE(store.isValidSession());
}

TEST(UserStore, ResetKeepsEverythingClearDropsEverything)
{
    expectDrops<P, UserRuntimeData>([](UserRuntimeData& s) { s.resetData(); }, {});
    expectDrops<P, UserRuntimeData>([](UserRuntimeData& s) { s.clear(); }, allHeld<P>());
}
