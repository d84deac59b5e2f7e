#include <DataSetCodec.h>

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamWriter>
#include <QCborValue>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <random>
#include <string>

using DataSets::DataSet;
using DataSets::DataSetCodec;
using DataSets::Impl::createDS;
using DataSets::Impl::Entry;
using DataSets::Impl::setDataValue;
using DataSets::Impl::Value;

namespace {

std::string str(const QString& s)
{
    return s.toStdString();
}

// Deep comparison: kind of set, keys, and each value's kind and content.
testing::AssertionResult sameContent(const DataSet& a, const DataSet& b, const QString& where = "top")
{
    if (a->isList() != b->isList())
        return testing::AssertionFailure() << str(where) << ": kind of set differs";
    const std::vector<Entry> entries = a->entries();
    if (entries.size() != static_cast<size_t>(b->size()))
        return testing::AssertionFailure() << str(where) << ": entry count differs";
    for (const Entry& e : entries) {
        const QString at = where + '.' + e.key;
        Value other;
        if (!b->value(e.key, other))
            return testing::AssertionFailure() << str(at) << ": missing";
        if (e.value.index() != other.index())
            return testing::AssertionFailure() << str(at) << ": kind of value differs";
        if (const auto* nested = std::get_if<DataSet>(&e.value)) {
            const testing::AssertionResult inner = sameContent(*nested, std::get<DataSet>(other), at);
            if (!inner)
                return inner;
        } else if (e.value != other) {
            return testing::AssertionFailure() << str(at) << ": value differs";
        }
    }
    return testing::AssertionSuccess();
}

// Fixed-seed random sets of every kind, nesting down to the depth limit.
class Generator
{
public:
    explicit Generator(unsigned seed)
        : m_rng(seed)
    {}

    DataSet set(int depth)
    {
        const DataSet ds = createDS(pick(3) == 0);
        const int n = pick(7);
        for (int i = 0; i < n; ++i)
            put(ds, ds->isList() ? QString::number(i) : key(), depth);
        return ds;
    }

    // A set whose deepest path holds exactly kMaxDepth sets.
    DataSet chain(int depth = 1)
    {
        const DataSet ds = set(depth);
        if (depth < DataSetCodec::kMaxDepth) {
            const QString next = ds->isList() ? QString::number(ds->size()) : QStringLiteral("next");
            setDataValue(*ds, next, chain(depth + 1));
        }
        return ds;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }

    QString text(int maxLength)
    {
        static const char32_t pool[] = {U'a',          U'Z',          U'7',         U' ',      U'"',
                                        U'\\',         U'\n',         U'\0',        U'.',      U'{',
                                        U'\u00e9',     U'\u4e2d',     U'\u2028',    U'\ufeff', U'\uffff',
                                        U'\U0001F600', U'\U00010000', U'\U0010FFFF'};
        QString s;
        for (int n = pick(maxLength + 1); n > 0; --n) {
            const char32_t c = pool[pick(static_cast<int>(std::size(pool)))];
            s += QString::fromUcs4(&c, 1);
        }
        return s;
    }

    QString key()
    {
        if (pick(25) == 0)
            return QString(DataSets::Impl::kMaxKeyLength, QChar(0x00e9));
        QString k;
        while (k.isEmpty())
            k = text(6);
        return k;
    }

    void put(const DataSet& ds, const QString& key, int depth)
    {
        static const int edges[] = {INT_MIN, INT_MAX, 0, -1, 1};
        switch (pick(depth < DataSetCodec::kMaxDepth ? 7 : 5)) {
        case 0:
        case 1:
            setDataValue(*ds, key, text(pick(4) == 0 ? 0 : 12));
            break;
        case 2:
            setDataValue(*ds, key, pick(2) == 0);
            break;
        case 3:
        case 4:
            setDataValue(*ds, key, pick(2) == 0 ? edges[pick(5)] : static_cast<int>(m_rng()));
            break;
        case 5:
            setDataValue(*ds, key, createDS(pick(2) == 0));
            break;
        default:
            setDataValue(*ds, key, set(depth + 1));
        }
    }

