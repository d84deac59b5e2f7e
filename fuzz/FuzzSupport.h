// SPDX-License-Identifier: MIT
#pragma once

// What the fuzz targets share: a reader that turns fuzz bytes into data sets, its
// inverse for writing seeds, and a deep comparison of sets.
//
// Byte layout read by SetBuilder (every read past the end yields 0, so any input is
// a valid description):
//
//   set    := header entry*           header: bit 0 list set, bits 1..7 entry count
//   entry  := key value
//   key    := 0x00..0x7F  Latin-1 text of that many bytes (0x00: the empty key)
//           | 0x80..0xBF  one more byte; a known key, by index into knownTexts()
//           | 0xC0..0xDF  UTF-16 text of (byte & 0x1F) units, two bytes each, any
//                         unit allowed (so unpaired surrogates too)
//           | 0xE0..0xFD  the position "0".."29"
//           | 0xFE        the position of a 4-byte number (may be past any limit)
//           | 0xFF        "01", a position that is not canonical
//   value  := tag, by tag % 8:
//             0 Latin-1 text: length byte, bytes     1 known text: index byte
//             2 flag: bit 3 of the tag               3 integer: one signed byte
//             4 integer: four bytes, little endian   5 nested set (depth-limited)
//             6 an earlier set of this input again: index byte (shares, or is
//               refused when it would make a cycle)
//             7 UTF-16 text: length byte, two bytes per unit
//
// Real keys come from knownTexts(): every stored key of the property tables and the
// session's keys, plus a few texts chosen for their edges.

#include <DataSets.h>

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Fuzz {

// Every stored key and a few edge texts, sorted.
const std::vector<QString>& knownTexts();

class SetBuilder
{
public:
    SetBuilder(const uint8_t* data, size_t size);

    // The next set described by the input; an exhausted input gives an empty keyed set.
    DataSets::DataSet next();
    bool atEnd() const { return m_size == 0; }

private:
    uint8_t byte();
    uint32_t word();
    QString latin1(int length);
    QString utf16(int length);
    QString key();
    void entry(const DataSets::DataSet& ds, int depth);
    DataSets::DataSet set(int depth);

    const uint8_t* m_data;
    size_t m_size;
    int m_budget;                           // entries left for this input
    std::vector<DataSets::DataSet> m_built; // for value kind 6
};

// The bytes that make SetBuilder::next() produce a set deeply equal to `ds`: keys and
// texts inline, sets shared within `ds` written out once per place. Meant for seeds:
// keys past 127 units (31 outside Latin-1), texts past 255 units and sets past 127
// entries are cut short.
QByteArray describe(const DataSets::DataSet& ds);

// Deep equality: same kind of set, same keys, and under each key a value of the same
// kind and content, nested sets compared the same way. Entry order does not count.
// On a difference, `where` (if given) receives the path and what differs.
bool sameSet(const DataSets::DataSet& a, const DataSets::DataSet& b, QString* where = nullptr);

// A readable dump of a set for failure messages.
QString dump(const DataSets::DataSet& ds);

// Prints the message and aborts, so both libFuzzer and the replay test see a failure.
[[noreturn]] void fail(const QString& message);

} // namespace Fuzz
