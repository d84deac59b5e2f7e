// SPDX-License-Identifier: MIT
// Data sets at any size: the cost per entry from 10^2 to 10^6 entries, a grown
// session against QSettings, the JSON reader against RapidJSON's SAX reader, and
// the peak memory of decoding the worst inputs within the limits. Ends with a
// summary of the goals.
#include <AppRuntimeData.h>
#include <DataSetCodec.h>
#include <SessionData.h>

#include "PeakInChild.h"

#include <QHash>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using DataSets::DataIterator;
using DataSets::DataSet;
using DataSets::DataSetCodec;
using DataSets::Impl::createDS;
using DataSets::Impl::getDataValue;
using DataSets::Impl::setDataValue;

namespace {

const std::vector<QString>& keys(int n)
{
    static std::map<int, std::vector<QString>> cache;
    std::vector<QString>& k = cache[n];
    if (k.empty()) {
        k.reserve(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            k.push_back(QStringLiteral("pane/%1/geometry").arg(i));
    }
    return k;
}

// A user-settings set of n entries: text, integers, flags and a small nested set
// every eighth entry.
DataSet settingsOf(int n)
{
    const DataSet ds = createDS(false);
    const std::vector<QString>& k = keys(n);
    for (int i = 0; i < n; ++i) {
        switch (i % 8) {
        case 0:
        case 1:
        case 2:
            setDataValue(*ds, k[static_cast<size_t>(i)], QStringLiteral("value %1").arg(i));
            break;
        case 3:
        case 4:
        case 5:
            setDataValue(*ds, k[static_cast<size_t>(i)], i);
            break;
        case 6:
            setDataValue(*ds, k[static_cast<size_t>(i)], i % 3 == 0);
            break;
        default: {
            const DataSet nested = createDS(false);
            setDataValue(*nested, QStringLiteral("w"), i);
            setDataValue(*ds, k[static_cast<size_t>(i)], nested);
        }
        }
    }
    return ds;
}

void perEntry(benchmark::State& s)
{
    s.SetItemsProcessed(static_cast<int64_t>(s.iterations()) * s.range(0));
}

void fill(benchmark::State& s)
{
    const int n = static_cast<int>(s.range(0));
    const std::vector<QString>& k = keys(n);
    for (auto _ : s) {
        const DataSet ds = createDS(false);
        for (int i = 0; i < n; ++i)
            setDataValue(*ds, k[static_cast<size_t>(i)], i);
        benchmark::DoNotOptimize(ds);
    }
    perEntry(s);
}

void lookup(benchmark::State& s)
{
    const int n = static_cast<int>(s.range(0));
    const DataSet ds = settingsOf(n);
    const std::vector<QString>& k = keys(n);
    for (auto _ : s) {
        int found = 0;
        for (int i = 0; i < n; ++i) {
            int v = 0;
            found += getDataValue(ds.get(), k[static_cast<size_t>(i)], v);
        }
        benchmark::DoNotOptimize(found);
    }
    perEntry(s);
}

// The same keys in a QHash that nobody locks: how a hash table's cost per key grows
// on this machine once its slots and keys outgrow the caches (for comparison).
void fillQHash(benchmark::State& s)
{
    const int n = static_cast<int>(s.range(0));
    const std::vector<QString>& k = keys(n);
    for (auto _ : s) {
        QHash<QString, int> h;
        for (int i = 0; i < n; ++i)
            h.insert(k[static_cast<size_t>(i)], i);
        benchmark::DoNotOptimize(h);
    }
    perEntry(s);
}

void lookupQHash(benchmark::State& s)
{
    const int n = static_cast<int>(s.range(0));
    const std::vector<QString>& k = keys(n);
    QHash<QString, int> h;
    for (int i = 0; i < n; ++i)
        h.insert(k[static_cast<size_t>(i)], i);
    for (auto _ : s) {
        int found = 0;
        for (int i = 0; i < n; ++i)
            found += h.contains(k[static_cast<size_t>(i)]);
        benchmark::DoNotOptimize(found);
    }
    perEntry(s);
}

void iterate(benchmark::State& s)
{
    const DataSet ds = settingsOf(static_cast<int>(s.range(0)));
    for (auto _ : s) {
        DataIterator it(ds);
        int seen = 0;
        while (it.next())
            ++seen;
        benchmark::DoNotOptimize(seen);
    }
    perEntry(s);
}

QByteArray toJson(const DataSet& ds)
{
    return DataSetCodec::toJson(ds, QJsonDocument::Compact).bytes;
}
QByteArray toCbor(const DataSet& ds)
{
    return DataSetCodec::toCbor(ds).bytes;
}

template <QByteArray (*Encode)(const DataSet&)> void encode(benchmark::State& s)
{
    const DataSet ds = settingsOf(static_cast<int>(s.range(0)));
    for (auto _ : s)
        benchmark::DoNotOptimize(Encode(ds));
    perEntry(s);
}

template <QByteArray (*Encode)(const DataSet&),
          DataSetCodec::DecodeResult (*Decode)(const QByteArray&, const DataSetCodec::Limits&)>
void decode(benchmark::State& s)
{
    const QByteArray bytes = Encode(settingsOf(static_cast<int>(s.range(0))));
    for (auto _ : s) {
        DataSetCodec::DecodeResult r = Decode(bytes, DataSetCodec::Limits());
        if (!r.ok())
            s.SkipWithError("decode failed");
        benchmark::DoNotOptimize(r);
    }
    perEntry(s);
}

void sessionSerialize(benchmark::State& s)
{
    SessionData session;
    session.getAppSessionData().lock()->setData<DataSet, AppProperty::UserSettings>(
        settingsOf(static_cast<int>(s.range(0))));
    for (auto _ : s) {
        DataSet encrypted = session.serializeEncrypted();
        DataSet plain = session.serializeUnencrypted();
        benchmark::DoNotOptimize(toCbor(encrypted));
        benchmark::DoNotOptimize(toJson(plain));
    }
    perEntry(s);
}

void sessionDeserialize(benchmark::State& s)
{
    SessionData session;
    session.getAppSessionData().lock()->setData<DataSet, AppProperty::UserSettings>(
        settingsOf(static_cast<int>(s.range(0))));
    const QByteArray encrypted = toCbor(session.serializeEncrypted());
    const QByteArray plain = toJson(session.serializeUnencrypted());
    for (auto _ : s) {
        SessionData restored;
        restored.deserializeEncrypted(DataSetCodec::fromCbor(encrypted).set);
        restored.deserializeUnencrypted(DataSetCodec::fromJson(plain).set);
        benchmark::DoNotOptimize(restored);
    }
    perEntry(s);
}

// ---------------------------------------------------------------------------------
// A grown session (10^5 user settings, 10^4 opt-out messages) set, serialized,
// encoded to both forms, decoded, deserialized and read back in full, against
// QSettings (INI) writing, syncing and reading back the same 1.1x10^5 keys.
constexpr int kSettings = 100000;
constexpr int kMessages = 10000;

std::set<QString> messages()
{
    std::set<QString> m;
    for (int i = 0; i < kMessages; ++i)
        m.insert(QStringLiteral("message %1").arg(i));
    return m;
}

void grownSession(benchmark::State& s)
{
    const std::vector<QString>& k = keys(kSettings);
    const std::set<QString> optOut = messages();
    for (auto _ : s) {
        SessionData session;
        const auto app = session.getAppSessionData().lock();
        const DataSet settings = createDS(false);
        for (int i = 0; i < kSettings; ++i)
            setDataValue(*settings, k[static_cast<size_t>(i)], QStringLiteral("value"));
        app->setData<DataSet, AppProperty::UserSettings>(settings);
        app->setData<std::set<QString>, AppProperty::OptOutMessages>(optOut);
        const DataSet plain = session.serializeUnencrypted();
        const QByteArray json = toJson(plain);
        const QByteArray cbor = toCbor(plain);
        SessionData restored;
        restored.deserializeUnencrypted(DataSetCodec::fromJson(json).set);
        restored.deserializeUnencrypted(DataSetCodec::fromCbor(cbor).set);
        const auto back = restored.getAppSessionData().lock();
        const DataSet read = back->getData<DataSet, AppProperty::UserSettings>();
        int found = 0;
        DataIterator it(read);
        while (const DataIterator* e = it.next()) {
            QString v;
            found += getDataValue(read.get(), e->getKey(), v);
        }
        found += static_cast<int>(back->getData<std::set<QString>, AppProperty::OptOutMessages>().size());
        if (found != kSettings + kMessages)
            s.SkipWithError("not read back whole");
    }
}

void grownQSettings(benchmark::State& s)
{
    const std::vector<QString>& k = keys(kSettings);
    const std::set<QString> optOut = messages();
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/settings.ini");
    for (auto _ : s) {
        {
            QFile::remove(path);
            QSettings out(path, QSettings::IniFormat);
            for (int i = 0; i < kSettings; ++i)
                out.setValue(k[static_cast<size_t>(i)], QStringLiteral("value"));
            int i = 0;
            for (const QString& m : optOut)
                out.setValue(QStringLiteral("optOut/%1").arg(i++), m);
            out.sync();
        }
        QSettings in(path, QSettings::IniFormat);
        int found = 0;
        for (const QString& key : in.allKeys())
            found += !in.value(key).toString().isEmpty();
        if (found != kSettings + kMessages)
            s.SkipWithError("not read back whole");
    }
}

// ---------------------------------------------------------------------------------
// RapidJSON's SAX reader feeding the same sets, with the same checks on values.
class SaxBuilder
{
public:
    explicit SaxBuilder(bool topIsList) { m_stack.push_back({createDS(topIsList), 0, QString()}); }
    DataSet top;

    bool Null() { return false; }
    bool Bool(bool b) { return put(b); }
    bool Int(int i) { return put(i); }
    bool Uint(unsigned u) { return u <= INT_MAX && put(static_cast<int>(u)); }
    bool Int64(int64_t) { return false; }
    bool Uint64(uint64_t) { return false; }
    bool Double(double d) { return d == static_cast<int>(d) && put(static_cast<int>(d)); }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; }
    bool String(const char* s, rapidjson::SizeType n, bool) { return put(QString::fromUtf8(s, n)); }
    bool Key(const char* s, rapidjson::SizeType n, bool)
    {
        m_stack.back().key = QString::fromUtf8(s, static_cast<qsizetype>(n));
        return DataSets::Impl::isValidKey(*m_stack.back().ds, m_stack.back().key);
    }
    bool StartObject() { return open(false); }
    bool StartArray() { return open(true); }
    bool EndObject(rapidjson::SizeType) { return close(); }
    bool EndArray(rapidjson::SizeType) { return close(); }

private:
    struct Level
    {
        DataSet ds;
        int count;
        QString key;
    };

    bool open(bool isList)
    {
        if (m_depth++ == 0)
            return true; // the top set exists already
        const DataSet nested = createDS(isList);
        if (!put(nested) || m_depth > DataSetCodec::kMaxDepth)
            return false;
        m_stack.push_back({nested, 0, QString()});
        return true;
    }
    bool close()
    {
        if (--m_depth == 0)
            top = m_stack.front().ds;
        else
            m_stack.pop_back();
        return true;
    }
    bool put(DataSets::Impl::Value v)
    {
        Level& l = m_stack.back();
        const QString key = l.ds->isList() ? QString::number(l.count) : l.key;
        ++l.count;
        return l.ds->set(key, std::move(v)) && l.ds->size() == l.count; // no repeated key
    }

    std::vector<Level> m_stack;
    int m_depth = 0;
};

void decodeJsonRapid(benchmark::State& s)
{
    const QByteArray bytes = toJson(settingsOf(static_cast<int>(s.range(0))));
    for (auto _ : s) {
        SaxBuilder builder(bytes.startsWith('['));
        rapidjson::Reader reader;
        rapidjson::StringStream in(bytes.constData());
        constexpr unsigned flags = rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;
        if (!reader.Parse<flags>(in, builder) || !builder.top)
            s.SkipWithError("decode failed");
        benchmark::DoNotOptimize(builder.top);
    }
    perEntry(s);
}

// ---------------------------------------------------------------------------------
// Peak memory of decoding in a child process, above what it held before.
long long countEntries(const DataSet& ds)
{
    long long n = 0;
    for (const DataSets::Impl::Entry& e : ds->entries()) {
        ++n;
        if (const auto* nested = std::get_if<DataSet>(&e.value))
            n += countEntries(*nested);
    }
    return n;
}

QByteArray repeatedJson(const QByteArray& element, qsizetype n)
{
    QByteArray out;
    out.reserve(element.size() * n + 2);
    out += '[';
    for (qsizetype i = 0; i < n; ++i) {
        if (i)
            out += ',';
        out += element;
    }
    return out + ']';
}

// A list of one text, as CBOR.
QByteArray cborText(const QByteArray& utf8)
{
    QByteArray head = QByteArray::fromHex("817a");
    for (int shift = 24; shift >= 0; shift -= 8)
        head += static_cast<char>((utf8.size() >> shift) & 0xff);
    return head + utf8;
}

struct Worst
{
    const char* what;
    QByteArray input;
    bool cbor;
};

std::vector<Worst> worstInputs()
{
    const qsizetype full = DataSetCodec::kMaxEntries;
    // Four lists of 2^20 - 1 entries and the four lists themselves: 2^22 entries.
    const QByteArray zeros = repeatedJson("0", full - 1);
    const QByteArray cborZeros = QByteArray::fromHex("9a000fffff") + QByteArray(full - 1, '\0');
    QByteArray deep = "{\"a\":";
    for (int i = 2; i < DataSetCodec::kMaxDepth; ++i)
        deep += "{\"a\":";
    deep += repeatedJson("0", full - 1) + QByteArray(DataSetCodec::kMaxDepth - 1, '}');
    const qsizetype textBytes = DataSetCodec::kMaxInputBytes - 8;
    return {
        {"JSON: 2^22 small numbers in 4 lists (most entries)", repeatedJson(zeros, 4), false},
        {"CBOR: 2^22 small numbers in 4 lists (most entries)",
         QByteArray::fromHex("84") + cborZeros + cborZeros + cborZeros + cborZeros, true},
        {"JSON: 32 sets deep, a full list innermost (deepest)", deep, false},
        {"JSON: one text of 64 MiB (longest string)", "[\"" + QByteArray(textBytes, 'a') + "\"]", false},
        {"JSON: one text of 64 MiB in escapes", "[\"" + QByteArray("\\u00e9").repeated(textBytes / 6) + "\"]",
         false},
        {"JSON: 64 MiB of text refused at its last byte", "[\"" + QByteArray(textBytes - 2, 'a') + "\\x\"]",
         false},
        {"CBOR: one text of 64 MiB, 2-byte characters",
         cborText(QByteArray("\xc3\xa9").repeated(textBytes / 2)), true},
        {"CBOR: 64 MiB of text refused at its last byte", cborText(QByteArray(textBytes - 1, 'a') + '\xff'),
         true},
        {"JSON: 2^20 + 1 numbers (refused at the end)", repeatedJson("0", full + 1), false},
        {"JSON: 2^22 + 1 entries (refused at the end)", repeatedJson(zeros, 4).chopped(1) + ",0]", false},
    };
}

// ---------------------------------------------------------------------------------
class Collector : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                const double ns =
                    r.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(r.time_unit);
                std::string name = r.benchmark_name();
                name = name.substr(0, name.find("/min_time"));
                auto [it, fresh] = m_fastest.emplace(name, ns);
                if (!fresh)
                    it->second = std::min(it->second, ns);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double ns(const std::string& name) const
    {
        const auto it = m_fastest.find(name);
        return it == m_fastest.end() ? 0.0 : it->second;
    }

private:
    std::map<std::string, double> m_fastest;
};

