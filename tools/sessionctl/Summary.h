// SPDX-License-Identifier: MIT
#pragma once

// What sessionctl prints about a session: what came back from storage, a readable
// summary of the provisioned session, and a stored data set as an indented tree.
// None of it ever shows the password or a token.

#include <SessionStore.h>

#include <QHash>
#include <QTextStream>

class SessionData;

namespace sessionctl {

// The stored fields that a restore brought back, domain by domain.
void printRestored(QTextStream& out, const SessionStore::Restored& restored, const SessionData& session);

// Who is signed in, the current endpoint and its URLs, the call-flow URLs with their
// placeholders filled, and the other domains in brief.
void printSummary(QTextStream& out, const SessionData& session);

// A data set as an indented tree, one entry per line; entries whose key names a
// password or a token are shown as hidden. `names` gives the name of a stored number
// by its path ("phone/currentMode" -> "SoftPhoneMode"), shown beside it.
void printTree(QTextStream& out, const DataSets::DataSet& ds, const QHash<QString, QString>& names = {},
               int indent = 1, const QString& path = QString());

} // namespace sessionctl
