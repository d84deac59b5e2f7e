// SPDX-License-Identifier: MIT
#pragma once

// The platform secret store (Secret Service over D-Bus on Linux), asked through
// QtKeychain with a time limit: a daemon that never answers costs at most the limit.
//
// Entries live under the service "sessionconfig"; each is named by a key of text.
// Needs a QCoreApplication, and is asked on its thread: the jobs are asynchronous and
// run in a local event loop.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>

namespace QKeychain {
class Job;
}

namespace storage {

struct SecretAnswer
{
    enum State { Found, Missing, Unavailable };
    State state = Unavailable;
    QByteArray bytes;
    QString reason; // why the store could not be used (Unavailable)
};

class SecretStore
{
public:
    explicit SecretStore(std::chrono::milliseconds limit)
        : m_limit(limit)
    {}

    // Why this process cannot ask at all (no session bus, for example); empty when it can.
    static QString cannotAsk();

    // Whether the store can be used now, and whether it keeps what it is given.
    struct Probe
    {
        enum State {
            Keeps,       // answers, and its default collection is kept on disk
            ForgetsKeys, // answers, but its default collection lives in memory only
            Unavailable, // cannotAsk(), a locked collection, no answer in time
        };
        State state = Unavailable;
        QString reason; // why not Keeps
    };
    // Asks the store once.
    Probe probe();

    SecretAnswer read(const QString& key);
    // Empty when stored; otherwise why not.
    QString write(const QString& key, const QByteArray& bytes);
    // Empty when the entry is gone (or never was); otherwise why not.
    QString remove(const QString& key);

private:
    // Runs the job on `key`: empty when it finished without error (a missing entry
    // included), otherwise why not. A job given up on is released from `job`.
    QString ask(std::unique_ptr<QKeychain::Job>& job, const QString& key);

    std::chrono::milliseconds m_limit;
    // Set once the store failed to answer in time: QtKeychain runs its jobs one after
    // another, so every later job would wait behind the hung one.
    QString m_gaveUp;
};

} // namespace storage
