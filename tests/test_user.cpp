#include <UserConfigurationDTO.h>
#include <UserRuntimeData.h>

#include "WalkedDataSet.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <type_traits>

namespace {

using Setter = void (UserConfigurationDTO::*)(QString);
using Getter = QString (UserConfigurationDTO::*)() const;

struct UserField
{
    const char* name;
    Setter set;
    Getter get;
    const char* key; // null: never stored
};

// Declaration order.
const UserField kFields[] = {
    {"userName", &UserConfigurationDTO::setUserName, &UserConfigurationDTO::getUserName, "user"},
    {"password", &UserConfigurationDTO::setPassword, &UserConfigurationDTO::getPassword, nullptr},
    {"appKey", &UserConfigurationDTO::setAppKey, &UserConfigurationDTO::getAppKey, "appKey"},
    {"wid", &UserConfigurationDTO::setWID, &UserConfigurationDTO::getWID, "wid"},
    {"avatar", &UserConfigurationDTO::setAvatar, &UserConfigurationDTO::getAvatar, "avatar"},
    {"company", &UserConfigurationDTO::setCompany, &UserConfigurationDTO::getCompany, nullptr},
    {"firstName", &UserConfigurationDTO::setFirstName, &UserConfigurationDTO::getFirstName, "firstName"},
    {"lastName", &UserConfigurationDTO::setLastName, &UserConfigurationDTO::getLastName, "lastName"},
    {"meetingRoom", &UserConfigurationDTO::setMeetingRoom, &UserConfigurationDTO::getMeetingRoom,
     "meetingRoom"},
    {"department", &UserConfigurationDTO::setDepartment, &UserConfigurationDTO::getDepartment, "department"},
    {"uuid", &UserConfigurationDTO::setUuid, &UserConfigurationDTO::getUuid, "uuid"},
};

QString valueFor(const UserField& f, const char* tag = "old")
{
    return QStringLiteral("%1-%2").arg(QLatin1String(f.name), QLatin1String(tag));
}

UserConfigurationDTO filledRecord(const char* tag = "old")
{
    UserConfigurationDTO r;
    for (const UserField& f : kFields)
        (r.*f.set)(valueFor(f, tag));
    return r;
}

void fill(UserRuntimeData& store, const QString& tag)
{
    PropertyTable<UserProperty>::forEach([&](auto row, const char* name) {
        using Row = decltype(row);
        store.setData<typename Row::Type, Row::property>(QLatin1String(name) + tag);
    });
}

QStringList values(const UserRuntimeData& store)
{
    QStringList out;
    PropertyTable<UserProperty>::forEach([&](auto row, const char*) {
        using Row = decltype(row);
        out << store.getData<typename Row::Type, Row::property>();
    });
    return out;
}

QStringList expectedValues(const QString& tag)
{
    QStringList out;
    for (const PropertyRow& row : PropertyTable<UserProperty>::rows)
        out << QLatin1String(row.name) + tag;
    return out;
}

} // namespace

static_assert(std::is_copy_constructible_v<UserRuntimeData> && std::is_copy_assignable_v<UserRuntimeData>);
static_assert(std::is_nothrow_move_constructible_v<UserRuntimeData> &&
              std::is_nothrow_move_assignable_v<UserRuntimeData>);

TEST(UserRecord, NullAndEmptyTextAreEqual)
{
    UserConfigurationDTO empty;
    for (const UserField& f : kFields)
        (empty.*f.set)(QStringLiteral(""));
    EXPECT_EQ(empty, UserConfigurationDTO());
}

TEST(UserRecord, EveryFieldTakesPartInEquality)
{
    for (const UserField& f : kFields) {
        SCOPED_TRACE(f.name);
        UserConfigurationDTO a = filledRecord();
        UserConfigurationDTO b = filledRecord();
        ASSERT_EQ(a, b);
        (b.*f.set)(valueFor(f).toUpper());
        EXPECT_NE(a, b);
        EXPECT_NE(b, a);
    }
}

TEST(UserRecord, EncryptedSetHoldsNineTextsInOrder)
{
    const UserConfigurationDTO record = filledRecord();
    std::vector<WalkedEntry> entries = walkDataSet(record.serializeEncrypted());
    ASSERT_EQ(entries.size(), 9u);
    auto entry = entries.begin();
    for (const UserField& f : kFields) {
        if (!f.key)
            continue;
        EXPECT_EQ(entry->path, QLatin1String(f.key));
        EXPECT_EQ(entry->kind, 't');
        EXPECT_EQ(entry->text, valueFor(f));
        ++entry;
    }

    // Empty fields are written too, as empty text.
    entries = walkDataSet(UserConfigurationDTO().serializeEncrypted());
    ASSERT_EQ(entries.size(), 9u);
    for (const WalkedEntry& e : entries) {
        EXPECT_EQ(e.kind, 't') << qPrintable(e.path);
        EXPECT_TRUE(e.text.isEmpty()) << qPrintable(e.path);
    }
}

