// VSpinLock.h - the process-wide spin-lock strategy.
//
// This file defines SpinLock, the pair of functions that every critical section
// and condition variable uses to guard its few fields. A lock word is a 32-bit
// atomic whose bit 31 means held; the other bits are never touched. The pair is
// chosen at start-up (from the settings file "spinlock.prm" beside the
// executable) while only the main task exists, and never changed afterwards, so
// reading the pointers needs no lock. The word is never held across a wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace bkit {

class IFile;

using SpinLockWord = std::atomic<uint32_t>;

// What the settings file can say. An absent member leaves its setting alone.
struct SpinLockSettings {
    // "alwaysSleep", "loopMaxSpinsAndYields" or "maxSpinsThenLoopYields",
    // compared ignoring case and accents; any other text keeps the current pair.
    std::optional<std::u16string> mode;
    // Truncated to an integer.
    std::optional<double> maxSpins;
    std::optional<bool> yieldAfterCheckEvent;
};

class SpinLock {
public:
    using LockFunction = void (*)(SpinLockWord* word);

    static constexpr uint32_t kHeldBit = 0x80000000u;

    // The acquire function in force; by default MaxSpinsThenLoopYields.
    static LockFunction Lock;
    // The release function in force; always ClearBit.
    static LockFunction Unlock;

    // Attempts in a row before the acquire functions yield. Default 1.
    static int maxSpins;
    // Whether a critical section yields after finding another waiter's event.
    // Default false.
    static bool yieldAfterCheckEvent;

    // One compare-and-swap loop that sets bit 31; true when it was clear.
    static bool TryLock(SpinLockWord* word)
    {
        // Guess the common free word first: no load before the exchange.
        uint32_t value = 0;
        while (!(value & kHeldBit)) {
            if (word->compare_exchange_weak(value, value | kHeldBit, std::memory_order_acquire,
                                            std::memory_order_relaxed))
                return true;
        }
        return false;
    }

    // Up to max(maxSpins, 1) attempts; then a yield and one attempt, until held.
    static void MaxSpinsThenLoopYields(SpinLockWord* word);
    // Repeats: up to max(maxSpins, 1) attempts, a yield, one attempt.
    static void LoopMaxSpinsAndYields(SpinLockWord* word);
    // One attempt; then sleeps 0 ms for the first max(8, logical processors) - 1
    // retries and 1 ms from then on, each followed by one attempt.
    static void AlwaysSleep(SpinLockWord* word);
    // Clears bit 31 with a release store; the caller must hold the word. Only
    // the holder writes the word, so a load and a release store clear the bit
    // without touching the others; the store publishes the guarded fields.
    static void ClearBit(SpinLockWord* word)
    {
        word->store(word->load(std::memory_order_relaxed) & ~kHeldBit, std::memory_order_release);
    }

    // The settings file, beside the executable.
    static constexpr const char* kSettingsFileName = "spinlock.prm";

    // Reads kSettingsFileName in the executable's folder and applies it, only
    // while exactly one task exists. Called by VTaskMgr::Init.
    static void Configure();

    // Applies the settings of a JSON object file: "mode" when a string,
    // "maxSpins" when a number, "yieldAfterCheckEvent" when a boolean. A
    // missing file, one that does not parse or holds no object changes nothing
    // (false), and leaves no error behind; so does a call while more than one
    // task exists.
    static bool ConfigureFromFile(const IFile& file);

    // Applies settings as Configure does for the file's content. Refused (false,
    // nothing changed) unless exactly one task exists.
    static bool ApplySettings(const SpinLockSettings& settings);

    // Puts back the default pair, maxSpins 1 and yieldAfterCheckEvent false,
    // under the same one-task rule. For tests.
    static bool ResetToDefaults();
};

// Holds a spin-lock word for a scope, with the strategy in force.
class StSpinLocker {
public:
    explicit StSpinLocker(SpinLockWord* word) : fWord(word) { SpinLock::Lock(fWord); }
    ~StSpinLocker() { SpinLock::Unlock(fWord); }
    StSpinLocker(const StSpinLocker&) = delete;
    StSpinLocker& operator=(const StSpinLocker&) = delete;

private:
    SpinLockWord* fWord;
};

}  // namespace bkit
