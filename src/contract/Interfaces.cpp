// SPDX-License-Identifier: MIT
#include <IConfigurationResettable.h>
#include <IEncryptedSerializable.h>

// Out of line, so the interfaces' type information lives in this library only.
IEncryptedSerializable::~IEncryptedSerializable() = default;
IConfigurationResettable::~IConfigurationResettable() = default;