TEST(UserRecord, PlainSetIsEmptyAndReadingOneChangesNothing)
{
    const UserConfigurationDTO record = filledRecord();
    EXPECT_TRUE(record.serializeUnencrypted()->isEmpty());

    UserConfigurationDTO target = filledRecord("kept");
    target.deserializeUnencrypted(record.serializeEncrypted());
    EXPECT_EQ(target, filledRecord("kept"));
}

TEST(UserRecord, ReadingKeepsFieldsTheSetDoesNotYield)
{
    using namespace DataSets::Impl;
    const DataSets::DataSet ds = createDS(false);
    setDataValue(*ds, QStringLiteral("user"), QStringLiteral("userName-new"));
    setDataValue(*ds, QStringLiteral("appKey"), 5);
    setDataValue(*ds, QStringLiteral("wid"), true);
    setDataValue(*ds, QStringLiteral("avatar"), createDS(false));
    setDataValue(*ds, QStringLiteral("firstName"), QStringLiteral("firstName-new"));
    setDataValue(*ds, QStringLiteral("lastName"), QString()); // empty text is a value like any other
    setDataValue(*ds, QStringLiteral("uuid"), QStringLiteral("uuid-new"));
    setDataValue(*ds, QStringLiteral("password"), QStringLiteral("password-new"));
    setDataValue(*ds, QStringLiteral("company"), QStringLiteral("company-new"));

    UserConfigurationDTO record = filledRecord();
    record.deserializeEncrypted(ds);
    EXPECT_EQ(record.getUserName(), QStringLiteral("userName-new"));
    EXPECT_EQ(record.getAppKey(), QStringLiteral("appKey-old"));
    EXPECT_EQ(record.getWID(), QStringLiteral("wid-old"));
    EXPECT_EQ(record.getAvatar(), QStringLiteral("avatar-old"));
    EXPECT_EQ(record.getFirstName(), QStringLiteral("firstName-new"));
    EXPECT_TRUE(record.getLastName().isEmpty());
    EXPECT_EQ(record.getMeetingRoom(), QStringLiteral("meetingRoom-old"));
    EXPECT_EQ(record.getDepartment(), QStringLiteral("department-old"));
    EXPECT_EQ(record.getUuid(), QStringLiteral("uuid-new"));
    EXPECT_EQ(record.getPassword(), QStringLiteral("password-old"));
    EXPECT_EQ(record.getCompany(), QStringLiteral("company-old"));

    // No set at all: nothing to read, nothing changes.
    record = filledRecord();
    record.deserializeEncrypted(DataSets::DataSet());
    record.deserializeUnencrypted(DataSets::DataSet());
    EXPECT_EQ(record, filledRecord());
}

TEST(UserRecord, RoundTripLosesOnlyPasswordAndCompany)
{
    const UserConfigurationDTO saved = filledRecord();
    UserConfigurationDTO restored;
    restored.deserializeEncrypted(saved.serializeEncrypted());
    restored.deserializeUnencrypted(saved.serializeUnencrypted());

    EXPECT_NE(restored, saved);
    EXPECT_TRUE(restored.getPassword().isEmpty());
    EXPECT_TRUE(restored.getCompany().isEmpty());
    restored.setPassword(saved.getPassword());
    restored.setCompany(saved.getCompany());
    EXPECT_EQ(restored, saved);
}

TEST(UserStorage, PasswordAndCompanyReachNoDataSet)
{
    UserRuntimeData store;
    fill(store, QStringLiteral("-secret"));
    const QString password = store.getData<QString, UserProperty::Password>();
    const QString company = store.getData<QString, UserProperty::Company>();

    // Both parts as the session nests them, walked down to every leaf.
    const std::vector<WalkedEntry> entries = walkDataSet(nestSets(
        {{QStringLiteral("encrypted"), nestSets({{QStringLiteral("user"), store.serializeEncrypted()}})},
         {QStringLiteral("plain"), nestSets({{QStringLiteral("user"), store.serializeUnencrypted()}})}}));
    int texts = 0;
    for (const WalkedEntry& e : entries) {
        EXPECT_FALSE(e.text.contains(password)) << qPrintable(e.path);
        EXPECT_FALSE(e.text.contains(company)) << qPrintable(e.path);
        EXPECT_FALSE(e.path.contains(QLatin1String("password"), Qt::CaseInsensitive));
        EXPECT_FALSE(e.path.contains(QLatin1String("company"), Qt::CaseInsensitive));
        texts += e.kind == 't';
    }
    EXPECT_EQ(texts, 9); // the walk did reach the stored fields
}

