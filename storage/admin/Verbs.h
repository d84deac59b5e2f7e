// SPDX-License-Identifier: MIT
#pragma once

// The admin's verbs on single properties, named "domain.Property" as the property
// tables name them ("phone.SipAccount"): list every property, read some, write or
// reset some. What each row says about storage (encrypted part, plain part or run
// only, and the key) comes from the tables, so the verbs never disagree with what
// is actually stored.
//
// Values are checked and taken as Values.h says; the password and tokens are never
// shown, stored or not.
//
// The locking and storing around get/set/reset is the command line's: these
// functions work on a session already restored (or read).

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <DataSets.h>
#include <PropertyTable.h>

class SessionData;

namespace sessionctl {

// Where the verbs read and write: the stored files (through a scratch session), or a
// running client's session (SessionControl), which also holds the properties kept for
// the run only: there they can be read and set, for as long as the client runs.
enum class Target { StoredFiles, RunningClient };

// Every property of every store, one line (text) or one object (JSON) each.
void listProperties(QTextStream& out, bool json);

// Throws Failure (bad command line) for a name no property has, with the nearest
// names suggested.
void checkNames(const QStringList& names);

// The named properties as `session` holds them, one object each, in the shape list
// prints, with "value" (and "valueNumber" for an enumeration) added; "hidden": true
// instead for a secret, and no value for a property that is not stored. Throws as
// checkNames does.
// A running client's properties held for the run only show their value too.
QJsonArray getProperties(const SessionData& session, const QStringList& names,
                         Target target = Target::StoredFiles);
// Every property stored in `part`, as getProperties shows it.
QJsonArray storedProperties(const SessionData& session, SessionConfigDetail::StoredPart part);
// The objects of getProperties as text, one line each, values as set takes them.
void printProperties(QTextStream& out, const QJsonArray& properties);

// Checks every name and reads every value before the first write, so that a
// refused assignment leaves the session as it was. Throws Failure (bad command
// line) for an unknown name, a property that is not stored (it would not
// survive; in a running client it is set for the run), cannot be set, or a value
// that is not of its type or would not read back as given.
void setProperties(SessionData& session, const QList<QPair<QString, QString>>& assignments,
                   Target target = Target::StoredFiles);
// Returns each named property to the value a fresh session holds; refused as set
// refuses.
void resetProperties(SessionData& session, const QStringList& names, Target target = Target::StoredFiles);

// The candidates nearest to `name` (at most three), for "did you mean" suggestions.
QStringList nearest(const QString& name, const QStringList& candidates);

} // namespace sessionctl