    std::mt19937 m_rng;
};

// What the generated sets hold, so the round trip is known to cover it.
struct Coverage
{
    int deepest = 0;
    bool listSet = false, emptySet = false, emptyText = false, beyondBmp = false, intMin = false,
         intMax = false, flag = false;

    void add(const DataSet& ds, int depth = 1)
    {
        deepest = std::max(deepest, depth);
        listSet |= ds->isList();
        emptySet |= ds->isEmpty();
        for (const Entry& e : ds->entries()) {
            if (const auto* nested = std::get_if<DataSet>(&e.value)) {
                add(*nested, depth + 1);
            } else if (const auto* text = std::get_if<QString>(&e.value)) {
                emptyText |= text->isEmpty();
                beyondBmp |= text->contains(QChar(0xd83d));
            } else if (const auto* number = std::get_if<int>(&e.value)) {
                intMin |= *number == INT_MIN;
                intMax |= *number == INT_MAX;
            } else {
                flag = true;
            }
        }
    }
};

using Encode = std::function<DataSetCodec::EncodeResult(const DataSet&)>;
using Decode = std::function<DataSetCodec::DecodeResult(const QByteArray&)>;

struct Form
{
    const char* name;
    Encode encode;
    Decode decode;
};

const Form kForms[] = {
    {"JSON indented", [](const DataSet& ds) { return DataSetCodec::toJson(ds); }, &DataSetCodec::fromJson},
    {"JSON compact", [](const DataSet& ds) { return DataSetCodec::toJson(ds, QJsonDocument::Compact); },
     &DataSetCodec::fromJson},
    {"CBOR", &DataSetCodec::toCbor, &DataSetCodec::fromCbor},
};

void expectRoundTrip(const DataSet& ds)
{
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        const DataSetCodec::EncodeResult first = form.encode(ds);
        ASSERT_TRUE(first.ok()) << str(first.error);
        const DataSetCodec::DecodeResult back = form.decode(first.bytes);
        ASSERT_TRUE(back.ok()) << str(back.error);
        EXPECT_TRUE(back.error.isEmpty());
        EXPECT_TRUE(sameContent(ds, back.set));
        const DataSetCodec::EncodeResult again = form.encode(back.set);
        ASSERT_TRUE(again.ok()) << str(again.error);
        EXPECT_EQ(again.bytes, first.bytes);
    }
}

// Every refusal yields no set and names the place.
void expectRefused(const DataSetCodec::DecodeResult& r, const QString& error)
{
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.set, nullptr);
    EXPECT_EQ(str(r.error), str(error));
}

void expectRefused(const DataSetCodec::EncodeResult& r, const QString& error)
{
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.bytes.isEmpty());
    EXPECT_EQ(str(r.error), str(error));
}

QString surrogate(char16_t unit)
{
    return QString(QChar(unit));
}

// {"phone": {key: value}} as CBOR.
QByteArray cborUnderPhone(const QString& key, const QCborValue& value)
{
    QCborMap inner;
    inner.insert(key, value);
    QCborMap top;
    top.insert(QStringLiteral("phone"), inner);
    return QCborValue(top).toCbor();
}

// A list set of `n` integers, as JSON.
QByteArray jsonList(int n)
{
    QByteArray json = "[";
    for (int i = 0; i < n; ++i)
        json += i == 0 ? "0" : ",0";
    return json + ']';
}

} // namespace

TEST(DataSetCodecRoundTrip, GeneratedSetsComeBackWholeAndReencodeToTheSameBytes)
{
    Generator gen(20240611);
    Coverage seen;
    for (int i = 0; i < 150; ++i) {
        SCOPED_TRACE(i);
        const DataSet ds = i % 10 == 0 ? gen.chain() : gen.set(1);
        seen.add(ds);
        expectRoundTrip(ds);
    }
    EXPECT_EQ(seen.deepest, DataSetCodec::kMaxDepth);
    EXPECT_TRUE(seen.listSet && seen.emptySet && seen.emptyText && seen.beyondBmp && seen.intMin &&
                seen.intMax && seen.flag);
}

