#pragma once

// The stored forms of a data set: JSON for the plain file, CBOR for the sealed one.

#include <DataSets.h>

#include <QByteArray>
#include <QJsonValue>

namespace sessionctl {

QJsonValue dataSetToJson(const DataSets::DataSet& ds);
// Throws Failure (bad stored file) naming `path` when the value is no data set.
DataSets::DataSet dataSetFromJson(const QJsonValue& json, const QString& path);

QByteArray dataSetToCbor(const DataSets::DataSet& ds);
DataSets::DataSet dataSetFromCbor(const QByteArray& cbor, const QString& path);

} // namespace sessionctl
