// SPDX-License-Identifier: MIT
// The JSON stored form, written and read as a stream: a writer that lays the text
// out exactly as QJsonDocument does, and a strict RFC 8259 reader that stores each
// value as it meets it. Neither builds a QJsonObject tree, whose inserts cost time
// linear in the object's size and whose parse holds many times the input.
#include "CodecWalk.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <string>

namespace DataSets {

namespace {

using namespace Codec;

// Nonzero when one of the four UTF-16 units in `x` is not written as it is: 0x80
// and above (encoded), below 0x20, a quote or a backslash (escaped).
inline quint64 anyUnitToEscapeOrEncode(quint64 x)
{
    constexpr quint64 kEachUnit = 0x0001000100010001ULL;
    constexpr quint64 kUnitHighBits = 0x8000800080008000ULL;
    const auto below = [](quint64 v, unsigned n) { return (v - kEachUnit * n) & ~v & kUnitHighBits; };
    return (x & 0xff80ff80ff80ff80ULL) | below(x, 0x20) | below(x ^ (kEachUnit * '"'), 1) |
           below(x ^ (kEachUnit * '\\'), 1);
}

class JsonWriter
{
public:
    JsonWriter(QJsonDocument::JsonFormat format, qsizetype cap)
        : m_compact(format == QJsonDocument::Compact)
        , m_out(cap)
    {}

    void beginMap(qsizetype) { open('{'); }
    void beginArray(qsizetype) { open('['); }

    void key(const QString& k)
    {
        separate();
        putEscaped(k);
        put(m_compact ? ":" : ": ");
    }

    void text(const QString& t)
    {
        beforeValue();
        putEscaped(t);
    }

    void flag(bool b)
    {
        beforeValue();
        put(b ? "true" : "false");
    }

    void integer(int i)
    {
        beforeValue();
        char digits[16];
        const auto r = std::to_chars(digits, digits + sizeof digits, i);
        put(digits, r.ptr - digits);
    }

    void end()
    {
        const Level level = m_levels.back();
        m_levels.pop_back();
        if (!m_compact && level.any)
            put("\n");
        indent();
        put(level.isArray ? "]" : "}");
        if (m_levels.empty() && !m_compact)
            put("\n");
    }

    void discard() { m_out.discard(); }
    qint64 size() const { return m_out.total(); }
    QByteArray take() { return m_out.take(); }

private:
    struct Level
    {
        bool isArray;
        bool any;
    };

    void open(char bracket)
    {
        beforeValue();
        const char text[] = {bracket, '\n'};
        put(text, m_compact ? 1 : 2);
        m_levels.push_back(Level{bracket == '[', false});
    }

    // Before a member name, or before an element of an array.
    void separate()
    {
        Level& level = m_levels.back();
        if (level.any)
            put(m_compact ? "," : ",\n");
        level.any = true;
        indent();
    }

    void beforeValue()
    {
        if (!m_levels.empty() && m_levels.back().isArray)
            separate();
    }

    void indent()
    {
        if (m_compact)
            return;
        for (size_t i = 0; i < m_levels.size(); ++i)
            put("    ");
    }

    void put(const char* text) { put(text, static_cast<qsizetype>(std::char_traits<char>::length(text))); }
    void put(const char* data, qsizetype n) { m_out.add(data, n); }

