// SPDX-License-Identifier: MIT
#pragma once

// The control channel between sessionctl and a running client (SessionControl): one
// request per connection, each message one line of JSON (RFC 8259) ended by '\n':
//
//   {"v":1,"verb":"set","assignments":[["phone.SipAccount","bob@sip.test"],...]}
//   {"v":1,"verb":"get"|"reset"|"watch","names":["phone.SipAccount",...]}
//
// answered with one line, and for watch with one more line per change after it:
//
//   {"v":1,"ok":true,"pid":1234,"properties":[...]}     (properties: get only)
//   {"v":1,"ok":false,"exit":1,"error":"phone.Licence: expected one of ..."}
//   {"v":1,"change":{...one property, as get shows it...}}
//
// Values are checked and applied by the same rules as on the stored files (Verbs.h),
// so a refusal reads the same on both paths; the password and tokens are shown as
// hidden and never sent. A request line is at most kMaxLineBytes.

#include "Failure.h"

#include <QByteArray>
#include <QJsonArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class SessionData;

namespace sessionctl::control {

inline constexpr int kVersion = 1;
inline constexpr qsizetype kMaxLineBytes = qsizetype(64) * 1024;
// The socket's name inside the state directory.
inline constexpr char kSocketName[] = "session.control";

enum class Verb { Get, Set, Reset, Watch };

struct Request
{
    Verb verb = Verb::Get;
    QStringList names;                          // get, reset, watch (empty: every property)
    QList<QPair<QString, QString>> assignments; // set: name and value as typed
};

// The request as one line, '\n' included.
QByteArray requestLine(const Request& request);

// Reads one request line `text` (without its '\n'). Throws Failure (bad command line) for
// anything that is not a request of this version, naming what is wrong.
Request readRequest(const QByteArray& text);

// Answers `request` against a running client's `session`, applying set and reset
// through the stores; the reply line, '\n' included. Refusals are replies: never throws.
QByteArray answer(SessionData& session, const Request& request, qint64 pid);

// A reply line that refuses, '\n' included.
QByteArray refusal(ExitCode code, const QString& message);

// The line that tells a watcher the value `name` now has in `session`.
QByteArray changeLine(const SessionData& session, const QString& name);

// A reply or change line as sessionctl reads it.
struct Reply
{
    bool ok = false;
    int exit = ExitIo; // when not ok
    QString error;     // when not ok
    qint64 pid = 0;
    QJsonArray properties; // get: the properties; a change: the one that changed
    bool change = false;   // a change line of watch
};

// Throws Failure (I/O) for a line that is no reply of this version.
Reply readReply(const QByteArray& text);

} // namespace sessionctl::control
