// SPDX-License-Identifier: MIT
#include "Provision.h"

#include "Domains.h"
#include "Profile.h"
#include "Watch.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace sessionctl {

void provision(SessionData& session, const Profile& profile, bool echo, QTextStream& out)
{
    ChangeWatch watch(session, echo ? &out : nullptr);
    out << "Provisioning " << profile.propertyCount() << " properties and " << profile.sectionCount()
        << " sections from " << profile.source << " on " << profile.domains.size() << " threads" << Qt::endl;

    std::mutex mutex;
    std::condition_variable finished;
    int running = static_cast<int>(profile.domains.size());
    std::exception_ptr failure;
    std::vector<std::thread> workers;
    for (const DomainProvisioning& domain : profile.domains) {
        workers.emplace_back([&, &domain = domain] {
            std::exception_ptr caught;
            try {
                domain.apply(session);
            } catch (...) {
                caught = std::current_exception();
            }
            const std::lock_guard<std::mutex> lock(mutex);
            if (caught && !failure)
                failure = caught;
            --running;
            finished.notify_one();
        });
    }

    const auto app = storeOf<AppRuntimeData>(session);
    const auto user = storeOf<UserRuntimeData>(session);
    const auto phone = storeOf<PhoneRuntimeData>(session);
    long reads = 0;
    bool alerted = false;
    for (bool done = false; !done;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            finished.wait_for(lock, std::chrono::microseconds(200), [&] { return running == 0; });
            done = running == 0;
        }
        // What a user interface shows while provisioning goes on.
        (void)user->getData<QString, UserProperty::UserName>();
        (void)phone->getData<QString, PhoneProperty::SipAccount>();
        (void)app->getData<QString, AppProperty::Version>();
        (void)session.isValidSession();
        reads += 4;
        watch.deliver();
        if (!alerted && session.isProvisioned()) {
            session.alertConfigurationReady();
            alerted = true;
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    if (failure)
        std::rethrow_exception(failure);

    watch.deliver(); // what the threads queued before they ended
    out << "Main thread read " << reads << " properties and received " << watch.received()
        << " changes while provisioning ran" << Qt::endl;
    if (!alerted) {
        QStringList missing;
        for (const SectionEntry& s : kSections) {
            bool listed = false;
            for (const auto& d : profile.domains)
                listed =
                    listed || std::find(d.sections.begin(), d.sections.end(), s.section) != d.sections.end();
            if (!listed)
                missing << QLatin1String(s.name);
        }
        out << "Configuration not ready: not provisioned: " << missing.join(QStringLiteral(", ")) << Qt::endl;
    }
}

} // namespace sessionctl
