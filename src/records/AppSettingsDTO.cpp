#include <AppSettingsDTO.h>

#include "../contract/StoredValues.h"

namespace {

const QString kOptOutMessages = QStringLiteral("optOutMessages");
const QString kVersion = QStringLiteral("version");
const QString kMeetingURL = QStringLiteral("meetingURL");
const QString kOutlookImport = QStringLiteral("outlookImport");
const QString kUserSettings = QStringLiteral("userSettings");

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
    return DataSets::Impl::createDS(false);
}

void AppSettingsDTO::deserializeEncrypted(const DataSets::DataSet&) {}

DataSets::DataSet AppSettingsDTO::serializeUnencrypted() const
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    StoredValues::put(ds, kOptOutMessages, encodeList(m_optOutMessages));
    StoredValues::put(ds, kVersion, m_version);
    if (!m_meetingURL.isEmpty())
        StoredValues::put(ds, kMeetingURL, m_meetingURL);
    StoredValues::put(ds, kOutlookImport, m_enableOutlookImport);
    // Written always: a record whose user settings were set to a null handle
    // stores them as an empty set.
    StoredValues::put(ds, kUserSettings, m_userSettings ? m_userSettings : DataSets::Impl::createDS(false));
    return ds;
}

void AppSettingsDTO::deserializeUnencrypted(const DataSets::DataSet& ds)
{
    // The opt-out list and the version always come from the stored set (absent means
    // none); the others keep their value when the stored set lacks them.
    DataSets::DataSet list = DataSets::Impl::createDS(false);
    StoredValues::take(ds, kOptOutMessages, list);
    m_optOutMessages = decodeList(list);

    QString version;
    StoredValues::take(ds, kVersion, version);
    m_version = std::move(version);

    StoredValues::take(ds, kOutlookImport, m_enableOutlookImport);
    StoredValues::take(ds, kMeetingURL, m_meetingURL);
    StoredValues::take(ds, kUserSettings, m_userSettings);
}
