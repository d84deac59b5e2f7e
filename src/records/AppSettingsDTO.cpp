// SPDX-License-Identifier: MIT
#include <AppSettingsDTO.h>

#include "../contract/StoredValues.h"

namespace {

// The messages as a list set, in ascending order under "0", "1", ... A position the
// set refuses is skipped, not reused, so every message keeps its place.
DataSets::DataSet encodeList(const std::set<QString>& messages)
{
    DataSets::DataSet list = DataSets::Impl::createDS(true);
    int position = 0;
    for (const QString& message : messages)
        StoredValues::put(list, QString::number(position++), message);
    return list;
}

// Every text entry in the set's own order, up to the first entry that is not text.
// Key names are not examined: the set's ordering, not the keys, orders the messages.
std::set<QString> decodeList(const DataSets::DataSet& list)
{
    // One snapshot rather than a lookup per entry; stored lists are in ascending
    // order, so each message goes in at the end of the set without a search.
    std::set<QString> messages;
    for (DataSets::Impl::Entry& entry : list->entries()) {
        auto* message = std::get_if<QString>(&entry.value);
        if (!message)
            break;
        messages.emplace_hint(messages.end(), std::move(*message));
    }
    return messages;
}

} // namespace

namespace StoredValues {

// The opt-out messages as a nested list set. Read back, they always come from the
// stored set: absent means none.
template <> struct Rule<OptOutList, std::set<QString>>
{
    static void write(const DataSets::DataSet& ds, const QString& key, const std::set<QString>& value)
    {
        put(ds, key, encodeList(value));
    }
    static void read(const DataSets::DataSet& ds, const QString& key, std::set<QString>& target)
    {
        DataSets::DataSet list = DataSets::Impl::createDS(false);
        take(ds, key, list);
        target = decodeList(list);
    }
};

// Stored as it is, but read back always from the stored set: absent means none.
template <> struct Rule<Replace, QString>
{
    static void write(const DataSets::DataSet& ds, const QString& key, const QString& value)
    {
        put(ds, key, value);
    }
    static void read(const DataSets::DataSet& ds, const QString& key, QString& target)
    {
        QString value;
        take(ds, key, value);
        target = std::move(value);
    }
};

// Written only when there is one; read back like any text.
template <> struct Rule<NonEmpty, QString>
{
    static void write(const DataSets::DataSet& ds, const QString& key, const QString& value)
    {
        if (!value.isEmpty())
            put(ds, key, value);
    }
    static void read(const DataSets::DataSet& ds, const QString& key, QString& target)
    {
        take(ds, key, target);
    }
};

} // namespace StoredValues

AppSettingsDTO::~AppSettingsDTO() = default;

EndpointData AppSettingsDTO::getEndpoint() const
{
    return m_endpoints.getEndpoint(m_remoteType).value();
}

QString AppSettingsDTO::getAnalytics() const
{
    return getEndpoint().getAnalytics();
}

QString AppSettingsDTO::getWhatsNew() const
{
    return getEndpoint().getWhatsNew();
}

QString AppSettingsDTO::getPasswordReset() const
{
    return getEndpoint().getPasswordReset();
}

QString AppSettingsDTO::getDiscoverMobileOfferURL() const
{
    return getEndpoint().getDiscoverMobileOffer();
}

DataSets::DataSet AppSettingsDTO::serializeEncrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Encrypted>(*this);
}

void AppSettingsDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Encrypted>(*this, ds);
}

DataSets::DataSet AppSettingsDTO::serializeUnencrypted() const
{
    return StoredValues::writePart<SessionConfigDetail::StoredPart::Plain>(*this);
}

void AppSettingsDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    StoredValues::readPart<SessionConfigDetail::StoredPart::Plain>(*this, ds);
}
