// SPDX-License-Identifier: MIT
// The CBOR stored form, written and read as a stream straight between the set and
// the bytes: no QCborMap or QCborValue tree is built on either side, and no
// QCborStreamReader or QCborStreamWriter call is made for every item.
#include "CodecWalk.h"

#include <QLocale>
#include <QStringEncoder>
#include <QtCborCommon>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

namespace DataSets {

namespace {

using namespace Codec;

// Writes the CBOR that QCborStreamWriter wrote for what a set holds (definite
// lengths, the shortest heads, text as UTF-8) straight into the bytes, without a
// QIODevice call for every head and every text.
class CborWriter
{
public:
    explicit CborWriter(qsizetype cap)
        : m_out(cap)
    {}

    void beginMap(qsizetype n) { head(5, static_cast<quint64>(n)); }
    void beginArray(qsizetype n) { head(4, static_cast<quint64>(n)); }
    void key(const QString& k) { textItem(k); }
    void text(const QString& t) { textItem(t); }
    void flag(bool b)
    {
        const char item = b ? '\xf5' : '\xf4';
        m_out.add(&item, 1);
    }
    void integer(int i)
    {
        if (i >= 0)
            head(0, static_cast<quint64>(i));
        else
            head(1, static_cast<quint64>(-1 - qint64{i}));
    }
    // Both kinds of container have a definite length: nothing marks their end.
    void end() {}
    void discard() { m_out.discard(); }
    qint64 size() const { return m_out.total(); }
    QByteArray take() { return m_out.take(); }

private:
    static constexpr int kLongestHead = 9;

    // The head of an item of `major` type with number `v`, in the fewest bytes,
    // written to end at `end`; gives its length.
    static int headBefore(char* end, int major, quint64 v)
    {
        int n = 0;
        int info = 0;
        if (v < 24) {
            info = static_cast<int>(v);
        } else {
            n = v <= 0xff ? 1 : v <= 0xffff ? 2 : v <= 0xffffffffU ? 4 : 8;
            info = n == 1 ? 24 : n == 2 ? 25 : n == 4 ? 26 : 27;
            for (int i = 1; i <= n; ++i, v >>= 8)
                end[-i] = static_cast<char>(v & 0xff);
        }
        end[-n - 1] = static_cast<char>(major << 5 | info);
        return n + 1;
    }

    void head(int major, quint64 v)
    {
        char bytes[kLongestHead];
        const int n = headBefore(bytes + kLongestHead, major, v);
        m_out.add(bytes + kLongestHead - n, n);
    }

    // The text's UTF-8 goes to a scratch buffer after room for its head, so that
    // head and text go out in one piece.
    void textItem(const QString& s)
    {
        const size_t most = kLongestHead + static_cast<size_t>(m_encoder.requiredSpace(s.size()));
        if (m_scratch.size() < most)
            m_scratch.resize(most);
        char* const text = m_scratch.data() + kLongestHead;
        const char* const end = m_encoder.appendToBuffer(text, s);
        const qint64 n = end - text;
        const int h = headBefore(text, 3, static_cast<quint64>(n));
        m_out.add(text - h, n + h);
    }

    CappedBytes m_out;
    QStringEncoder m_encoder{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    std::vector<char> m_scratch;
};

// Where a CBOR reader stands: on one item, whose head it has checked. It reads
// straight from the bytes, inline, and makes a QString only for text that is kept
// (QCborStreamReader makes one per text chunk, through out-of-line calls, which
// took most of the decoding time). Errors are QCborError codes with the offsets Qt's
// reader gives, so messages read as they always have: a fault in an item's head
// shows when the cursor moves onto it; in a text, at its head (truncated) or its
// first byte (not UTF-8). Two things differ, both on purpose: a break byte where a
// map's value belongs is refused as such (Qt's reader took it for the map's end and
// failed further on, with a misleading message), and a text that starts with U+FEFF
// keeps it (Qt's reader dropped it, so such text did not survive a round trip).
class CborCursor
{
public:
    enum Kind : quint8 {
        Unsigned,
        Negative,
        Bytes,
        Text,
        Array,
        Map,
        Tag,
        Simple,
        Half,
        Float,
        Double,
        None
    };

    CborCursor(const char* data, qint64 size)
        : m_data(reinterpret_cast<const uchar*>(data))
        , m_size(size)
    {
        m_levels.push_back(Level{1, false, false, false});
        parseHead();
    }

