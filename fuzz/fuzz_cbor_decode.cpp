// SPDX-License-Identifier: MIT
// The CBOR stored form read from untrusted bytes: never a crash, and what decodes
// encodes to bytes that decode to an equal set and encode to the same bytes again.
#include "StoredForm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using DataSets::DataSetCodec;
    Fuzz::checkStoredForm(
        "CBOR", data, size, [](const QByteArray& bytes) { return DataSetCodec::fromCbor(bytes); },
        [](const DataSets::DataSet& ds) { return DataSetCodec::toCbor(ds); });
    return 0;
}
