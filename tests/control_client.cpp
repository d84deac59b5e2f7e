// SPDX-License-Identifier: MIT
// A small client as a real one runs: it holds a state directory (key in a file: no
// secret store), restores it, stores changes through an autosave and answers
// sessionctl through a SessionControl until SIGTERM. Its own subscriber prints
// "heard DOMAIN.PROPERTY" for each change it hears; "ready PID" once it answers.
//
//   control_client STATE_DIR
#include "Domains.h"

#include <ChangeSubscription.h>
#include <SessionAutosave.h>
#include <SessionControl.h>
#include <SessionData.h>
#include <SessionStore.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

int quitPipe[2];

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: control_client STATE_DIR\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    SessionStore::Options options;
    options.keyStore = SessionStore::KeyStore::File;
    SessionStore store(argv[1], options);
    const SessionStore::Lock lock = store.lock();
    SessionData session;
    const SessionStore::Error error = lock.error() ? lock.error() : store.restore(lock, session).error;
    if (error) {
        std::fprintf(stderr, "control_client: %s\n", qPrintable(error.message));
        return 4;
    }
    SessionAutosave::Options often;
    often.delay = std::chrono::milliseconds(50);
    SessionAutosave autosave(store, lock, session, often);
    SessionControl control(store, lock, session);
    if (!control.isListening()) {
        std::fprintf(stderr, "control_client: %s\n", qPrintable(control.errorString()));
        return 4;
    }
    QObject context;
    std::vector<ChangeSubscription> subscriptions;
    sessionctl::forEachDomain([&](const auto& domain) {
        subscriptions.push_back(domain.of(session)->subscribe(&context, [name = domain.name](auto property) {
            std::printf("heard %s.%s\n", name, propertyName(property));
            std::fflush(stdout);
        }));
    });
    // SIGTERM ends the event loop, so that the destructors run: the autosave stores,
    // the control removes its socket.
    if (::pipe(quitPipe) != 0)
        return 4;
    std::signal(SIGTERM, [](int) { (void)!::write(quitPipe[1], "q", 1); });
    QSocketNotifier quit(quitPipe[0], QSocketNotifier::Read);
    QObject::connect(&quit, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::printf("ready %lld\n", static_cast<long long>(::getpid()));
    std::fflush(stdout);
    return app.exec();
}
