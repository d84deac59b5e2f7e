// The stored forms of a data set: round trips, the pinned layouts, and every refusal
// with its error text.
#include <AppRuntimeData.h>
#include <DataSetCodec.h>
#include <SessionData.h>

#include "DataSetTestUtils.h"
#include "PeakInChild.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamWriter>
#include <QCborValue>
#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <random>

using DataSets::DataSet;
using DataSets::DataSetCodec;
using DataSets::Impl::createDS;
using DataSets::Impl::Entry;
using DataSets::Impl::setDataValue;

namespace {

// Fixed-seed random sets of every kind: any Unicode in keys and text, the longest key,
// extreme integers, empty keyed and list sets, nesting down to the depth limit.
class Generator
{
public:
    explicit Generator(unsigned seed)
        : m_rng(seed)
    {}

    DataSet set(int depth)
    {
        static const int edges[] = {INT_MIN, INT_MAX, 0, -1};
        const DataSet ds = createDS(pick(3) == 0);
        for (int i = 0, n = pick(7); i < n; ++i) {
            QString key = ds->isList()    ? QString::number(i)
                          : pick(25) == 0 ? QString(DataSets::Impl::kMaxKeyLength, QChar(0x00e9))
                                          : QString();
            while (key.isEmpty())
                key = text(6);
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
                setDataValue(*ds, key, pick(2) == 0 ? edges[pick(4)] : static_cast<int>(m_rng()));
                break;
            case 5:
                setDataValue(*ds, key, createDS(pick(2) == 0));
                break;
            default:
                setDataValue(*ds, key, set(depth + 1));
            }
        }
        return ds;
    }

    // A set whose deepest path holds exactly kMaxDepth sets.
    DataSet chain(int depth = 1)
    {
        const DataSet ds = set(depth);
        if (depth < DataSetCodec::kMaxDepth)
            setDataValue(*ds, ds->isList() ? QString::number(ds->size()) : QStringLiteral("next"),
                         chain(depth + 1));
        return ds;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_rng); }

    QString text(int maxLength)
    {
        static const char32_t pool[] = {U'a',      U'Z',      U'7',          U' ',          U'"',
                                        U'\\',     U'\n',     U'\0',         U'.',          U'{',
                                        U'\u00e9', U'\u4e2d', U'\u2028',     U'\ufeff',     U'\uffff',
                                        U'\x1f',   U'\t',     U'\x7f',       U'\b',         U'\f',
                                        U'\r',     U'/',      U'\U0001F600', U'\U00010000', U'\U0010FFFF'};
        QString s;
        for (int n = pick(maxLength + 1); n > 0; --n)
            s += QString::fromUcs4(&pool[pick(static_cast<int>(std::size(pool)))], 1);
        return s;
    }

    std::mt19937 m_rng;
};

using Limits = DataSetCodec::Limits;
using Encode = std::function<DataSetCodec::EncodeResult(const DataSet&, const Limits&)>;
using Decode = std::function<DataSetCodec::DecodeResult(const QByteArray&, const Limits&)>;

// The limits scaled down, so that every limit is reached with small inputs.
const Limits kSmall{32, 1 << 20, 1024, 16384};

struct Form
{
    const char* name;
    Encode encodeWithin;
    Decode decodeWithin;

    DataSetCodec::EncodeResult encode(const DataSet& ds) const { return encodeWithin(ds, Limits()); }
    DataSetCodec::DecodeResult decode(const QByteArray& bytes) const { return decodeWithin(bytes, Limits()); }
};

const Form kForms[] = {
    {"JSON indented",
     [](const DataSet& ds, const Limits& l) { return DataSetCodec::toJson(ds, QJsonDocument::Indented, l); },
     &DataSetCodec::fromJson},
    {"JSON compact",
     [](const DataSet& ds, const Limits& l) { return DataSetCodec::toJson(ds, QJsonDocument::Compact, l); },
     &DataSetCodec::fromJson},
    {"CBOR", &DataSetCodec::toCbor, &DataSetCodec::fromCbor},
};

