#include "DataSetCodec.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamReader>
#include <QCborValue>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLocale>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <climits>
#include <optional>
#include <utility>
#include <vector>

namespace DataSets {

using Impl::DataSetImpl;
using Impl::Entry;
using Impl::Value;

namespace {

using Codec = DataSetCodec;

// UTF-8 cannot carry an unpaired surrogate: Qt would write U+FFFD in its place.
bool isWellFormedUtf16(const QString& text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 == n || !text.at(i + 1).isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

QString doubleText(double d)
{
    return QString::number(d, 'g', QLocale::FloatingPointShortest);
}

// A refused key in an error text, with unpaired surrogates spelled out so that
// the text itself stays well-formed.
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

// The walk shared by encoding and decoding: where it stands, what it has counted,
// and the first thing that went wrong.
class Walk
{
public:
    const QString& error() const { return m_error; }

protected:
    bool fail(const QString& what)
    {
        const QString where = m_path.isEmpty() ? QStringLiteral("top level") : m_path.join(QLatin1Char('.'));
        m_error = where + QStringLiteral(": ") + what;
        return false;
    }

    // An error about the input or output as a whole rather than one place in it.
    bool failWhole(const QString& what)
    {
        m_error = what;
        return false;
    }

    // Counts one more entry of a set that has `inSet` entries so far.
    bool countEntry(int inSet)
    {
        if (inSet >= Codec::kMaxEntries)
            return fail(QStringLiteral("more than %1 entries in one set").arg(Codec::kMaxEntries));
        if (++m_total > Codec::kMaxTotalEntries)
            return fail(QStringLiteral("more than %1 entries in all").arg(Codec::kMaxTotalEntries));
        return true;
    }

    // Checked before a nested set at `depth` is entered, which bounds the recursion.
    bool checkDepth(int depth)
    {
        if (depth > Codec::kMaxDepth)
            return fail(QStringLiteral("nesting deeper than %1 sets").arg(Codec::kMaxDepth));
        return true;
    }

    QStringList m_path;

private:
    QString m_error;
    int m_total = 0;
};

// ---------------------------------------------------------------------------
// Encoding: the set becomes one tree of Qt's values, QJsonValue or QCborValue,
// which Qt then writes out.

struct JsonTree
{
    using Value = QJsonValue;
    using Map = QJsonObject;
    using Array = QJsonArray;
};

struct CborTree
{
    using Value = QCborValue;
    using Map = QCborMap;
    using Array = QCborArray;
};

template <class Tree> class Encoder : public Walk
{
    using TreeValue = typename Tree::Value;

public:
    std::optional<TreeValue> encode(const DataSet& ds)
    {
        if (!ds) {
            failWhole(QStringLiteral("no data set to encode"));
            return std::nullopt;
        }
        TreeValue out;
        if (!encodeSet(*ds, 1, out))
            return std::nullopt;
        return out;
    }

    Codec::EncodeResult finish(QByteArray bytes)
    {
        if (bytes.size() > Codec::kMaxInputBytes) {
            failWhole(QStringLiteral("the encoded form takes %1 bytes, more than the limit of %2")
                          .arg(bytes.size())
                          .arg(Codec::kMaxInputBytes));
            return {{}, error()};
        }
        return {std::move(bytes), {}};
    }

private:
    bool encodeSet(const DataSetImpl& ds, int depth, TreeValue& out)
    {
        const std::vector<Entry> entries = ds.entries();
        for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
            if (!countEntry(i))
                return false;
        }
        return ds.isList() ? encodeList(entries, depth, out) : encodeKeyed(entries, depth, out);
    }

    bool encodeKeyed(const std::vector<Entry>& entries, int depth, TreeValue& out)
    {
        std::vector<const Entry*> byKey;
        byKey.reserve(entries.size());
        for (const Entry& e : entries)
            byKey.push_back(&e);
        std::sort(byKey.begin(), byKey.end(), [](const Entry* a, const Entry* b) { return a->key < b->key; });
        typename Tree::Map map;
        for (const Entry* e : byKey) {
            m_path.append(e->key);
            TreeValue v;
            if (!encodeValue(e->value, depth, v))
                return false;
            m_path.removeLast();
            map.insert(e->key, std::move(v));
        }
        out = std::move(map);
        return true;
    }

    // The keys of a list set are distinct canonical positions, so they are exactly
    // "0".."n-1" when each one is below n.
    bool encodeList(const std::vector<Entry>& entries, int depth, TreeValue& out)
    {
        const int n = static_cast<int>(entries.size());
        std::vector<const Value*> byPosition(entries.size(), nullptr);
        for (const Entry& e : entries) {
            const int position = e.key.toInt();
            if (position < n)
                byPosition[static_cast<size_t>(position)] = &e.value;
        }
        const auto gap = std::find(byPosition.begin(), byPosition.end(), nullptr);
        if (gap != byPosition.end()) {
            return fail(QStringLiteral("list set of %1 entries lacks position %2")
                            .arg(n)
                            .arg(gap - byPosition.begin()));
        }
        typename Tree::Array array;
        for (int i = 0; i < n; ++i) {
            m_path.append(QString::number(i));
            TreeValue v;
            if (!encodeValue(*byPosition[static_cast<size_t>(i)], depth, v))
                return false;
            m_path.removeLast();
            array.append(std::move(v));
        }
        out = std::move(array);
        return true;
    }

    bool encodeValue(const Value& value, int depth, TreeValue& out)
    {
        if (const auto* text = std::get_if<QString>(&value)) {
            if (!isWellFormedUtf16(*text))
                return fail(QStringLiteral("text holds an unpaired surrogate, which UTF-8 cannot carry"));
            out = *text;
        } else if (const auto* flag = std::get_if<bool>(&value)) {
            out = *flag;
        } else if (const auto* number = std::get_if<int>(&value)) {
            out = *number;
        } else {
            // The component refuses null nested sets; a nested set is never null.
            const DataSet& nested = std::get<DataSet>(value);
            if (!checkDepth(depth + 1))
                return false;
            return encodeSet(*nested, depth + 1, out);
        }
        return true;
    }
};

// ---------------------------------------------------------------------------
// Decoding: values are checked and stored into sets as they are read; the top
// set is handed out only once everything has been read.

class Decoder : public Walk
{
protected:
    // A nested set is stored in its parent while still empty, which keeps the
    // component's check against a set containing itself trivial.
    bool store(DataSetImpl& ds, const QString& key, Value value)
    {
        if (!ds.set(key, std::move(value)))
            return fail(QStringLiteral("the data set refused the entry"));
        return true;
    }

