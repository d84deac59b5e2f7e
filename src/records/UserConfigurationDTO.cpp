#include <UserConfigurationDTO.h>

#include "../contract/StoredValues.h"

namespace {
const QString kUser = QStringLiteral("user");
const QString kAppKey = QStringLiteral("appKey");
const QString kWid = QStringLiteral("wid");
const QString kAvatar = QStringLiteral("avatar");
const QString kFirstName = QStringLiteral("firstName");
const QString kLastName = QStringLiteral("lastName");
const QString kMeetingRoom = QStringLiteral("meetingRoom");
const QString kDepartment = QStringLiteral("department");
const QString kUuid = QStringLiteral("uuid");
} // namespace

UserConfigurationDTO::~UserConfigurationDTO() = default;

bool UserConfigurationDTO::operator==(const UserConfigurationDTO& other) const
{
    return m_userName == other.m_userName && m_password == other.m_password && m_appKey == other.m_appKey &&
           m_wid == other.m_wid && m_avatar == other.m_avatar && m_company == other.m_company &&
           m_firstName == other.m_firstName && m_lastName == other.m_lastName &&
           m_meetingRoom == other.m_meetingRoom && m_department == other.m_department &&
           m_uuid == other.m_uuid;
}

// The stored entries, in the order they are written and read. The password and the
// company are held for the run only.
template <class Self, class F> void UserConfigurationDTO::forEachStoredField(Self& self, F&& f)
{
    f(kUser, self.m_userName);
    f(kAppKey, self.m_appKey);
    f(kWid, self.m_wid);
    f(kAvatar, self.m_avatar);
    f(kFirstName, self.m_firstName);
    f(kLastName, self.m_lastName);
    f(kMeetingRoom, self.m_meetingRoom);
    f(kDepartment, self.m_department);
    f(kUuid, self.m_uuid);
}

DataSets::DataSet UserConfigurationDTO::serializeEncrypted() const
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    forEachStoredField(
        *this, [&ds](const QString& key, const QString& value) { StoredValues::put(ds, key, value); });
    return ds;
}

void UserConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    // Straight into the fields: what the set lacks stays as it was.
    forEachStoredField(*this,
                       [&ds](const QString& key, QString& field) { StoredValues::take(ds, key, field); });
}

DataSets::DataSet UserConfigurationDTO::serializeUnencrypted() const
{
    return DataSets::Impl::createDS(false);
}

void UserConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet&) {}