void expectRoundTrip(const DataSet& ds)
{
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        const DataSetCodec::EncodeResult first = form.encode(ds);
        ASSERT_TRUE(first.ok()) << qPrintable(first.error.toString());
        const DataSetCodec::DecodeResult back = form.decode(first.bytes);
        ASSERT_TRUE(back.ok()) << qPrintable(back.error.toString());
        EXPECT_TRUE(back.error.isEmpty());
        EXPECT_TRUE(sameContent(ds, back.set));
        const DataSetCodec::EncodeResult again = form.encode(back.set);
        ASSERT_TRUE(again.ok()) << qPrintable(again.error.toString());
        EXPECT_EQ(again.bytes, first.bytes);
    }
}

// Every refusal yields no set or no bytes, and an error naming the place.
void expectRefused(const DataSetCodec::DecodeResult& r, const QString& error)
{
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.set, nullptr);
    EXPECT_EQ(r.error.toString(), error);
}

void expectRefused(const DataSetCodec::EncodeResult& r, const QString& error)
{
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.bytes.isEmpty());
    EXPECT_EQ(r.error.toString(), error);
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

// The path of `depth` nested sets under the same key, as an error names it.
QString path(const QString& key, int depth)
{
    return QStringList(depth, key).join('.');
}

const QString kTooDeep = QStringLiteral(": nesting deeper than 32 sets");
const QString kTooLarge = QStringLiteral("input of 1048578 bytes is over the limit of 1048576 bytes");

} // namespace

TEST(DataSetCodecRoundTrip, SetsComeBackWholeAndReencodeToTheSameBytes)
{
    Generator gen(20240611);
    for (int i = 0; i < 150; ++i) {
        SCOPED_TRACE(i);
        expectRoundTrip(i % 10 == 0 ? gen.chain() : gen.set(1)); // a chain reaches the depth limit
    }
    // Kinds stay apart even when they look alike.
    expectRoundTrip(
        setOf({{"empty", QString()},
               {"one as text", QStringLiteral("1")},
               {"one", 1},
               {"true as text", QStringLiteral("true")},
               {"null as text", QStringLiteral("null")},
               {"yes", true},
               {"empty keyed", createDS(false)},
               {"empty list", createDS(true)},
               {"positions", setOf({{"0", 0}, {"1", 1}})}})); // keyed, though it looks like a list
    expectRoundTrip(createDS(true));
}

// The same set as a tree of Qt's own values, to compare layouts with.
QJsonValue qtTree(const DataSet& ds)
{
    QJsonObject object;
    QJsonArray array;
    for (const Entry& e : ds->entries()) {
        QJsonValue v;
        if (const auto* text = std::get_if<QString>(&e.value))
            v = *text;
        else if (const auto* flag = std::get_if<bool>(&e.value))
            v = *flag;
        else if (const auto* number = std::get_if<int>(&e.value))
            v = *number;
        else
            v = qtTree(std::get<DataSet>(e.value));
        if (ds->isList())
            array.append(v); // generated list sets are filled in position order
        else
            object.insert(e.key, v);
    }
    return ds->isList() ? QJsonValue(array) : QJsonValue(object);
}

TEST(DataSetCodecForm, JsonIsLaidOutByteForByteAsQtLaysItOut)
{
    Generator gen(4711);
    for (int i = 0; i < 60; ++i) {
        const DataSet ds = gen.set(1);
        const QJsonValue tree = qtTree(ds);
        const QJsonDocument doc =
            tree.isArray() ? QJsonDocument(tree.toArray()) : QJsonDocument(tree.toObject());
        for (const auto format : {QJsonDocument::Indented, QJsonDocument::Compact})
            EXPECT_EQ(DataSetCodec::toJson(ds, format).bytes, doc.toJson(format)) << i;
    }
}

