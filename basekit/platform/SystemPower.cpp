// SystemPower.cpp - system sleep and wake notifications (none on Linux).
#include "basekit/platform/SystemPower.h"

#include <atomic>
#include <map>
#include <mutex>

namespace bkit::platform {

namespace {

struct Registration {
    void* reference;
    PowerCallback callback;
};

// Held while callbacks run, so that Deregister waits for a delivery in progress.
std::recursive_mutex& RegistryMutex()
{
    static std::recursive_mutex mutex;
    return mutex;
}

std::map<uint32_t, Registration>& Registry()
{
    static std::map<uint32_t, Registration> registry;
    return registry;
}

uint32_t sNextConnection = 1;
std::atomic<bool> sRegistrationFails{false};
std::atomic<uint32_t> sAllowCount{0};

}  // namespace

uint32_t RegisterForSystemPower(void* reference, PowerCallback callback)
{
    if (sRegistrationFails.load() || !callback)
        return 0;
    std::lock_guard<std::recursive_mutex> lock(RegistryMutex());
    uint32_t connection = sNextConnection++;
    Registry()[connection] = Registration{reference, callback};
    return connection;
}

void DeregisterForSystemPower(uint32_t connection)
{
    std::lock_guard<std::recursive_mutex> lock(RegistryMutex());
    Registry().erase(connection);
}

void AllowPowerChange(uint32_t, void*)
{
    sAllowCount.fetch_add(1);
}

void InjectPowerMessageForTest(uint32_t message, void* argument)
{
    std::lock_guard<std::recursive_mutex> lock(RegistryMutex());
    // A copy: a callback may deregister.
    std::map<uint32_t, Registration> copy = Registry();
    for (auto& entry : copy) {
        if (Registry().count(entry.first))
            entry.second.callback(entry.second.reference, entry.first, message, argument);
    }
}

void SetPowerRegistrationFailsForTest(bool fails)
{
    sRegistrationFails.store(fails);
}

uint32_t GetAllowPowerChangeCountForTest()
{
    return sAllowCount.load();
}

}  // namespace bkit::platform
