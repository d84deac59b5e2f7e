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
