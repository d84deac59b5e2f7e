// SPDX-License-Identifier: MIT
// The stored forms of a data set: round trips, the pinned layouts, and one refusal
// for each way of refusing, with its error text.
#include <AppRuntimeData.h>
#include <DataSetCodec.h>
#include <SessionData.h>

#include "DataSetTestUtils.h"
#include "PeakInChild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <random>
#include <type_traits>

using DataSets::DataSet;
using DataSets::DataSetCodec;
using DataSets::Impl::createDS;
using DataSets::Impl::setDataValue;
using DataSets::Impl::Value;

namespace {

using Limits = DataSetCodec::Limits;
using Decode = DataSetCodec::DecodeResult (*)(const QByteArray&, const Limits&);
constexpr int kDepth = DataSetCodec::kMaxDepth;

// The limits scaled down, so that every limit is reached with small inputs.
const Limits kSmall{32, 1 << 20, 1024, 16384};

struct Form
{
    const char* name;
    std::function<DataSetCodec::EncodeResult(const DataSet&, const Limits&)> encode;
    Decode decode;
};

// Indented JSON differs only in its layout, which the layout test pins.
const Form kForms[] = {
    {"JSON compact",
     [](const DataSet& ds, const Limits& l) { return DataSetCodec::toJson(ds, QJsonDocument::Compact, l); },
     &DataSetCodec::fromJson},
    {"CBOR", &DataSetCodec::toCbor, &DataSetCodec::fromCbor},
};

// Every kind of value and key: text needing escapes, surrogate pairs, U+FEFF first (kept,
// not taken for a byte-order mark), the longest key, extreme integers, empty sets, a number
// as text. No key starts at U+E000 or above: Qt's reader sorts those by code point.
DataSet everyKind()
{
    QString text(QChar(0xfeff)); // Qt's UCS-4 decoder would drop it as a byte-order mark
    for (const char32_t c : {U'"', U'\\', U'/', U'\0', U'\x1f', U'\x7f', U'\b', U'\f', U'\n', U'\r', U'\t',
                             U'\u00e9', U'\u2028', U'\uffff', U'\U0001F600', U'\U0010FFFF'})
        text += QString::fromUcs4(&c, 1);
    const DataSet list = createDS(true);
    for (const Value& v : {Value(text), Value(INT_MIN), Value(INT_MAX), Value(false),
                           Value(setOf({{"empty keyed", createDS(false)}, {"empty list", createDS(true)}}))})
        list->set(QString::number(list->size()), v);
    return setOf({{text.mid(1), text},
                  {QString(DataSets::Impl::kMaxKeyLength, QChar(0xe9)), -1},
                  {QString::fromUtf8("\U0001F600"), 2},
                  {"B", QString()},
                  {"b", QStringLiteral("1")},
                  {"list", list}});
}

// `depth` sets, each the only entry of the one above.
DataSet nested(int depth)
{
    DataSet ds = createDS(false);
    while (--depth > 0)
        ds = setOf({{"d", ds}});
    return ds;
}

// A refusal leaves no set or no bytes, and an error naming the place.
template <class Result> void expectRefused(const Result& r, const QString& error)
{
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.error.toString(), error);
    if constexpr (std::is_same_v<Result, DataSetCodec::EncodeResult>) {
        EXPECT_TRUE(r.bytes.isEmpty());
    }
}

// A list set of `n` zeros, as JSON.
QByteArray jsonList(int n)
{
    return "[0" + QByteArray(",0").repeated(n - 1) + ']';
}

const QString kTooDeep = QStringLiteral(": nesting deeper than 32 sets");

} // namespace

TEST(DataSetCodec, RoundTripKeepsEveryKindAndReencodesToTheSameBytes)
{
    for (const DataSet& ds : {everyKind(), nested(kDepth), createDS(true)}) {
        for (const Form& form : kForms) {
            const QByteArray bytes = form.encode(ds, {}).bytes;
            const DataSetCodec::DecodeResult back = form.decode(bytes, {});
            ASSERT_TRUE(back.ok()) << form.name << ": " << qPrintable(back.error.toString());
            EXPECT_TRUE(sameContent(ds, back.set)) << form.name;
            EXPECT_EQ(form.encode(back.set, {}).bytes, bytes) << form.name;
        }
    }
}

