// SPDX-License-Identifier: MIT
#include "FuzzSupport.h"

#include "DataSetDiff.h"

#include <AppRuntimeData.h>
#include <CallFlowRuntimeData.h>
#include <ChatRuntimeData.h>
#include <DeskRuntimeData.h>
#include <PhoneRuntimeData.h>
#include <UserRuntimeData.h>

#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <variant>

namespace Fuzz {

namespace {

constexpr int kMaxDepth = 6;
constexpr int kMaxEntries = 2048;

using DataSets::DataSet;
using DataSets::Impl::Entry;
using DataSets::Impl::Value;

// The session's keys for its stores' parts.
const char* const kSessionKeys[] = {"app", "chat", "phone", "user", "desk"};

// Every stored key the property tables name.
template <class... Enum> void addStoredKeys(QStringList& out)
{
    (
        [&out] {
            for (const SessionConfigDetail::PropertyRow& row :
                 SessionConfigDetail::PropertyTable<Enum>::rows) {
                if (row.part != SessionConfigDetail::StoredPart::None)
                    out << QString::fromUtf8(row.key);
            }
        }(),
        ...);
}

// Texts at the edges of what the records parse: numbers around the 32- and 64-bit
// limits, date-times valid, invalid and with offsets, and the list positions.
const char* const kEdgeTexts[] = {"",
                                  "0",
                                  "1",
                                  "01",
                                  "-1",
                                  " 1",
                                  "+1",
                                  "2147483647",
                                  "2147483648",
                                  "-2147483649",
                                  "9223372036854775807",
                                  "9223372036854775808",
                                  "-9223372036854775808",
                                  "18446744073709551616",
                                  "1e3",
                                  "0x10",
                                  "true",
                                  "2024-02-29T23:59:59.999Z",
                                  "2024-02-30T00:00:00.000",
                                  "1970-01-01T00:00:00.000+14:00",
                                  "9999-12-31T23:59:59.999",
                                  "not a date",
                                  "https://example.net/path?x=%NEWVALUE%"};

int takeLength(int wanted, size_t available)
{
    return static_cast<int>(std::min<size_t>(static_cast<size_t>(wanted), available));
}

void dumpInto(const DataSet& ds, QString& out, int indent)
{
    if (!ds) {
        out += QStringLiteral("null");
        return;
    }
    out += ds->isList() ? QStringLiteral("[\n") : QStringLiteral("{\n");
    for (const Entry& e : ds->entries()) {
        out += QString(indent + 2, u' ') + QStringLiteral("\"%1\": ").arg(e.key);
        if (const auto* s = std::get_if<QString>(&e.value))
            out += QStringLiteral("\"%1\"").arg(*s);
        else if (const auto* b = std::get_if<bool>(&e.value))
            out += *b ? QStringLiteral("true") : QStringLiteral("false");
        else if (const auto* i = std::get_if<int>(&e.value))
            out += QString::number(*i);
        else
            dumpInto(std::get<DataSet>(e.value), out, indent + 2);
        out += u'\n';
    }
    out += QString(indent, u' ') + (ds->isList() ? u']' : u'}');
}

void describeInto(const DataSet& ds, QByteArray& out)
{
    const std::vector<Entry> entries = ds->entries();
    const int count = std::min<int>(static_cast<int>(entries.size()), 127);
    out += char((ds->isList() ? 1 : 0) | (count << 1));
    for (int n = 0; n < count; ++n) {
        const Entry& e = entries[size_t(n)];
        bool ok = false;
        const int position = e.key.toInt(&ok);
        if (ds->isList() && ok && position >= 0 && position < 30 && e.key == QString::number(position)) {
            out += char(0xE0 + position);
        } else if (e.key.size() < 0x80 &&
                   std::all_of(e.key.begin(), e.key.end(), [](QChar c) { return c.unicode() < 0x100; })) {
            out += char(e.key.size());
            out += e.key.toLatin1();
        } else {
            const int units = std::min<int>(static_cast<int>(e.key.size()), 0x1F);
            out += char(0xC0 | units);
            for (int u = 0; u < units; ++u) {
                const char16_t c = e.key.at(u).unicode();
                out += char(c & 0xFF);
                out += char(c >> 8);
            }
        }
        if (const auto* s = std::get_if<QString>(&e.value)) {
            const int units = std::min<int>(static_cast<int>(s->size()), 255);
            if (std::all_of(s->begin(), s->end(), [](QChar c) { return c.unicode() < 0x100; })) {
                out += char(0);
                out += char(units);
                out += s->left(units).toLatin1();
            } else {
                out += char(7);
                out += char(units);
                for (int u = 0; u < units; ++u) {
                    const char16_t c = s->at(u).unicode();
                    out += char(c & 0xFF);
                    out += char(c >> 8);
                }
            }
        } else if (const auto* b = std::get_if<bool>(&e.value)) {
            out += char(*b ? 2 | 8 : 2);
        } else if (const auto* i = std::get_if<int>(&e.value)) {
            const auto u = static_cast<uint32_t>(*i);
            out += char(4);
            for (int shift = 0; shift < 32; shift += 8)
                out += char((u >> shift) & 0xFF);
        } else {
            out += char(5);
            describeInto(std::get<DataSet>(e.value), out);
        }
    }
}

} // namespace

const std::vector<QString>& knownTexts()
{
    static const std::vector<QString> texts = [] {
        QStringList all;
        addStoredKeys<AppProperty, CallFlowProperty, ChatProperty, PhoneProperty, UserProperty, DeskProperty>(
            all);
        for (const char* t : kSessionKeys)
            all << QString::fromUtf8(t);
        for (const char* t : kEdgeTexts)
            all << QString::fromUtf8(t);
        all.sort();
        all.removeDuplicates();
        return std::vector<QString>(all.begin(), all.end());
    }();
    return texts;
}

SetBuilder::SetBuilder(const uint8_t* data, size_t size)
    : m_data(data)
    , m_size(size)
    , m_budget(kMaxEntries)
{}

uint8_t SetBuilder::byte()
{
    if (m_size == 0)
        return 0;
    --m_size;
    return *m_data++;
}

uint32_t SetBuilder::word()
{
    uint32_t w = 0;
    for (int shift = 0; shift < 32; shift += 8)
        w |= uint32_t(byte()) << shift;
    return w;
}

QString SetBuilder::latin1(int length)
{
    const int n = takeLength(length, m_size);
    QString s = QString::fromLatin1(reinterpret_cast<const char*>(m_data), n);
    m_data += n;
    m_size -= size_t(n);
    return s;
}

QString SetBuilder::utf16(int length)
{
    QString s;
    for (int i = 0; i < length && m_size > 0; ++i) {
        const uint16_t lo = byte();
        s += QChar(char16_t(lo | (uint16_t(byte()) << 8)));
    }
    return s;
}

QString SetBuilder::key()
{
    const uint8_t k = byte();
    if (k < 0x80)
        return latin1(k);
    if (k < 0xC0) {
        const std::vector<QString>& known = knownTexts();
        return known[(size_t((k & 0x3F) << 8) | byte()) % known.size()];
    }
    if (k < 0xE0)
        return utf16(k & 0x1F);
    if (k < 0xFE)
        return QString::number(k - 0xE0);
    if (k == 0xFE)
        return QString::number(word());
    return QStringLiteral("01");
}

void SetBuilder::entry(const DataSet& ds, int depth)
{
    const QString k = key();
    const uint8_t tag = byte();
    switch (tag % 8) {
    case 0:
        DataSets::Impl::setDataValue(*ds, k, latin1(byte()));
        break;
    case 1: {
        const std::vector<QString>& known = knownTexts();
        DataSets::Impl::setDataValue(*ds, k, known[byte() % known.size()]);
        break;
    }
    case 2:
        DataSets::Impl::setDataValue(*ds, k, (tag & 8) != 0);
        break;
    case 3:
        DataSets::Impl::setDataValue(*ds, k, int(static_cast<int8_t>(byte())));
        break;
    case 4:
        DataSets::Impl::setDataValue(*ds, k, static_cast<int>(word()));
        break;
    case 5:
        DataSets::Impl::setDataValue(*ds, k, depth < kMaxDepth ? set(depth + 1) : DataSets::Impl::createDS());
        break;
    case 6: {
        const uint8_t index = byte();
        const DataSet earlier =
            m_built.empty() ? DataSets::Impl::createDS(true) : m_built[index % m_built.size()];
        DataSets::Impl::setDataValue(*ds, k, earlier);
        break;
    }
    default:
        DataSets::Impl::setDataValue(*ds, k, utf16(byte()));
        break;
    }
}

DataSet SetBuilder::set(int depth)
{
    const uint8_t header = byte();
    DataSet ds = DataSets::Impl::createDS((header & 1) != 0);
    m_built.push_back(ds);
    for (int n = header >> 1; n > 0 && m_budget > 0 && m_size > 0; --n) {
        --m_budget;
        entry(ds, depth);
    }
    return ds;
}

DataSet SetBuilder::next()
{
    return set(0);
}

QByteArray describe(const DataSet& ds)
{
    QByteArray out;
    describeInto(ds, out);
    return out;
}

bool sameSet(const DataSet& a, const DataSet& b, QString* where)
{
    const std::optional<QString> difference = firstDifference(a, b);
    if (difference && where)
        *where = *difference;
    return !difference;
}

QString dump(const DataSet& ds)
{
    QString out;
    dumpInto(ds, out, 0);
    return out;
}

void fail(const QString& message)
{
    std::fprintf(stderr, "%s\n", qPrintable(message));
    std::fflush(stderr);
    std::abort();
}

} // namespace Fuzz