TEST(DataSetCodecForm, JsonAndCborLayoutsAndKeyOrderArePinned)
{
    const DataSet list = createDS(true);
    setDataValue(*list, QStringLiteral("1"), 7); // filled out of order: written by position
    setDataValue(*list, QStringLiteral("0"), QStringLiteral("x"));
    const DataSet ds =
        setOf({{"t", QString::fromUtf8("\u00e9\U0001F600")}, {"l", list}, {"b", true}, {"i", -5}});

    EXPECT_EQ(DataSetCodec::toJson(ds, QJsonDocument::Compact).bytes,
              QByteArray("{\"b\":true,\"i\":-5,\"l\":[\"x\",7],\"t\":\"\xc3\xa9\xf0\x9f\x98\x80\"}"));
    EXPECT_EQ(DataSetCodec::toCbor(ds).bytes.toHex(),
              QByteArray("a4"
                         "6162f5"                // "b": true
                         "616924"                // "i": -5
                         "616c82617807"          // "l": ["x", 7]
                         "617466c3a9f09f9880")); // "t": "é😀"

    // Keys go in UTF-16 code-unit order, which puts a surrogate pair (U+1F600) before
    // U+FFFF, unlike code-point order.
    const DataSet keys =
        setOf({{QString(QChar(0xffff)), 1}, {QString::fromUtf8("\U0001F600"), 2}, {"b", 3}, {"B", 4}});
    EXPECT_EQ(DataSetCodec::toJson(keys, QJsonDocument::Compact).bytes,
              QByteArray("{\"B\":4,\"b\":3,\"\xf0\x9f\x98\x80\":2,\"\xef\xbf\xbf\":1}"));
}

// Large sets are ranked a few units at a time rather than compared whole: the order
// must still be QString's for keys that share long prefixes, end inside one another,
// or hold U+0000, U+FFFF and surrogate pairs; and a repeated key among many is found.
TEST(DataSetCodecForm, LargeSetsKeepTheKeyOrderAndFindARepeatedKey)
{
    static const QString pieces[] = {QStringLiteral("a"),
                                     QStringLiteral("b"),
                                     QString(QChar(0)),
                                     QString(QChar(0xffff)),
                                     QString::fromUtf8("\U0001F600"),
                                     QString(QChar(0xe9))};
    std::mt19937 rng(99);
    for (const int shared : {0, 3, 9, 40}) {
        const DataSet ds = createDS(false);
        std::vector<QString> keys;
        while (keys.size() < 3000) {
            QString key(shared, QChar(u'p'));
            for (auto n = rng() % 12; n > 0; --n)
                key += pieces[rng() % std::size(pieces)];
            if (!key.isEmpty() && setDataValue(*ds, key, 1) && ds->size() > static_cast<int>(keys.size()))
                keys.push_back(key);
        }
        std::sort(keys.begin(), keys.end());
        for (const Form& form : kForms) {
            const DataSetCodec::DecodeResult back = form.decode(form.encode(ds).bytes);
            ASSERT_TRUE(back.ok()) << form.name;
            std::vector<QString> order;
            for (const Entry& e : back.set->entries())
                order.push_back(e.key);
            EXPECT_EQ(order, keys) << form.name << ", shared prefix " << shared;
        }
        QByteArray json = DataSetCodec::toJson(ds, QJsonDocument::Compact).bytes;
        // A key with no U+0000, which would need an escape.
        const QString repeated = *std::find_if(keys.begin() + 1234, keys.end(),
                                               [](const QString& k) { return !k.contains(QChar(0)); });
        json.insert(1, "\"" + repeated.toUtf8() + "\":1,");
        const DataSetCodec::DecodeResult r = DataSetCodec::fromJson(json);
        EXPECT_EQ(r.error.path, QStringList{repeated});
        EXPECT_EQ(r.error.message, QStringLiteral("key appears more than once"));
    }
}

