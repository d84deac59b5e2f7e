// SPDX-License-Identifier: MIT
#pragma once

// The admin's verbs on single properties, named "domain.Property" as the property
// tables name them ("phone.SipAccount"): list every property, read some, write or
// reset some. What each row says about storage (encrypted part, plain part or run
// only, and the key) comes from the tables, so the verbs never disagree with what
// is actually stored.
//
// Values are JSON, read by the same readers as the provisioning profile (see
// ProfileValues.h). The password and tokens are never shown, stored or not.
//
// The locking and storing around get/set/reset is the command line's: these
// functions work on a session already restored under the state lock.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <DataSets.h>

class SessionData;

namespace sessionctl {

// Every property of every store, one line (text) or one object (JSON) each.
void listProperties(QTextStream& out, bool json);

// The named properties as `session` holds them, one object each:
//   {"name", "type", "stored": "encrypted"|"plain"|"none", "key", "value"}
// with "value" left out for a property that is not stored and replaced by
// "hidden": true for the password and tokens. Throws Failure (bad command line)
// for an unknown name, with the nearest names suggested.
QJsonArray getProperties(const SessionData& session, const QStringList& names);
// The objects of getProperties as text, one line each.
void printProperties(QTextStream& out, const QJsonArray& properties);

// Checks every name and reads every value before the first write, so that a
// refused assignment leaves the session as it was. Throws Failure (bad command
// line) for an unknown name, a property that is not stored (it would not
// survive), cannot be set, or a value its reader refuses. A value that is not
// JSON is taken as text for a text property.
void setProperties(SessionData& session, const QList<QPair<QString, QByteArray>>& assignments);
// Returns each named stored property to the value a fresh session holds; refused
// as set refuses.
void resetProperties(SessionData& session, const QStringList& names);

// A data set as JSON (its stored form), entries naming a password or a token hidden.
QJsonValue dataSetJson(const DataSets::DataSet& ds);

} // namespace sessionctl