    bool storeText(DataSetImpl& ds, const QString& key, const QString& text)
    {
        if (!isWellFormedUtf16(text))
            return fail(QStringLiteral("text holds an unpaired surrogate"));
        return store(ds, key, text);
    }

    bool checkKey(const DataSetImpl& ds, const QString& key)
    {
        if (!Impl::isValidKey(ds, key))
            return fail(QStringLiteral("%1 is not a valid key").arg(quoted(key)));
        return true;
    }

    Codec::DecodeResult result(bool ok, DataSet set) const
    {
        if (!ok)
            return {nullptr, error()};
        return {std::move(set), {}};
    }
};

// JSON text is looked at beside Qt's parser only where the parser cannot help:
// it keeps just the last of repeated member names, and it builds whatever it is
// given, at a cost in time and memory many times the input's size (growing with
// depth). Only strings, brackets, commas and colons matter here.

struct JsonShape
{
    // Every colon outside a string ends a member name.
    qsizetype memberNames = 0;
    // Every comma outside a string stands between two entries of one set, so there
    // are at least as many entries as commas.
    qsizetype commas = 0;
    // Where the first container beyond the depth limit opens, or -1.
    qsizetype tooDeepAt = -1;
};

// Safe on any bytes; meaningful once the parser has accepted them, except that
// too deep or too many entries are refused before parsing.
JsonShape shapeOf(const QByteArray& json)
{
    JsonShape shape;
    int depth = 0;
    bool inString = false;
    const char* const begin = json.constData();
    const char* const end = begin + json.size();
    for (const char* p = begin; p < end; ++p) {
        if (inString) {
            if (*p == '\\' && p + 1 < end)
                ++p;
            else if (*p == '"')
                inString = false;
            continue;
        }
        switch (*p) {
        case '"':
            inString = true;
            break;
        case ':':
            ++shape.memberNames;
            break;
        case ',':
            ++shape.commas;
            break;
        case '{':
        case '[':
            if (++depth > Codec::kMaxDepth) {
                shape.tooDeepAt = p - begin;
                return shape;
            }
            break;
        case '}':
        case ']':
            --depth;
            break;
        default:
            break;
        }
    }
    return shape;
}

// The place, as keys from the top, of the container that opens at byte `opensAt`,
// or, when `opensAt` is -1, of the first member name repeated within its object.
QStringList placeIn(const QByteArray& json, qsizetype opensAt)
{
    struct Level
    {
        bool isObject;
        bool expectName;
        int position;
        QString name;
        QSet<QString> names;
    };
    std::vector<Level> levels;
    const auto placeOfLevels = [&levels] {
        QStringList path;
        for (const Level& l : levels)
            path.append(l.isObject ? l.name : QString::number(l.position));
        return path;
    };
    const char* const begin = json.constData();
    const char* const end = begin + json.size();
    const char* p = begin;
    while (p < end) {
        switch (*p) {
        case '{':
        case '[':
            if (p - begin == opensAt)
                return placeOfLevels();
            levels.push_back(Level{*p == '{', *p == '{', 0, {}, {}});
            ++p;
            break;
        case '}':
        case ']':
            if (!levels.empty())
                levels.pop_back();
            ++p;
            break;
        case ',':
            if (!levels.empty()) {
                Level& level = levels.back();
                if (level.isObject)
                    level.expectName = true;
                else
                    ++level.position;
            }
            ++p;
            break;
        case '"': {
            const char* const start = p++;
            bool escaped = false;
            while (p < end && *p != '"') {
                if (*p == '\\') {
                    escaped = true;
                    ++p;
                }
                ++p;
            }
            if (p >= end)
                return {};
            ++p;
            if (levels.empty() || !levels.back().isObject || !levels.back().expectName)
                break;
            Level& level = levels.back();
            level.expectName = false;
            const QByteArray token = QByteArray::fromRawData(start, p - start);
            // Escapes are undone by the same parser, so "a" and "\u0061" compare equal.
            level.name = escaped ? QJsonDocument::fromJson('[' + token + ']').array().at(0).toString()
                                 : QString::fromUtf8(token.mid(1, token.size() - 2));
            if (opensAt < 0 && level.names.contains(level.name))
                return placeOfLevels();
            level.names.insert(level.name);
            break;
        }
        default:
            ++p;
        }
    }
    return {};
}

class JsonDecoder : public Decoder
{
public:
    Codec::DecodeResult decode(const QByteArray& json)
    {
        const JsonShape shape = shapeOf(json);
        if (shape.tooDeepAt >= 0) {
            m_path = placeIn(json, shape.tooDeepAt);
            fail(QStringLiteral("nesting deeper than %1 sets").arg(Codec::kMaxDepth));
            return result(false, nullptr);
        }
        if (shape.commas > Codec::kMaxTotalEntries) {
            failWhole(QStringLiteral("more than %1 entries in all").arg(Codec::kMaxTotalEntries));
            return result(false, nullptr);
        }
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
        if (parseError.error != QJsonParseError::NoError) {
            failWhole(QStringLiteral("not valid JSON at byte %1: %2")
                          .arg(parseError.offset)
                          .arg(parseError.errorString()));
            return result(false, nullptr);
        }
        const DataSet top = Impl::createDS(doc.isArray());
        bool ok = doc.isArray() ? readArray(doc.array(), *top, 1) : readObject(doc.object(), *top, 1);
        // Fewer members read than written means some name was repeated; only then
        // is the text searched for the place.
        if (ok && shape.memberNames != m_members) {
            m_path = placeIn(json, -1);
            ok = fail(QStringLiteral("key appears more than once"));
        }
        return result(ok, top);
    }

private:
    bool readObject(const QJsonObject& object, DataSetImpl& ds, int depth)
    {
        m_members += object.size();
        int count = 0;
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            const QString key = it.key();
            if (!countEntry(count++) || !checkKey(ds, key))
                return false;
            m_path.append(key);
            if (!readValue(it.value(), ds, key, depth))
                return false;
            m_path.removeLast();
        }
        return true;
    }