    // Quotes, backslashes and control characters escaped as QJsonDocument escapes
    // them; everything else as UTF-8. The text is well-formed (checked before).
    void putEscaped(const QString& s)
    {
        static const char hex[] = "0123456789abcdef";
        // At most six bytes a unit (an escaped control character) and two quotes.
        const auto need = static_cast<size_t>(6 * s.size() + 2);
        if (m_scratch.size() < need)
            m_scratch.resize(need);
        char* const begin = m_scratch.data();
        char* d = begin;
        *d++ = '"';
        const auto* p = reinterpret_cast<const char16_t*>(s.constData());
        const char16_t* const end = p + s.size();
        while (p != end) {
            // Four units at a time while all are written as they are.
            for (; end - p >= 4; p += 4, d += 4) {
                quint64 x;
                std::memcpy(&x, p, sizeof x);
                if (anyUnitToEscapeOrEncode(x))
                    break;
                for (int i = 0; i < 4; ++i)
                    d[i] = static_cast<char>(p[i]);
            }
            if (p == end)
                break;
            const char32_t u = *p++;
            if (u < 0x80) {
                if (u >= 0x20 && u != '"' && u != '\\') {
                    *d++ = static_cast<char>(u);
                    continue;
                }
                *d++ = '\\';
                switch (u) {
                case '"':
                case '\\':
                    *d++ = static_cast<char>(u);
                    break;
                case '\b':
                    *d++ = 'b';
                    break;
                case '\f':
                    *d++ = 'f';
                    break;
                case '\n':
                    *d++ = 'n';
                    break;
                case '\r':
                    *d++ = 'r';
                    break;
                case '\t':
                    *d++ = 't';
                    break;
                default:
                    *d++ = 'u';
                    *d++ = '0';
                    *d++ = '0';
                    *d++ = hex[u >> 4];
                    *d++ = hex[u & 0xf];
                }
            } else if (u < 0x800) {
                *d++ = static_cast<char>(0xc0 | (u >> 6));
                *d++ = static_cast<char>(0x80 | (u & 0x3f));
            } else if (QChar::isHighSurrogate(u)) {
                const char32_t c = QChar::surrogateToUcs4(static_cast<char16_t>(u), *p++);
                *d++ = static_cast<char>(0xf0 | (c >> 18));
                *d++ = static_cast<char>(0x80 | ((c >> 12) & 0x3f));
                *d++ = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
                *d++ = static_cast<char>(0x80 | (c & 0x3f));
            } else {
                *d++ = static_cast<char>(0xe0 | (u >> 12));
                *d++ = static_cast<char>(0x80 | ((u >> 6) & 0x3f));
                *d++ = static_cast<char>(0x80 | (u & 0x3f));
            }
        }
        *d++ = '"';
        put(begin, d - begin);
    }