TEST(DataSetCodec, LayoutsArePinned)
{
    // JSON is laid out byte for byte as Qt lays it out: Qt reads ours and writes it back unchanged.
    for (const auto format : {QJsonDocument::Indented, QJsonDocument::Compact}) {
        const QByteArray ours = DataSetCodec::toJson(everyKind(), format).bytes;
        EXPECT_EQ(QJsonDocument::fromJson(ours).toJson(format), ours);
    }
    const DataSet list = createDS(true);
    setDataValue(*list, QStringLiteral("1"), 7); // filled out of order: written by position
    setDataValue(*list, QStringLiteral("0"), QStringLiteral("x"));
    const DataSet ds =
        setOf({{"t", QString::fromUtf8("\u00e9\U0001F600")}, {"l", list}, {"b", true}, {"i", -5}});
    EXPECT_EQ(DataSetCodec::toCbor(ds).bytes.toHex(),
              QByteArray("a4"
                         "6162f5"                // "b": true
                         "616924"                // "i": -5
                         "616c82617807"          // "l": ["x", 7]
                         "617466c3a9f09f9880")); // "t": "é😀"
}

// Large sets rank keys a few units at a time rather than whole: the order must still be
// QString's for keys that share long prefixes, end inside one another, or hold U+0000,
// U+FFFF and surrogate pairs.
TEST(DataSetCodec, LargeSetsKeepTheKeyOrder)
{
    const QString pieces[] = {"a",        "b", QChar(0), QChar(0xffff), QString::fromUtf8("\U0001F600"),
                              QChar(0xe9)};
    std::mt19937 rng(99);
    for (const int shared : {0, 3, 9, 40}) {
        const DataSet ds = createDS(false);
        QStringList keys;
        while (keys.size() < 3000) {
            QString key(shared, QChar(u'p'));
            for (auto n = rng() % 12; n > 0; --n)
                key += pieces[rng() % std::size(pieces)];
            if (!key.isEmpty() && setDataValue(*ds, key, 1) && ds->size() > keys.size())
                keys << key;
        }
        keys.sort();
        for (const Form& form : kForms) {
            const DataSet back = form.decode(form.encode(ds, {}).bytes, {}).set;
            EXPECT_EQ(keysOf(back), keys) << form.name << ", shared prefix " << shared;
        }
    }
}

TEST(DataSetCodecEncode, RefusesWhatCannotBeReadBackFaithfullyOrIsBeyondTheLimits)
{
    const DataSet gappy = createDS(true), lone = createDS(true);
    setDataValue(*gappy, QStringLiteral("1"), 3);
    setDataValue(*lone, QStringLiteral("0"), QString("a") + QChar(0xd83d));
    const auto decoded = [](const QByteArray& json) { return DataSetCodec::fromJson(json).set; };
    const QString unpaired = QStringLiteral(": text holds an unpaired surrogate, which UTF-8 cannot carry");
    const std::pair<DataSet, QString> cases[] = {
        {nullptr, "no data set to encode"},
        {setOf({{"a", setOf({{"l", gappy}})}}), "a.l: list set of 1 entries lacks position 0"},
        {setOf({{"t", QString(QChar(0xde00)) + QChar(0xd83d)}}), "t" + unpaired},
        {setOf({{"u", lone}}), "u.0" + unpaired},
        {setOf({{"d", nested(kDepth)}}), QStringList(kDepth, "d").join('.') + kTooDeep},
        {setOf({{"w", decoded(jsonList(1025))}}), "w: 1025 entries in one set, more than the limit of 1024"},
        {decoded('[' + (jsonList(1000) + ',').repeated(17).chopped(1) + ']'),
         "top level: 17017 entries in all, more than the limit of 16384"},
        // Over the byte limit (8 bytes over in both forms): the whole size is named, and no place.
        {setOf({{"t", QString(kSmall.maxBytes, u'a')}}),
         "the encoded form takes 1048584 bytes, more than the limit of 1048576"},
    };
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        for (const auto& [ds, error] : cases)
            expectRefused(form.encode(ds, kSmall), error);
    }
}