TEST(DataSetCodecRoundTrip, KindsStayApartEvenWhenTheyLookAlike)
{
    const DataSet ds = createDS(false);
    setDataValue(*ds, QStringLiteral("empty"), QString());
    setDataValue(*ds, QStringLiteral("one as text"), QStringLiteral("1"));
    setDataValue(*ds, QStringLiteral("one"), 1);
    setDataValue(*ds, QStringLiteral("true as text"), QStringLiteral("true"));
    setDataValue(*ds, QStringLiteral("null as text"), QStringLiteral("null"));
    setDataValue(*ds, QStringLiteral("yes"), true);
    setDataValue(*ds, QStringLiteral("no"), false);
    setDataValue(*ds, QStringLiteral("min"), INT_MIN);
    setDataValue(*ds, QStringLiteral("max"), INT_MAX);
    setDataValue(*ds, QStringLiteral("empty keyed"), createDS(false));
    setDataValue(*ds, QStringLiteral("empty list"), createDS(true));
    const DataSet positions = createDS(false); // keyed, although its keys look like positions
    setDataValue(*positions, QStringLiteral("0"), 0);
    setDataValue(*positions, QStringLiteral("1"), 1);
    setDataValue(*ds, QStringLiteral("positions"), positions);
    expectRoundTrip(ds);
    expectRoundTrip(createDS(false));
    expectRoundTrip(createDS(true));

    const DataSetCodec::DecodeResult back = DataSetCodec::fromCbor(DataSetCodec::toCbor(ds).bytes);
    QString text = QStringLiteral("unset");
    EXPECT_TRUE(DataSets::Impl::getDataValue(back.set.get(), QStringLiteral("empty"), text));
    EXPECT_TRUE(text.isEmpty());
    EXPECT_FALSE(DataSets::Impl::getDataValue(back.set.get(), QStringLiteral("absent"), text));
}

TEST(DataSetCodecForm, JsonAndCborLayoutsArePinned)
{
    const DataSet list = createDS(true);
    setDataValue(*list, QStringLiteral("1"), 7); // filled out of order: written by position
    setDataValue(*list, QStringLiteral("0"), QStringLiteral("x"));
    const DataSet ds = createDS(false);
    setDataValue(*ds, QStringLiteral("t"), QString::fromUtf8("\u00e9\U0001F600"));
    setDataValue(*ds, QStringLiteral("l"), list);
    setDataValue(*ds, QStringLiteral("b"), true);
    setDataValue(*ds, QStringLiteral("i"), -5);

    EXPECT_EQ(DataSetCodec::toJson(ds, QJsonDocument::Compact).bytes,
              QByteArray("{\"b\":true,\"i\":-5,\"l\":[\"x\",7],\"t\":\"\xc3\xa9\xf0\x9f\x98\x80\"}"));
    EXPECT_EQ(DataSetCodec::toCbor(ds).bytes.toHex(),
              QByteArray("a4"
                         "6162f5"                // "b": true
                         "616924"                // "i": -5
                         "616c82617807"          // "l": ["x", 7]
                         "617466c3a9f09f9880")); // "t": "é😀"
}

TEST(DataSetCodecForm, KeysAreOrderedByUtf16CodeUnitsWhateverTheInsertionOrder)
{
    // UTF-16 order puts a surrogate pair (U+1F600) before U+FFFF, unlike code-point order.
    const QStringList sorted{"B", "b", QString::fromUtf8("\u00e9"), QString::fromUtf8("\U0001F600"),
                             QString(QChar(0xffff))};
    const DataSet forward = createDS(false);
    const DataSet backward = createDS(false);
    for (int i = 0; i < sorted.size(); ++i) {
        setDataValue(*forward, sorted[i], i);
        setDataValue(*backward, sorted[sorted.size() - 1 - i], static_cast<int>(sorted.size()) - 1 - i);
    }
    for (const Form& form : kForms)
        EXPECT_EQ(form.encode(forward).bytes, form.encode(backward).bytes) << form.name;

    const QString json = QString::fromUtf8(DataSetCodec::toJson(forward).bytes);
    qsizetype last = -1;
    for (const QString& key : sorted) {
        const qsizetype at = json.indexOf('"' + key + '"');
        EXPECT_GT(at, last) << str(key);
        last = at;
    }
}

