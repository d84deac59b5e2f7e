// SPDX-License-Identifier: MIT
#pragma once

// The walk shared by both stored forms: where it stands in the set, what it has
// counted against the limits, the first error, and the encoding walk itself, which
// hands each set's entries, read under the set's shared lock, to a form's writer in
// the order the form fixes.

#include "DataSetCodec.h"
#include "WellFormedText.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace DataSets {
namespace Codec {

using Error = DataSetCodec::Error;
using Limits = DataSetCodec::Limits;
using Impl::DataSetImpl;
using Impl::Entry;
using Impl::Value;

// A key in an error text, with unpaired surrogates spelled out so that the text
// itself stays well-formed.
QString quoted(const QString& key);

// A number that is no 32-bit integer, for error texts: whole numbers within 64 bits
// as integers, others in their shortest form ("1.5", "1e+300").
QString numberText(double d);

// The entries of a keyed set in the order of their keys (QString's order), as the
// stored forms keep them. A set already in that order (as every decoded set is) is
// only checked; otherwise the keys are ranked by radix passes over their first units
// after the prefix they all share, and only keys that tie there are compared whole.
std::vector<const Entry*> inKeyOrder(const std::vector<Entry>& entries);

// The decimal text of a list position, as a list set's key.
QString positionKey(qsizetype position);

// Eight bytes at a time, for scanning text: each test is nonzero exactly when some
// byte of `x` is zero, below `n` (n <= 0x80), or 0x80 and above.
constexpr quint64 kEachByte = 0x0101010101010101ULL;
constexpr quint64 kHighBits = 0x8080808080808080ULL;
inline quint64 anyByteBelow(quint64 x, unsigned n)
{
    return (x - kEachByte * n) & ~x & kHighBits;
}
inline quint64 anyByteIs(quint64 x, unsigned char c)
{
    return anyByteBelow(x ^ (kEachByte * c), 1);
}
inline quint64 anyHighByte(quint64 x)
{
    return x & kHighBits;
}
inline quint64 eightBytes(const char* p)
{
    quint64 x;
    std::memcpy(&x, p, sizeof x);
    return x;
}

// How many bytes in memory come before the first one a test above marks. Exact on
// little-endian machines, where a borrow only marks bytes after the first marked
// one; elsewhere 0, so that the caller looks at each byte itself.
inline int bytesBeforeMark(quint64 marks)
{
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    return __builtin_ctzll(marks) / 8;
#else
    Q_UNUSED(marks);
    return 0;
#endif
}

// The first byte from p on that is 0x80 or above, or end.
inline const char* skipAscii(const char* p, const char* end)
{
    for (; end - p >= 8; p += 8) {
        if (const quint64 high = anyHighByte(eightBytes(p))) {
            p += bytesBeforeMark(high);
            break;
        }
    }
    while (p != end && static_cast<unsigned char>(*p) < 0x80)
        ++p;
    return p;
}

// One UTF-8 sequence at p (first byte 0x80 or above) into UTF-16 at d, moving both
// past it; strictly: no overlong forms, no surrogates, nothing beyond U+10FFFF.
inline bool decodeUtf8(const char*& p, const char* end, char16_t*& d)
{
    const auto b = [p](int i) { return static_cast<unsigned char>(p[i]); };
    const unsigned char lead = b(0);
    int n = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        n = 1;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        n = 2;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        n = 3;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return false;
    }
    if (end - p <= n || b(1) < low || b(1) > high)
        return false;
    char32_t c = lead & (0x3f >> n);
    for (int i = 1; i <= n; ++i) {
        if ((b(i) & 0xc0) != 0x80)
            return false;
        c = (c << 6) | (b(i) & 0x3f);
    }
    p += n + 1;
    if (c >= 0x10000) {
        *d++ = QChar::highSurrogate(c);
        *d++ = QChar::lowSurrogate(c);
    } else {
        *d++ = static_cast<char16_t>(c);
    }
    return true;
}

