#include "StoredForm.h"

#include "Failure.h"

#include <QCborValue>
#include <QJsonArray>
#include <QJsonObject>

// Stand-in until the data-set component offers its own codec.
namespace sessionctl {

namespace {

[[noreturn]] void refuse(const QString& path, const QString& fault)
{
    throw Failure{ExitBadStoredFile, QStringLiteral("%1: %2").arg(path, fault)};
}

void fill(DataSets::Impl::DataSetImpl& ds, const QString& key, const QJsonValue& v, const QString& path)
{
    using namespace DataSets::Impl;
    bool ok = false;
    if (v.isString())
        ok = setDataValue(ds, key, v.toString());
    else if (v.isBool())
        ok = setDataValue(ds, key, v.toBool());
    else if (v.isDouble() && v.toDouble() == v.toInt())
        ok = setDataValue(ds, key, v.toInt());
    else if (v.isObject() || v.isArray())
        ok = setDataValue(ds, key, dataSetFromJson(v, path));
    if (!ok)
        refuse(path, QStringLiteral("entry \"%1\" cannot be stored in a data set").arg(key));
}

} // namespace

QJsonValue dataSetToJson(const DataSets::DataSet& ds)
{
    QJsonObject object;
    QJsonArray array;
    for (const auto& entry : ds->entries()) {
        QJsonValue v;
        if (const auto* s = std::get_if<QString>(&entry.value))
            v = *s;
        else if (const auto* b = std::get_if<bool>(&entry.value))
            v = *b;
        else if (const auto* i = std::get_if<int>(&entry.value))
            v = *i;
        else
            v = dataSetToJson(std::get<DataSets::DataSet>(entry.value));
        if (ds->isList())
            array.append(v);
        else
            object.insert(entry.key, v);
    }
    return ds->isList() ? QJsonValue(array) : QJsonValue(object);
}

DataSets::DataSet dataSetFromJson(const QJsonValue& json, const QString& path)
{
    if (json.isArray()) {
        auto ds = DataSets::Impl::createDS(true);
        const QJsonArray array = json.toArray();
        for (int i = 0; i < array.size(); ++i)
            fill(*ds, QString::number(i), array.at(i), path);
        return ds;
    }
    if (!json.isObject())
        refuse(path, QStringLiteral("holds no data set"));
    auto ds = DataSets::Impl::createDS(false);
    const QJsonObject object = json.toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        fill(*ds, it.key(), it.value(), path);
    return ds;
}

QByteArray dataSetToCbor(const DataSets::DataSet& ds)
{
    return QCborValue::fromJsonValue(dataSetToJson(ds)).toCbor();
}

DataSets::DataSet dataSetFromCbor(const QByteArray& cbor, const QString& path)
{
    QCborParserError error;
    const QCborValue v = QCborValue::fromCbor(cbor, &error);
    if (error.error != QCborError::NoError)
        refuse(path, QStringLiteral("holds no valid CBOR: %1").arg(error.errorString()));
    return dataSetFromJson(v.toJsonValue(), path);
}

} // namespace sessionctl
