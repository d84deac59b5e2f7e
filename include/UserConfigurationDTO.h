// SPDX-License-Identifier: MIT
#pragma once

// \file
// The user record, its property enumeration UserProperty and its property table
// (every column of every property: \ref user_properties).

#include "sessionconfig_export.h"

#include <IEncryptedSerializable.h>
#include <PropertyTable.h>

#include <QString>

#include <tuple>
#include <utility>
// The properties of the user store, by number. The numbers are part of the client's interface.
enum class UserProperty : int {
    UserName = 0,    // The signed-in user's name
    Password = 1,    // The user's password
    AppKey = 2,      // The application key of the user's sign-in
    WID = 3,         // The user's workspace identity
    Avatar = 4,      // The user's picture
    Company = 5,     // The user's company
    FirstName = 6,   // The user's first name
    LastName = 7,    // The user's last name
    MeetingRoom = 8, // The user's meeting room
    Department = 9,  // The user's department
    Uuid = 10,       // The user's unique identity
};

// Who is signed in: the account's credentials and the profile the client shows.
// The password and the company are held for the run only and never stored; every
// other field goes to the encrypted part, the plain part stays empty.
class SESSIONCONFIG_EXPORT UserConfigurationDTO : public IEncryptedSerializable
{
public:
    UserConfigurationDTO() = default;
    UserConfigurationDTO(const UserConfigurationDTO&) = default;
    UserConfigurationDTO& operator=(const UserConfigurationDTO&) = default;
    ~UserConfigurationDTO() override;

    // Plain accessors of the record's fields: a getter returns a copy, a setter
    // replaces the value. The record has no lock of its own: its store guards it.
    //@{
    QString getUserName() const { return m_userName; }
    void setUserName(QString userName) { m_userName = std::move(userName); }
    QString getPassword() const { return m_password; }
    void setPassword(QString password) { m_password = std::move(password); }
    QString getAppKey() const { return m_appKey; }
    void setAppKey(QString appKey) { m_appKey = std::move(appKey); }
    QString getWID() const { return m_wid; }
    void setWID(QString wid) { m_wid = std::move(wid); }
    QString getAvatar() const { return m_avatar; }
    void setAvatar(QString avatar) { m_avatar = std::move(avatar); }
    QString getCompany() const { return m_company; }
    void setCompany(QString company) { m_company = std::move(company); }
    QString getFirstName() const { return m_firstName; }
    void setFirstName(QString firstName) { m_firstName = std::move(firstName); }
    QString getLastName() const { return m_lastName; }
    void setLastName(QString lastName) { m_lastName = std::move(lastName); }
    QString getMeetingRoom() const { return m_meetingRoom; }
    void setMeetingRoom(QString meetingRoom) { m_meetingRoom = std::move(meetingRoom); }
    QString getDepartment() const { return m_department; }
    void setDepartment(QString department) { m_department = std::move(department); }
    QString getUuid() const { return m_uuid; }
    void setUuid(QString uuid) { m_uuid = std::move(uuid); }
    //@}

    // All eleven fields as exact text, password and company included; a null and an
    // empty string are equal.
    //@{
    bool operator==(const UserConfigurationDTO& other) const;
    bool operator!=(const UserConfigurationDTO& other) const { return !(*this == other); }
    //@}

    // The stored parts, row by row from properties(); empty texts are stored too.
    DataSets::DataSet serializeEncrypted() const override;
    void deserializeEncrypted(const DataSets::DataSet& ds) override;
    DataSets::DataSet serializeUnencrypted() const override;
    void deserializeUnencrypted(const DataSets::DataSet& ds) override;

    // The record's property table, one row per UserProperty: what each property reads, where it is
    // stored and under which key, what a reset does (the descriptors: PropertyTable.h).
    static constexpr auto properties();

private:
    QString m_userName;
    QString m_password;
    QString m_appKey;
    QString m_wid;
    QString m_avatar;
    QString m_company;
    QString m_firstName;
    QString m_lastName;
    QString m_meetingRoom;
    QString m_department;
    QString m_uuid;
};

constexpr auto UserConfigurationDTO::properties()
{
    using SessionConfigDetail::field;
    using R = UserConfigurationDTO;
    return std::make_tuple(
        field<UserProperty::UserName, QString>(&R::m_userName).encrypted("user"),
        field<UserProperty::Password, QString>(&R::m_password).runOnly().secret(),
        field<UserProperty::AppKey, QString>(&R::m_appKey).encrypted("appKey"),
        field<UserProperty::WID, QString>(&R::m_wid).encrypted("wid"),
        field<UserProperty::Avatar, QString>(&R::m_avatar).encrypted("avatar"),
        field<UserProperty::Company, QString>(&R::m_company).runOnly(),
        field<UserProperty::FirstName, QString>(&R::m_firstName).encrypted("firstName"),
        field<UserProperty::LastName, QString>(&R::m_lastName).encrypted("lastName"),
        field<UserProperty::MeetingRoom, QString>(&R::m_meetingRoom).encrypted("meetingRoom"),
        field<UserProperty::Department, QString>(&R::m_department).encrypted("department"),
        field<UserProperty::Uuid, QString>(&R::m_uuid).encrypted("uuid"));
}

template <> struct SessionConfigDetail::RecordOf<UserProperty>
{
    using type = UserConfigurationDTO;
};