TEST(DataSetCodecDecode, RefusesJsonThatIsMalformedOversizedOrHoldsWhatASetCannot)
{
    const QByteArray deepest = QByteArray(R"({"a":)").repeated(kDepth) + '1' + QByteArray(kDepth, '}');
    // 1024 chains of 16 single-entry sets: 17 entries each, few commas.
    const QByteArray chain = QByteArray(16, '[') + '0' + QByteArray(16, ']');
    const QByteArray chains = '[' + (chain + ',').repeated(kSmall.maxEntries).chopped(1);

    const std::pair<QByteArray, QString> cases[] = {
        {"[" + QByteArray(kSmall.maxBytes, ' ') + "]",
         "input of 1048578 bytes is over the limit of 1048576 bytes"},
        {"{\"a\":", "not valid JSON at byte 5: expected a value"},
        {"{\"a\":1", "not valid JSON at byte 6: unterminated object"},
        {"{\"a\"", "not valid JSON at byte 4: unterminated object"},
        {"{} x", "not valid JSON at byte 3: data after the end of the document"},
        {"7", "not valid JSON at byte 0: expected an object or an array"},
        // Strictly RFC 8259.
        {"[\"a\tb\"]", "not valid JSON at byte 3: control character in a string"},
        {R"(["\x41"])", "not valid JSON at byte 2: unknown escape"},
        {R"(["\u12"])", "not valid JSON at byte 2: \\u must be followed by four hexadecimal digits"},
        {R"(["\u12G4"])", "not valid JSON at byte 2: \\u must be followed by four hexadecimal digits"},
        {"[2.]", "not valid JSON at byte 3: expected a digit after the decimal point"},
        {"[.5]", "not valid JSON at byte 1: expected a value"},
        {"[01]", "not valid JSON at byte 2: number with a leading zero"},
        {"[-]", "not valid JSON at byte 2: expected a digit"},
        {"[1e]", "not valid JSON at byte 3: expected a digit in the exponent"},
        {R"({"a":1,})", "not valid JSON at byte 7: expected a member name"},
        {"[tru]", "not valid JSON at byte 1: expected a value"},
        {"[1 2]", "not valid JSON at byte 3: expected ',' or ']'"},
        {R"({"a" 1})", "not valid JSON at byte 5: expected ':' after a member name"},
        {"[\"abc", "not valid JSON at byte 1: unterminated string"},
        {"[\"\xc0\x80\"]", "not valid JSON at byte 2: not valid UTF-8"},      // overlong
        {"[\"a\xed\xa0\x80\"]", "not valid JSON at byte 3: not valid UTF-8"}, // a surrogate
        {"[\"\xe4\xb8\x41\"]", "not valid JSON at byte 2: not valid UTF-8"},  // no continuation
        {R"({"v":2147483648})", "v: 2147483648 is not a 32-bit integer"},
        {R"({"v":1.5})", "v: 1.5 is not a 32-bit integer"},
        {R"({"v":1e400})", "v: 1e400 is not a 32-bit integer"},
        {R"({"a":["a",null]})", "a.1: null cannot be stored"},
        {R"({"t":"\ud800\u0041"})",
         "not valid JSON at byte 6: a high surrogate escape without a low one after it"},
        {R"({"\udc00":1})", "not valid JSON at byte 2: a low surrogate escape without a high one before it"},
        {"{\"" + QByteArray(DataSets::Impl::kMaxKeyLength + 1, 'k') + "\":1}",
         "top level: \"" + QString(DataSets::Impl::kMaxKeyLength + 1, 'k') + "\" is not a valid key"},
        // Repeated keys, which the parser would fold away; an escape spells the same key.
        {R"({"k":1,"\u006b":"x"})", "k: key appears more than once"},
        {R"({"s":"x\"y","o":{"a":[1,{}]},"k":1,"k":2})", "k: key appears more than once"},
        {R"({"a":[true,{"x":1},{"y":{"z":1,"z":1}}]})", "a.2.y.z: key appears more than once"},
        {QByteArray(deepest).replace("1", "{}"), QStringList(kDepth, "a").join('.') + kTooDeep},
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
    const std::pair<QByteArray, QString> cases[] = {
        {QByteArray::fromHex("a0a0"), "unexpected data after the end, at byte 1"},
        {QByteArray::fromHex("81ff"),
         "not valid CBOR at byte 1: Invalid CBOR stream: unexpected 'break' byte"},
        // A faulty head after a map's text value: the map reports it when asked for its next key.
        {QByteArray::fromHex("a2617a6178fc"),
         "not valid CBOR at byte 5: Invalid CBOR stream: illegal number encoding (future extension)"},
        {QByteArray(), "not valid CBOR at byte 0: Unexpected end of input data (more bytes needed)"},
        {QByteArray::fromHex("6178"), "top level: text is not a data set"},
        // Truncated inside a nested text: the place is known.
        {QByteArray::fromHex("a1617aa16162656162"),
         "z.b: not valid CBOR at byte 6: Unexpected end of input data (more bytes needed)"},
        {QByteArray::fromHex("a1617a1a80000000"), "z: 2147483648 is not a 32-bit integer"},
        {QByteArray::fromHex("a1617a3a80000000"), "z: -2147483649 is not a 32-bit integer"},
        // -2^64: Qt's own tree decoder reads this one as 0.
        {QByteArray::fromHex("a1617a3bffffffffffffffff"), "z: -18446744073709551616 is not a 32-bit integer"},
        {QByteArray::fromHex("a1617afb3ff8000000000000"), "z: floating-point number 1.5 cannot be stored"},
        {QByteArray::fromHex("a1617afa3fc00000"), "z: floating-point number 1.5 cannot be stored"},
        {QByteArray::fromHex("a1617af93c00"), "z: floating-point number 1 cannot be stored"},
        {QByteArray::fromHex("a1617af6"), "z: null cannot be stored"},
        {QByteArray::fromHex("a1617a43726177"), "z: a byte string cannot be stored"},
        {QByteArray::fromHex("a1617a81c105"), "z.0: a tagged value cannot be stored"},
        // Every kind of item named, as a map key.
        {QByteArray::fromHex("a1617aa10101"), "z: a map key must be text, not an integer"},
        {QByteArray::fromHex("a1617aa1800101"), "z: a map key must be text, not an array"},
        {QByteArray::fromHex("a1617aa1a001"), "z: a map key must be text, not a map"},
        {QByteArray::fromHex("a1617aa1f501"), "z: a map key must be text, not a flag"},
        {QByteArray::fromHex("a1617aa1f701"), "z: a map key must be text, not undefined"},
        {QByteArray::fromHex("a1617aa1f001"), "z: a map key must be text, not simple value 16"},
        {QByteArray::fromHex("a1617aa1f93c0001"), "z: a map key must be text, not a floating-point number"},
        {QByteArray::fromHex("a1617aa16001"), R"(z: "" is not a valid key)"},
        {QByteArray::fromHex("a16570686f6e65a2616b01616b02"), "phone.k: key appears more than once"},
        {QByteArray(200000, char(0x81)), QStringList(kDepth, "0").join('.') + kTooDeep},
        // An indefinite-length array reports its size only at the end.
        {"\x9f" + QByteArray(kSmall.maxEntries + 1, '\0') + "\xff",
         "top level: more than 1024 entries in one set"},
        {QByteArray::fromHex("9811") + (QByteArray::fromHex("9903e7") + QByteArray(999, '\0')).repeated(17),
         "16: more than 16384 entries in all"},
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
    EXPECT_TRUE(DataSetCodec::fromCbor(QByteArray::fromHex("a1617a3a7fffffff")).ok()) << "INT_MIN";
}

TEST(DataSetCodecDecode, AcceptsAnyLayoutOfTheSameContent)
{
    // Any whitespace; any spelling of a whole 32-bit number is an integer (JSON has one kind
    // of number); every escape, hexadecimal digits in either case.
    const DataSetCodec::DecodeResult json = DataSetCodec::fromJson(
        " {\r\n\t\"b\" : [ 7.0 , 7e0,-0 ,70E-1,0.7e+1 ] ,\"a\":\"\\/\\b\\f\\n\\r\\t\\u00E9\"}\n");
    ASSERT_TRUE(json.ok()) << qPrintable(json.error.toString());
    EXPECT_EQ(DataSetCodec::toJson(json.set, QJsonDocument::Compact).bytes,
              QByteArray(R"({"a":"/\b\f\n\r\t)"
                         "\xc3\xa9"
                         R"(","b":[7,7,0,7,7]})"));

    // Indefinite lengths and chunked text read the same, and write back canonically.
    const DataSetCodec::DecodeResult cbor =
        DataSetCodec::fromCbor(QByteArray::fromHex("bf6162f5616c9f7f61786179ff07ffff"));
    ASSERT_TRUE(cbor.ok()) << qPrintable(cbor.error.toString());
    EXPECT_EQ(DataSetCodec::toCbor(cbor.set).bytes.toHex(), QByteArray("a26162f5616c8262787907"));
}

