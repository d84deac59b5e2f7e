// SPDX-License-Identifier: MIT
// sessionctl get of a grown user-settings set: reading the value and hiding the
// password and tokens in it stay linear, whether no key, or every key, is secret.
// (It was quadratic: 45 s for 10^5 settings.)
#include "Verbs.h"

#include <AppRuntimeData.h>
#include <SessionData.h>

#include <QBuffer>

#include <benchmark/benchmark.h>

using DataSets::Impl::createDS;
using DataSets::Impl::setDataValue;

namespace {

// `n` text settings; with `secret`, every key names a token.
void getUserSettings(benchmark::State& state, bool secret)
{
    const int n = static_cast<int>(state.range(0));
    DataSets::DataSet settings = createDS();
    for (int i = 0; i < n; ++i)
        setDataValue(*settings, QStringLiteral("pane/%1/%2").arg(i).arg(secret ? "token" : "width"),
                     QStringLiteral("value %1").arg(i));
    SessionData session;
    session.getAppSessionData().lock()->setData<DataSets::DataSet, AppProperty::UserSettings>(settings);
    const QStringList names{QStringLiteral("app.UserSettings")};
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QTextStream out(&buffer);
        sessionctl::printProperties(out, sessionctl::getProperties(session, names));
        out.flush();
        benchmark::DoNotOptimize(buffer.data().size());
    }
    state.SetComplexityN(n);
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_GetUserSettings(benchmark::State& state)
{
    getUserSettings(state, false);
}
void BM_GetUserSettingsAllSecret(benchmark::State& state)
{
    getUserSettings(state, true);
}

} // namespace

BENCHMARK(BM_GetUserSettings)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
BENCHMARK(BM_GetUserSettingsAllSecret)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();
