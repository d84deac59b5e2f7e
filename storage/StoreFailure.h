// SPDX-License-Identifier: MIT
#pragma once

// Inside the storage library a failure travels as an exception up to the public
// call, which hands it to the caller as a SessionStore::Error value.

#include "SessionStore.h"

#include <QString>

namespace storage {

struct StoreFailure
{
    SessionStore::ErrorKind kind;
    QString message;
};

[[noreturn]] inline void failIo(const QString& message)
{
    throw StoreFailure{SessionStore::ErrorKind::Io, message};
}

[[noreturn]] inline void failBadFile(const QString& message)
{
    throw StoreFailure{SessionStore::ErrorKind::BadStoredFile, message};
}

} // namespace storage