// Refused before any reading: input over the byte limit.
bool tooLarge(const QByteArray& input, const Limits& limits, Error& error);

// Decodes with a form's Reader(input, limits).decode(), input within the byte limit.
template <class Reader> DataSetCodec::DecodeResult decodeWithin(const QByteArray& input, const Limits& limits)
{
    DataSetCodec::DecodeResult refused;
    if (tooLarge(input, limits, refused.error))
        return refused;
    return Reader(input, limits).decode();
}

// The bytes an encoder writes: kept up to the byte limit, beyond it only counted,
// so an oversized set costs no more than the limit in memory and its error can
// still say how large it would have been.
class CappedBytes
{
public:
    explicit CappedBytes(qsizetype cap)
        : m_cap(cap)
    {}

    // Inline while the bytes fit the room grown so far: one copy, no call into Qt.
    void add(const char* data, qint64 n)
    {
        const qint64 at = m_total;
        m_total += n;
        if (m_total <= m_room)
            std::memcpy(m_begin + at, data, static_cast<size_t>(n));
        else
            addGrowing(data, n, at);
    }
    void discard()
    {
        m_discarding = true;
        m_bytes = QByteArray();
        m_begin = nullptr;
        m_room = -1;
    }
    qint64 total() const { return m_total; }
    QByteArray take()
    {
        if (!m_discarding)
            m_bytes.truncate(static_cast<qsizetype>(m_total));
        m_begin = nullptr;
        m_room = -1;
        return std::move(m_bytes);
    }

private:
    void addGrowing(const char* data, qint64 n, qint64 at)
    {
        if (m_discarding)
            return;
        if (m_total > m_cap) {
            discard();
            return;
        }
        // Room doubles, up to the cap. Appending each piece with QByteArray::append
        // instead took nearly twice as long for a set of 10^5 entries.
        const qint64 room = std::min<qint64>(m_cap, std::max<qint64>(m_total, 2 * m_room + 4096));
        m_bytes.resize(static_cast<qsizetype>(room));
        m_begin = m_bytes.data();
        m_room = room;
        std::memcpy(m_begin + at, data, static_cast<size_t>(n));
    }

    QByteArray m_bytes;
    char* m_begin = nullptr;
    qint64 m_room = 0;
    qint64 m_total = 0;
    const qsizetype m_cap;
    bool m_discarding = false;
};

class Walk
{
public:
    explicit Walk(const Limits& limits)
        : m_limits(limits)
    {}

    const Error& error() const { return m_error; }

protected:
    // An error at the current place; the first one is kept.
    bool fail(const QString& message, qint64 offset = -1);
    // An error about the input or output as a whole.
    bool failWhole(const QString& message, qint64 offset = -1);

    // Checked before a nested set at `depth` is entered, which bounds the recursion.
    bool checkDepth(int depth);

    // Where the walk stands: the key or list position of each set entered. Kept as
    // steps, not texts, since only an error needs the path spelled out; a key must
    // outlive its step.
    void enter(const QString& key) { m_path.push_back(Step{&key, -1}); }
    void enter(qsizetype position) { m_path.push_back(Step{nullptr, position}); }
    void leave() { m_path.pop_back(); }
    bool atTop() const { return m_path.empty(); }
    void clearPath() { m_path.clear(); }

    const Limits& m_limits;
    qsizetype m_total = 0;

private:
    struct Step
    {
        const QString* key;
        qsizetype position;
    };
    QStringList pathText() const;

    std::vector<Step> m_path;
    Error m_error;
};

// Reading takes two passes over the input. The first checks everything and builds
// nothing (the sets passed down are null), so input that is refused costs no more
// memory than its checking; the second builds, and the top set is handed out only
// once everything has been read.
class Decoder : public Walk
{
public:
    using Walk::Walk;

protected:
    // Starts the second pass, which builds.
    void startBuilding();

