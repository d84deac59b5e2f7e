// SPDX-License-Identifier: MIT
#pragma once

// The write the store benchmarks time: a flag that changes at every write, so that
// each one has a change to report.

#include <DeskRuntimeData.h>

#include <benchmark/benchmark.h>

inline void toggleDeskFlag(benchmark::State& state, DeskRuntimeData& desk)
{
    bool flag = false;
    for (auto _ : state) {
        flag = !flag;
        desk.setData<bool, DeskProperty::Tls>(flag);
    }
}