TEST(DataSetCodecEncode, RefusesWhatCannotBeReadBackFaithfullyOrIsBeyondTheLimits)
{
    const DataSet gappy = createDS(true); // positions "0" and "2" only
    setDataValue(*gappy, QStringLiteral("0"), 1);
    setDataValue(*gappy, QStringLiteral("2"), 3);
    const DataSet lone = createDS(true);
    setDataValue(*lone, QStringLiteral("0"), QStringLiteral("ok"));
    setDataValue(*lone, QStringLiteral("1"), QStringLiteral("a") + surrogate(0xd83d));
    DataSet deep = createDS(false); // exactly kMaxDepth sets deep
    for (int i = 1; i < DataSetCodec::kMaxDepth; ++i)
        deep = setOf({{"d", deep}});
    const DataSet wide = createDS(true);
    for (int i = 0; i <= kSmall.maxEntries; ++i)
        setDataValue(*wide, QString::number(i), i);
    const DataSet many = createDS(true); // 17 lists of 1,000 entries
    for (int i = 0; i < 17; ++i) {
        const DataSet list = createDS(true);
        for (int j = 0; j < 1000; ++j)
            setDataValue(*list, QString::number(j), j);
        setDataValue(*many, QString::number(i), list);
    }

    const std::pair<DataSet, QString> cases[] = {
        {nullptr, "no data set to encode"},
        {setOf({{"app", setOf({{"optOutMessages", gappy}})}}),
         "app.optOutMessages: list set of 2 entries lacks position 1"},
        {lone, "1: text holds an unpaired surrogate, which UTF-8 cannot carry"},
        {setOf({{"t", surrogate(0xde00) + surrogate(0xd83d)}}),
         "t: text holds an unpaired surrogate, which UTF-8 cannot carry"},
        {setOf({{"d", deep}}), path("d", DataSetCodec::kMaxDepth) + kTooDeep},
        {setOf({{"app", setOf({{"userSettings", wide}})}}),
         "app.userSettings: 1025 entries in one set, more than the limit of 1024"},
        {many, "top level: 17017 entries in all, more than the limit of 16384"},
    };
    const DataSet large = setOf({{"t", QString(kSmall.maxBytes, u'a')}});
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        EXPECT_TRUE(form.encodeWithin(deep, kSmall).ok());
        for (const auto& [ds, error] : cases)
            expectRefused(form.encodeWithin(ds, kSmall), error);
        // Over the byte limit: the whole size is still named.
        const DataSetCodec::EncodeResult over = form.encodeWithin(large, kSmall);
        EXPECT_TRUE(over.bytes.isEmpty());
        EXPECT_TRUE(over.error.whole);
        EXPECT_TRUE(over.error.message.startsWith(QStringLiteral("the encoded form takes 10485")) &&
                    over.error.message.endsWith(QStringLiteral(" bytes, more than the limit of 1048576")))
            << qPrintable(over.error.message);
    }
}