    QCborError::Code error() const { return m_error; }
    qint64 offset() const { return m_at; }
    // None past the last item of a container, and after an error.
    Kind kind() const { return m_kind; }
    // An integer's magnitude (-1 - value for a negative one), a simple value, a
    // floating-point number's bits.
    quint64 value() const { return m_value; }
    bool hasNext() const { return m_kind != None || m_phantom; }

    // Past an item of fixed width.
    void next()
    {
        m_at += m_headLength;
        advanced();
    }

    // Into the array or map at the cursor.
    bool enter()
    {
        const bool isMap = m_kind == Map;
        Level level{0, m_indefinite, isMap, false};
        m_at += m_headLength;
        if (!m_indefinite) {
            // Items are counted in 32 bits, as by Qt's reader.
            if (m_value >= 0xffffffffU || (isMap && m_value > 0x7fffffffU))
                return fail(QCborError::DataTooLarge);
            level.remaining = isMap ? 2 * m_value : m_value;
        }
        m_levels.push_back(level);
        if (!level.indefinite && level.remaining == 0) {
            m_kind = None;
            return true;
        }
        atItem();
        return m_error == QCborError::NoError;
    }

    // Out of the container whose items have all been read.
    void leave()
    {
        m_levels.pop_back();
        advanced();
    }

    // The text at the cursor into `out`, or only checked when `out` is null; with
    // `reuseRoom`, into the room `out` has already rather than a string sized for it.
    // False when the text itself is faulty; a fault in the item after it shows in
    // error().
    bool readText(QString* out, bool reuseRoom = false)
    {
        if (out)
            out->truncate(0);
        if (!m_indefinite) {
            if (!readChunk(out, reuseRoom))
                return false;
            advancedPastText();
            return true;
        }
        ++m_at;
        for (;;) {
            if (m_at >= m_size)
                return fail(QCborError::EndOfFile);
            const uchar b = m_data[m_at];
            if (b == 0xff)
                break;
            // Each chunk is a text of definite length.
            if ((b >> 5) != 3)
                return fail(QCborError::IllegalType);
            if ((b & 0x1f) >= 28)
                return fail(QCborError::IllegalNumber);
            if (!readHead(b) || !readChunk(out, reuseRoom))
                return false;
        }
        ++m_at;
        advancedPastText();
        return true;
    }

    // Past the item at the cursor, which has been read once already.
    void skip()
    {
        switch (m_kind) {
        case Text:
            readText(nullptr);
            break;
        case Array:
        case Map:
            enter();
            while (hasNext())
                skip();
            leave();
            break;
        default:
            next();
        }
    }

private:
    struct Level
    {
        quint64 remaining; // items still to come (a map's keys and values both count)
        bool indefinite;
        bool isMap;
        bool valueNext; // in a map of indefinite length: a key has been read
    };

    bool fail(QCborError::Code code)
    {
        m_error = code;
        m_kind = None;
        return false;
    }

    // An item has been read and the cursor moved past it.
    void advanced()
    {
        Level& level = m_levels.back();
        if (!level.indefinite && --level.remaining == 0) {
            m_kind = None;
            return;
        }
        level.valueNext = !level.valueNext;
        atItem();
    }

    // Qt's reader checks the head after a text by a path of its own, and its errors
    // differ there: a reserved head is an illegal number, a one-byte simple value in
    // two bytes an illegal type after a key; in an array a faulty head whose first
    // byte was read still counts as an entry, so the error names its position.
    void advancedPastText()
    {
        const Level& level = m_levels.back();
        m_afterText = level.isMap && !level.valueNext ? AfterKey : AfterValue;
        advanced();
        m_phantom = m_error != QCborError::NoError && !level.isMap && m_at < m_size &&
                    m_error != QCborError::IllegalSimpleType && m_error != QCborError::UnexpectedBreak;
        m_afterText = NotAfterText;
    }

    // At the next item of the innermost container, or at its end.
    void atItem()
    {
        Level& level = m_levels.back();
        if (level.indefinite && m_at < m_size && m_data[m_at] == 0xff) {
            if (level.isMap && level.valueNext) {
                fail(QCborError::UnexpectedBreak); // a key without its value
                return;
            }
            m_kind = None;
            ++m_at;
            return;
        }
        parseHead();
    }