    // The building pass gathers each set's entries in a vector of its own (`built`,
    // null while checking) and hands them to the set when it closes, which indexes
    // them in one pass. Each set is numbered as it opens, in both passes alike: the
    // checking pass notes the size of every large set as it closes, and the building
    // pass makes room for all of its entries at once.
    qsizetype openSet(std::vector<Entry>* built);
    // False when the set refuses the entries (a repeated key).
    bool closeSet(qsizetype ordinal, qsizetype count, DataSetImpl* ds, std::vector<Entry>& built);

    // Counts one more entry of a set that has `inSet` entries so far.
    bool countEntry(qsizetype inSet, qint64 offset);

    // One entry of a set, read by `readValue` with the walk standing at its key or
    // position; `note` notes the key for the repeat check (keyed sets, checking pass).
    template <class ReadValue>
    bool readEntry(bool isList, qsizetype& count, const QString& key, bool note, ReadValue readValue)
    {
        if (note)
            noteKey(key);
        if (isList)
            enter(count);
        else
            enter(key);
        ++count;
        if (!readValue())
            return false;
        leave();
        return true;
    }

    // Gathers the value under the key (in the building pass). The key moves into the
    // entry, sparing two reference counts, unless the value is a nested set, whose
    // reading still names the key in its errors.
    static bool store(std::vector<Entry>* built, QString& key, Value value, qint64)
    {
        if (!built)
            return true;
        if (std::holds_alternative<DataSet>(value))
            built->push_back(Entry{key, std::move(value)});
        else
            built->push_back(Entry{std::move(key), std::move(value)});
        return true;
    }
    bool checkKey(const QString& key, qint64 offset);
    bool failNotInteger(double d, qint64 offset) { return fail(numberText(d) + notInteger(), offset); }
    static QString notInteger() { return QStringLiteral(" is not a 32-bit integer"); }

    // Repeated keys, in the checking pass: each open keyed set keeps the hashes of
    // its keys (8 bytes a key, grown by half at a time) and looks for repeated
    // hashes when it closes; a form then finds the key itself by reading the set
    // again (isRepeat), since equal hashes may, rarely, be chance.
    void openKeyed();
    void noteKey(const QString& key);
    // Closes the innermost keyed set: true when two of its keys share a hash.
    bool closeKeyed();
    // While the set just closed is read again: true when `key` has a repeated hash
    // and equals a key met before it (kept in `before`).
    bool isRepeat(const QString& key, std::vector<QString>& before) const;
    bool failRepeat(const QString& key, qint64 offset);
    static size_t keyHash(const QString& key);

    DataSetCodec::DecodeResult result(bool ok, DataSet set) const;

    bool m_build = false;

private:
    std::vector<std::vector<size_t>> m_keyHashes;
    std::vector<size_t> m_hashScratch;
    std::vector<size_t> m_repeated;
    struct SetSize
    {
        qsizetype ordinal;
        qsizetype count;
    };
    std::vector<SetSize> m_sizes;
    size_t m_nextSize = 0;
    qsizetype m_setsOpened = 0;
    size_t m_openKeyed = 0;
};