TEST(DataSetCodecDecode, RefusesJsonThatIsMalformedOversizedOrHoldsWhatASetCannot)
{
    QByteArray deepest = R"({"a":)"; // kMaxDepth objects, the innermost holding 1
    for (int i = 2; i <= DataSetCodec::kMaxDepth; ++i)
        deepest += R"({"a":)";
    deepest += "1" + QByteArray(DataSetCodec::kMaxDepth, '}');
    // 1024 chains of 16 single-entry sets: 17 entries each, few commas.
    const QByteArray chain = QByteArray(16, '[') + '0' + QByteArray(16, ']');
    QByteArray chains = "[" + chain;
    for (int i = 1; i < kSmall.maxEntries; ++i)
        chains += ',' + chain;

    const std::pair<QByteArray, QString> cases[] = {
        {"[" + QByteArray(kSmall.maxBytes, ' ') + "]", kTooLarge},
        {"{\"a\":", "not valid JSON at byte 5: expected a value"},
        {"{\"a\":1", "not valid JSON at byte 6: unterminated object"},
        {"{\"a\"", "not valid JSON at byte 4: unterminated object"},
        {"{} x", "not valid JSON at byte 3: data after the end of the document"},
        {"7", "not valid JSON at byte 0: expected an object or an array"},
        {"", "not valid JSON at byte 0: expected an object or an array"},
        // Strictly RFC 8259.
        {"[\"a\tb\"]", "not valid JSON at byte 3: control character in a string"},
        {R"(["\x41"])", "not valid JSON at byte 2: unknown escape"},
        {R"(["\u12"])", "not valid JSON at byte 2: \\u must be followed by four hexadecimal digits"},
        {R"(["\u12G4"])", "not valid JSON at byte 2: \\u must be followed by four hexadecimal digits"},
        {"[2.]", "not valid JSON at byte 3: expected a digit after the decimal point"},
        {"[.5]", "not valid JSON at byte 1: expected a value"},
        {"[01]", "not valid JSON at byte 2: number with a leading zero"},
        {"[-]", "not valid JSON at byte 2: expected a digit"},
        {"[+1]", "not valid JSON at byte 1: expected a value"},
        {"[1e]", "not valid JSON at byte 3: expected a digit in the exponent"},
        {"[1,]", "not valid JSON at byte 3: expected a value"},
        {R"({"a":1,})", "not valid JSON at byte 7: expected a member name"},
        {"[tru]", "not valid JSON at byte 1: expected a value"},
        {"[1 2]", "not valid JSON at byte 3: expected ',' or ']'"},
        {R"({"a" 1})", "not valid JSON at byte 5: expected ':' after a member name"},
        {"[\"abc", "not valid JSON at byte 1: unterminated string"},
        {"[1]/**/", "not valid JSON at byte 3: data after the end of the document"},
        {"[\"\xc0\x80\"]", "not valid JSON at byte 2: not valid UTF-8"},         // overlong
        {"[\"a\xed\xa0\x80\"]", "not valid JSON at byte 3: not valid UTF-8"},    // a surrogate
        {"[\"\xf4\x90\x80\x80\"]", "not valid JSON at byte 2: not valid UTF-8"}, // beyond U+10FFFF
        {"[\"\xe4\xb8\"]", "not valid JSON at byte 2: not valid UTF-8"},         // cut short
        {"[\"\xe4\x41\x41\"]", "not valid JSON at byte 2: not valid UTF-8"},     // no continuation
        {"[\"\xff\"]", "not valid JSON at byte 2: not valid UTF-8"},
        {R"({"phone":{"ringToneVolume":4294967296}})",
         "phone.ringToneVolume: 4294967296 is not a 32-bit integer"},
        {R"({"phone":{"v":2147483648}})", "phone.v: 2147483648 is not a 32-bit integer"},
        {R"({"phone":{"v":-2147483649}})", "phone.v: -2147483649 is not a 32-bit integer"},
        {R"({"phone":{"v":1.5}})", "phone.v: 1.5 is not a 32-bit integer"},
        {R"({"phone":{"v":1e300}})", "phone.v: 1e+300 is not a 32-bit integer"},
        {R"({"phone":{"v":null}})", "phone.v: null cannot be stored"},
        {R"({"app":{"optOutMessages":["a",null]}})", "app.optOutMessages.1: null cannot be stored"},
        {R"({"t":"a\ud800"})",
         "not valid JSON at byte 7: a high surrogate escape without a low one after it"},
        {R"({"t":"\ud800\u0041"})",
         "not valid JSON at byte 6: a high surrogate escape without a low one after it"},
        {R"({"phone":{"":1}})", R"(phone: "" is not a valid key)"},
        {R"({"\udc00":1})", "not valid JSON at byte 2: a low surrogate escape without a high one before it"},
        {"{\"" + QByteArray(DataSets::Impl::kMaxKeyLength + 1, 'k') + "\":1}",
         "top level: \"" + QString(DataSets::Impl::kMaxKeyLength + 1, 'k') + "\" is not a valid key"},
        // Repeated keys, which the parser would fold away; an escape spells the same key.
        {R"({"phone":{"k":1,"k":2}})", "phone.k: key appears more than once"},
        {R"({"k":1,"\u006b":"x"})", "k: key appears more than once"},
        {R"({"s":"x\"y","o":{"a":[1,{}]},"k":1,"k":2})", "k: key appears more than once"},
        {R"({"a":[true,{"x":1},{"y":{"z":1,"z":1}}]})", "a.2.y.z: key appears more than once"},
        // Far deeper than any parser's own limit too: refused, never a crash.
        {QByteArray(deepest).replace("1", "{}"), path("a", DataSetCodec::kMaxDepth) + kTooDeep},
        {QByteArray(200000, '['), path("0", DataSetCodec::kMaxDepth) + kTooDeep},
        {jsonList(kSmall.maxEntries + 1), "top level: more than 1024 entries in one set"},
        // Too many entries in all: counted while reading.
        {chains + "]", "963" + QString(".0").repeated(12) + ": more than 16384 entries in all"},
    };
    for (const auto& [json, error] : cases) {
        SCOPED_TRACE(json.left(60).toStdString());
        expectRefused(DataSetCodec::fromJson(json, kSmall), error);
    }

    // Just within the limits, names repeated in other objects or inside text, brackets in text.
    for (const QByteArray& json :
         {QByteArray(R"({"phone":{"v":-2147483648,"w":2147483647}})"),
          QByteArray(R"({"a":{"k":1},"b":{"k":1},"k":"{\"k\":1,\"k\":2}","q\"":1,"q":1})"), deepest,
          "{\"a\":\"" + QByteArray(100, '[') + "\\\"\"}", jsonList(kSmall.maxEntries)})
        EXPECT_TRUE(DataSetCodec::fromJson(json, kSmall).ok()) << json.left(60).toStdString();
}

