// SPDX-License-Identifier: MIT
#pragma once

// The check shared by the stored-form decoders' fuzz targets: untrusted bytes either
// fail to decode with an error text, or give a set that encodes, decodes back to an
// equal set, and encodes again to the very same bytes.

#include "FuzzSupport.h"

#include <DataSetCodec.h>

#include <cstddef>
#include <cstdint>

namespace Fuzz {

template <class Decode, class Encode>
void checkStoredForm(const char* form, const uint8_t* data, size_t size, Decode decode, Encode encode)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const DataSets::DataSetCodec::DecodeResult first = decode(input);
    if (!first.ok()) {
        if (first.error.isEmpty())
            fail(QStringLiteral("%1: a failed decode without an error text").arg(QLatin1String(form)));
        return;
    }
    const DataSets::DataSetCodec::EncodeResult once = encode(first.set);
    if (!once.ok())
        fail(QStringLiteral("%1: a decoded set does not encode: %2\n%3")
                 .arg(QLatin1String(form), once.error.toString(), dump(first.set)));
    const DataSets::DataSetCodec::DecodeResult second = decode(once.bytes);
    if (!second.ok())
        fail(QStringLiteral("%1: its own encoding does not decode: %2\n%3")
                 .arg(QLatin1String(form), second.error.toString(), QString::fromLatin1(once.bytes.toHex())));
    QString where;
    if (!sameSet(first.set, second.set, &where))
        fail(QStringLiteral("%1: the set changed on the way through its encoding, at %2")
                 .arg(QLatin1String(form), where));
    const DataSets::DataSetCodec::EncodeResult twice = encode(second.set);
    if (!twice.ok() || twice.bytes != once.bytes)
        fail(QStringLiteral("%1: encoding again gives other bytes:\n%2\n%3")
                 .arg(QLatin1String(form), QString::fromLatin1(once.bytes.toHex()),
                      QString::fromLatin1(twice.bytes.toHex())));
}

} // namespace Fuzz
