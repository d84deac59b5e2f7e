// SPDX-License-Identifier: MIT
// The records' own rules beyond their property tables: hooked rows read back, phone
// rights, equality, the valid-session rule, URL placeholders, whole-record reads under
// writes.
#include <AppSettingsDTO.h>
#include <CallFlowConfigurationDTO.h>
#include <ChatConfigurationDTO.h>
#include <DeskConfigurationDTO.h>
#include <PhoneConfigurationDTO.h>
#include <SessionData.h>
#include <UserConfigurationDTO.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <thread>

using DataSets::DataSet;
using DataSets::Impl::Value;

namespace {

// What a session writes under domain/key, in either part: a set of at most that entry.
DataSet written(const SessionData& session, const char* domain, const char* key)
{
    DataSet out = DataSets::Impl::createDS(false);
    for (const DataSet& part : {session.serializeEncrypted(), session.serializeUnencrypted()}) {
        Value value;
        if (valueOf<DataSet>(part, domain).value()->value(key, value))
            out->set(key, value);
    }
    return out;
}

Value list(std::initializer_list<const char*> items)
{
    DataSet ds = DataSets::Impl::createDS(true);
    for (const char* item : items)
        ds->set(QString::number(ds->size()), QString(item));
    return ds;
}

} // namespace

// One value stored under its key into a provisioned session, and what the session then
// writes there; no expectation: the provisioned value stays.
TEST(StoredRules, HookedAndMistypedValuesReadBackAsTheirRulesSay)
{
    const struct
    {
        const char *domain, *key;
        Value stored;
        std::optional<Value> expected;
    } cases[] = {
        {"app", "optOutMessages", setOf({{"z", QString("b")}, {"n", 5}, {"m", QString("c")}}), list({"b"})},
        {"app", "optOutMessages", QString("not a set"), list({})}, // text up to a non-text; absent: none
        {"app", "version", 3, QString("")},
        {"app", "meetingURL", false, {}},
        {"app", "userSettings", QString("not a set"), {}},
        {"phone", "phoneLicense", 4, 0}, // neither CTI nor soft phone: no rights at all
        {"phone", "phoneLicense", 0x106, 0x106},
        {"phone", "phoneLicense", QString("3"), {}},
        {"phone", "currentMode", 0, 0}, // only the two known modes
        {"phone", "currentMode", 2, {}},
        {"phone", "currentMode", -1, {}},
        {"phone", "currentMode", true, {}},
        {"phone", "ringToneVolume", -1, -1}, // all 32 bits of the unsigned volume
        {"phone", "lastPhoneBookSync", QString("2023-11-05T08:09:10.123+05:30"),
         QString("2023-11-05T08:09:10.123+05:30")},
        {"phone", "lastPhoneBookSync", QString("yesterday"), QString("")}, // no sync known any more
        {"chat", "chatLastSynch", 42, QString("0")}, // only positive decimal text counts
        {"chat", "chatLastSynch", QString("-5"), QString("0")},
        {"chat", "chatLastSynch", QString("12abc"), QString("0")},
        {"chat", "chatLastSynch", QString("9223372036854775807"), QString("9223372036854775807")},
    };
    for (const auto& c : cases) {
        SessionData session;
        Provisioning::provision(session);
        const DataSet held = written(session, c.domain, c.key);
        const DataSet stored = setOf({{c.domain, setOf({{c.key, c.stored}})}});
        session.deserializeEncrypted(stored);
        session.deserializeUnencrypted(stored);
        const DataSet expected = c.expected ? setOf({{c.key, *c.expected}}) : held;
        EXPECT_TRUE(sameContent(written(session, c.domain, c.key), expected)) << c.domain << '/' << c.key;
    }
    // An empty meeting URL is not written; stored user settings are the very set, shared by copies.
    EXPECT_FALSE(valueOf<QString>(AppSettingsDTO().serializeUnencrypted(), "meetingURL"));
    const DataSet settings = setOf({{"volume", 3}});
    AppRuntimeData store;
    store.deserializeUnencrypted(setOf({{"userSettings", settings}}));
    EXPECT_EQ((AppRuntimeData(store).getData<DataSet, AppProperty::UserSettings>()), settings);
}

TEST(PhoneRules, RightsBitsChangeOnlyWhatTheyName)
{
    for (int high : {0, INT_MIN}) { // bits beyond the two rights are carried through
        PhoneConfigurationDTO r;
        r.setLicence(static_cast<PhoneDefinitions::PhoneSettingsMode>(high));
        const auto bits = [&r] { return static_cast<int>(r.getLicence()); };
        r.setSoftPhone(true);
        EXPECT_EQ(bits(), high | 3) << "the soft phone brings CTI with it";
        r.setCTI(false);
        EXPECT_EQ(bits(), high | 2);
        r.setCTI(true);
        r.setSoftPhone(false);
        EXPECT_EQ(bits(), high | 1) << "CTI stays when the soft phone goes";
        EXPECT_TRUE(r.isCTI() && !r.isSoftPhone());
    }
}