    void parseHead()
    {
        if (m_at >= m_size) {
            fail(QCborError::EndOfFile);
            return;
        }
        const uchar b = m_data[m_at];
        const int major = b >> 5;
        const int info = b & 0x1f;
        m_indefinite = false;
        if (info >= 28) {
            if (info == 31 && major >= 2 && major <= 5) {
                m_kind = Kind(major);
                m_indefinite = true;
                m_headLength = 1;
            } else if (major == 7 && info == 31) {
                fail(QCborError::UnexpectedBreak);
            } else {
                fail(major == 7 && m_afterText == NotAfterText ? QCborError::UnknownType
                                                               : QCborError::IllegalNumber);
            }
            return;
        }
        if (!readHead(b))
            return;
        if (major != 7) {
            m_kind = Kind(major);
        } else if (info == 24 && m_value < 32) {
            // A simple value that needs no second byte.
            fail(m_afterText == AfterKey ? QCborError::IllegalType : QCborError::IllegalSimpleType);
        } else {
            m_kind = info == 25 ? Half : info == 26 ? Float : info == 27 ? Double : Simple;
        }
    }

    // The value and length of the head whose first byte `b` is at the cursor.
    bool readHead(uchar b)
    {
        const int info = b & 0x1f;
        if (info < 24) {
            m_value = quint64(info);
            m_headLength = 1;
            return true;
        }
        const int n = 1 << (info - 24);
        if (m_size - m_at <= n)
            return fail(QCborError::EndOfFile);
        quint64 v = 0;
        for (int i = 1; i <= n; ++i)
            v = (v << 8) | m_data[m_at + i];
        m_value = v;
        m_headLength = 1 + n;
        return true;
    }

    // Appends the text whose head has been read and moves past it.
    bool readChunk(QString* out, bool reuseRoom)
    {
        const qint64 start = m_at + m_headLength;
        if (m_value > quint64(std::numeric_limits<qint64>::max()) - 16)
            return fail(QCborError::DataTooLarge);
        if (m_value > quint64(m_size - start))
            return fail(QCborError::EndOfFile);
        const auto n = static_cast<qint64>(m_value);
        if (!appendUtf8(start, n, out, reuseRoom))
            return false;
        m_at = start + n;
        return true;
    }

    // Appends the UTF-8 at [start, start + n) to `out` (only checks it when null);
    // a fault is placed at its first byte, as Qt's reader places it.
    bool appendUtf8(qint64 start, qint64 n, QString* out, bool reuseRoom)
    {
        const char* p = reinterpret_cast<const char*>(m_data) + start;
        const char* const end = p + n;
        const char* const ascii = skipAscii(p, end);
        // Sized exactly for the common single chunk; appending would leave room to grow.
        if (ascii == end) {
            if (out && out->isEmpty() && !reuseRoom)
                *out = QString::fromLatin1(p, n);
            else if (out)
                out->append(QLatin1String(p, n));
            return true;
        }
        char16_t one[2];
        char16_t* d = one;
        if (out) {
            const qsizetype was = out->size();
            if (was == 0 && !reuseRoom)
                *out = QString(n, Qt::Uninitialized);
            else
                out->resize(was + n);
            d = reinterpret_cast<char16_t*>(out->data()) + was;
            for (; p != ascii; ++p)
                *d++ = static_cast<uchar>(*p);
        }
        for (p = ascii; p != end;) {
            if (static_cast<uchar>(*p) < 0x80) {
                if (out)
                    *d++ = static_cast<uchar>(*p);
                ++p;
            } else {
                if (!decodeUtf8(p, end, d)) {
                    m_at = start;
                    return fail(QCborError::InvalidUtf8String);
                }
                if (!out)
                    d = one;
            }
        }
        if (out)
            out->truncate(d - reinterpret_cast<const char16_t*>(out->constData()));
        return true;
    }

    enum AfterText : quint8 { NotAfterText, AfterKey, AfterValue };

