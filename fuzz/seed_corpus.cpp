// SPDX-License-Identifier: MIT
// Writes the seed corpus: `seed_corpus <fuzz/corpus>` fills <fuzz/corpus>/<target>/
// with inputs that describe real stored sessions and deliberately wrong ones. Run it
// again after the stored layout changes and commit the result.
#include "FuzzSupport.h"
#include "Provisioning.h"

#include <DataSetCodec.h>
#include <SessionData.h>

#include <QDir>
#include <QFile>

#include <cstdio>
#include <functional>

namespace {

using DataSets::DataSet;
using DataSets::Impl::Value;

const QString kDomains[] = {QStringLiteral("app"), QStringLiteral("chat"), QStringLiteral("phone"),
                            QStringLiteral("user"), QStringLiteral("desk")};

bool write(const QString& dir, const QString& name, const QByteArray& bytes)
{
    QDir().mkpath(dir);
    QFile f(dir + u'/' + name);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// One input of fuzz_deserialize: the encrypted set, then the plain one. The bytes must
// read back as the very sets they describe.
QByteArray pair(const DataSet& encrypted, const DataSet& plain)
{
    const QByteArray bytes = Fuzz::describe(encrypted) + Fuzz::describe(plain);
    Fuzz::SetBuilder builder(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    QString where;
    if (!Fuzz::sameSet(builder.next(), encrypted, &where) || !Fuzz::sameSet(builder.next(), plain, &where))
        Fuzz::fail(QStringLiteral("a seed does not read back as its sets, at %1").arg(where));
    return bytes;
}

// Every known key with the value `make` gives for its position in the list.
DataSet everyKey(const std::function<Value(int)>& make)
{
    DataSet ds = DataSets::Impl::createDS();
    int i = 0;
    for (const QString& key : Fuzz::knownTexts())
        ds->set(key, make(i++));
    return ds;
}

// The same set under every domain's key, as a session would hold it.
DataSet inEveryDomain(const DataSet& part)
{
    DataSet ds = DataSets::Impl::createDS();
    for (const QString& key : kDomains)
        ds->set(key, part);
    return ds;
}

template <class Store> std::pair<DataSet, DataSet> provisionedSets()
{
    Store store;
    Provisioning::provision(store);
    return {store.serializeEncrypted(), store.serializeUnencrypted()};
}

template <class Store> QByteArray storeSeed()
{
    const auto [encrypted, plain] = provisionedSets<Store>();
    return pair(encrypted, plain);
}

// Inputs of the stored-form decoders: real sets in their stored forms, and texts at
// the edges of what a decoder must refuse or accept.
bool writeStoredForms(const QString& root, const std::vector<std::pair<QString, DataSet>>& sets)
{
    using DataSets::DataSetCodec;
    const QString json = root + QStringLiteral("/fuzz_json_decode");
    const QString cbor = root + QStringLiteral("/fuzz_cbor_decode");
    bool ok = true;
    for (const auto& [name, ds] : sets) {
        const DataSetCodec::EncodeResult j = DataSetCodec::toJson(ds, QJsonDocument::Compact);
        const DataSetCodec::EncodeResult c = DataSetCodec::toCbor(ds);
        if (!j.ok() || !c.ok())
            Fuzz::fail(QStringLiteral("%1 has no stored form: %2%3")
                           .arg(name, j.error.toString(), c.error.toString()));
        ok &= write(json, name, j.bytes);
        ok &= write(cbor, name, c.bytes);
    }
    const char* const jsonEdges[][2] = {
        {"indented", "{\n    \"a\": [\n        1,\n        true,\n        \"x\",\n        {}\n    ]\n}\n"},
        {"empty-list", "[]"},
        {"duplicate-key", "{\"a\":1,\"a\":2}"},
        {"whole-float", "{\"n\":7.0,\"m\":7e0}"},
        {"fraction", "{\"n\":7.5}"},
        {"huge-number", "{\"n\":1e400,\"m\":2147483648,\"k\":-2147483648}"},
        {"lone-surrogate", "{\"s\":\"\\ud800\"}"},
        {"surrogate-pair", "{\"\\ud83d\\ude00\":\"\\u00e9\\u6f22\"}"},
        {"empty-key", "{\"\":1}"},
        {"null", "{\"a\":null}"},
        {"trailing-data", "{} {}"},
        {"top-level-text", "\"x\""},
        {"deep", "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]"},
        {"many-commas", "[1,,,,,,,,,,,,,,,,,,,,,,2]"},
        {"unterminated", "{\"a\":[1,2"},
    };
    for (const auto& [name, text] : jsonEdges)
        ok &= write(json, QStringLiteral("edge-%1").arg(QLatin1String(name)), QByteArray(text));
    const std::pair<const char*, QByteArray> cborEdges[] = {
        {"empty-map", QByteArray::fromHex("a0")},
        {"empty-array", QByteArray::fromHex("80")},
        {"indefinite-map", QByteArray::fromHex("bf616101617a9f01f5ffff")},
        {"duplicate-key", QByteArray::fromHex("a2616101616102")},
        {"integer-key", QByteArray::fromHex("a10101")},
        {"byte-string", QByteArray::fromHex("a161614101")},
        {"tag", QByteArray::fromHex("a16161c001")},
        {"half-float", QByteArray::fromHex("a16161f93c00")},
        {"big-integer", QByteArray::fromHex("a161611b0000000100000000")},
        {"negative-edge", QByteArray::fromHex("a161613a7fffffff")},
        {"undefined-simple", QByteArray::fromHex("a26161f76162f0")},
        {"long-length", QByteArray::fromHex("7bffffffffffffffff")},
        {"trailing-data", QByteArray::fromHex("a0a0")},
    };
    for (const auto& [name, bytes] : cborEdges)
        ok &= write(cbor, QStringLiteral("edge-%1").arg(QLatin1String(name)), bytes);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString dir = root + QStringLiteral("/fuzz_deserialize");
    bool ok = true;

    ok &= write(dir, QStringLiteral("empty"), QByteArray());

    SessionData session;
    Provisioning::provision(session);
    ok &= write(dir, QStringLiteral("session-provisioned"),
                pair(session.serializeEncrypted(), session.serializeUnencrypted()));
    ok &= write(dir, QStringLiteral("session-default"),
                pair(SessionData().serializeEncrypted(), SessionData().serializeUnencrypted()));

    ok &= write(dir, QStringLiteral("store-app"), storeSeed<AppRuntimeData>());
    ok &= write(dir, QStringLiteral("store-callflow"), storeSeed<CallFlowRuntimeData>());
    ok &= write(dir, QStringLiteral("store-chat"), storeSeed<ChatRuntimeData>());
    ok &= write(dir, QStringLiteral("store-phone"), storeSeed<PhoneRuntimeData>());
    ok &= write(dir, QStringLiteral("store-user"), storeSeed<UserRuntimeData>());
    ok &= write(dir, QStringLiteral("store-desk"), storeSeed<DeskRuntimeData>());

    // Every known key holding each kind of value in turn, at the top and in every
    // domain's part: the read rules for absent, mistyped and edge values.
    const std::pair<const char*, std::function<Value(int)>> kinds[] = {
        {"texts", [](int i) { return Value(Fuzz::knownTexts()[size_t(i) % Fuzz::knownTexts().size()]); }},
        {"empty-texts", [](int) { return Value(QString()); }},
        {"flags", [](int i) { return Value(i % 2 == 0); }},
        {"integers",
         [](int i) {
             return Value(i % 3 == 0 ? -1 : i % 3 == 1 ? 0x7fffffff : int(0x80000000u));
         }},
        {"lists",
         [](int i) {
             DataSet list = DataSets::Impl::createDS(true);
             for (int n = 0; n < i % 4; ++n)
                 list->set(QString::number(n), Value(QStringLiteral("entry %1").arg(n)));
             return Value(list);
         }},
        {"keyed-sets", [](int) { return Value(DataSets::Impl::createDS()); }},
    };
    for (const auto& [name, make] : kinds) {
        const DataSet flat = everyKey(make);
        ok &= write(dir, QStringLiteral("all-keys-%1").arg(QLatin1String(name)),
                    pair(inEveryDomain(flat), inEveryDomain(flat)));
        ok &= write(dir, QStringLiteral("all-keys-flat-%1").arg(QLatin1String(name)), pair(flat, flat));
    }

    const auto phone = provisionedSets<PhoneRuntimeData>();
    const auto app = provisionedSets<AppRuntimeData>();
    ok &= writeStoredForms(root, {{QStringLiteral("session-encrypted"), session.serializeEncrypted()},
                                  {QStringLiteral("session-plain"), session.serializeUnencrypted()},
                                  {QStringLiteral("phone-plain"), phone.second},
                                  {QStringLiteral("app-plain"), app.second},
                                  {QStringLiteral("all-keys-texts"), everyKey(kinds[0].second)},
                                  {QStringLiteral("all-keys-integers"), everyKey(kinds[3].second)},
                                  {QStringLiteral("all-keys-lists"), everyKey(kinds[4].second)}});

    std::printf("%s\n", ok ? "seeds written" : "could not write every seed");
    return ok ? 0 : 1;
}
