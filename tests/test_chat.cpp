#include <ChatConfigurationDTO.h>
#include <ChatRuntimeData.h>

#include "WalkedDataSet.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <type_traits>

namespace {

const QString kLastSynch = QStringLiteral("chatLastSynch");

ChatConfigurationDTO filledRecord()
{
    ChatConfigurationDTO r;
    r.setJID(QStringLiteral("alice@chat.example"));
    r.setToken(QStringLiteral("tok-3f9a71"));
    r.setEnabled(true);
    r.setLastChatSync(1700000000123LL);
    r.setTimeToLive(86421);
    return r;
}

void fill(ChatRuntimeData& store)
{
    const ChatConfigurationDTO r = filledRecord();
    store.setData<QString, ChatProperty::JID>(r.getJID());
    store.setData<QString, ChatProperty::Token>(r.getToken());
    store.setData<bool, ChatProperty::Enabled>(r.isEnabled());
    store.setData<long long, ChatProperty::LastChatSync>(r.getLastChatSync());
    store.setData<int, ChatProperty::TimeToLive>(r.getTimeToLive());
}

ChatConfigurationDTO snapshot(const ChatRuntimeData& store)
{
    ChatConfigurationDTO r;
    r.setJID(store.getData<QString, ChatProperty::JID>());
    r.setToken(store.getData<QString, ChatProperty::Token>());
    r.setEnabled(store.getData<bool, ChatProperty::Enabled>());
    r.setLastChatSync(store.getData<long long, ChatProperty::LastChatSync>());
    r.setTimeToLive(store.getData<int, ChatProperty::TimeToLive>());
    return r;
}

} // namespace

static_assert(!std::is_copy_constructible_v<ChatRuntimeData> && !std::is_copy_assignable_v<ChatRuntimeData>);
static_assert(!std::is_move_constructible_v<ChatRuntimeData> && !std::is_move_assignable_v<ChatRuntimeData>);

TEST(ChatRecord, DefaultsAndEveryFieldInEquality)
{
    const ChatConfigurationDTO fresh;
    EXPECT_TRUE(fresh.getJID().isEmpty());
    EXPECT_TRUE(fresh.getToken().isEmpty());
    EXPECT_FALSE(fresh.isEnabled());
    EXPECT_EQ(fresh.getLastChatSync(), 0);
    EXPECT_EQ(fresh.getTimeToLive(), 0);

    const std::pair<const char*, std::function<void(ChatConfigurationDTO&)>> changes[] = {
        {"jid", [](ChatConfigurationDTO& r) { r.setJID(QStringLiteral("ALICE@chat.example")); }},
        {"token", [](ChatConfigurationDTO& r) { r.setToken(QString()); }},
        {"enabled", [](ChatConfigurationDTO& r) { r.setEnabled(false); }},
        // Differs only above 32 bits.
        {"lastChatSync",
         [](ChatConfigurationDTO& r) { r.setLastChatSync(r.getLastChatSync() + (1LL << 32)); }},
        {"timeToLive", [](ChatConfigurationDTO& r) { r.setTimeToLive(-1); }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        ChatConfigurationDTO other = filledRecord();
        ASSERT_EQ(other, filledRecord());
        change(other);
        EXPECT_NE(other, filledRecord());
        EXPECT_NE(filledRecord(), other);
    }
}

TEST(ChatRecord, EncryptedSetHoldsJidAndEnabledFlag)
{
    const std::vector<WalkedEntry> entries = walkDataSet(filledRecord().serializeEncrypted());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, QStringLiteral("jid"));
    EXPECT_EQ(entries[0].kind, 't');
    EXPECT_EQ(entries[0].text, QStringLiteral("alice@chat.example"));
    EXPECT_EQ(entries[1].path, QStringLiteral("chatEnabled"));
    EXPECT_EQ(entries[1].kind, 'b');
    EXPECT_EQ(entries[1].text, QStringLiteral("true"));
}

TEST(ChatRecord, PlainSetHoldsLastSyncAsDecimalText)
{
    const std::pair<long long, const char*> cases[] = {
        {0, "0"},
        {42, "42"},
        {-5, "-5"},
        {std::numeric_limits<long long>::max(), "9223372036854775807"},
        {std::numeric_limits<long long>::min(), "-9223372036854775808"},
    };
    for (const auto& [value, text] : cases) {
        ChatConfigurationDTO r;
        r.setLastChatSync(value);
        const std::vector<WalkedEntry> entries = walkDataSet(r.serializeUnencrypted());
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].path, kLastSynch);
        EXPECT_EQ(entries[0].kind, 't');
        EXPECT_EQ(entries[0].text, QLatin1String(text));
    }
}

TEST(ChatRecord, ReadingLastSyncKeepsOnlyPositiveNumbers)
{
    using namespace DataSets::Impl;
    auto withText = [](const char* text) {
        DataSets::DataSet ds = createDS(false);
        setDataValue(*ds, kLastSynch, QString::fromLatin1(text));
        return ds;
    };
    DataSets::DataSet withInt = createDS(false);
    setDataValue(*withInt, kLastSynch, 42);

    const std::pair<DataSets::DataSet, long long> cases[] = {
        {createDS(false), 0}, // absent: the earlier value does not survive
        {DataSets::DataSet(), 0},
        {withText("0"), 0},
        {withText("-5"), 0},
        {withText(""), 0},
        {withText("abc"), 0},
        {withText("12abc"), 0},
        {withText("0x10"), 0},
        {withText("99999999999999999999"), 0}, // beyond 64 bits
        {withInt, 0},                          // not text
        {withText("42"), 42},
        {withText("9223372036854775807"), std::numeric_limits<long long>::max()},
    };
    for (const auto& [ds, expected] : cases) {
        QString stored;
        getDataValue(ds.get(), kLastSynch, stored);
        SCOPED_TRACE(qPrintable(stored));
        ChatConfigurationDTO r = filledRecord();
        r.deserializeUnencrypted(ds);
        EXPECT_EQ(r.getLastChatSync(), expected);

        // Only the last sync is read from the plain part.
        r.setLastChatSync(filledRecord().getLastChatSync());
        EXPECT_EQ(r, filledRecord());
    }
}

