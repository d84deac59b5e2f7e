// SPDX-License-Identifier: MIT
#include "CodecWalk.h"

#include <QHash>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <utility>

namespace DataSets {

QString DataSetCodec::Error::toString() const
{
    if (whole)
        return message;
    const QString where = path.isEmpty() ? QStringLiteral("top level") : path.join(QLatin1Char('.'));
    return where + QStringLiteral(": ") + message;
}

namespace Codec {

QString quoted(const QString& key)
{
    QString out = QStringLiteral("\"");
    const qsizetype n = key.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = key.at(i);
        if (c.isHighSurrogate() && i + 1 < n && key.at(i + 1).isLowSurrogate()) {
            out += c;
            out += key.at(++i);
        } else if (c.isSurrogate()) {
            out += QStringLiteral("\\u") + QString::number(c.unicode(), 16).toUpper();
        } else {
            out += c;
        }
    }
    return out + QLatin1Char('"');
}

QString numberText(double d)
{
    if (d == std::trunc(d) && std::fabs(d) < 9223372036854775808.0)
        return QString::number(static_cast<qint64>(d));
    return QString::number(d, 'g', QLocale::FloatingPointShortest);
}

namespace {

// Sorts [begin, end) by key(item), a 64-bit number: radix passes a byte at a time,
// least significant first, skipping the bytes that every item shares; linear in the
// items, where a comparison sort takes log n comparisons an item. Few items go
// through std::sort, which needs no counting tables.
template <class T, class Key> void sortByKey(T* begin, T* end, std::vector<T>& scratch, Key key)
{
    const auto n = static_cast<size_t>(end - begin);
    if (n < 256) {
        std::sort(begin, end, [&key](const T& a, const T& b) { return key(a) < key(b); });
        return;
    }
    std::array<std::array<size_t, 256>, 8> counts{};
    for (const T* item = begin; item != end; ++item) {
        const quint64 k = key(*item);
        for (int d = 0; d < 8; ++d)
            ++counts[size_t(d)][(k >> (8 * d)) & 0xff];
    }
    scratch.resize(n);
    T* from = begin;
    T* to = scratch.data();
    const quint64 first = key(*begin);
    for (int d = 0; d < 8; ++d) {
        std::array<size_t, 256>& at = counts[size_t(d)];
        if (at[(first >> (8 * d)) & 0xff] == n)
            continue;
        size_t sum = 0;
        for (size_t& c : at)
            sum += std::exchange(c, sum);
        for (const T* item = from; item != from + n; ++item)
            to[at[(key(*item) >> (8 * d)) & 0xff]++] = *item;
        std::swap(from, to);
    }
    if (from != begin)
        std::copy(from, from + n, begin);
}

struct Ranked
{
    quint64 units; // four UTF-16 units of the key from a given place, 0 past its end
    const Entry* entry;
};

quint64 unitsAt(const QString& key, qsizetype from)
{
    const auto* u = reinterpret_cast<const char16_t*>(key.constData());
    const qsizetype n = key.size();
    quint64 units = 0;
    for (qsizetype i = from; i < from + 4; ++i)
        units = (units << 16) | (i < n ? u[i] : 0);
    return units;
}

// Orders [begin, end), whose keys agree on their units before `from`. A key that
// ends ranks as 0 there, before any longer key, as QString's order has it; keys that
// still tie after `rounds` more rounds are compared whole.
void rankFrom(Ranked* begin, Ranked* end, qsizetype from, int rounds, std::vector<Ranked>& scratch)
{
    if (end - begin < 64 || rounds == 0) {
        std::sort(begin, end, [](const Ranked& a, const Ranked& b) { return a.entry->key < b.entry->key; });
        return;
    }
    for (Ranked* r = begin; r != end; ++r)
        r->units = unitsAt(r->entry->key, from);
    sortByKey(begin, end, scratch, [](const Ranked& r) { return r.units; });
    for (Ranked* run = begin; run != end;) {
        Ranked* last = run + 1;
        while (last != end && last->units == run->units)
            ++last;
        if (last - run > 1)
            rankFrom(run, last, from + 4, rounds - 1, scratch);
        run = last;
    }
}

} // namespace

std::vector<const Entry*> inKeyOrder(const std::vector<Entry>& entries)
{
    std::vector<const Entry*> byKey;
    byKey.reserve(entries.size());
    for (const Entry& e : entries)
        byKey.push_back(&e);
    if (std::is_sorted(byKey.begin(), byKey.end(),
                       [](const Entry* a, const Entry* b) { return a->key < b->key; }))
        return byKey;
    // The prefix every key shares ranks nothing.
    const QString& first = entries.front().key;
    qsizetype shared = first.size();
    for (const Entry& e : entries) {
        const qsizetype n = std::min(shared, e.key.size());
        qsizetype i = 0;
        while (i < n && e.key.at(i) == first.at(i))
            ++i;
        shared = i;
    }
    std::vector<Ranked> ranked;
    ranked.reserve(entries.size());
    for (const Entry& e : entries)
        ranked.push_back(Ranked{0, &e});
    std::vector<Ranked> scratch;
    rankFrom(ranked.data(), ranked.data() + ranked.size(), shared, 4, scratch);
    for (size_t i = 0; i < ranked.size(); ++i)
        byKey[i] = ranked[i].entry;
    return byKey;
}

QString positionKey(qsizetype position)
{
    char16_t digits[20];
    char16_t* const end = digits + std::size(digits);
    char16_t* d = end;
    do {
        *--d = static_cast<char16_t>(u'0' + position % 10);
        position /= 10;
    } while (position > 0);
    return QString(reinterpret_cast<const QChar*>(d), end - d);
}

bool tooLarge(const QByteArray& input, const Limits& limits, Error& error)
{
    if (input.size() <= limits.maxBytes)
        return false;
    error.whole = true;
    error.message = QStringLiteral("input of %1 bytes is over the limit of %2 bytes")
                        .arg(input.size())
                        .arg(limits.maxBytes);
    return true;
}

QStringList Walk::pathText() const
{
    QStringList path;
    path.reserve(static_cast<qsizetype>(m_path.size()));
    for (const Step& step : m_path)
        path.append(step.key ? *step.key : QString::number(step.position));
    return path;
}

bool Walk::fail(const QString& message, qint64 offset)
{
    if (m_error.isEmpty())
        m_error = Error{pathText(), offset, message, false};
    return false;
}

bool Walk::failWhole(const QString& message, qint64 offset)
{
    if (m_error.isEmpty())
        m_error = Error{{}, offset, message, true};
    return false;
}

bool Walk::checkDepth(int depth)
{
    if (depth > m_limits.maxDepth)
        return fail(QStringLiteral("nesting deeper than %1 sets").arg(m_limits.maxDepth));
    return true;
}

void Decoder::startBuilding()
{
    std::sort(m_sizes.begin(), m_sizes.end(),
              [](const SetSize& a, const SetSize& b) { return a.ordinal < b.ordinal; });
    m_nextSize = 0;
    m_setsOpened = 0;
    m_build = true;
    m_total = 0;
    clearPath();
}

qsizetype Decoder::openSet(std::vector<Entry>* built)
{
    const qsizetype ordinal = m_setsOpened++;
    if (built && m_nextSize < m_sizes.size() && m_sizes[m_nextSize].ordinal == ordinal)
        built->reserve(static_cast<size_t>(m_sizes[m_nextSize++].count));
    return ordinal;
}

bool Decoder::closeSet(qsizetype ordinal, qsizetype count, DataSetImpl* ds, std::vector<Entry>& built)
{
    // Small sets grow cheaply; noting only large ones keeps this list short.
    if (!m_build && count >= 64)
        m_sizes.push_back(SetSize{ordinal, count});
    // Keys were checked in the first pass, so a refusal means a key is repeated.
    if (ds && !ds->adopt(std::move(built)))
        return fail(QStringLiteral("key appears more than once"));
    return true;
}

bool Decoder::countEntry(qsizetype inSet, qint64 offset)
{
    if (inSet >= m_limits.maxEntries)
        return fail(QStringLiteral("more than %1 entries in one set").arg(m_limits.maxEntries), offset);
    if (++m_total > m_limits.maxTotalEntries)
        return fail(QStringLiteral("more than %1 entries in all").arg(m_limits.maxTotalEntries), offset);
    return true;
}

bool Decoder::checkKey(const QString& key, qint64 offset)
{
    static const DataSetImpl keyed(false);
    if (!Impl::isValidKey(keyed, key))
        return fail(QStringLiteral("%1 is not a valid key").arg(quoted(key)), offset);
    return true;
}

void Decoder::openKeyed()
{
    if (m_keyHashes.size() == m_openKeyed)
        m_keyHashes.emplace_back();
    m_keyHashes[m_openKeyed++].clear();
}

void Decoder::noteKey(const QString& key)
{
    std::vector<size_t>& hashes = m_keyHashes[m_openKeyed - 1];
    if (hashes.size() == hashes.capacity())
        hashes.reserve(hashes.size() + hashes.size() / 2 + 8);
    hashes.push_back(keyHash(key));
}

bool Decoder::closeKeyed()
{
    std::vector<size_t>& hashes = m_keyHashes[--m_openKeyed];
    sortByKey(hashes.data(), hashes.data() + hashes.size(), m_hashScratch,
              [](size_t h) { return quint64(h); });
    if (m_hashScratch.capacity() > 4096)
        std::vector<size_t>().swap(m_hashScratch);
    // Every hash that repeats, not only the first: two keys may share a hash by chance
    // while another pair is a real repeat.
    m_repeated.clear();
    for (auto at = hashes.begin(); (at = std::adjacent_find(at, hashes.end())) != hashes.end();) {
        m_repeated.push_back(*at);
        at = std::upper_bound(at, hashes.end(), *at);
    }
    // A large set's hashes are not kept once it is closed.
    if (hashes.capacity() > 4096)
        std::vector<size_t>().swap(hashes);
    return !m_repeated.empty();
}

bool Decoder::isRepeat(const QString& key, std::vector<QString>& before) const
{
    if (!std::binary_search(m_repeated.begin(), m_repeated.end(), keyHash(key)))
        return false;
    if (std::find(before.begin(), before.end(), key) != before.end())
        return true;
    before.push_back(key);
    return false;
}

bool Decoder::failRepeat(const QString& key, qint64 offset)
{
    enter(key);
    return fail(QStringLiteral("key appears more than once"), offset);
}

size_t Decoder::keyHash(const QString& key)
{
    return Impl::KeyIndex::hashOf(key);
}

DataSetCodec::DecodeResult Decoder::result(bool ok, DataSet set) const
{
    if (!ok)
        return {nullptr, error()};
    return {std::move(set), {}};
}

} // namespace Codec
} // namespace DataSets
