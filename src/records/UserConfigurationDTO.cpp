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

DataSets::DataSet UserConfigurationDTO::serializeEncrypted() const
{
    DataSets::DataSet ds = DataSets::Impl::createDS(false);
    StoredValues::put(ds, kUser, m_userName);
    StoredValues::put(ds, kAppKey, m_appKey);
    StoredValues::put(ds, kWid, m_wid);
    StoredValues::put(ds, kAvatar, m_avatar);
    StoredValues::put(ds, kFirstName, m_firstName);
    StoredValues::put(ds, kLastName, m_lastName);
    StoredValues::put(ds, kMeetingRoom, m_meetingRoom);
    StoredValues::put(ds, kDepartment, m_department);
    StoredValues::put(ds, kUuid, m_uuid);
    return ds;
}

void UserConfigurationDTO::deserializeEncrypted(const DataSets::DataSet& ds)
{
    // Straight into the fields: what the set lacks stays as it was.
    StoredValues::take(ds, kUser, m_userName);
    StoredValues::take(ds, kAppKey, m_appKey);
    StoredValues::take(ds, kWid, m_wid);
    StoredValues::take(ds, kAvatar, m_avatar);
    StoredValues::take(ds, kFirstName, m_firstName);
    StoredValues::take(ds, kLastName, m_lastName);
    StoredValues::take(ds, kMeetingRoom, m_meetingRoom);
    StoredValues::take(ds, kDepartment, m_department);
    StoredValues::take(ds, kUuid, m_uuid);
}

DataSets::DataSet UserConfigurationDTO::serializeUnencrypted() const
{
    return DataSets::Impl::createDS(false);
}

void UserConfigurationDTO::deserializeUnencrypted(const DataSets::DataSet&) {}