const char* const kRows[] = {"fill",
                             "fill (QHash, no lock)",
                             "lookup",
                             "lookup (QHash, no lock)",
                             "iterate",
                             "encode JSON",
                             "decode JSON",
                             "encode CBOR",
                             "decode CBOR",
                             "decode JSON (RapidJSON SAX)",
                             "session serialize",
                             "session deserialize"};

void registerAll()
{
    const std::vector<void (*)(benchmark::State&)> bodies = {fill,
                                                             fillQHash,
                                                             lookup,
                                                             lookupQHash,
                                                             iterate,
                                                             encode<toJson>,
                                                             decode<toJson, &DataSetCodec::fromJson>,
                                                             encode<toCbor>,
                                                             decode<toCbor, &DataSetCodec::fromCbor>,
                                                             decodeJsonRapid,
                                                             sessionSerialize,
                                                             sessionDeserialize};
    for (size_t i = 0; i < bodies.size(); ++i) {
        for (int n = 100; n <= 1000000; n *= 10)
            benchmark::RegisterBenchmark((std::string(kRows[i]) + "/" + std::to_string(n)).c_str(), bodies[i])
                ->Arg(n)
                ->MinTime(n >= 100000 ? 0.3 : 0.1)
                ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("grown session", grownSession)->Unit(benchmark::kMillisecond)->MinTime(1);
    benchmark::RegisterBenchmark("QSettings", grownQSettings)->Unit(benchmark::kMillisecond)->MinTime(1);
}

} // namespace