TEST(ChatRecord, ReadingEncryptedKeepsFieldsTheSetDoesNotYield)
{
    using namespace DataSets::Impl;
    ChatConfigurationDTO r = filledRecord();
    r.deserializeEncrypted(createDS(false));
    r.deserializeEncrypted(DataSets::DataSet());
    EXPECT_EQ(r, filledRecord());

    DataSets::DataSet wrongKinds = createDS(false);
    setDataValue(*wrongKinds, QStringLiteral("jid"), true);
    setDataValue(*wrongKinds, QStringLiteral("chatEnabled"), QStringLiteral("false"));
    setDataValue(*wrongKinds, kLastSynch, QStringLiteral("5"));
    r.deserializeEncrypted(wrongKinds);
    EXPECT_EQ(r, filledRecord());

    DataSets::DataSet emptied = createDS(false);
    setDataValue(*emptied, QStringLiteral("jid"), QString());
    setDataValue(*emptied, QStringLiteral("chatEnabled"), false);
    r.deserializeEncrypted(emptied);
    EXPECT_TRUE(r.getJID().isEmpty());
    EXPECT_FALSE(r.isEnabled());
    EXPECT_EQ(r.getToken(), filledRecord().getToken());
    EXPECT_EQ(r.getLastChatSync(), filledRecord().getLastChatSync());
    EXPECT_EQ(r.getTimeToLive(), filledRecord().getTimeToLive());
}

TEST(ChatRecord, RoundTripRestoresOnlyTheStoredFields)
{
    const ChatConfigurationDTO saved = filledRecord();
    ChatConfigurationDTO restored;
    restored.deserializeEncrypted(saved.serializeEncrypted());
    restored.deserializeUnencrypted(saved.serializeUnencrypted());
    EXPECT_EQ(restored.getJID(), saved.getJID());
    EXPECT_TRUE(restored.isEnabled());
    EXPECT_EQ(restored.getLastChatSync(), saved.getLastChatSync());
    EXPECT_TRUE(restored.getToken().isEmpty());
    EXPECT_EQ(restored.getTimeToLive(), 0);
    EXPECT_NE(restored, saved);

    ChatConfigurationDTO negative;
    negative.setLastChatSync(-5);
    ChatConfigurationDTO back = filledRecord();
    back.deserializeUnencrypted(negative.serializeUnencrypted());
    EXPECT_EQ(back.getLastChatSync(), 0);
}

TEST(ChatStorage, TokenAndTimeToLiveReachNoDataSet)
{
    ChatRuntimeData store;
    fill(store);
    const QString token = store.getData<QString, ChatProperty::Token>();
    const QString ttl = QString::number(store.getData<int, ChatProperty::TimeToLive>());

    const std::vector<WalkedEntry> entries = walkDataSet(nestSets(
        {{QStringLiteral("encrypted"), nestSets({{QStringLiteral("chat"), store.serializeEncrypted()}})},
         {QStringLiteral("plain"), nestSets({{QStringLiteral("chat"), store.serializeUnencrypted()}})}}));
    int leaves = 0;
    for (const WalkedEntry& e : entries) {
        EXPECT_FALSE(e.text.contains(token)) << qPrintable(e.path);
        EXPECT_FALSE(e.text.contains(ttl)) << qPrintable(e.path);
        leaves += e.kind != 'n';
    }
    EXPECT_EQ(leaves, 3); // jid, chatEnabled, chatLastSynch: the walk did reach them
}

TEST(ChatStore, ResetDropsOnlyTheTokenClearDropsAll)
{
    ChatRuntimeData store;
    EXPECT_EQ(snapshot(store), ChatConfigurationDTO());

    fill(store);
    store.resetData();
    ChatConfigurationDTO expected = filledRecord();
    expected.setToken(QString());
    EXPECT_EQ(snapshot(store), expected);

    store.clear();
    EXPECT_EQ(snapshot(store), ChatConfigurationDTO());
}

TEST(ChatStore, StorageReachesTheRecord)
{
    ChatRuntimeData store;
    store.setData<QString, ChatProperty::Token>(QStringLiteral("kept"));
    store.setData<long long, ChatProperty::LastChatSync>(99);
    store.deserializeEncrypted(filledRecord().serializeEncrypted());
    EXPECT_EQ((store.getData<QString, ChatProperty::JID>()), filledRecord().getJID());
    EXPECT_TRUE((store.getData<bool, ChatProperty::Enabled>()));
    EXPECT_EQ((store.getData<long long, ChatProperty::LastChatSync>()), 99);

    store.deserializeUnencrypted(DataSets::Impl::createDS(false));
    EXPECT_EQ((store.getData<long long, ChatProperty::LastChatSync>()), 0);
    EXPECT_EQ((store.getData<QString, ChatProperty::Token>()), QStringLiteral("kept"));
}
