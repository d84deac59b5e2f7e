// SPDX-License-Identifier: MIT
// The JSON stored form read from untrusted bytes: never a crash, and what decodes
// encodes (compact and indented) to bytes that decode to an equal set and encode to
// the same bytes again.
#include "StoredForm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using DataSets::DataSetCodec;
    for (const QJsonDocument::JsonFormat format : {QJsonDocument::Compact, QJsonDocument::Indented}) {
        Fuzz::checkStoredForm(
            format == QJsonDocument::Compact ? "compact JSON" : "indented JSON", data, size,
            [](const QByteArray& bytes) { return DataSetCodec::fromJson(bytes); },
            [format](const DataSets::DataSet& ds) { return DataSetCodec::toJson(ds, format); });
    }
    return 0;
}