TEST(DataSetCodecDecode, RefusesCborThatIsMalformedOversizedOrHoldsWhatASetCannot)
{
    QByteArray repeated;
    QCborStreamWriter writer(&repeated);
    writer.startMap(1);
    writer.append(QLatin1String("phone"));
    writer.startMap(2);
    for (int value : {1, 2}) {
        writer.append(QLatin1String("k"));
        writer.append(value);
    }
    writer.endMap();
    writer.endMap();
    QCborArray lists;
    for (int i = 0; i * 1000 <= kSmall.maxTotalEntries; ++i)
        lists.append(QCborArray::fromVariantList(QVariantList(999, 0)));

    const std::pair<QByteArray, QString> cases[] = {
        {"[" + QByteArray(kSmall.maxBytes, ' ') + "]", kTooLarge},
        {QByteArray::fromHex("a0ff"), "unexpected data after the end, at byte 1"},
        {QByteArray::fromHex("a0a0"), "unexpected data after the end, at byte 1"},
        {QByteArray(), "not valid CBOR at byte 0: Unexpected end of input data (more bytes needed)"},
        {QCborValue(QStringLiteral("x")).toCbor(), "top level: text is not a data set"},
        // Truncated inside a nested text: the place is known.
        {QByteArray::fromHex("a1617aa16162656162"),
         "z.b: not valid CBOR at byte 6: Unexpected end of input data (more bytes needed)"},
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
        {QByteArray::fromHex("a1617aa1a001"), "z: a map key must be text, not a map"},
        {QByteArray::fromHex("a1617aa1c10001"), "z: a map key must be text, not a tagged value"},
        {QByteArray::fromHex("a1617aa1f501"), "z: a map key must be text, not a flag"},
        {QByteArray::fromHex("a1617aa1f601"), "z: a map key must be text, not null"},
        {QByteArray::fromHex("a1617aa1f701"), "z: a map key must be text, not undefined"},
        {QByteArray::fromHex("a1617aa1f001"), "z: a map key must be text, not simple value 16"},
        {QByteArray::fromHex("a1617aa1f93c0001"), "z: a map key must be text, not a floating-point number"},
        {QByteArray::fromHex("a1617aa16001"), R"(z: "" is not a valid key)"},
        // UTF-8 cannot hold a surrogate; Qt's reader refuses it.
        {QByteArray::fromHex("a1617a63eda080"),
         "z: not valid CBOR at byte 4: Invalid CBOR stream: invalid UTF-8 text string"},
        {repeated, "phone.k: key appears more than once"},
        {QByteArray(200000, char(0x81)), path("0", DataSetCodec::kMaxDepth) + kTooDeep},
        // An indefinite-length array reports its size only at the end.
        {"\x9f" + QByteArray(kSmall.maxEntries + 1, '\0') + "\xff",
         "top level: more than 1024 entries in one set"},
        {QCborValue(lists).toCbor(), "16: more than 16384 entries in all"},
        // Faulty heads, chunks and counts, named by their place (the codes Qt's reader gave).
        {QByteArray::fromHex("8201fc"), "0: not valid CBOR at byte 2: Invalid CBOR stream: unknown type"},
        {QByteArray::fromHex("826161fc"),
         "1: not valid CBOR at byte 3: Invalid CBOR stream: illegal number encoding (future extension)"},
        {QByteArray::fromHex("82f810"), "not valid CBOR at byte 1: Invalid CBOR stream: illegal simple type"},
        {QByteArray::fromHex("a1617a7f4161ff"),
         "z: not valid CBOR at byte 4: Invalid CBOR stream: illegal type found"},
        {QByteArray::fromHex("a1617a7f61c361a9ff"),
         "z: not valid CBOR at byte 5: Invalid CBOR stream: invalid UTF-8 text string"},
        {QByteArray::fromHex("a1617a7b7fffffffffffffff"),
         "z: not valid CBOR at byte 3: Internal limitation: data set too large"},
        {QByteArray::fromHex("bb0000000080000000"),
         "not valid CBOR at byte 9: Internal limitation: data set too large"},
        {QByteArray::fromHex("82011a00"),
         "0: not valid CBOR at byte 2: Unexpected end of input data (more bytes needed)"},
        {QByteArray::fromHex("bf617aff"),
         "z: not valid CBOR at byte 3: Invalid CBOR stream: unexpected 'break' byte"},
    };
    for (const auto& [cbor, error] : cases) {
        SCOPED_TRACE(cbor.left(30).toHex().toStdString());
        expectRefused(DataSetCodec::fromCbor(cbor, kSmall), error);
    }
    EXPECT_FALSE(DataSetCodec::fromCbor(QByteArray(200000, char(0xc6))).ok()) << "tags nested without end";
    EXPECT_TRUE(DataSetCodec::fromCbor(cborUnderPhone("v", qint64(INT_MIN))).ok());
    const QByteArray bom = QByteArray::fromHex("a1617a63efbbbf"); // text that starts with U+FEFF keeps it
    EXPECT_EQ(DataSetCodec::toCbor(DataSetCodec::fromCbor(bom).set).bytes, bom);
}

