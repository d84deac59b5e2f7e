// Call-flow configuration: each property bound to a field of its own, equality, what a
// reset drops, that nothing is stored, whole-record reads, and the URL placeholders.
#include <CallFlowRuntimeData.h>

#include "StoreTestUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

using P = CallFlowProperty;
using Record = CallFlowConfigurationDTO;

namespace {

Record snapshot(const CallFlowRuntimeData& store)
{
    return store.getData<Record, P::CallFlowConfiguration>();
}

CallerIds callerIds(int count, std::int64_t stamp)
{
    CallerIds ids;
    for (int i = 0; i < count; ++i)
        ids.addCallerId(CallerIdDto(i, QStringLiteral("+3912345%1").arg(i), i == 0));
    ids.setLastUpdated(stamp);
    ids.setReadOnly(true);
    return ids;
}

} // namespace

TEST(CallFlowStore, WholeRecordReadIsOneMoment)
{
    // The writer moves PBX, the identities and the extension forward in that order,
    // one setData each, and the identity lists change length on every step. A record
    // read in one piece therefore always has pbx >= stamp >= extension >= pbx - 1 and
    // a list that matches its own stamp; reading field by field, or copying a list
    // while it is being replaced, breaks that.
    constexpr int kSteps = 10000;
    CallFlowRuntimeData store;
    std::atomic<bool> done{false};

    std::thread writer([&] {
        for (int i = 1; i <= kSteps; ++i) {
            store.setData<QString, P::PBX>(QString::number(i));
            store.setData<CallerIds, P::CallerId>(callerIds(i % 7 * 5, i));
            store.setData<QString, P::Extension>(QString::number(i));
        }
        done = true;
    });

    auto checkList = [](const CallerIds& ids) {
        const std::int64_t stamp = ids.getLastUpdated();
        return stamp == 0 ? ids == CallerIds() : ids == callerIds(int(stamp % 7 * 5), stamp);
    };

    std::atomic<int> failures{0};
    std::vector<std::thread> readers;
    for (int n = 0; n < 2; ++n) {
        readers.emplace_back([&] {
            do {
                const Record r = snapshot(store);
                const int pbx = r.getPBX().toInt();
                const int extension = r.getExtension().toInt();
                const std::int64_t stamp = r.getCallerId().getLastUpdated();
                if (!(pbx >= stamp && stamp >= extension && extension >= pbx - 1) ||
                    !checkList(r.getCallerId()))
                    ++failures;
                if (!checkList(store.getData<CallerIds, P::CallerId>()))
                    ++failures;
            } while (!done);
        });
    }
    writer.join();
    for (std::thread& t : readers)
        t.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(snapshot(store).getExtension(), QString::number(kSteps));
}

TEST(CallFlowPlaceholders, NewValueReplacesEveryExactOccurrenceOnceAndVerbatim)
{
    const QString twice = QStringLiteral("https://h/fwd?to=%NEWVALUE%&again=%NEWVALUE%");
    const QString nearMisses = QStringLiteral("a=%newvalue%&b=%NewValue%&c=NEWVALUE&d=%NEWVALUE");
    const struct
    {
        QString url, value, expected;
    } cases[] = {
        {twice, "123", "https://h/fwd?to=123&again=123"},
        {twice, QString(), "https://h/fwd?to=&again="},
        {twice, "", "https://h/fwd?to=&again="},
        {nearMisses, "x", nearMisses}, // only the exact spelling counts
        // Inserted text is not scanned again, and occurrences do not overlap.
        {"v=%NEWVALUE%", "<%NEWVALUE%>", "v=<%NEWVALUE%>"},
        {"%NEWVALUE%NEWVALUE%", "1", "1NEWVALUE%"},
        {"q=%NEWVALUE%", " a b&c=d% ", "q= a b&c=d% "}, // no encoding, no trimming
    };
    for (const auto& c : cases) {
        QString url = c.url;
        CallFlowRuntimeData::defineNewValueURLPlaceHolder(url, c.value);
        EXPECT_EQ(url, c.expected) << qPrintable(c.url) << " with " << qPrintable(c.value);
    }
}

TEST(CallFlowPlaceholders, IncomingFillsDesktopThenMobileThenOnlyAGivenLandline)
{
    const QString all =
        QStringLiteral("d=%INCOMINGDESKTOP%&m=%INCOMINGMOBILE%&l=%INCOMINGLANDLINE%&d2=%INCOMINGDESKTOP%");
    const QString two = QStringLiteral("d=%INCOMINGDESKTOP%&m=%INCOMINGMOBILE%");
    const struct
    {
        QString url, desktop, mobile, landline, expected;
    } cases[] = {
        {all, "D", "M", "L", "d=D&m=M&l=L&d2=D"},
        {all, "D", "M", QString(), "d=D&m=M&l=%INCOMINGLANDLINE%&d2=D"},
        {all, "D", "M", "", "d=D&m=M&l=%INCOMINGLANDLINE%&d2=D"},
        {all, QString(), "", "L", "d=&m=&l=L&d2="},
        {"%incomingmobile%", "D", "M", "L", "%incomingmobile%"},
        // Each step works on the result of the one before.
        {two, "%INCOMINGMOBILE%", "M", QString(), "d=M&m=M"},
        {two, "%INCOMINGLANDLINE%", "%INCOMINGLANDLINE%", "L", "d=L&m=L"},
        {two, "%INCOMINGLANDLINE%", "M", QString(), "d=%INCOMINGLANDLINE%&m=M"}, // no landline, no step
        {two, "D", "%INCOMINGDESKTOP%", "L", "d=D&m=%INCOMINGDESKTOP%"},         // the desktop step is over
    };
    for (const auto& c : cases) {
        QString url = c.url;
        CallFlowRuntimeData::defineIncomingOnURLPlaceHolder(url, c.desktop, c.mobile, c.landline);
        EXPECT_EQ(url, c.expected) << qPrintable(c.url) << " with " << qPrintable(c.desktop) << ", "
                                   << qPrintable(c.mobile) << ", " << qPrintable(c.landline);
    }
}
