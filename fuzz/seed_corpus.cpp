// Writes the seed corpus: `seed_corpus <fuzz/corpus>` fills <fuzz/corpus>/<target>/
// with inputs that describe real stored sessions and deliberately wrong ones. Run it
// again after the stored layout changes and commit the result.
#include "../bench/Provisioning.h"
#include "FuzzSupport.h"

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

template <class Store> QByteArray storeSeed()
{
    Store store;
    Provisioning::provision(store);
    return pair(store.serializeEncrypted(), store.serializeUnencrypted());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/fuzz_deserialize");
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

    std::printf("%s\n", ok ? "seeds written" : "could not write every seed");
    return ok ? 0 : 1;
}
