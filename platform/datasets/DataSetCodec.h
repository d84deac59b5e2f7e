// SPDX-License-Identifier: MIT
#pragma once

// Stored forms of a data set: JSON for people to read and diff, CBOR for compact
// bytes. Both are written and read as streams, straight between the set and the
// bytes, in time linear in entries and bytes.
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
// encoding the result gives the same bytes again. JSON is laid out as QJsonDocument
// lays it out (Indented or Compact), CBOR with definite lengths and the shortest
// heads, as QCborValue writes it.
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
// maxDepth deep, refuses input over maxBytes before reading it, and refuses
// anything a set cannot hold: null, undefined, floating-point numbers and integers
// outside 32 bits, duplicate keys, keys that isValidKey refuses, CBOR byte strings,
// tags and simple values, non-text CBOR map keys, text with unpaired surrogates, a
// top level that is not an object, map or array, and data after the top-level
// value. JSON is read strictly by RFC 8259: no bare control characters in strings,
// only the escapes it lists, no lone surrogate escape, no leading zeros, no "2." or
// ".5", no comments or trailing commas, well-formed UTF-8 only. A JSON number counts
// as an integer when it is a whole number within 32 bits, however it is spelled
// (7, 7.0 and 7e0 all read as 7; 7.5 does not). Any whitespace, member order and
// CBOR length encoding is accepted.
//
// Errors are data (Error): the place as the keys from the top level down (list
// positions as numbers), the byte offset in the input where there is one, and
// what is wrong. toString() gives one line:
//   phone.ringToneVolume: 4294967296 is not a 32-bit integer
// An error at the top level itself starts with "top level". Errors about the
// input as a whole (its size, its syntax, data after the end) carry no place:
//   not valid JSON at byte 5: unterminated object
// A failed decode gives no set at all; nothing half-built escapes.
//
// Limits (Limits; the defaults sit far above what a client stores): at most
// maxEntries entries in one set (the list-length limit, 2^20), maxTotalEntries in
// all sets of one stored form (2^22), maxBytes of input or output (64 MiB), and
// maxDepth sets from the top down. The encoder checks every limit the decoder
// applies, so whatever it writes reads back; over a limit its error names the set,
// the limit and the count. Decoding stops at the first entry beyond a limit.
// Decoding reads the input twice: first to check all of it, building nothing,
// then to build the set. Memory while decoding stays within 4x the input plus
// 32 MiB beside the decoded set itself (about 140 bytes an entry), and an input
// that is refused costs no more than 4x the input plus 32 MiB (BENCHMARKS.md).
//
// Thread safety: encoding reads each set under its shared lock, held until the set
// and everything nested in it are written, so a set changed meanwhile on another
// thread is written as it stood at one moment (a store into it waits for the
// encode). Sets written one after another are not read at one common moment.

#include "DataSets.h"
#include "datasets_export.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

namespace DataSets {

// How much a stored form may hold; see DataSetCodec.
struct DataSetCodecLimits
{
    // Sets on the way from the top level down to the innermost set, both counted;
    // a top-level set without nested sets has depth 1.
    int maxDepth = 32;
    // Largest input a decoder reads, and largest output an encoder gives.
    qsizetype maxBytes = qsizetype{64} * 1024 * 1024;
    // Most entries in one set.
    qsizetype maxEntries = Impl::kMaxListLength;
    // Most entries in all sets of one stored form together.
    qsizetype maxTotalEntries = qsizetype(1) << 22;
};

// The stored forms of a data set, JSON and CBOR: writing them and reading them back
// strictly, within limits. Stateless: every function may be called from any thread.
class DATASETS_EXPORT DataSetCodec
{
public:
    // The limits a call works within.
    using Limits = DataSetCodecLimits;
    // The default limits.
    //@{
    static constexpr int kMaxDepth = 32;
    static constexpr qsizetype kMaxInputBytes = qsizetype{64} * 1024 * 1024;
    static constexpr qsizetype kMaxEntries = Impl::kMaxListLength;
    static constexpr qsizetype kMaxTotalEntries = qsizetype(1) << 22;
    //@}

    // Why a stored form could not be written or read.
    struct DATASETS_EXPORT Error
    {
        // Keys from the top level down to the place; empty for the top level itself
        // and for errors about the input or output as a whole.
        QStringList path;
        // Where in the input the fault lies, or -1 (encoding, input as a whole).
        qint64 offset = -1;
        // What is wrong; empty when nothing is.
        QString message;
        // True when the error is about the input or output as a whole, not a place.
        bool whole = false;

        // True when there is no error.
        bool isEmpty() const { return message.isEmpty(); }
        // "phone.v: message", "top level: message", or the message alone.
        QString toString() const;
    };

    // Bytes, or an error saying why there are none.
    struct EncodeResult
    {
        QByteArray bytes; // the stored form
        Error error;      // why there are no bytes
        // True when the bytes were written.
        bool ok() const { return error.isEmpty(); }
    };

    // A new set, or (set null) an error saying where and why decoding failed.
    struct DecodeResult
    {
        DataSet set; // the set read, or null
        Error error; // why there is no set
        // True when a set was read.
        bool ok() const { return set != nullptr; }
    };

    DataSetCodec() = delete;

    // The set's JSON or CBOR form.
    //@{
    static EncodeResult toJson(const DataSet& ds, QJsonDocument::JsonFormat format = QJsonDocument::Indented,
                               const Limits& limits = Limits());
    static EncodeResult toCbor(const DataSet& ds, const Limits& limits = Limits());
    //@}

    // A new set read strictly from its JSON (RFC 8259) or CBOR (RFC 8949) form; the
    // error names the place of the first fault.
    //@{
    static DecodeResult fromJson(const QByteArray& json, const Limits& limits = Limits());
    static DecodeResult fromCbor(const QByteArray& cbor, const Limits& limits = Limits());
    //@}
};

} // namespace DataSets