// A session grown far past any provisioned size comes back whole through both forms.
TEST(DataSetCodecScale, GrownSessionComesBackWholeThroughBothForms)
{
    const DataSet settings = createDS(false);
    for (int i = 0; i < 100000; ++i)
        settings->set(QStringLiteral("chat/%1/choice").arg(i),
                      i % 2 ? Value(i * 7919) : Value(setOf({{"w", i}, {"h", QString::number(i)}})));
    SessionData session;
    session.getAppSessionData().lock()->setData<DataSet, AppProperty::UserSettings>(settings);
    const DataSet plain = session.serializeUnencrypted();
    for (const Form& form : kForms) {
        const DataSetCodec::DecodeResult back = form.decode(form.encode(plain, {}).bytes, {});
        ASSERT_TRUE(back.ok()) << form.name << ": " << qPrintable(back.error.toString());
        SessionData restored;
        restored.deserializeUnencrypted(back.set);
        // Every key found again in the grown set's index.
        EXPECT_TRUE(sameContent(
            restored.getAppSessionData().lock()->getData<DataSet, AppProperty::UserSettings>(), settings))
            << form.name;
    }
}

// Hostile input costs at most 4x its size plus 32 MiB beyond the set it decodes to
// (256 bytes an entry), and refused input no more than 4x its size plus 32 MiB.
TEST(DataSetCodecScale, MemoryWhileDecodingHostileInputStaysBounded)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) // the sanitizer builds use GCC
    GTEST_SKIP() << "sanitizers change what memory costs";