    const bool m_compact;
    CappedBytes m_out;
    std::string m_scratch;
    std::vector<Level> m_levels;
};

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class JsonDecoder : public Decoder
{
public:
    JsonDecoder(const QByteArray& json, const Limits& limits)
        : Decoder(limits)
        , m_begin(json.constData())
        , m_end(m_begin + json.size())
        , m_p(m_begin)
    {}

    DataSetCodec::DecodeResult decode()
    {
        skipSpace();
        if (m_p == m_end || (*m_p != '{' && *m_p != '['))
            return result(syntax("expected an object or an array"), nullptr);
        const char* const start = m_p;
        if (!readSet(nullptr, 1))
            return result(false, nullptr);
        skipSpace();
        if (m_p != m_end)
            return result(syntax("data after the end of the document"), nullptr);
        startBuilding();
        std::u16string().swap(m_scratch);
        m_p = start;
        const DataSet top = Impl::createDS(*m_p == '[');
        return result(readSet(top.get(), 1), top);
    }

private:
    qint64 offset(const char* at) const { return at - m_begin; }

    // An error in the text itself, at the current byte.
    bool syntax(const char* what) { return syntaxAt(m_p, what); }
    bool syntaxAt(const char* at, const char* what)
    {
        return failWhole(
            QStringLiteral("not valid JSON at byte %1: %2").arg(offset(at)).arg(QLatin1String(what)),
            offset(at));
    }

    void skipSpace()
    {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    // Reads the object or array at m_p into `ds` (null while checking).
    bool readSet(DataSetImpl* ds, int depth)
    {
        const char* const open = m_p;
        std::vector<Entry> built;
        std::vector<Entry>* const out = ds ? &built : nullptr;
        const qsizetype ordinal = openSet(out);
        const bool isArray = *m_p++ == '[';
        const bool checkKeys = !m_build && !isArray;
        if (checkKeys)
            openKeyed();
        const char close = isArray ? ']' : '}';
        const char* const unterminated = isArray ? "unterminated array" : "unterminated object";
        skipSpace();
        if (m_p != m_end && *m_p == close) {
            ++m_p;
            return !checkKeys || closed(open);
        }
        QString key; // moved into its entry when building
        for (qsizetype count = 0;; ++m_p) {
            skipSpace();
            if (m_p == m_end)
                return syntax(unterminated);
            const char* const at = m_p;
            if (isArray) {
                if (m_build)
                    key = positionKey(count);
            } else {
                if (*m_p != '"')
                    return syntax("expected a member name");
                if (!readString(key))
                    return false;
                skipSpace();
                if (m_p == m_end)
                    return syntax(unterminated);
                if (*m_p != ':')
                    return syntax("expected ':' after a member name");
                ++m_p;
            }
            // Keys were all checked in the first pass.
            if (!countEntry(count, offset(at)) || (!isArray && !m_build && !checkKey(key, offset(at))))
                return false;
            if (!readEntry(isArray, count, key, checkKeys, [&] { return readValue(out, key, depth); }))
                return false;
            skipSpace();
            if (m_p == m_end)
                return syntax(unterminated);
            if (*m_p == close) {
                ++m_p;
                return closeSet(ordinal, count, ds, built) && (!checkKeys || closed(open));
            }
            if (*m_p != ',')
                return syntax(isArray ? "expected ',' or ']'" : "expected ',' or '}'");
        }
    }

    // The keyed set that opens at `open` has just closed: when two of its keys share
    // a hash, it is read again to find whether one key is really repeated.
    bool closed(const char* open)
    {
        if (!closeKeyed())
            return true;
        const char* const after = m_p;
        std::vector<QString> before;
        m_p = open + 1;
        for (skipSpace(); *m_p != '}'; skipSpace()) {
            const char* const at = m_p;
            QString key;
            readString(key);
            if (isRepeat(key, before))
                return failRepeat(key, offset(at));
            skipSpace();
            ++m_p; // the colon
            skipValue();
            skipSpace();
            if (*m_p == ',')
                ++m_p;
        }
        m_p = after;
        return true;
    }

    // Moves past the value at m_p, which has been checked already.
    void skipValue()
    {
        int depth = 0;
        do {
            skipSpace();
            switch (*m_p) {
            case '"':
                for (++m_p; *m_p != '"'; ++m_p) {
                    if (*m_p == '\\')
                        ++m_p;
                }
                ++m_p;
                break;
            case '{':
            case '[':
                ++depth;
                ++m_p;
                break;
            case '}':
            case ']':
                --depth;
                ++m_p;
                break;
            case ',':
            case ':':
                ++m_p;
                break;
            default: // a number or a literal
                while (m_p != m_end && *m_p != ',' && *m_p != '}' && *m_p != ']' && *m_p != ' ' &&
                       *m_p != '\n' && *m_p != '\r' && *m_p != '\t')
                    ++m_p;
            }
        } while (depth > 0);
    }

    bool readValue(std::vector<Entry>* out, QString& key, int depth)
    {
        skipSpace();
        if (m_p == m_end)
            return syntax("expected a value");
        const qint64 at = offset(m_p);
        switch (*m_p) {
        case '{':
        case '[': {
            if (!checkDepth(depth + 1))
                return false;
            const DataSet nested = m_build ? Impl::createDS(*m_p == '[') : nullptr;
            return store(out, key, nested, at) && readSet(nested.get(), depth + 1);
        }
        case '"': {
            QString text;
            return readString(text, m_build) && store(out, key, std::move(text), at);
        }
        case 't':
            return literal("true") && store(out, key, true, at);
        case 'f':
            return literal("false") && store(out, key, false, at);
        case 'n':
            return literal("null") && fail(QStringLiteral("null cannot be stored"), at);
        default:
            if (*m_p == '-' || isDigit(*m_p))
                return readNumber(out, key);
            return syntax("expected a value");
        }
    }

    bool literal(const char* word)
    {
        const qsizetype n = static_cast<qsizetype>(std::char_traits<char>::length(word));
        if (m_end - m_p < n || std::char_traits<char>::compare(m_p, word, static_cast<size_t>(n)) != 0)
            return syntax("expected a value");
        m_p += n;
        return true;
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, taken as an integer when it is a
    // whole number within 32 bits, however spelled.
    bool readNumber(std::vector<Entry>* out, QString& key)
    {
        const char* const start = m_p;
        const auto digits = [this] {
            const char* const from = m_p;
            while (m_p != m_end && isDigit(*m_p))
                ++m_p;
            return m_p != from;
        };
        if (*m_p == '-')
            ++m_p;
        if (m_p != m_end && *m_p == '0') {
            ++m_p;
            if (m_p != m_end && isDigit(*m_p))
                return syntax("number with a leading zero");
        } else if (!digits()) {
            return syntax("expected a digit");
        }
        bool whole = true;
        if (m_p != m_end && *m_p == '.') {
            ++m_p;
            whole = false;
            if (!digits())
                return syntax("expected a digit after the decimal point");
        }
        if (m_p != m_end && (*m_p == 'e' || *m_p == 'E')) {
            ++m_p;
            whole = false;
            if (m_p != m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (!digits())
                return syntax("expected a digit in the exponent");
        }
        const qint64 at = offset(start);
        if (whole) {
            long long n = 0;
            const auto r = std::from_chars(start, m_p, n);
            if (r.ec == std::errc()) {
                if (n < INT_MIN || n > INT_MAX)
                    return fail(QString::number(n) + notInteger(), at);
                return store(out, key, static_cast<int>(n), at);
            }
        }
        double d = 0;
        const auto r = std::from_chars(start, m_p, d);
        if (r.ec != std::errc()) { // beyond a double's range either way
            const QByteArray spelled = QByteArray(start, std::min<qsizetype>(m_p - start, 40));
            return fail(QString::fromLatin1(spelled) + notInteger(), at);
        }
        if (d != std::trunc(d) || d < INT_MIN || d > INT_MAX)
            return failNotInteger(d, at);
        return store(out, key, static_cast<int>(d), at);
    }

    // Reads the string at m_p (its opening quote) into `out`; with `keep` false
    // only checks it, decoding into a scratch buffer that is used again.
    bool readString(QString& out, bool keep = true)
    {
        const char* const open = m_p;
        const char* const start = open + 1;
        // First find the closing quote, refusing bare control characters.
        // Eight bytes at a time while none ends the string or needs a closer look.
        const char* q = start;
        quint64 seen = 0;
        while (m_end - q >= 8) {
            const quint64 x = eightBytes(q);
            if (const quint64 marks = anyByteBelow(x, 0x20) | anyByteIs(x, '"') | anyByteIs(x, '\\')) {
                // Up to the marked byte, which the loop below looks at.
                const int before = bytesBeforeMark(marks);
                seen |= x & ((quint64(1) << (8 * before)) - 1);
                q += before;
                break;
            }
            seen |= x;
            q += 8;
        }
        bool plain = !anyHighByte(seen);
        for (;;) {
            if (q >= m_end)
                return syntaxAt(open, "unterminated string");
            const auto c = static_cast<unsigned char>(*q);
            if (c == '"')
                break;
            if (c < 0x20)
                return syntaxAt(q, "control character in a string");
            if (c == '\\') {
                plain = false;
                q += 2;
                continue;
            }
            plain = plain && c < 0x80;
            ++q;
        }
        m_p = q + 1;
        // A text kept in a set gets a string of its own, sized exactly; a key only
        // checked reuses the room of the one before it.
        if (plain) {
            if (keep && m_build) {
                out = QString::fromLatin1(start, q - start);
            } else if (keep) {
                out.truncate(0);
                out.append(QLatin1String(start, q - start));
            }
            return true;
        }
        // UTF-16 never takes more units than UTF-8 or an escape takes bytes.
        char16_t* d = nullptr;
        if (keep) {
            if (m_build)
                out = QString(q - start, Qt::Uninitialized);
            else
                out.resize(q - start);
            d = reinterpret_cast<char16_t*>(out.data());
        } else {
            if (m_scratch.size() < static_cast<size_t>(q - start))
                m_scratch.resize(static_cast<size_t>(q - start));
            d = m_scratch.data();
        }
        for (const char* p = start; p < q;) {
            const auto c = static_cast<unsigned char>(*p);
            if (c == '\\') {
                if (!unescape(p, q, d))
                    return false;
            } else if (c < 0x80) {
                *d++ = c;
                ++p;
            } else if (!decodeUtf8(p, q, d)) {
                return syntaxAt(p, "not valid UTF-8");
            }
        }
        if (keep)
            out.truncate(d - reinterpret_cast<const char16_t*>(out.constData()));
        return true;
    }

    // The escape at p, moving p past it.
    bool unescape(const char*& p, const char* end, char16_t*& d)
    {
        const char* const at = p;
        switch (p[1]) {
        case '"':
        case '\\':
        case '/':
            *d++ = static_cast<char16_t>(p[1]);
            break;
        case 'b':
            *d++ = u'\b';
            break;
        case 'f':
            *d++ = u'\f';
            break;
        case 'n':
            *d++ = u'\n';
            break;
        case 'r':
            *d++ = u'\r';
            break;
        case 't':
            *d++ = u'\t';
            break;
        case 'u': {
            const int unit = hexUnit(p + 2, end);
            if (unit < 0)
                return syntaxAt(at, "\\u must be followed by four hexadecimal digits");
            p += 6;
            if (QChar::isLowSurrogate(static_cast<char32_t>(unit)))
                return syntaxAt(at, "a low surrogate escape without a high one before it");
            if (QChar::isHighSurrogate(static_cast<char32_t>(unit))) {
                const int low = end - p >= 2 && p[0] == '\\' && p[1] == 'u' ? hexUnit(p + 2, end) : -1;
                if (!QChar::isLowSurrogate(static_cast<char32_t>(low < 0 ? 0 : low)))
                    return syntaxAt(at, "a high surrogate escape without a low one after it");
                *d++ = static_cast<char16_t>(unit);
                *d++ = static_cast<char16_t>(low);
                p += 6;
                return true;
            }
            *d++ = static_cast<char16_t>(unit);
            return true;
        }
        default:
            return syntaxAt(at, "unknown escape");
        }
        p += 2;
        return true;
    }

    // Four hexadecimal digits at p as a UTF-16 unit, or -1.
    static int hexUnit(const char* p, const char* end)
    {
        if (end - p < 4)
            return -1;
        int unit = 0;
        for (int i = 0; i < 4; ++i) {
            const int v = hexValue(p[i]);
            if (v < 0)
                return -1;
            unit = unit * 16 + v;
        }
        return unit;
    }

    const char* const m_begin;
    const char* const m_end;
    const char* m_p;
    std::u16string m_scratch;
};

} // namespace

DataSetCodec::EncodeResult DataSetCodec::toJson(const DataSet& ds, QJsonDocument::JsonFormat format,
                                                const Limits& limits)
{
    JsonWriter writer(format, limits.maxBytes);
    return Codec::Encoder<JsonWriter>(limits, writer).encode(ds);
}

DataSetCodec::DecodeResult DataSetCodec::fromJson(const QByteArray& json, const Limits& limits)
{
    return Codec::decodeWithin<JsonDecoder>(json, limits);
}

} // namespace DataSets
