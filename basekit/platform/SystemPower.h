// SystemPower.h - system sleep and wake notifications, in place of IOKit's
// power-management registration.
//
// This file defines the stand-in for registering a callback for the system's
// power messages, acknowledging them and deregistering. A plain Linux process
// is told nothing when the machine sleeps or wakes: registration succeeds and
// nothing is ever delivered. Shortfalls: no run loop receives the messages; a
// test injects them (InjectForTest), and they are delivered synchronously on
// the injecting thread to every registration. AllowPowerChange has nothing to
// acknowledge and does nothing.
// Thread-safety: every function may be called from any thread; a callback is
// never called after its Deregister returned.
#pragma once

#include <cstdint>

namespace bkit::platform {

// The messages of the power callback.
constexpr uint32_t kPowerMessageCanSystemSleep = 0xE0000270;
constexpr uint32_t kPowerMessageSystemWillSleep = 0xE0000280;
constexpr uint32_t kPowerMessageSystemHasPoweredOn = 0xE0000300;

// (reference given at registration, service, message, argument)
using PowerCallback = void (*)(void* reference, uint32_t service, uint32_t message, void* argument);

// Registers callback; answers the connection (never 0 on success), 0 when the
// seam makes registration fail.
uint32_t RegisterForSystemPower(void* reference, PowerCallback callback);
void DeregisterForSystemPower(uint32_t connection);
void AllowPowerChange(uint32_t connection, void* argument);

// --- test seams ---
// Delivers message to every registration, on the calling thread.
void InjectPowerMessageForTest(uint32_t message, void* argument);
// Makes the next registrations fail (true) or succeed again (false).
void SetPowerRegistrationFailsForTest(bool fails);
// Number of AllowPowerChange calls so far.
uint32_t GetAllowPowerChangeCountForTest();

}  // namespace bkit::platform
