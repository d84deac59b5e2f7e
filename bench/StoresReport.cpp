// SPDX-License-Identifier: MIT
#include "StoresReport.h"

#include <algorithm>
#include <cstdio>

namespace StoresReport {

namespace {

double ratio(double a, double b)
{
    return b > 0 ? a / b : 0.0;
}

// One stated goal: `value` (a ratio or a size) against its limit.
struct Goal
{
    std::string what;
    double value;
    double limit;
    bool atLeast; // the value must reach the limit rather than stay under it
    const char* unit;

    void print() const
    {
        const char* verdict = value <= 0                                    ? "not run"
                              : (atLeast ? value >= limit : value <= limit) ? "met"
                                                                            : "MISSED";
        std::printf("  [%-7s] %-62s %9.2f%s (goal %s %.1f%s)\n", verdict, what.c_str(), value, unit,
                    atLeast ? ">=" : "<=", limit, unit);
    }
};

} // namespace

Collector::Collector()
    : ConsoleReporter(OO_Tabular)
{}

benchmark::internal::Benchmark* Collector::add(const char* name, void (*fn)(benchmark::State&), double* slot,
                                               int threads)
{
    m_slots[{name, threads}] = slot;
    return benchmark::RegisterBenchmark(name, fn);
}

void Collector::alsoAt(const char* name, int threads, double* slot)
{
    m_slots[{name, threads}] = slot;
}

void Collector::ReportRuns(const std::vector<Run>& runs)
{
    std::vector<Run> shown;
    for (const Run& r : runs) {
        const auto slot = m_slots.find({r.run_name.function_name, r.threads});
        if (r.run_type == Run::RT_Iteration && !r.error_occurred && slot != m_slots.end()) {
            const double ns = r.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(r.time_unit);
            double& fastest = *slot->second;
            fastest = fastest > 0 ? std::min(fastest, ns) : ns;
        }
        if (r.repetitions <= 1 || r.run_type == Run::RT_Aggregate)
            shown.push_back(r);
    }
    if (!shown.empty())
        ConsoleReporter::ReportRuns(shown);
}

void summarize(const Figures& f)
{
    std::vector<Goal> goals;
    std::printf("\n== Summary: real time in ns per operation (fastest repetition) and ratios ==\n");
    std::printf("%-8s %9s %9s %7s %9s %7s %10s %8s %10s %8s\n", "read", "store", "floor", "x floor",
                "bare lock", "x bare", "QSettings", "faster", "QHash+lock", "faster");
    // A text read copies the text: its floor is that copy. A flag or an integer copies
    // next to nothing, so what a store adds is judged against the lock it must take.
    struct Read
    {
        const char* kind;
        const char* named; // with its article, for the goals
        const Comparison& c;
    };
    const Read reads[] = {{"text", "a text", f.readText},
                          {"flag", "a flag", f.readFlag},
                          {"integer", "an integer", f.readInteger}};
    for (const auto& [kind, named, c] : reads) {
        std::printf("%-8s %9.2f %9.2f %7.2f %9.2f %7.2f %10.2f %8.1f %10.2f %8.1f\n", kind, c.store, c.floor,
                    ratio(c.store, c.floor), c.bare, ratio(c.store, c.bare), c.settings,
                    ratio(c.settings, c.store), c.hashed, ratio(c.hashed, c.store));
        if (&c == &f.readText)
            goals.push_back({"store read of a text / floor", ratio(c.store, c.floor), 2.5, false, "x"});
        else
            goals.push_back({std::string("store read of ") + named + " / bare shared-lock read",
                             ratio(c.store, c.bare), 1.5, false, "x"});
        goals.push_back({std::string("QSettings::value / store read of ") + named, ratio(c.settings, c.store),
                         4.0, true, "x"});
    }
    std::printf("%-8s %9.2f %9.2f %7.2f   (the whole provisioned call-flow record)\n", "record",
                f.readRecord.store, f.readRecord.floor, ratio(f.readRecord.store, f.readRecord.floor));
    goals.push_back({"store read of the call-flow record / floor",
                     ratio(f.readRecord.store, f.readRecord.floor), 2.5, false, "x"});

    std::printf("\n%-8s %9s %9s %7s\n", "write", "store", "bare lock", "x bare");
    const std::pair<const char*, const Comparison*> writes[] = {{"text", &f.writeText},
                                                                {"flag", &f.writeFlag}};
    for (const auto& [kind, c] : writes) {
        std::printf("%-8s %9.2f %9.2f %7.2f\n", kind, c->store, c->bare, ratio(c->store, c->bare));
        goals.push_back({std::string("store write of a ") + kind + " / bare exclusive-lock assignment",
                         ratio(c->store, c->bare), 1.5, false, "x"});
    }

    std::printf("\nwrite that changes a flag, ns: bare lock %.2f; no subscriber %.2f (%.2fx bare); after a "
                "cancel %.2f; one direct subscriber %.2f; one context subscriber on the writing thread "
                "%.2f, on another thread (queued) %.2f\n",
                f.change.bare, f.change.quiet, ratio(f.change.quiet, f.change.bare), f.change.cancelled,
                f.change.direct, f.change.contextHere, f.change.contextQueued);
    std::printf("application store, one direct subscriber: %.2f with an endpoint of the current type, %.2f "
                "without (the derived getters throw)\n",
                f.change.appDirect, f.change.appDirectThrowing);

    std::printf("\nreaders (integer read, ns per read per thread): one reader %.2f; two readers on one store "
                "%.2f (%.2fx); two readers on two stores %.2f (%.2fx)\n",
                f.readers.one, f.readers.twoOnOneStore, ratio(f.readers.twoOnOneStore, f.readers.one),
                f.readers.twoOnTwoStores, ratio(f.readers.twoOnTwoStores, f.readers.one));

    const auto& s = f.session;
    std::printf("\nwhole provisioned session, both sets (%d entries), ns:\n", f.storedEntries);
    std::printf("  serialize   %10.0f   floor (build the same sets) %10.0f   %5.2fx\n", s.serialize, s.build,
                ratio(s.serialize, s.build));
    std::printf("  deserialize %10.0f   floor (read the same sets)  %10.0f   %5.2fx\n", s.deserialize, s.read,
                ratio(s.deserialize, s.read));
    std::printf("  round trip  %10.0f   floor                       %10.0f   %5.2fx\n",
                s.serialize + s.deserialize, s.build + s.read,
                ratio(s.serialize + s.deserialize, s.build + s.read));
    goals.push_back({"whole-session round trip / floor", ratio(s.serialize + s.deserialize, s.build + s.read),
                     2.0, false, "x"});

    std::printf("\nheap held, bytes (through operator new / on the heap in all, Qt's buffers included):\n");
    const std::pair<const char*, HeapCounter::HeapUse> heaps[] = {
        {"default desk store", f.deskDefault},
        {"provisioned desk store", f.deskProvisioned},
        {"default session", f.sessionDefault},
        {"fully provisioned session", f.sessionProvisioned}};
    for (const auto& [name, use] : heaps)
        std::printf("  %-26s %7lld / %7lld\n", name, use.newBytes, use.heapBytes);
    goals.push_back(
        {"default session heap", double(f.sessionDefault.heapBytes) / 1024.0, 4.0, false, " KiB"});
    goals.push_back({"fully provisioned session heap", double(f.sessionProvisioned.heapBytes) / 1024.0, 16.0,
                     false, " KiB"});

    std::printf("\n== Goals ==\n");
    for (const Goal& g : goals)
        g.print();
}

} // namespace StoresReport