TEST(UserStore, NewStoreIsEmptyAndNotSignedIn)
{
    const UserRuntimeData store;
    for (const QString& v : values(store))
        EXPECT_TRUE(v.isEmpty());
    EXPECT_FALSE(store.isValidSession());
}

TEST(UserStore, ValidSessionNeedsExactlyUserNameAppKeyAndWid)
{
    UserRuntimeData store;
    fill(store, QStringLiteral("-x"));
    store.setData<QString, UserProperty::WID>(QString());
    EXPECT_FALSE(store.isValidSession()) << "every other field set, WID empty";

    store.clear();
    store.setData<QString, UserProperty::UserName>(QStringLiteral("alice"));
    store.setData<QString, UserProperty::AppKey>(QStringLiteral("key"));
    EXPECT_FALSE(store.isValidSession());
    store.setData<QString, UserProperty::WID>(QStringLiteral("w"));
    EXPECT_TRUE(store.isValidSession()) << "password and profile play no part";

    auto dropAndRestore = [&store](auto set) {
        set(QString());
        EXPECT_FALSE(store.isValidSession());
        set(QStringLiteral(" ")); // length counts, no trimming
        EXPECT_TRUE(store.isValidSession());
    };
    dropAndRestore([&](const QString& v) { store.setData<QString, UserProperty::UserName>(v); });
    dropAndRestore([&](const QString& v) { store.setData<QString, UserProperty::AppKey>(v); });
    dropAndRestore([&](const QString& v) { store.setData<QString, UserProperty::WID>(v); });
}

TEST(UserStore, ResetKeepsTheUserClearDropsIt)
{
    UserRuntimeData store;
    fill(store, QStringLiteral("-v"));
    store.resetData();
    EXPECT_EQ(values(store), expectedValues(QStringLiteral("-v")));
    EXPECT_TRUE(store.isValidSession());

    store.clear();
    for (const QString& v : values(store))
        EXPECT_TRUE(v.isEmpty());
    EXPECT_FALSE(store.isValidSession());
}

TEST(UserStore, CopiesAreIndependent)
{
    UserRuntimeData source;
    fill(source, QStringLiteral("-src"));

    UserRuntimeData copy(source);
    EXPECT_EQ(values(copy), expectedValues(QStringLiteral("-src")));
    copy.setData<QString, UserProperty::Password>(QStringLiteral("changed"));
    source.setData<QString, UserProperty::UserName>(QStringLiteral("changed"));
    EXPECT_EQ((source.getData<QString, UserProperty::Password>()), QStringLiteral("Password-src"));
    EXPECT_EQ((copy.getData<QString, UserProperty::UserName>()), QStringLiteral("UserName-src"));

    UserRuntimeData assigned;
    fill(assigned, QStringLiteral("-other"));
    assigned = copy;
    EXPECT_EQ((assigned.getData<QString, UserProperty::Password>()), QStringLiteral("changed"));
    assigned.setData<QString, UserProperty::Uuid>(QStringLiteral("changed"));
    EXPECT_EQ((copy.getData<QString, UserProperty::Uuid>()), QStringLiteral("Uuid-src"));

    UserRuntimeData& alias = assigned;
    assigned = alias;
    EXPECT_EQ((assigned.getData<QString, UserProperty::Uuid>()), QStringLiteral("changed"));
}

TEST(UserStore, MovesHandTheRecordOver)
{
    UserRuntimeData source;
    fill(source, QStringLiteral("-src"));
    UserRuntimeData moved(std::move(source));
    EXPECT_EQ(values(moved), expectedValues(QStringLiteral("-src")));

    UserRuntimeData target;
    target = std::move(moved);
    EXPECT_EQ(values(target), expectedValues(QStringLiteral("-src")));
    EXPECT_TRUE(target.isValidSession());
}

TEST(UserStore, StorageReachesTheRecord)
{
    UserRuntimeData store;
    store.setData<QString, UserProperty::Password>(QStringLiteral("kept"));
    store.deserializeEncrypted(filledRecord("stored").serializeEncrypted());
    EXPECT_EQ((store.getData<QString, UserProperty::UserName>()), QStringLiteral("userName-stored"));
    EXPECT_EQ((store.getData<QString, UserProperty::Uuid>()), QStringLiteral("uuid-stored"));
    EXPECT_EQ((store.getData<QString, UserProperty::Password>()), QStringLiteral("kept"));
    EXPECT_TRUE(store.isValidSession());

    UserConfigurationDTO back;
    back.deserializeEncrypted(store.serializeEncrypted());
    EXPECT_EQ(back.getWID(), QStringLiteral("wid-stored"));
}
