// SPDX-License-Identifier: MIT
// A client of the installed package: stores a desk setting and reads it back, hears
// of the change it makes, then keeps a session on disk across two "starts" with
// SessionStore, the first one stored by its autosave.
#include <ChangeSubscription.h>
#include <DataSets.h>
#include <DeskRuntimeData.h>
#include <Endpoints.h>
#include <SessionAutosave.h>
#include <SessionControl.h>
#include <SessionData.h>
#include <SessionStore.h>
#include <UserRuntimeData.h>

#include <QDir>

#include <cstdio>
#include <cstdlib>

namespace {

bool storedSessionComesBack()
{
    char dir[] = "/tmp/consumer-XXXXXX";
    if (!mkdtemp(dir))
        return false;
    {
        SessionStore store(QByteArray(dir) + "/state");
        const SessionStore::Lock lock = store.lock();
        SessionData session;
        if (lock.error() || store.restore(lock, session).error)
            return false;
        SessionAutosave autosave(store, lock, session); // its destructor stores the change
        session.getUserRuntimeData().lock()->setData<QString, UserProperty::UserName>(QStringLiteral("ada"));
    }
    SessionStore store(QByteArray(dir) + "/state");
    const SessionStore::Lock lock = store.lock();
    SessionData session;
    const SessionStore::Restored restored = store.restore(lock, session);
    const bool ok = !restored.error && restored.generation() == 1 &&
                    session.getUserRuntimeData().lock()->getData<QString, UserProperty::UserName>() ==
                        QStringLiteral("ada");
    QDir(QString::fromLocal8Bit(dir)).removeRecursively();
    return ok;
}

} // namespace

int main()
{
    DeskRuntimeData desk;
    int told = 0;
    ChangeSubscription sub = desk.subscribe([&told](DeskProperty p) { told += p == DeskProperty::Enabled; });
    desk.setData<bool, DeskProperty::Enabled>(true);
    sub.cancel();
    desk.setData<unsigned short, DeskProperty::Port>(65535);

    DeskRuntimeData restored;
    restored.deserializeEncrypted(desk.serializeEncrypted());

    const Endpoints directory{
        EndpointData(ResourcesDefs::RemoteType::Production, QStringLiteral("https://ws"), {}, {}, {}, {})};
    const bool ok = told == 1 && restored.getData<bool, DeskProperty::Enabled>() &&
                    restored.getData<unsigned short, DeskProperty::Port>() == 0 &&
                    directory.getProductionEndpoint().isProduction() &&
                    propertyName(DeskProperty::SIPDebugEnabled) == std::string_view("SIPDebugEnabled") &&
                    storedSessionComesBack();
    // The live control links from the installed library (it needs an event loop to run).
    bool (SessionControl::*volatile listening)() const = &SessionControl::isListening;
    (void)listening;
    std::printf("consumer %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
