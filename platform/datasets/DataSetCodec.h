#pragma once

// Stored forms of a data set: JSON for people to read and diff, CBOR for compact
// bytes. Both are written and read with Qt's own JSON and CBOR classes.
//
// What is kept. Everything a set can hold survives both forms unchanged: whether a
// set is keyed or a list, every key, and every value's kind and content (text, flag,
// 32-bit integer, nested set), empty text included, any Unicode in keys and text.
// Not kept: the insertion order of entries (keyed sets are written in key order,
// list sets in position order), and sharing: a set nested at two places is written
// twice and read back as two separate sets.
//
// The forms.
//   keyed set  -> JSON object / CBOR map, keys in ascending QString order (UTF-16
//                 code units), so the same set always gives the same bytes
//   list set   -> JSON array / CBOR array; the element at position i is the value
//                 under the key "i"
//   text       -> JSON string / CBOR text string (UTF-8)
//   flag       -> JSON true, false / CBOR true, false
//   integer    -> JSON number / CBOR integer
//   nested set -> the nested object, map or array
// The top level is a keyed or a list set. Encoding a set, decoding the bytes and
// encoding the result gives the same bytes again.
//
// Encoding refuses, with an error and no bytes:
// - a null set handle;
// - a list set whose keys are not exactly "0".."n-1" (a list set filled through
//   setDataValue may have gaps, for example only "0" and "2"): an array cannot
//   say which positions are missing, and writing it as a keyed set would lose
//   that it is a list;
// - text holding an unpaired surrogate, which UTF-8 cannot carry;
// - anything beyond the limits below, so that whatever is written can be read.
//
// Decoding takes its input as untrusted. It never crashes, recurses at most
// kMaxDepth deep, refuses input over kMaxInputBytes before parsing, and refuses
// anything a set cannot hold: null, undefined, floating-point numbers and integers
// outside 32 bits, duplicate keys, keys that isValidKey refuses, CBOR byte strings,
// tags and simple values, non-text CBOR map keys, text with unpaired surrogates, a
// top level that is not an object, map or array, and data after the top-level
// value. A JSON number counts as an integer when Qt's parser reads it as a whole
// number (so 7, 7.0 and 7e0 all read as 7; 7.5 does not). Any whitespace, member
// order and CBOR length encoding is accepted.
//
// Errors name the place, as the keys from the top level joined by dots (list
// positions as numbers), then what is wrong:
//   phone.ringToneVolume: 4294967296 is not a 32-bit integer
// An error at the top level itself starts with "top level". Errors about the
// input as a whole (its size, its syntax, data after the end, too many commas in
// JSON) give a byte offset instead where there is one:
//   not valid JSON at byte 5: unterminated object
// A failed decode gives no set at all; nothing half-built escapes.
//
// Limits. A set's entries are found by scanning them in turn, so a single set with
// thousands of entries costs quadratic time to fill; the entry limits keep the
// decoding of hostile input short. Stored sessions hold a few dozen entries.
// Qt's JSON parser builds whatever it is given, using many times the input's size
// in memory, so JSON text nested deeper than kMaxDepth, or holding more commas
// than kMaxTotalEntries, is refused before it is parsed. CBOR is read as a stream
// and stops at the first entry beyond a limit.
//
// Thread safety: encoding reads each set through one snapshot of its entries, so a
// set changed meanwhile on another thread is written as it stood at one moment;
// different sets are not read at one common moment.

#include "DataSets.h"
#include "datasets_export.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

namespace DataSets {

class DATASETS_EXPORT DataSetCodec
{
public:
    // Sets on the way from the top level down to the innermost set, both counted;
    // a top-level set without nested sets has depth 1.
    static constexpr int kMaxDepth = 32;
    // Largest input a decoder looks at, and largest output an encoder gives.
    static constexpr qsizetype kMaxInputBytes = 16 * 1024 * 1024;
    // Most entries in one set.
    static constexpr int kMaxEntries = 1024;
    // Most entries in all sets of one stored form together.
    static constexpr int kMaxTotalEntries = 16384;

    // Bytes, or an error text saying why there are none.
    struct EncodeResult
    {
        QByteArray bytes;
        QString error;
        bool ok() const { return error.isEmpty(); }
    };

    // A new set, or (set null) an error text saying where and why decoding failed.
    struct DecodeResult
    {
        DataSet set;
        QString error;
        bool ok() const { return set != nullptr; }
    };

    DataSetCodec() = delete;

    static EncodeResult toJson(const DataSet& ds, QJsonDocument::JsonFormat format = QJsonDocument::Indented);
    static EncodeResult toCbor(const DataSet& ds);

    static DecodeResult fromJson(const QByteArray& json);
    static DecodeResult fromCbor(const QByteArray& cbor);
};

} // namespace DataSets
