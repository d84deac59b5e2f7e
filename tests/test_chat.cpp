// Chat settings: equality, the two stored parts and their read rules, and what a
// reset and a clear drop.
#include <ChatRuntimeData.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

using P = ChatProperty;
using R = ChatConfigurationDTO;

namespace {

R filledRecord()
{
    R r;
    r.setJID(QStringLiteral("alice@chat.example"));
    r.setToken(QStringLiteral("tok-3f9a71"));
    r.setEnabled(true);
    r.setLastChatSync(1700000000123LL);
    r.setTimeToLive(86421);
    return r;
}

} // namespace

TEST(ChatRecord, LastSyncIsWrittenAsDecimalText)
{
    const std::pair<long long, const char*> cases[] = {
        {0, "0"},
        {-5, "-5"},
        {std::numeric_limits<long long>::max(), "9223372036854775807"},
        {std::numeric_limits<long long>::min(), "-9223372036854775808"},
    };
    for (const auto& [value, text] : cases) {
        R r;
        r.setLastChatSync(value);
        const DataSets::DataSet ds = r.serializeUnencrypted();
        EXPECT_EQ(keysOf(ds), QStringList{"chatLastSynch"});
        EXPECT_EQ(valueOf<QString>(ds, "chatLastSynch"), QLatin1String(text));
    }
}

TEST(ChatRecord, ReadingLastSyncKeepsOnlyPositiveNumbers)
{
    const auto withText = [](const char* text) {
        return setOf({{"chatLastSynch", QString::fromLatin1(text)}});
    };
    const std::pair<DataSets::DataSet, long long> cases[] = {
        {DataSets::Impl::createDS(false), 0}, // absent: the earlier value does not survive
        {DataSets::DataSet(), 0},
        {setOf({{"chatLastSynch", 42}}), 0}, // not text
        {withText("0"), 0},
        {withText("-5"), 0},
        {withText(""), 0},
        {withText("12abc"), 0},
        {withText("0x10"), 0},
        {withText("99999999999999999999"), 0}, // beyond 64 bits
        {withText("42"), 42},
        {withText("9223372036854775807"), std::numeric_limits<long long>::max()},
    };
    for (const auto& [ds, expected] : cases) {
        SCOPED_TRACE(qPrintable(valueOf<QString>(ds, "chatLastSynch").value_or("(no text)")));
        R r = filledRecord();
        r.deserializeUnencrypted(ds);
        EXPECT_EQ(r.getLastChatSync(), expected);
        r.setLastChatSync(filledRecord().getLastChatSync());
        EXPECT_TRUE(r == filledRecord()) << "only the last sync is read from the plain part";
    }
}
