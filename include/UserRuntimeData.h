#pragma once

#include "sessionconfig_export.h"

#include <RuntimeStore.h>
#include <UserConfigurationDTO.h>

// enumerator, number, value type, kind, record field
#define USER_PROPERTIES(ROW, X)                           \
    ROW(X, UserName, 0, QString, FIELD, m_userName)       \
    ROW(X, Password, 1, QString, FIELD, m_password)       \
    ROW(X, AppKey, 2, QString, FIELD, m_appKey)           \
    ROW(X, WID, 3, QString, FIELD, m_wid)                 \
    ROW(X, Avatar, 4, QString, FIELD, m_avatar)           \
    ROW(X, Company, 5, QString, FIELD, m_company)         \
    ROW(X, FirstName, 6, QString, FIELD, m_firstName)     \
    ROW(X, LastName, 7, QString, FIELD, m_lastName)       \
    ROW(X, MeetingRoom, 8, QString, FIELD, m_meetingRoom) \
    ROW(X, Department, 9, QString, FIELD, m_department)   \
    ROW(X, Uuid, 10, QString, FIELD, m_uuid)

SESSIONCONFIG_PROPERTY_ENUM(UserProperty, USER_PROPERTIES)

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

SESSIONCONFIG_STORE_PROPERTIES(UserRuntimeData, UserProperty, USER_PROPERTIES)