TEST(DataSetCodecDecode, AcceptsAnyLayoutOfTheSameContent)
{
    const DataSetCodec::DecodeResult spaced =
        DataSetCodec::fromJson(" {\n \"b\" : [ 1 , \"x\" ] ,\"a\":false}\n");
    const DataSetCodec::DecodeResult tight = DataSetCodec::fromJson(R"({"a":false,"b":[1,"x"]})");
    ASSERT_TRUE(spaced.ok() && tight.ok());
    EXPECT_TRUE(sameContent(spaced.set, tight.set));

    // JSON has one kind of number: any spelling of a whole 32-bit value is an integer.
    // Every escape reads back, hexadecimal digits in either case.
    const DataSetCodec::DecodeResult whole =
        DataSetCodec::fromJson(R"({"a":7.0,"b":7e0,"c":-0,"d":70E-1,"e":0.7e+1,"t":"\/\b\f\n\r\t\u00E9"})");
    ASSERT_TRUE(whole.ok()) << qPrintable(whole.error.toString());
    EXPECT_EQ(DataSetCodec::toJson(whole.set, QJsonDocument::Compact).bytes,
              QByteArray(R"({"a":7,"b":7,"c":0,"d":7,"e":7,"t":"/\b\f\n\r\t)"
                         "\xc3\xa9"
                         R"("})"));

    // Indefinite lengths and chunked text read the same, and write back canonically.
    const DataSetCodec::DecodeResult loose =
        DataSetCodec::fromCbor(QByteArray::fromHex("bf6162f5616c9f7f61786179ff07ffff"));
    ASSERT_TRUE(loose.ok()) << qPrintable(loose.error.toString());
    EXPECT_EQ(DataSetCodec::toCbor(loose.set).bytes.toHex(), QByteArray("a26162f5616c82627879"
                                                                        "07"));
}