    const uchar* m_data;
    qint64 m_size;
    qint64 m_at = 0;
    AfterText m_afterText = NotAfterText;
    bool m_phantom = false;
    Kind m_kind = None;
    bool m_indefinite = false;
    int m_headLength = 0;
    quint64 m_value = 0;
    QCborError::Code m_error = QCborError::NoError;
    std::vector<Level> m_levels;
};

// A half-precision number's bits as a double.
double halfToDouble(quint64 bits)
{
    const int exponent = int(bits >> 10) & 0x1f;
    const double mantissa = double(bits & 0x3ff);
    double d = 0;
    if (exponent == 0)
        d = std::ldexp(mantissa, -24);
    else if (exponent == 31)
        d = mantissa == 0 ? std::numeric_limits<double>::infinity()
                          : std::numeric_limits<double>::quiet_NaN();
    else
        d = std::ldexp(mantissa + 1024, exponent - 25);
    return bits & 0x8000 ? -d : d;
}

class CborDecoder : public Decoder
{
public:
    CborDecoder(const QByteArray& cbor, const Limits& limits)
        : Decoder(limits)
        , m_input(cbor)
        , m_cursor(cbor.constData(), cbor.size())
    {}

    DataSetCodec::DecodeResult decode()
    {
        if (!readerOk())
            return result(false, nullptr);
        if (!isContainer()) {
            fail(QStringLiteral("%1 is not a data set").arg(kindOfItem()), 0);
            return result(false, nullptr);
        }
        if (!readEntries(nullptr, m_cursor.kind() == CborCursor::Array, 1))
            return result(false, nullptr);
        if (m_cursor.offset() != m_input.size()) {
            const qint64 at = m_cursor.offset();
            return result(failWhole(QStringLiteral("unexpected data after the end, at byte %1").arg(at), at),
                          nullptr);
        }
        startBuilding();
        m_cursor = CborCursor(m_input.constData(), m_input.size());
        const DataSet top = Impl::createDS(m_cursor.kind() == CborCursor::Array);
        return result(readEntries(top.get(), top->isList(), 1), top);
    }

private:
    bool isContainer() const
    {
        return m_cursor.kind() == CborCursor::Array || m_cursor.kind() == CborCursor::Map;
    }

    bool readerOk()
    {
        const QCborError e{m_cursor.error()};
        if (e == QCborError::NoError)
            return true;
        const qint64 at = m_cursor.offset();
        const QString what = QStringLiteral("not valid CBOR at byte %1: %2").arg(at).arg(e.toString());
        return atTop() ? failWhole(what, at) : fail(what, at);
    }

    // What the item at the cursor is, for error texts.
    QString kindOfItem() const
    {
        switch (m_cursor.kind()) {
        case CborCursor::Unsigned:
        case CborCursor::Negative:
            return QStringLiteral("an integer");
        case CborCursor::Bytes:
            return QStringLiteral("a byte string");
        case CborCursor::Text:
            return QStringLiteral("text");
        case CborCursor::Array:
            return QStringLiteral("an array");
        case CborCursor::Map:
            return QStringLiteral("a map");
        case CborCursor::Tag:
            return QStringLiteral("a tagged value");
        case CborCursor::Simple:
            switch (m_cursor.value()) {
            case 20:
            case 21:
                return QStringLiteral("a flag");
            case 22:
                return QStringLiteral("null");
            case 23:
                return QStringLiteral("undefined");
            default:
                return QStringLiteral("simple value %1").arg(m_cursor.value());
            }
        case CborCursor::Half:
        case CborCursor::Float:
        case CborCursor::Double:
            return QStringLiteral("a floating-point number");
        case CborCursor::None:
            break;
        }
        return QStringLiteral("nothing");
    }

    // The map that opens at `open` has just closed: when two of its keys share a
    // hash, it is read again to find whether one key is really repeated.
    bool closed(qint64 open)
    {
        if (!closeKeyed())
            return true;
        CborCursor again(m_input.constData() + open, m_input.size() - open);
        again.enter();
        std::vector<QString> before;
        while (again.hasNext()) {
            const qint64 at = open + again.offset();
            QString key;
            again.readText(&key);
            if (isRepeat(key, before))
                return failRepeat(key, at);
            again.skip(); // the value
        }
        return true;
    }