// Equality as each record documents it: a field a client compares settings by counts,
// a per-run choice (SIP debugging of the desk link, recording of the current call) does not.
template <class Record, class Change> bool equalAfter(Change change)
{
    Record a, b;
    change(b);
    return a == b && !(a != b);
}

TEST(RecordRules, EqualityCountsTheSettingsNotThePerRunChoices)
{
    EXPECT_TRUE(equalAfter<DeskConfigurationDTO>([](auto& r) { r.setSIPDebugEnabled(true); }));
    EXPECT_FALSE(equalAfter<DeskConfigurationDTO>([](auto& r) { r.setHost(QStringLiteral("desk")); }));
    EXPECT_TRUE(equalAfter<PhoneConfigurationDTO>([](auto& r) { r.setEnableCallRecording(true); }));
    EXPECT_FALSE(equalAfter<PhoneConfigurationDTO>([](auto& r) { r.setToken(QStringLiteral("t")); }));
    EXPECT_FALSE(equalAfter<ChatConfigurationDTO>([](auto& r) { r.setLastChatSync(1); }));
    EXPECT_FALSE(equalAfter<UserConfigurationDTO>([](auto& r) { r.setPassword(QStringLiteral("p")); }));
    EXPECT_FALSE(equalAfter<CallFlowConfigurationDTO>([](auto& r) { r.setPBX(QStringLiteral("pbx")); }));
}

TEST(UserRules, ValidSessionNeedsEachOfUserNameAppKeyAndWid)
{
    for (int missing = 0; missing < 4; ++missing) {
        UserRuntimeData store;
        const auto text = [missing](int field) { return field == missing ? QString() : QStringLiteral(" "); };
        store.setData<QString, UserProperty::UserName>(text(0));
        store.setData<QString, UserProperty::AppKey>(text(1));
        store.setData<QString, UserProperty::WID>(text(2));
        EXPECT_EQ(store.isValidSession(), missing == 3) << "missing " << missing; // a blank counts
    }
}

TEST(CallFlowStore, WholeRecordReadIsOneMoment)
{
    // The writer moves PBX, the identities' stamp and the extension forward in that
    // order: a record read in one piece always has pbx >= stamp >= extension >= pbx - 1.
    using P = CallFlowProperty;
    CallFlowRuntimeData store;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i <= 10000; ++i) {
            CallerIds ids;
            ids.addCallerId(CallerIdDto(i, QString::number(i), true));
            ids.setLastUpdated(i);
            store.setData<QString, P::PBX>(QString::number(i));
            store.setData<CallerIds, P::CallerId>(ids);
            store.setData<QString, P::Extension>(QString::number(i));
        }
        done = true;
    });
    int failures = 0;
    std::thread reader([&] {
        do {
            const auto r = store.getData<CallFlowConfigurationDTO, P::CallFlowConfiguration>();
            const int pbx = r.getPBX().toInt(), extension = r.getExtension().toInt();
            const std::int64_t stamp = r.getCallerId().getLastUpdated();
            failures += !(pbx >= stamp && stamp >= extension && extension >= pbx - 1);
        } while (!done);
    });
    writer.join();
    reader.join();
    EXPECT_EQ(failures, 0);
}

// Filled in as the sessionctl summary shows (its golden text); here what it cannot show.
TEST(CallFlowPlaceholders, OnlyExactPlaceholdersAreFilledInStepsALandlineOnlyWhenGiven)
{
    QString nearMisses = QStringLiteral("%newvalue%&NEWVALUE&%NEWVALUE&%incomingmobile%");
    const QString unchanged = nearMisses;
    CallFlowRuntimeData::defineNewValueURLPlaceHolder(nearMisses, QStringLiteral("x"));
    CallFlowRuntimeData::defineIncomingOnURLPlaceHolder(nearMisses, "D", "M", "L");
    EXPECT_EQ(nearMisses, unchanged);
    const auto incoming = [](const char* desktop, const char* mobile, const char* landline) {
        QString url = QStringLiteral("d=%INCOMINGDESKTOP%&m=%INCOMINGMOBILE%&l=%INCOMINGLANDLINE%");
        CallFlowRuntimeData::defineIncomingOnURLPlaceHolder(url, desktop, mobile, landline);
        return url;
    };
    EXPECT_EQ(incoming("D", "M", ""), "d=D&m=M&l=%INCOMINGLANDLINE%");
    EXPECT_EQ(incoming("%INCOMINGMOBILE%", "M", "L"), "d=M&m=M&l=L") << "desktop first, then mobile";
    EXPECT_EQ(incoming("D", "%INCOMINGDESKTOP%", "L"), "d=D&m=%INCOMINGDESKTOP%&l=L");
}
