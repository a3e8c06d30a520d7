// VSpinLock.cpp - the acquire and release strategies of the spin-lock word.
#include "basekit/runtime/VSpinLock.h"

#include <sched.h>
#include <unistd.h>
#include <unicode/ucol.h>

#include <algorithm>
#include <string>

#include "basekit/files/IFile.h"
#include "basekit/files/VFile.h"
#include "basekit/files/mac/XMacFolder.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/platform/SystemFolders.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"

namespace bkit {

SpinLock::LockFunction SpinLock::Lock = &SpinLock::MaxSpinsThenLoopYields;
SpinLock::LockFunction SpinLock::Unlock = &SpinLock::ClearBit;
int SpinLock::maxSpins = 1;
bool SpinLock::yieldAfterCheckEvent = false;

static void YieldProcessor()
{
    if (VTaskMgr::IsInited())
        VTaskMgr::Get()->YieldNow();
    else
        sched_yield();
}

static bool SpinAttempts(SpinLockWord* word)
{
    int spins = std::max(SpinLock::maxSpins, 1);
    for (int i = 0; i < spins; ++i) {
        if (SpinLock::TryLock(word)) return true;
    }
    return false;
}

void SpinLock::MaxSpinsThenLoopYields(SpinLockWord* word)
{
    if (SpinAttempts(word)) return;
    do {
        YieldProcessor();
    } while (!TryLock(word));
}

void SpinLock::LoopMaxSpinsAndYields(SpinLockWord* word)
{
    while (true) {
        if (SpinAttempts(word)) return;
        YieldProcessor();
        if (TryLock(word)) return;
    }
}

void SpinLock::AlwaysSleep(SpinLockWord* word)
{
    if (TryLock(word)) return;
    int shortSleeps = std::max(8, static_cast<int>(VSystem::GetNumberOfLogicalProcessors())) - 1;
    for (int retry = 0;; ++retry) {
        VTask::Sleep(retry < shortSleeps ? 0 : 1);
        if (TryLock(word)) return;
    }
}

// The strategy pair may change only while the main task is alone. A task that
// has just died may still be running its last instructions (waking the tasks
// that waited for its death takes locks); purging first joins the threads of
// dead tasks that nobody else holds.
static bool OnlyOneTask()
{
    if (!VTaskMgr::IsInited()) return false;
    VTaskMgr::Get()->PurgeDeadTasks();
    return VTaskMgr::Get()->GetTaskCount(false) == 1;
}

// Settings are written only when they change: a thread of a task that died
// but is still held elsewhere may still read them, and rewriting a value with
// itself must not race with that.
template <class T>
static void Change(T& setting, T value)
{
    if (setting != value) setting = value;
}

// Compares ignoring case and accents, as the settings file's modes are matched.
static bool SameModeName(const std::u16string& text, const char16_t* mode)
{
    UErrorCode status = U_ZERO_ERROR;
    UCollator* collator = ucol_open("", &status);
    if (U_FAILURE(status)) return false;
    ucol_setStrength(collator, UCOL_PRIMARY);
    bool same = ucol_strcoll(collator, reinterpret_cast<const UChar*>(text.data()),
                             static_cast<int32_t>(text.size()), reinterpret_cast<const UChar*>(mode),
                             -1) == UCOL_EQUAL;
    ucol_close(collator);
    return same;
}

bool SpinLock::ApplySettings(const SpinLockSettings& settings)
{
    if (!OnlyOneTask()) return false;
    if (settings.mode) {
        static const struct {
            const char16_t* name;
            LockFunction function;
        } kModes[] = {
            {u"alwaysSleep", &SpinLock::AlwaysSleep},
            {u"loopMaxSpinsAndYields", &SpinLock::LoopMaxSpinsAndYields},
            {u"maxSpinsThenLoopYields", &SpinLock::MaxSpinsThenLoopYields},
        };
        for (const auto& mode : kModes) {
            if (SameModeName(*settings.mode, mode.name)) {
                Change(Lock, mode.function);
                Change(Unlock, &SpinLock::ClearBit);
                break;
            }
        }
    }
    if (settings.maxSpins) {
        double value = *settings.maxSpins;
        // Truncated; out-of-range numbers are clamped rather than overflowing.
        if (value >= 2147483647.0)
            Change(maxSpins, 2147483647);
        else if (value <= -2147483648.0)
            Change(maxSpins, -2147483647 - 1);
        else if (value == value)
            Change(maxSpins, static_cast<int>(value));
    }
    if (settings.yieldAfterCheckEvent) Change(yieldAfterCheckEvent, *settings.yieldAfterCheckEvent);
    return true;
}

bool SpinLock::ResetToDefaults()
{
    if (!OnlyOneTask()) return false;
    Change(Lock, &SpinLock::MaxSpinsThenLoopYields);
    Change(Unlock, &SpinLock::ClearBit);
    Change(maxSpins, 1);
    Change(yieldAfterCheckEvent, false);
    return true;
}

void SpinLock::Configure()
{
    if (!OnlyOneTask()) return;
    // Most programs have no settings file: look for it with one system call
    // before the file layer is woken up at start-up.
    std::string folder;
    if (GetSystemFolderPath(eFK_Executable, false, folder) != 0) return;
    std::string path = folder + kSettingsFileName;
    if (access(path.c_str(), F_OK) != 0) return;
    VString posixPath;
    posixPath.FromBlock(path.data(), path.size(), VTC_UTF_8);
    ConfigureFromFile(VFile(posixPath, FPS_POSIX));
}

bool SpinLock::ConfigureFromFile(const IFile& file)
{
    if (!file.Exists()) return false;
    VJSONValue settings;
    {
        // A settings file that cannot be read changes nothing and bothers nobody.
        StErrorContextInstaller quiet(false, true);
        if (file.GetContentAsJSON(settings, VTC_UTF_8) != 0 || !settings.IsObject()) return false;
    }
    SpinLockSettings parsed;
    VJSONValue mode = settings.GetProperty(VString("mode"));
    if (mode.IsString()) {
        const VInlineString& text = mode.GetInlineString();
        parsed.mode = std::u16string(reinterpret_cast<const char16_t*>(text.GetCPointer()), text.GetLength());
    }
    VJSONValue maxSpinsValue = settings.GetProperty(VString("maxSpins"));
    if (maxSpinsValue.IsNumber()) parsed.maxSpins = maxSpinsValue.GetNumber();
    VJSONValue yieldValue = settings.GetProperty(VString("yieldAfterCheckEvent"));
    if (yieldValue.IsBool()) parsed.yieldAfterCheckEvent = yieldValue.IsTrue();
    return ApplySettings(parsed);
}

}  // namespace bkit
