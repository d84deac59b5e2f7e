#include "CodecWalk.h"

#include <QHash>
#include <QLocale>

#include <cmath>

namespace DataSets {

QString DataSetCodec::Error::toString() const
{
    if (whole)
        return message;
    const QString where = path.isEmpty() ? QStringLiteral("top level") : path.join(QLatin1Char('.'));
    return where + QStringLiteral(": ") + message;
}

namespace Codec {

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

QString numberText(double d)
{
    if (d == std::trunc(d) && std::fabs(d) < 9223372036854775808.0)
        return QString::number(static_cast<qint64>(d));
    return QString::number(d, 'g', QLocale::FloatingPointShortest);
}

bool tooLarge(const QByteArray& input, const Limits& limits, Error& error)
{
    if (input.size() <= limits.maxBytes)
        return false;
    error.whole = true;
    error.message = QStringLiteral("input of %1 bytes is over the limit of %2 bytes")
                        .arg(input.size())
                        .arg(limits.maxBytes);
    return true;
}

bool Walk::fail(const QString& message, qint64 offset)
{
    if (m_error.isEmpty())
        m_error = Error{m_path, offset, message, false};
    return false;
}

bool Walk::failWhole(const QString& message, qint64 offset)
{
    if (m_error.isEmpty())
        m_error = Error{{}, offset, message, true};
    return false;
}

bool Walk::checkDepth(int depth)
{
    if (depth > m_limits.maxDepth)
        return fail(QStringLiteral("nesting deeper than %1 sets").arg(m_limits.maxDepth));
    return true;
}

void Decoder::startBuilding()
{
    m_build = true;
    m_total = 0;
    m_path.clear();
}

bool Decoder::countEntry(qsizetype inSet, qint64 offset)
{
    if (inSet >= m_limits.maxEntries)
        return fail(QStringLiteral("more than %1 entries in one set").arg(m_limits.maxEntries), offset);
    if (++m_total > m_limits.maxTotalEntries)
        return fail(QStringLiteral("more than %1 entries in all").arg(m_limits.maxTotalEntries), offset);
    return true;
}

bool Decoder::store(DataSetImpl* ds, const QString& key, Value value, qint64 offset)
{
    if (!ds || ds->add(key, std::move(value)))
        return true;
    // Keys were checked in the first pass, so a refusal means the key is there already.
    return fail(QStringLiteral("key appears more than once"), offset);
}

bool Decoder::checkKey(const QString& key, qint64 offset)
{
    static const DataSetImpl keyed(false);
    if (!Impl::isValidKey(keyed, key))
        return fail(QStringLiteral("%1 is not a valid key").arg(quoted(key)), offset);
    return true;
}

void Decoder::openKeyed()
{
    if (m_keyHashes.size() == m_openKeyed)
        m_keyHashes.emplace_back();
    m_keyHashes[m_openKeyed++].clear();
}

void Decoder::noteKey(const QString& key)
{
    std::vector<size_t>& hashes = m_keyHashes[m_openKeyed - 1];
    if (hashes.size() == hashes.capacity())
        hashes.reserve(hashes.size() + hashes.size() / 2 + 8);
    hashes.push_back(keyHash(key));
}

bool Decoder::closeKeyed(size_t& hash)
{
    std::vector<size_t>& hashes = m_keyHashes[--m_openKeyed];
    std::sort(hashes.begin(), hashes.end());
    const auto repeat = std::adjacent_find(hashes.begin(), hashes.end());
    if (repeat != hashes.end())
        hash = *repeat;
    const bool found = repeat != hashes.end();
    // A large set's hashes are not kept once it is closed.
    if (hashes.capacity() > 4096)
        std::vector<size_t>().swap(hashes);
    return found;
}

bool Decoder::isRepeat(const QString& key, std::vector<QString>& before) const
{
    if (std::find(before.begin(), before.end(), key) != before.end())
        return true;
    before.push_back(key);
    return false;
}

bool Decoder::failRepeat(const QString& key, qint64 offset)
{
    m_path.append(key);
    return fail(QStringLiteral("key appears more than once"), offset);
}

size_t Decoder::keyHash(const QString& key)
{
    return qHash(key, QHashSeed::globalSeed());
}

DataSetCodec::DecodeResult Decoder::result(bool ok, DataSet set) const
{
    if (!ok)
        return {nullptr, error()};
    return {std::move(set), {}};
}

} // namespace Codec
} // namespace DataSets