    // Reads the entries of the array or map at the cursor into `ds` (null while checking).
    bool readEntries(DataSetImpl* ds, bool isList, int depth)
    {
        const qint64 open = m_cursor.offset();
        std::vector<Entry> built;
        std::vector<Entry>* const out = ds ? &built : nullptr;
        const qsizetype ordinal = openSet(out);
        const bool checkKeys = !m_build && !isList;
        if (checkKeys)
            openKeyed();
        if (!m_cursor.enter())
            return readerOk();
        qsizetype count = 0;
        QString key; // moved into its entry when building
        while (m_cursor.hasNext()) {
            const qint64 at = m_cursor.offset();
            if (!countEntry(count, at))
                return false;
            if (isList) {
                if (m_build)
                    key = positionKey(count);
            } else {
                if (m_cursor.kind() != CborCursor::Text)
                    return fail(QStringLiteral("a map key must be text, not %1").arg(kindOfItem()), at);
                // Keys were all checked in the first pass.
                // A key only checked reuses the room of the one before it.
                if (!readText(&key, !m_build) || (!m_build && !checkKey(key, at)))
                    return false;
            }
            if (!readEntry(isList, count, key, checkKeys, [&] { return readValue(out, key, depth); }))
                return false;
        }
        if (!readerOk())
            return false;
        m_cursor.leave();
        return readerOk() && closeSet(ordinal, count, ds, built) && (!checkKeys || closed(open));
    }

    bool readText(QString* out, bool reuseRoom = false)
    {
        return m_cursor.readText(out, reuseRoom) || readerOk();
    }

    bool readValue(std::vector<Entry>* out, QString& key, int depth)
    {
        const qint64 at = m_cursor.offset();
        const quint64 v = m_cursor.value();
        switch (m_cursor.kind()) {
        case CborCursor::Unsigned:
            if (v > quint64(INT_MAX))
                return fail(QString::number(v) + notInteger(), at);
            m_cursor.next();
            return readerOk() && store(out, key, static_cast<int>(v), at);
        case CborCursor::Negative:
            // The item holds v for the number -1 - v, which reaches down to -2^64.
            if (v > quint64(INT_MAX)) {
                const QString magnitude =
                    v == ULLONG_MAX ? QStringLiteral("18446744073709551616") : QString::number(v + 1);
                return fail(QLatin1Char('-') + magnitude + notInteger(), at);
            }
            m_cursor.next();
            return readerOk() && store(out, key, static_cast<int>(-1 - static_cast<qint64>(v)), at);
        case CborCursor::Text: {
            QString text;
            return readText(m_build ? &text : nullptr) && store(out, key, std::move(text), at);
        }
        case CborCursor::Array:
        case CborCursor::Map: {
            if (!checkDepth(depth + 1))
                return false;
            const bool isList = m_cursor.kind() == CborCursor::Array;
            const DataSet nested = m_build ? Impl::createDS(isList) : nullptr;
            return store(out, key, nested, at) && readEntries(nested.get(), isList, depth + 1);
        }
        case CborCursor::Simple:
            if (v == 20 || v == 21) {
                m_cursor.next();
                return readerOk() && store(out, key, v == 21, at);
            }
            break;
        case CborCursor::Half:
            return failFloat(halfToDouble(v), at);
        case CborCursor::Float: {
            float f = 0;
            const auto bits = static_cast<quint32>(v);
            std::memcpy(&f, &bits, sizeof f);
            return failFloat(double(f), at);
        }
        case CborCursor::Double: {
            double d = 0;
            std::memcpy(&d, &v, sizeof d);
            return failFloat(d, at);
        }
        case CborCursor::None:
            return readerOk() && fail(QStringLiteral("no value"), at);
        case CborCursor::Bytes:
        case CborCursor::Tag:
            break;
        }
        return fail(QStringLiteral("%1 cannot be stored").arg(kindOfItem()), at);
    }

    bool failFloat(double d, qint64 at)
    {
        return fail(QStringLiteral("floating-point number %1 cannot be stored")
                        .arg(QString::number(d, 'g', QLocale::FloatingPointShortest)),
                    at);
    }

    const QByteArray& m_input;
    CborCursor m_cursor;
};

} // namespace

DataSetCodec::EncodeResult DataSetCodec::toCbor(const DataSet& ds, const Limits& limits)
{
    CborWriter writer(limits.maxBytes);
    return Codec::Encoder<CborWriter>(limits, writer).encode(ds);
}

DataSetCodec::DecodeResult DataSetCodec::fromCbor(const QByteArray& cbor, const Limits& limits)
{
    return Codec::decodeWithin<CborDecoder>(cbor, limits);
}

} // namespace DataSets
