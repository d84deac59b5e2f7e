#pragma once

// Test aid: flattens a data set, nested sets included, into its entries so that
// tests can say exactly what was written and look for values that must not be.

#include <DataSets.h>
#include <gtest/gtest.h>

#include <QString>

#include <initializer_list>
#include <ostream>
#include <utility>
#include <vector>

// Lets failure messages show text instead of raw bytes.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

struct WalkedEntry
{
    QString path; // keys joined with '/', e.g. "chat/jid"
    char kind;    // 't' text, 'b' flag, 'i' integer, 'n' nested set
    QString text; // the value as text (flags as "true"/"false"); empty for a nested set
};

inline void walkDataSet(const DataSets::DataSet& ds, const QString& prefix, std::vector<WalkedEntry>& out)
{
    DataSets::DataIterator it(ds);
    while (const DataSets::DataIterator* e = it.next()) {
        const QString key = e->getKey();
        const QString path = prefix.isEmpty() ? key : prefix + QLatin1Char('/') + key;
        const DataSets::Impl::DataSetImpl* set = e->getDataSet().get();
        QString text;
        bool flag = false;
        int number = 0;
        DataSets::DataSet nested;
        if (DataSets::Impl::getDataValue(set, key, text)) {
            out.push_back({path, 't', text});
        } else if (DataSets::Impl::getDataValue(set, key, flag)) {
            out.push_back({path, 'b', flag ? QStringLiteral("true") : QStringLiteral("false")});
        } else if (DataSets::Impl::getDataValue(set, key, number)) {
            out.push_back({path, 'i', QString::number(number)});
        } else if (DataSets::Impl::getDataValue(set, key, nested)) {
            out.push_back({path, 'n', QString()});
            walkDataSet(nested, path, out);
        } else {
            ADD_FAILURE() << "entry of no known kind at " << qPrintable(path);
        }
    }
}

inline std::vector<WalkedEntry> walkDataSet(const DataSets::DataSet& ds)
{
    std::vector<WalkedEntry> out;
    walkDataSet(ds, QString(), out);
    return out;
}

// Nests the given sets under their keys in one new set, as the session lays them out.
inline DataSets::DataSet nestSets(std::initializer_list<std::pair<QString, DataSets::DataSet>> parts)
{
    DataSets::DataSet top = DataSets::Impl::createDS(false);
    for (const auto& [key, part] : parts)
        DataSets::Impl::setDataValue(*top, key, part);
    return top;
}
