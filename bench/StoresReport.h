// SPDX-License-Identifier: MIT
#pragma once

// The summary of bench_stores: each benchmark's fastest repetition lands in a field of
// Figures, named where the benchmark is registered, and the report reads the fields.

#include "HeapCounter.h"

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace StoresReport {

// One operation done by the store and by what it is compared with, in ns.
struct Comparison
{
    double store = 0;    // through the store
    double floor = 0;    // the same copy from a record nobody locks
    double bare = 0;     // the same under a bare shared_mutex (the lock alone)
    double settings = 0; // QSettings::value
    double hashed = 0;   // a QHash of QVariant behind a lock
};

// Everything the report reads, in ns per operation unless said otherwise.
struct Figures
{
    Comparison readText, readFlag, readInteger, readRecord;
    Comparison writeText, writeFlag;
    struct
    {
        double quiet = 0, cancelled = 0, direct = 0, contextHere = 0, contextQueued = 0, bare = 0;
        double appDirect = 0, appDirectThrowing = 0;
    } change; // writes that change a value, by subscriber
    struct
    {
        double one = 0, twoOnOneStore = 0, twoOnTwoStores = 0;
    } readers; // ns per read per thread
    struct
    {
        double serialize = 0, build = 0, deserialize = 0, read = 0;
    } session; // the whole provisioned session, both sets
    int storedEntries = 0;
    HeapCounter::HeapUse deskDefault, deskProvisioned, sessionDefault, sessionProvisioned;
};

// The console reporter, which also keeps each benchmark's fastest repetition (real
// time per operation) in the field it was registered with.
class Collector : public benchmark::ConsoleReporter
{
public:
    Collector();

    // Registers `fn` as `name`; its fastest run at `threads` threads lands in `*slot`.
    benchmark::internal::Benchmark* add(const char* name, void (*fn)(benchmark::State&), double* slot,
                                        int threads = 1);
    // Another thread count of a benchmark already added.
    void alsoAt(const char* name, int threads, double* slot);

    void ReportRuns(const std::vector<Run>& runs) override;

private:
    std::map<std::pair<std::string, long long>, double*> m_slots;
};

// Prints the ratios and the goals.
void summarize(const Figures& f);

} // namespace StoresReport
