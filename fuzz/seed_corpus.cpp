// Writes the seed corpus: `seed_corpus <fuzz/corpus>` fills <fuzz/corpus>/<target>/
// with inputs that describe real stored sessions and a few deliberately wrong ones.
// Run it again after the stored layout changes and commit the result.
#include "FuzzSupport.h"

#include <DeskRuntimeData.h>

#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

using DataSets::DataSet;

DataSet keyed(std::initializer_list<std::pair<QString, DataSets::Impl::Value>> entries, bool list = false)
{
    DataSet ds = DataSets::Impl::createDS(list);
    for (const auto& [key, value] : entries)
        ds->set(key, value);
    return ds;
}

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

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString deserialize = root + QStringLiteral("/fuzz_deserialize");
    bool ok = true;

    DeskRuntimeData desk;
    desk.setData<bool, DeskProperty::Enabled>(true);
    desk.setData<QString, DeskProperty::Host>(QStringLiteral("desk.example.net"));
    const DataSet deskEncrypted = desk.serializeEncrypted();
    const DataSet deskPlain = desk.serializeUnencrypted();

    ok &= write(deserialize, QStringLiteral("empty"), QByteArray());
    ok &= write(deserialize, QStringLiteral("desk-record"), pair(deskEncrypted, deskPlain));
    ok &= write(
        deserialize, QStringLiteral("desk-in-session"),
        pair(keyed({{QStringLiteral("desk"), deskEncrypted}}), keyed({{QStringLiteral("desk"), deskPlain}})));
    // Known keys holding values of the wrong kind, and sets where values belong.
    ok &= write(deserialize, QStringLiteral("wrong-kinds"),
                pair(keyed({{QStringLiteral("enabled"), QStringLiteral("true")},
                            {QStringLiteral("desk"), 1},
                            {QStringLiteral("app"), keyed({}, true)}}),
                     keyed({{QStringLiteral("enabled"), keyed({{QStringLiteral("0"), true}}, true)},
                            {QStringLiteral("desk"), QStringLiteral("x")}})));

    std::printf("%s\n", ok ? "seeds written" : "could not write every seed");
    return ok ? 0 : 1;
}