#endif
    constexpr qint64 kMiB = 1024 * 1024;
    constexpr int kFull = DataSetCodec::kMaxEntries;
    QByteArray repeated = "{";
    for (int i = 0; i < kFull / 2; ++i)
        repeated += "\"k" + QByteArray::number(i) + "\":0,";
    repeated += "\"k0\":1}";

    const struct
    {
        const char* what;
        QByteArray input;
        Decode decode;
        qint64 entries; // decoded, or -1 when refused
    } cases[] = {
        {"JSON list at the entry limit", jsonList(kFull), &DataSetCodec::fromJson, kFull},
        {"JSON object with its last key repeated", repeated, &DataSetCodec::fromJson, -1},
        {"JSON long text with a bad escape at its end", "[\"" + QByteArray(16 * kMiB, 'a') + "\\x\"]",
         &DataSetCodec::fromJson, -1},
        {"CBOR list at the entry limit", QByteArray::fromHex("9a00100000") + QByteArray(kFull, '\0'),
         &DataSetCodec::fromCbor, kFull},
        {"CBOR list one over the limit", QByteArray::fromHex("9a00100001") + QByteArray(kFull + 1, '\0'),
         &DataSetCodec::fromCbor, -1},
    };
    for (const auto& c : cases) {
        const ChildPeak peak = peakInChild([&c] { return c.decode(c.input, Limits()).ok() ? 1LL : 0LL; });
        ASSERT_GE(peak.bytes, 0) << c.what;
        EXPECT_EQ(peak.result == 1, c.entries >= 0) << c.what;
        const qint64 bound = 4 * c.input.size() + 32 * kMiB + 256 * std::max<qint64>(c.entries, 0);
        EXPECT_LE(peak.bytes, bound) << c.what << ": " << peak.bytes / kMiB << " MiB at the peak";
    }
}
