// The CBOR stored form, written and read as a stream with Qt's QCborStreamWriter
// and QCborStreamReader: no QCborMap or QCborValue tree is built on either side.
#include "CodecWalk.h"

#include <QCborStreamReader>
#include <QCborStreamWriter>
#include <QIODevice>
#include <QLocale>

#include <climits>

namespace DataSets {

namespace {

using namespace Codec;

// Where the stream writer puts its bytes.
class CappedSink : public QIODevice
{
public:
    explicit CappedSink(qsizetype cap)
        : bytes(cap)
    {
        open(QIODevice::WriteOnly);
    }

    CappedBytes bytes;

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 len) override
    {
        bytes.add(data, len);
        return len;
    }
};

class CborWriter
{
public:
    explicit CborWriter(qsizetype cap)
        : m_sink(cap)
        , m_writer(&m_sink)
    {}

    void beginMap(qsizetype n) { m_writer.startMap(static_cast<quint64>(n)); }
    void beginArray(qsizetype n) { m_writer.startArray(static_cast<quint64>(n)); }
    void key(const QString& k) { m_writer.append(k); }
    void text(const QString& t) { m_writer.append(t); }
    void flag(bool b) { m_writer.append(b); }
    void integer(int i) { m_writer.append(static_cast<qint64>(i)); }
    // Both kinds of container have a definite length, so either end will do.
    void end() { m_writer.endMap(); }
    void discard() { m_sink.bytes.discard(); }
    qint64 size() const { return m_sink.bytes.total(); }
    QByteArray take() { return m_sink.bytes.take(); }

private:
    CappedSink m_sink;
    QCborStreamWriter m_writer;
};

class CborDecoder : public Decoder
{
public:
    CborDecoder(const QByteArray& cbor, const Limits& limits)
        : Decoder(limits)
        , m_input(cbor)
        , m_reader(cbor)
    {}