// Writing. A Writer offers beginMap(n), beginArray(n), key(k), text(t), flag(b),
// integer(i), end(), and size() (all bytes written, kept or not) and take(); past
// the byte limit it keeps counting without keeping the bytes.
template <class Writer> class Encoder : public Walk
{
public:
    Encoder(const Limits& limits, Writer& writer)
        : Walk(limits)
        , m_writer(writer)
    {}

    DataSetCodec::EncodeResult encode(const DataSet& ds)
    {
        bool ok = ds ? encodeSet(*ds, 1) : failWhole(QStringLiteral("no data set to encode"));
        if (ok && m_total > m_limits.maxTotalEntries) {
            clearPath();
            ok = fail(QStringLiteral("%1 entries in all, more than the limit of %2")
                          .arg(m_total)
                          .arg(m_limits.maxTotalEntries));
        }
        if (ok && m_writer.size() > m_limits.maxBytes) {
            ok = failWhole(QStringLiteral("the encoded form takes %1 bytes, more than the limit of %2")
                               .arg(m_writer.size())
                               .arg(m_limits.maxBytes));
        }
        if (!ok)
            return {{}, error()};
        return {m_writer.take(), {}};
    }

private:
    bool encodeSet(const DataSetImpl& ds, int depth)
    {
        return ds.readEntries(
            [&](const std::vector<Entry>& entries) { return encodeEntries(ds, entries, depth); });
    }

    bool encodeEntries(const DataSetImpl& ds, const std::vector<Entry>& entries, int depth)
    {
        const auto n = static_cast<qsizetype>(entries.size());
        if (n > m_limits.maxEntries) {
            return fail(QStringLiteral("%1 entries in one set, more than the limit of %2")
                            .arg(n)
                            .arg(m_limits.maxEntries));
        }
        // Past the limit on all entries the walk goes on to count them, writing nothing.
        m_total += n;
        if (m_total > m_limits.maxTotalEntries)
            m_writer.discard();
        return ds.isList() ? encodeList(entries, depth) : encodeKeyed(entries, depth);
    }

    bool encodeKeyed(const std::vector<Entry>& entries, int depth)
    {
        const std::vector<const Entry*> byKey = inKeyOrder(entries);
        m_writer.beginMap(static_cast<qsizetype>(byKey.size()));
        const size_t n = byKey.size();
        for (size_t i = 0; i < n; ++i) {
            // Key order is not the order the entries lie in: fetch the entry sixteen
            // ahead, and the texts of the one eight ahead, whose entry is in by then.
            if (i + 16 < n)
                __builtin_prefetch(byKey[i + 16]);
            if (i + 8 < n) {
                const Entry* ahead = byKey[i + 8];
                __builtin_prefetch(ahead->key.constData());
                if (const auto* text = std::get_if<QString>(&ahead->value))
                    __builtin_prefetch(text->constData());
            }
            const Entry* e = byKey[i];
            enter(e->key);
            m_writer.key(e->key);
            if (!encodeValue(e->value, depth))
                return false;
            leave();
        }
        m_writer.end();
        return true;
    }

    // The keys of a list set are distinct canonical positions, so they are exactly
    // "0".."n-1" when each one is below n.
    bool encodeList(const std::vector<Entry>& entries, int depth)
    {
        const auto n = static_cast<qsizetype>(entries.size());
        std::vector<const Value*> byPosition(entries.size(), nullptr);
        for (const Entry& e : entries) {
            const qsizetype position = e.key.toInt();
            if (position < n)
                byPosition[static_cast<size_t>(position)] = &e.value;
        }
        const auto gap = std::find(byPosition.begin(), byPosition.end(), nullptr);
        if (gap != byPosition.end()) {
            return fail(QStringLiteral("list set of %1 entries lacks position %2")
                            .arg(n)
                            .arg(gap - byPosition.begin()));
        }
        m_writer.beginArray(n);
        for (qsizetype i = 0; i < n; ++i) {
            enter(i);
            if (!encodeValue(*byPosition[static_cast<size_t>(i)], depth))
                return false;
            leave();
        }
        m_writer.end();
        return true;
    }

    bool encodeValue(const Value& value, int depth)
    {
        if (const auto* text = std::get_if<QString>(&value)) {
            if (!Impl::isWellFormedUtf16(*text))
                return fail(QStringLiteral("text holds an unpaired surrogate, which UTF-8 cannot carry"));
            m_writer.text(*text);
        } else if (const auto* flag = std::get_if<bool>(&value)) {
            m_writer.flag(*flag);
        } else if (const auto* number = std::get_if<int>(&value)) {
            m_writer.integer(*number);
        } else {
            // The component refuses null nested sets; a nested set is never null.
            if (!checkDepth(depth + 1))
                return false;
            return encodeSet(*std::get<DataSet>(value), depth + 1);
        }
        return true;
    }

    Writer& m_writer;
};

} // namespace Codec
} // namespace DataSets