int main(int argc, char** argv)
{
    // A run narrowed to some rows (--benchmark_filter) skips the memory table, which
    // takes most of a whole run.
    const bool narrowed = std::any_of(
        argv + 1, argv + argc, [](const char* a) { return std::strncmp(a, "--benchmark_filter", 18) == 0; });
    benchmark::Initialize(&argc, argv);
    bool allMet = true;
    if (!narrowed)
        std::printf("== peak decode memory above the input (child process, ru_maxrss) ==\n");
    for (const Worst& w : narrowed ? std::vector<Worst>{} : worstInputs()) {
        const ChildPeak p = peakInChild([&w] {
            const DataSetCodec::DecodeResult r =
                w.cbor ? DataSetCodec::fromCbor(w.input) : DataSetCodec::fromJson(w.input);
            return r.ok() ? countEntries(r.set) : -1LL;
        });
        const double mib = 1024.0 * 1024.0;
        const double bound =
            4.0 * double(w.input.size()) + 32 * mib + 256.0 * double(std::max(p.result, 0LL));
        const bool met = p.bytes >= 0 && double(p.bytes) <= bound;
        allMet = allMet && met;
        std::printf("%-55s input %6.1f MiB, %8lld entries, peak %7.1f MiB, bound %7.1f MiB %s\n", w.what,
                    double(w.input.size()) / mib, p.result, double(p.bytes) / mib, bound / mib,
                    met ? "met" : "MISSED");
    }
    registerAll();
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);

    std::printf("\n== ns per entry (CPU, fastest run) ==\n%-30s", "n");
    for (int n = 100; n <= 1000000; n *= 10)
        std::printf(" %9d", n);
    std::printf(" %12s\n", "10^6 / 10^3");
    for (const char* row : kRows) {
        std::printf("%-30s", row);
        double at3 = 0, at6 = 0;
        for (int n = 100; n <= 1000000; n *= 10) {
            const double perEntry =
                collector.ns(std::string(row) + "/" + std::to_string(n) + "/" + std::to_string(n)) / n;
            std::printf(" %9.1f", perEntry);
            if (n == 1000)
                at3 = perEntry;
            if (n == 1000000)
                at6 = perEntry;
        }
        const double growth = at3 > 0 ? at6 / at3 : 0;
        const bool met = growth > 0 && growth <= 1.5;
        // Rows with a name in parentheses are comparisons, not goals.
        const bool comparison = std::string(row).find('(') != std::string::npos;
        allMet = allMet && (met || comparison);
        std::printf(" %11.2fx %s\n", growth, comparison ? "" : met ? "met" : "MISSED");
    }
    const double ours = collector.ns("grown session") / 1e6, qsettings = collector.ns("QSettings") / 1e6;
    std::printf("\n== grown session (10^5 settings, 10^4 messages) ==\nlibrary %.1f ms, QSettings %.1f ms: "
                "%.1fx faster (goal >= 4x) %s\n",
                ours, qsettings, ours > 0 ? qsettings / ours : 0, qsettings >= 4 * ours ? "met" : "MISSED");

    allMet = allMet && qsettings >= 4 * ours;
    std::printf("\n%s\n", allMet ? "every goal met" : "some goals missed (see BENCHMARKS.md)");
    return 0;
}