    DataSetCodec::DecodeResult decode()
    {
        if (!readerOk())
            return result(false, nullptr);
        if (!m_reader.isArray() && !m_reader.isMap()) {
            fail(QStringLiteral("%1 is not a data set").arg(kindOfItem()), 0);
            return result(false, nullptr);
        }
        if (!readEntries(nullptr, m_reader.isArray(), 1))
            return result(false, nullptr);
        if (m_reader.currentOffset() != m_input.size()) {
            const qint64 at = m_reader.currentOffset();
            return result(failWhole(QStringLiteral("unexpected data after the end, at byte %1").arg(at), at),
                          nullptr);
        }
        startBuilding();
        m_reader.reset();
        const DataSet top = Impl::createDS(m_reader.isArray());
        return result(readEntries(top.get(), top->isList(), 1), top);
    }

private:
    bool readerOk()
    {
        const QCborError e = m_reader.lastError();
        if (e == QCborError::NoError)
            return true;
        const qint64 at = m_reader.currentOffset();
        const QString what = QStringLiteral("not valid CBOR at byte %1: %2").arg(at).arg(e.toString());
        return atTop() ? failWhole(what, at) : fail(what, at);
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

    bool readText(QString& out) { return readTextFrom(m_reader, out) || readerOk(); }

    // False when the reader failed.
    static bool readTextFrom(QCborStreamReader& reader, QString& out)
    {
        out.clear();
        auto chunk = reader.readString();
        while (chunk.status == QCborStreamReader::Ok) {
            if (out.isEmpty())
                out = std::move(chunk.data);
            else
                out += chunk.data;
            chunk = reader.readString();
        }
        return chunk.status == QCborStreamReader::EndOfString;
    }

    // The map that opens at `open` has just closed: when two of its keys share a
    // hash, it is read again to find whether one key is really repeated.
    bool closed(qint64 open)
    {
        if (!closeKeyed())
            return true;
        QCborStreamReader again(QByteArray::fromRawData(m_input.constData() + open, m_input.size() - open));
        again.enterContainer();
        std::vector<QString> before;
        while (again.hasNext()) {
            const qint64 at = open + again.currentOffset();
            QString key;
            readTextFrom(again, key);
            if (isRepeat(key, before))
                return failRepeat(key, at);
            again.next(); // the value
        }
        return true;
    }

    // Reads the entries of the array or map at the reader into `ds` (null while checking).
    bool readEntries(DataSetImpl* ds, bool isList, int depth)
    {
        const qint64 open = m_reader.currentOffset();
        std::vector<Entry> built;
        std::vector<Entry>* const out = ds ? &built : nullptr;
        const qsizetype ordinal = openSet(out);
        const bool checkKeys = !m_build && !isList;
        if (checkKeys)
            openKeyed();
        if (!m_reader.enterContainer())
            return readerOk();
        qsizetype count = 0;
        while (m_reader.hasNext()) {
            const qint64 at = m_reader.currentOffset();
            if (!countEntry(count, at))
                return false;
            QString key;
            if (isList) {
                if (m_build)
                    key = positionKey(count);
            } else {
                if (!m_reader.isString())
                    return fail(QStringLiteral("a map key must be text, not %1").arg(kindOfItem()), at);
                if (!readText(key) || !checkKey(key, at))
                    return false;
                if (checkKeys)
                    noteKey(key);
            }
            if (isList)
                enter(count);
            else
                enter(key);
            ++count;
            if (!readValue(out, key, depth))
                return false;
            leave();
        }
        if (!readerOk())
            return false;
        m_reader.leaveContainer();
        return readerOk() && closeSet(ordinal, count, ds, built) && (!checkKeys || closed(open));
    }

    bool readValue(std::vector<Entry>* out, const QString& key, int depth)
    {
        const qint64 at = m_reader.currentOffset();
        switch (m_reader.type()) {
        case QCborStreamReader::UnsignedInteger: {
            const quint64 n = m_reader.toUnsignedInteger();
            if (n > quint64(INT_MAX))
                return fail(QString::number(n) + notInteger(), at);
            m_reader.next();
            return readerOk() && store(out, key, static_cast<int>(n), at);
        }
        case QCborStreamReader::NegativeInteger: {
            // The item holds n for the number -1 - n, which reaches down to -2^64.
            const quint64 n = quint64(m_reader.toNegativeInteger()) - 1;
            if (n > quint64(INT_MAX)) {
                const QString magnitude =
                    n == ULLONG_MAX ? QStringLiteral("18446744073709551616") : QString::number(n + 1);
                return fail(QLatin1Char('-') + magnitude + notInteger(), at);
            }
            m_reader.next();
            return readerOk() && store(out, key, static_cast<int>(-1 - static_cast<qint64>(n)), at);
        }
        case QCborStreamReader::String: {
            QString text;
            if (!readText(text))
                return false;
            if (!Impl::isWellFormedUtf16(text))
                return fail(QStringLiteral("text holds an unpaired surrogate"), at);
            return store(out, key, std::move(text), at);
        }
        case QCborStreamReader::Array:
        case QCborStreamReader::Map: {
            if (!checkDepth(depth + 1))
                return false;
            const bool isList = m_reader.isArray();
            const DataSet nested = m_build ? Impl::createDS(isList) : nullptr;
            return store(out, key, nested, at) && readEntries(nested.get(), isList, depth + 1);
        }
        case QCborStreamReader::SimpleType:
            if (m_reader.isBool()) {
                const bool flag = m_reader.toBool();
                m_reader.next();
                return readerOk() && store(out, key, flag, at);
            }
            break;
        case QCborStreamReader::Float16:
            return failFloat(double(m_reader.toFloat16()), at);
        case QCborStreamReader::Float:
            return failFloat(double(m_reader.toFloat()), at);
        case QCborStreamReader::Double:
            return failFloat(m_reader.toDouble(), at);
        case QCborStreamReader::Invalid:
            return readerOk() && fail(QStringLiteral("no value"), at);
        case QCborStreamReader::ByteArray:
        case QCborStreamReader::Tag:
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
    QCborStreamReader m_reader;
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