TEST(DataSetCodecEncode, RefusesWhatCannotBeReadBackFaithfully)
{
    expectRefused(DataSetCodec::toCbor(nullptr), QStringLiteral("no data set to encode"));

    // A list set with a gap: positions "0" and "2" only.
    const DataSet gappy = createDS(true);
    setDataValue(*gappy, QStringLiteral("0"), 1);
    setDataValue(*gappy, QStringLiteral("2"), 3);
    const DataSet app = createDS(false);
    setDataValue(*app, QStringLiteral("optOutMessages"), gappy);
    const DataSet top = createDS(false);
    setDataValue(*top, QStringLiteral("app"), app);
    expectRefused(DataSetCodec::toJson(top),
                  QStringLiteral("app.optOutMessages: list set of 2 entries lacks position 1"));
    expectRefused(DataSetCodec::toCbor(top),
                  QStringLiteral("app.optOutMessages: list set of 2 entries lacks position 1"));

    const DataSet lone = createDS(true);
    setDataValue(*lone, QStringLiteral("0"), QStringLiteral("ok"));
    setDataValue(*lone, QStringLiteral("1"), QStringLiteral("a") + surrogate(0xd83d));
    expectRefused(DataSetCodec::toCbor(lone),
                  QStringLiteral("1: text holds an unpaired surrogate, which UTF-8 cannot carry"));
    setDataValue(*lone, QStringLiteral("1"), surrogate(0xde00) + surrogate(0xd83d));
    expectRefused(DataSetCodec::toJson(lone),
                  QStringLiteral("1: text holds an unpaired surrogate, which UTF-8 cannot carry"));
}

TEST(DataSetCodecEncode, RefusesSetsBeyondTheLimits)
{
    DataSet deep = createDS(false);
    for (int i = 1; i < DataSetCodec::kMaxDepth; ++i) {
        const DataSet outer = createDS(false);
        setDataValue(*outer, QStringLiteral("d"), deep);
        deep = outer;
    }
    EXPECT_TRUE(DataSetCodec::toCbor(deep).ok());
    const DataSet deeper = createDS(false);
    setDataValue(*deeper, QStringLiteral("d"), deep);
    QStringList path;
    for (int i = 0; i < DataSetCodec::kMaxDepth; ++i)
        path << "d";
    expectRefused(DataSetCodec::toJson(deeper),
                  path.join('.') + QStringLiteral(": nesting deeper than 32 sets"));

    const DataSet wide = createDS(true);
    for (int i = 0; i <= DataSetCodec::kMaxEntries; ++i)
        setDataValue(*wide, QString::number(i), i);
    expectRefused(DataSetCodec::toCbor(wide), QStringLiteral("top level: more than 1024 entries in one set"));
}

TEST(DataSetCodecDecode, RefusesMalformedOrOversizedInputAsAWhole)
{
    const QByteArray huge = QByteArray("[") + QByteArray(DataSetCodec::kMaxInputBytes, ' ') + "]";
    expectRefused(DataSetCodec::fromJson(huge),
                  QStringLiteral("input of 16777218 bytes is over the limit of 16777216 bytes"));
    expectRefused(DataSetCodec::fromCbor(huge),
                  QStringLiteral("input of 16777218 bytes is over the limit of 16777216 bytes"));

    expectRefused(DataSetCodec::fromJson("{\"a\":"),
                  QStringLiteral("not valid JSON at byte 5: unterminated object"));
    expectRefused(DataSetCodec::fromJson("{} x"),
                  QStringLiteral("not valid JSON at byte 3: garbage at the end of the document"));
    expectRefused(DataSetCodec::fromJson("7"), QStringLiteral("not valid JSON at byte 1: illegal value"));
    expectRefused(DataSetCodec::fromJson(""), QStringLiteral("not valid JSON at byte 0: illegal value"));

    expectRefused(DataSetCodec::fromCbor(QByteArray::fromHex("a0ff")),
                  QStringLiteral("unexpected data after the end, at byte 1"));
    expectRefused(DataSetCodec::fromCbor(QByteArray::fromHex("a0a0")),
                  QStringLiteral("unexpected data after the end, at byte 1"));
    expectRefused(
        DataSetCodec::fromCbor(QByteArray()),
        QStringLiteral("not valid CBOR at byte 0: Unexpected end of input data (more bytes needed)"));
    expectRefused(DataSetCodec::fromCbor(QCborValue(QStringLiteral("x")).toCbor()),
                  QStringLiteral("top level: text is not a data set"));
    // Truncated inside a nested text: the place is known.
    expectRefused(
        DataSetCodec::fromCbor(QByteArray::fromHex("a1617aa16162656162")),
        QStringLiteral("z.b: not valid CBOR at byte 6: Unexpected end of input data (more bytes needed)"));
}