    bool readArray(const QJsonArray& array, DataSetImpl& ds, int depth)
    {
        for (qsizetype i = 0; i < array.size(); ++i) {
            if (!countEntry(static_cast<int>(i)))
                return false;
            const QString key = QString::number(i);
            m_path.append(key);
            if (!readValue(array.at(i), ds, key, depth))
                return false;
            m_path.removeLast();
        }
        return true;
    }

    bool readValue(const QJsonValue& value, DataSetImpl& ds, const QString& key, int depth)
    {
        switch (value.type()) {
        case QJsonValue::Bool:
            return store(ds, key, value.toBool());
        case QJsonValue::Double:
            return readNumber(QCborValue::fromJsonValue(value), ds, key);
        case QJsonValue::String:
            return storeText(ds, key, value.toString());
        case QJsonValue::Array:
        case QJsonValue::Object: {
            if (!checkDepth(depth + 1))
                return false;
            const DataSet nested = Impl::createDS(value.isArray());
            if (!store(ds, key, nested))
                return false;
            return value.isArray() ? readArray(value.toArray(), *nested, depth + 1)
                                   : readObject(value.toObject(), *nested, depth + 1);
        }
        case QJsonValue::Null:
            return fail(QStringLiteral("null cannot be stored"));
        case QJsonValue::Undefined:
            break;
        }
        return fail(QStringLiteral("undefined cannot be stored"));
    }

