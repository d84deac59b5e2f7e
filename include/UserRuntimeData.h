// SPDX-License-Identifier: MIT
#pragma once

#include "sessionconfig_export.h"

#include <RuntimeStore.h>
#include <UserConfigurationDTO.h>

// The columns are explained in PropertyTable.h.
#define SESSIONCONFIG_USER_PROPERTIES(ROW, X)                                                        \
    ROW(X, UserName, 0, QString, FIELD, m_userName, ENCRYPTED, "user", KEEP, EQ, Plain)              \
    ROW(X, Password, 1, QString, FIELD, m_password, NONE, "", KEEP, EQ, Plain)                       \
    ROW(X, AppKey, 2, QString, FIELD, m_appKey, ENCRYPTED, "appKey", KEEP, EQ, Plain)                \
    ROW(X, WID, 3, QString, FIELD, m_wid, ENCRYPTED, "wid", KEEP, EQ, Plain)                         \
    ROW(X, Avatar, 4, QString, FIELD, m_avatar, ENCRYPTED, "avatar", KEEP, EQ, Plain)                \
    ROW(X, Company, 5, QString, FIELD, m_company, NONE, "", KEEP, EQ, Plain)                         \
    ROW(X, FirstName, 6, QString, FIELD, m_firstName, ENCRYPTED, "firstName", KEEP, EQ, Plain)       \
    ROW(X, LastName, 7, QString, FIELD, m_lastName, ENCRYPTED, "lastName", KEEP, EQ, Plain)          \
    ROW(X, MeetingRoom, 8, QString, FIELD, m_meetingRoom, ENCRYPTED, "meetingRoom", KEEP, EQ, Plain) \
    ROW(X, Department, 9, QString, FIELD, m_department, ENCRYPTED, "department", KEEP, EQ, Plain)    \
    ROW(X, Uuid, 10, QString, FIELD, m_uuid, ENCRYPTED, "uuid", KEEP, EQ, Plain)

SESSIONCONFIG_PROPERTY_ENUM(UserProperty, SESSIONCONFIG_USER_PROPERTIES)

// The session's thread-safe holder of the signed-in user.
class SESSIONCONFIG_EXPORT UserRuntimeData : public IConfigurationResettable, public IEncryptedSerializable
{
    SESSIONCONFIG_RUNTIME_STORE(UserConfigurationDTO, UserProperty)

public:
    UserRuntimeData();
    SESSIONCONFIG_COPYABLE_STORE(UserRuntimeData)
    ~UserRuntimeData() override;

    // A user is signed in when the user name, app key and WID are all non-empty.
    bool isValidSession() const;

    // A configuration reset keeps the signed-in user: nothing to do.
    void resetData() override;
    // Sign-out: every field, the password included, back to empty.
    void clear();
};

SESSIONCONFIG_STORE_PROPERTIES(UserRuntimeData, UserProperty, SESSIONCONFIG_USER_PROPERTIES)