// Random damage to valid encodings: refused with an error, or read as a set that
// encodes again.
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

// A session grown far past any provisioned size comes back whole through both forms.
TEST(DataSetCodecScale, GrownSessionComesBackWholeThroughBothForms)
{
    const DataSet settings = createDS(false);
    for (int i = 0; i < 100000; ++i)
        settings->set(QStringLiteral("chat/%1/choice").arg(i),
                      i % 2 ? DataSets::Impl::Value(i * 7919)
                            : DataSets::Impl::Value(setOf({{"w", i}, {"h", QString::number(i)}})));
    SessionData session;
    session.getAppSessionData().lock()->setData<DataSet, AppProperty::UserSettings>(settings);
    const DataSet plain = session.serializeUnencrypted();
    for (const Form& form : {kForms[1], kForms[2]}) {
        const DataSetCodec::DecodeResult back = form.decode(form.encode(plain).bytes);
        ASSERT_TRUE(back.ok()) << form.name << ": " << qPrintable(back.error.toString());
        SessionData restored;
        restored.deserializeUnencrypted(back.set);
        EXPECT_TRUE(sameContent(
            restored.getAppSessionData().lock()->getData<DataSet, AppProperty::UserSettings>(), settings))
            << form.name;
    }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SESSIONCONFIG_INSTRUMENTED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SESSIONCONFIG_INSTRUMENTED 1
#endif
#endif

// Hostile input costs at most 4x its size plus 32 MiB beyond the set it decodes to
// (256 bytes an entry), and refused input no more than 4x its size plus 32 MiB.
TEST(DataSetCodecScale, MemoryWhileDecodingHostileInputStaysBounded)
{
#ifdef SESSIONCONFIG_INSTRUMENTED
    GTEST_SKIP() << "sanitizers change what memory costs";
#endif
    constexpr qint64 kMiB = 1024 * 1024;
    constexpr int kFull = DataSetCodec::kMaxEntries;
    QByteArray repeated = "{";
    for (int i = 0; i < kFull / 2; ++i)
        repeated += "\"k" + QByteArray::number(i) + "\":0,";
    repeated += "\"k0\":1}";
    const QByteArray longText = "[\"" + QByteArray(16 * kMiB, 'a') + "\\x\"]";
    const QByteArray cborFull = QByteArray::fromHex("9a00100000") + QByteArray(kFull, '\0');
    const QByteArray cborOver = QByteArray::fromHex("9a00100001") + QByteArray(kFull + 1, '\0');

    struct Case
    {
        const char* what;
        QByteArray input;
        Decode decode;
        qint64 entries; // decoded, or -1 when refused
    };
    const Case cases[] = {
        {"JSON list at the entry limit", jsonList(kFull), &DataSetCodec::fromJson, kFull},
        {"JSON list one over the limit", jsonList(kFull + 1), &DataSetCodec::fromJson, -1},
        {"JSON object with its last key repeated", repeated, &DataSetCodec::fromJson, -1},
        {"JSON long text with a bad escape at its end", longText, &DataSetCodec::fromJson, -1},
        {"CBOR list at the entry limit", cborFull, &DataSetCodec::fromCbor, kFull},
        {"CBOR list one over the limit", cborOver, &DataSetCodec::fromCbor, -1},
    };
    for (const Case& c : cases) {
        const ChildPeak peak = peakInChild([&c] { return c.decode(c.input, Limits()).ok() ? 1LL : 0LL; });
        ASSERT_GE(peak.bytes, 0) << c.what;
        EXPECT_EQ(peak.result == 1, c.entries >= 0) << c.what;
        const qint64 bound = 4 * c.input.size() + 32 * kMiB + 256 * std::max<qint64>(c.entries, 0);
        EXPECT_LE(peak.bytes, bound) << c.what << ": " << peak.bytes / kMiB << " MiB at the peak";
    }
}