    // Qt's parser keeps a number as an integer when it is a whole number within 64
    // bits, as a double otherwise.
    bool readNumber(const QCborValue& number, DataSetImpl& ds, const QString& key)
    {
        if (number.isInteger()) {
            const qint64 n = number.toInteger();
            if (n >= INT_MIN && n <= INT_MAX)
                return store(ds, key, static_cast<int>(n));
            return fail(QStringLiteral("%1 is not a 32-bit integer").arg(n));
        }
        return fail(QStringLiteral("%1 is not a 32-bit integer").arg(doubleText(number.toDouble())));
    }

    qsizetype m_members = 0;
};

class CborDecoder : public Decoder
{
public:
    explicit CborDecoder(const QByteArray& cbor)
        : m_input(cbor)
        , m_reader(cbor)
    {}

    Codec::DecodeResult decode()
    {
        if (!readerOk())
            return result(false, nullptr);
        if (!m_reader.isArray() && !m_reader.isMap()) {
            fail(QStringLiteral("%1 is not a data set").arg(kindOfItem()));
            return result(false, nullptr);
        }
        const DataSet top = Impl::createDS(m_reader.isArray());
        bool ok = readEntries(*top, 1);
        if (ok && m_reader.currentOffset() != m_input.size()) {
            ok = failWhole(
                QStringLiteral("unexpected data after the end, at byte %1").arg(m_reader.currentOffset()));
        }
        return result(ok, top);
    }

private:
    bool readerOk()
    {
        const QCborError e = m_reader.lastError();
        if (e == QCborError::NoError)
            return true;
        const QString what =
            QStringLiteral("not valid CBOR at byte %1: %2").arg(m_reader.currentOffset()).arg(e.toString());
        return m_path.isEmpty() ? failWhole(what) : fail(what);
    }

    // What the item at the reader is, for error texts.
    QString kindOfItem() const
    {
        switch (m_reader.type()) {
        case QCborStreamReader::UnsignedInteger:
        case QCborStreamReader::NegativeInteger:
            return QStringLiteral("an integer");
        case QCborStreamReader::ByteArray:
            return QStringLiteral("a byte string");
        case QCborStreamReader::String:
            return QStringLiteral("text");
        case QCborStreamReader::Array:
            return QStringLiteral("an array");
        case QCborStreamReader::Map:
            return QStringLiteral("a map");
        case QCborStreamReader::Tag:
            return QStringLiteral("a tagged value");
        case QCborStreamReader::SimpleType:
            if (m_reader.isBool())
                return QStringLiteral("a flag");
            if (m_reader.isNull())
                return QStringLiteral("null");
            if (m_reader.isUndefined())
                return QStringLiteral("undefined");
            return QStringLiteral("simple value %1").arg(static_cast<int>(m_reader.toSimpleType()));
        case QCborStreamReader::Float16:
        case QCborStreamReader::Float:
        case QCborStreamReader::Double:
            return QStringLiteral("a floating-point number");
        case QCborStreamReader::Invalid:
            break;
        }
        return QStringLiteral("nothing");
    }

    bool readText(QString& out)
    {
        out.clear();
        auto chunk = m_reader.readString();
        while (chunk.status == QCborStreamReader::Ok) {
            if (out.isEmpty())
                out = std::move(chunk.data);
            else
                out += chunk.data;
            chunk = m_reader.readString();
        }
        return chunk.status == QCborStreamReader::EndOfString || readerOk();
    }

    // Reads the entries of the array or map at the reader into `ds`.
    bool readEntries(DataSetImpl& ds, int depth)
    {
        if (!m_reader.enterContainer())
            return readerOk();
        int count = 0;
        while (m_reader.hasNext()) {
            if (!countEntry(count))
                return false;
            QString key;
            if (ds.isList()) {
                key = QString::number(count);
            } else {
                if (!m_reader.isString())
                    return fail(QStringLiteral("a map key must be text, not %1").arg(kindOfItem()));
                if (!readText(key) || !checkKey(ds, key))
                    return false;
            }
            ++count;
            m_path.append(key);
            if (!readValue(ds, key, depth))
                return false;
            // A repeated key replaces the earlier entry instead of adding one.
            if (ds.size() != count)
                return fail(QStringLiteral("key appears more than once"));
            m_path.removeLast();
        }
        if (!readerOk())
            return false;
        m_reader.leaveContainer();
        return readerOk();
    }