TEST(DataSetCodecDecode, RefusesValuesASetCannotHold)
{
    const struct
    {
        const char* json;
        const char* error;
    } jsonCases[] = {
        {R"({"phone":{"ringToneVolume":4294967296}})",
         "phone.ringToneVolume: 4294967296 is not a 32-bit integer"},
        {R"({"phone":{"v":-2147483649}})", "phone.v: -2147483649 is not a 32-bit integer"},
        {R"({"phone":{"v":1.5}})", "phone.v: 1.5 is not a 32-bit integer"},
        {R"({"phone":{"v":1e300}})", "phone.v: 1e+300 is not a 32-bit integer"},
        {R"({"phone":{"v":null}})", "phone.v: null cannot be stored"},
        {R"({"app":{"optOutMessages":["a",null]}})", "app.optOutMessages.1: null cannot be stored"},
        {R"({"t":"a\ud800"})", "t: text holds an unpaired surrogate"},
        {R"({"phone":{"":1}})", R"(phone: "" is not a valid key)"},
        {R"({"\udc00":1})", R"(top level: "\uDC00" is not a valid key)"},
    };
    for (const auto& c : jsonCases) {
        SCOPED_TRACE(c.json);
        expectRefused(DataSetCodec::fromJson(c.json), QString::fromUtf8(c.error));
    }
    expectRefused(DataSetCodec::fromJson("{\"" + QByteArray(257, 'k') + "\":1}"),
                  "top level: \"" + QString(257, 'k') + "\" is not a valid key");
    EXPECT_TRUE(DataSetCodec::fromJson(R"({"phone":{"v":-2147483648,"w":2147483647}})").ok());

    const struct
    {
        QByteArray cbor;
        const char* error;
    } cborCases[] = {
        {cborUnderPhone("ringToneVolume", qint64(4294967296)),
         "phone.ringToneVolume: 4294967296 is not a 32-bit integer"},
        {cborUnderPhone("v", qint64(INT_MAX) + 1), "phone.v: 2147483648 is not a 32-bit integer"},
        {cborUnderPhone("v", qint64(INT_MIN) - 1), "phone.v: -2147483649 is not a 32-bit integer"},
        // -2^64: Qt's own tree decoder reads this one as 0.
        {QByteArray::fromHex("a1617a3bffffffffffffffff"), "z: -18446744073709551616 is not a 32-bit integer"},
        {cborUnderPhone("v", 1.5), "phone.v: floating-point number 1.5 cannot be stored"},
        {QByteArray::fromHex("a1617af93c00"), "z: floating-point number 1 cannot be stored"},
        {cborUnderPhone("v", QCborValue(QCborValue::Null)), "phone.v: null cannot be stored"},
        {cborUnderPhone("v", QCborValue(QCborValue::Undefined)), "phone.v: undefined cannot be stored"},
        {cborUnderPhone("v", QCborValue(QCborSimpleType(16))), "phone.v: simple value 16 cannot be stored"},
        {cborUnderPhone("v", QByteArray("raw")), "phone.v: a byte string cannot be stored"},
        {cborUnderPhone("v", QCborValue(QCborTag(1), 5)), "phone.v: a tagged value cannot be stored"},
        {QByteArray::fromHex("a1617a81d82000"), "z.0: a tagged value cannot be stored"},
        {QByteArray::fromHex("a1617aa10101"), "z: a map key must be text, not an integer"},
        {QByteArray::fromHex("a1617aa1800101"), "z: a map key must be text, not an array"},
        {QByteArray::fromHex("a1617aa16001"), R"(z: "" is not a valid key)"},
        // UTF-8 cannot hold a surrogate; Qt's reader refuses it.
        {QByteArray::fromHex("a1617a63eda080"),
         "z: not valid CBOR at byte 4: Invalid CBOR stream: invalid UTF-8 text string"},
    };
    for (const auto& c : cborCases) {
        SCOPED_TRACE(c.cbor.toHex().toStdString());
        expectRefused(DataSetCodec::fromCbor(c.cbor), QString::fromUtf8(c.error));
    }
    EXPECT_TRUE(DataSetCodec::fromCbor(cborUnderPhone("v", qint64(INT_MIN))).ok());
}