    bool readValue(DataSetImpl& ds, const QString& key, int depth)
    {
        switch (m_reader.type()) {
        case QCborStreamReader::UnsignedInteger: {
            const quint64 n = m_reader.toUnsignedInteger();
            if (n > quint64(INT_MAX))
                return fail(QStringLiteral("%1 is not a 32-bit integer").arg(n));
            m_reader.next();
            return readerOk() && store(ds, key, static_cast<int>(n));
        }
        case QCborStreamReader::NegativeInteger: {
            // The item holds n for the number -1 - n, which reaches down to -2^64.
            const quint64 n = quint64(m_reader.toNegativeInteger()) - 1;
            if (n > quint64(INT_MAX)) {
                const QString magnitude =
                    n == ULLONG_MAX ? QStringLiteral("18446744073709551616") : QString::number(n + 1);
                return fail(QStringLiteral("-%1 is not a 32-bit integer").arg(magnitude));
            }
            m_reader.next();
            return readerOk() && store(ds, key, static_cast<int>(-1 - static_cast<qint64>(n)));
        }
        case QCborStreamReader::String: {
            QString text;
            return readText(text) && storeText(ds, key, text);
        }
        case QCborStreamReader::Array:
        case QCborStreamReader::Map: {
            if (!checkDepth(depth + 1))
                return false;
            const DataSet nested = Impl::createDS(m_reader.isArray());
            return store(ds, key, nested) && readEntries(*nested, depth + 1);
        }
        case QCborStreamReader::SimpleType:
            if (m_reader.isBool()) {
                const bool flag = m_reader.toBool();
                m_reader.next();
                return readerOk() && store(ds, key, flag);
            }
            break;
        case QCborStreamReader::Float16:
            return failFloat(double(m_reader.toFloat16()));
        case QCborStreamReader::Float:
            return failFloat(double(m_reader.toFloat()));
        case QCborStreamReader::Double:
            return failFloat(m_reader.toDouble());
        case QCborStreamReader::Invalid:
            return readerOk() && fail(QStringLiteral("no value"));
        case QCborStreamReader::ByteArray:
        case QCborStreamReader::Tag:
            break;
        }
        return fail(QStringLiteral("%1 cannot be stored").arg(kindOfItem()));
    }

    bool failFloat(double d)
    {
        return fail(QStringLiteral("floating-point number %1 cannot be stored").arg(doubleText(d)));
    }

    const QByteArray& m_input;
    QCborStreamReader m_reader;
};

// Refused before any parsing.
std::optional<QString> tooLarge(const QByteArray& input)
{
    if (input.size() <= Codec::kMaxInputBytes)
        return std::nullopt;
    return QStringLiteral("input of %1 bytes is over the limit of %2 bytes")
        .arg(input.size())
        .arg(Codec::kMaxInputBytes);
}

} // namespace

DataSetCodec::EncodeResult DataSetCodec::toJson(const DataSet& ds, QJsonDocument::JsonFormat format)
{
    Encoder<JsonTree> encoder;
    const std::optional<QJsonValue> tree = encoder.encode(ds);
    if (!tree)
        return {{}, encoder.error()};
    const QJsonDocument doc =
        tree->isArray() ? QJsonDocument(tree->toArray()) : QJsonDocument(tree->toObject());
    return encoder.finish(doc.toJson(format));
}

DataSetCodec::EncodeResult DataSetCodec::toCbor(const DataSet& ds)
{
    Encoder<CborTree> encoder;
    const std::optional<QCborValue> tree = encoder.encode(ds);
    if (!tree)
        return {{}, encoder.error()};
    return encoder.finish(tree->toCbor());
}

DataSetCodec::DecodeResult DataSetCodec::fromJson(const QByteArray& json)
{
    if (std::optional<QString> error = tooLarge(json))
        return {nullptr, std::move(*error)};
    return JsonDecoder().decode(json);
}

DataSetCodec::DecodeResult DataSetCodec::fromCbor(const QByteArray& cbor)
{
    if (std::optional<QString> error = tooLarge(cbor))
        return {nullptr, std::move(*error)};
    return CborDecoder(cbor).decode();
}

} // namespace DataSets