TEST(DataSetCodecDecode, RefusesRepeatedKeysThatTheParserWouldFoldAway)
{
    expectRefused(DataSetCodec::fromJson(R"({"phone":{"k":1,"k":2}})"),
                  QStringLiteral("phone.k: key appears more than once"));
    // The same name spelled with an escape is the same key.
    expectRefused(DataSetCodec::fromJson(R"({"k":1,"\u006b":"x"})"),
                  QStringLiteral("k: key appears more than once"));
    expectRefused(DataSetCodec::fromJson(R"({"a":[true,{"x":1},{"y":{"z":1,"z":1}}]})"),
                  QStringLiteral("a.2.y.z: key appears more than once"));
    // Names in other objects, and look-alikes inside text, are not repeats.
    EXPECT_TRUE(
        DataSetCodec::fromJson(R"({"a":{"k":1},"b":{"k":1},"k":"{\"k\":1,\"k\":2}","q\"":1,"q":1})").ok());

    QByteArray repeated;
    QCborStreamWriter writer(&repeated);
    writer.startMap(1);
    writer.append(QLatin1String("phone"));
    writer.startMap(2);
    writer.append(QLatin1String("k"));
    writer.append(1);
    writer.append(QLatin1String("k"));
    writer.append(2);
    writer.endMap();
    writer.endMap();
    expectRefused(DataSetCodec::fromCbor(repeated), QStringLiteral("phone.k: key appears more than once"));
}

TEST(DataSetCodecDecode, BoundsNestingAndEntries)
{
    QByteArray json = R"({"a":)";
    for (int i = 2; i <= DataSetCodec::kMaxDepth; ++i)
        json += R"({"a":)";
    json += "1" + QByteArray(DataSetCodec::kMaxDepth, '}');
    EXPECT_TRUE(DataSetCodec::fromJson(json).ok());
    json.replace("1", "{}");
    QStringList path;
    for (int i = 0; i < DataSetCodec::kMaxDepth; ++i)
        path << "a";
    expectRefused(DataSetCodec::fromJson(json), path.join('.') + ": nesting deeper than 32 sets");

    // Far deeper than any parser's own limit: refused, never a crash.
    const QString zeros = QStringList(QVector<QString>(DataSetCodec::kMaxDepth, "0")).join('.');
    expectRefused(DataSetCodec::fromJson(QByteArray(200000, '[')), zeros + ": nesting deeper than 32 sets");
    // Brackets inside text are not nesting.
    EXPECT_TRUE(DataSetCodec::fromJson("{\"a\":\"" + QByteArray(100, '[') + "\\\"\"}").ok());
    expectRefused(DataSetCodec::fromCbor(QByteArray(200000, char(0x81))),
                  zeros + ": nesting deeper than 32 sets");
    EXPECT_FALSE(DataSetCodec::fromCbor(QByteArray(200000, char(0xc6))).ok());

    EXPECT_TRUE(DataSetCodec::fromJson(jsonList(DataSetCodec::kMaxEntries)).ok());
    expectRefused(DataSetCodec::fromJson(jsonList(DataSetCodec::kMaxEntries + 1)),
                  QStringLiteral("top level: more than 1024 entries in one set"));
    // An indefinite-length array reports its size only at the end.
    expectRefused(DataSetCodec::fromCbor("\x9f" + QByteArray(DataSetCodec::kMaxEntries + 1, '\0') + "\xff"),
                  QStringLiteral("top level: more than 1024 entries in one set"));

    // Too many entries in all: counted while reading, and for JSON also before Qt
    // parses text with more separators than entries allowed.
    // 1024 chains of 16 single-entry sets: 17 entries each, few commas.
    const QByteArray chain = QByteArray(16, '[') + '0' + QByteArray(16, ']');
    QByteArray chains = "[" + chain;
    for (int i = 1; i < DataSetCodec::kMaxEntries; ++i)
        chains += ',' + chain;
    expectRefused(DataSetCodec::fromJson(chains + "]"),
                  "963" + QString(".0").repeated(12) + ": more than 16384 entries in all");
    expectRefused(DataSetCodec::fromJson("[" + jsonList(DataSetCodec::kMaxTotalEntries + 2) + "]"),
                  QStringLiteral("more than 16384 entries in all"));
    QCborArray lists;
    for (int i = 0; i * 1000 <= DataSetCodec::kMaxTotalEntries; ++i)
        lists.append(QCborArray::fromVariantList(QVariantList(999, 0)));
    expectRefused(DataSetCodec::fromCbor(QCborValue(lists).toCbor()),
                  QStringLiteral("16: more than 16384 entries in all"));
}

TEST(DataSetCodecDecode, AcceptsAnyLayoutOfTheSameContent)
{
    const DataSetCodec::DecodeResult spaced =
        DataSetCodec::fromJson(" {\n \"b\" : [ 1 , \"x\" ] ,\"a\":false}\n");
    const DataSetCodec::DecodeResult tight = DataSetCodec::fromJson(R"({"a":false,"b":[1,"x"]})");
    ASSERT_TRUE(spaced.ok() && tight.ok());
    EXPECT_TRUE(sameContent(spaced.set, tight.set));

    // JSON has one kind of number: any spelling of a whole 32-bit value is an integer.
    const DataSetCodec::DecodeResult whole = DataSetCodec::fromJson(R"({"a":7.0,"b":7e0,"c":-0})");
    ASSERT_TRUE(whole.ok()) << str(whole.error);
    EXPECT_EQ(DataSetCodec::toJson(whole.set, QJsonDocument::Compact).bytes,
              QByteArray(R"({"a":7,"b":7,"c":0})"));

    // Indefinite lengths and chunked text read the same, and write back canonically.
    const DataSetCodec::DecodeResult loose =
        DataSetCodec::fromCbor(QByteArray::fromHex("bf6162f5616c9f7f61786179ff07ffff"));
    ASSERT_TRUE(loose.ok()) << str(loose.error);
    EXPECT_EQ(DataSetCodec::toCbor(loose.set).bytes.toHex(), QByteArray("a26162f5616c82627879"
                                                                        "07"));
}

TEST(DataSetCodecDecode, DamagedInputIsEitherRefusedOrReadAsSomethingThatEncodesAgain)
{
    Generator gen(77);
    std::mt19937 rng(78);
    for (int i = 0; i < 40; ++i) {
        const DataSet ds = gen.set(1);
        for (const Form& form : kForms) {
            const QByteArray good = form.encode(ds).bytes;
            for (int m = 0; m < 40; ++m) {
                QByteArray bad = good;
                const auto at = static_cast<qsizetype>(rng() % static_cast<unsigned>(bad.size()));
                switch (rng() % 3) {
                case 0:
                    bad[at] = static_cast<char>(rng());
                    break;
                case 1:
                    bad.truncate(at);
                    break;
                default:
                    bad.insert(at, static_cast<char>(rng()));
                }
                const DataSetCodec::DecodeResult r = form.decode(bad);
                if (r.ok()) {
                    EXPECT_TRUE(r.error.isEmpty());
                    EXPECT_TRUE(form.encode(r.set).ok()) << form.name << ' ' << bad.toHex().toStdString();
                } else {
                    EXPECT_FALSE(r.error.isEmpty());
                }
            }
        }
    }
}
