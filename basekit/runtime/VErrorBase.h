// VErrorBase.h - error records, their localizers and the raising functions.
//
// This file defines VErrorBase, the reference-counted record of one raised
// error (its 64-bit code, the id and name of the task that raised it, and a JSON
// object of named parameters), its two subclasses for errors described by a
// given text, the registry of localizers that turn codes into texts, the mapping
// of native operating-system codes ('POSX', 'CARB', 'MACH', 'COCO') to toolbox
// codes, and the functions everyone raises errors through: _ThrowError,
// _PushRetainedError, vThrowUserGeneratedError and the scoped StThrowError.
//
// Contracts:
// - A record starts with one reference, owned by its creator. Raising hands the
//   record to the calling task's error stack, which keeps its own reference.
// - _ThrowError does nothing before the process object exists
//   (VProcess::sInstance). No raising function keeps anything on a thread that
//   is no task, and none fails visibly.
// - A record is built and filled on one task; once pushed it may be shared with
//   other tasks by reference and is then only read.
// - The localizer registry is not locked: register localizers at start-up,
//   while only the main task runs. Localizers are neither owned nor retained.
#pragma once

#include <map>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/mac/XMacStackCrawl.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class ILocalizer;
class VJSONObject;
class VValueBag;

// Error codes of the native domains the toolbox wraps.
constexpr VError MakePOSIXVError(int errnum) { return MakeVError(kPOSX_SIGNATURE, errnum); }
constexpr VError MakeCarbonVError(int32_t status) { return MakeVError(kCARB_SIGNATURE, status); }

class VErrorBase : public VObject, public IRefCountable {
public:
    // Code 0, task 0, no task name, a new empty parameters object.
    VErrorBase();

    // Stores the code and the calling task's id and name, then the parameters
    // "errCode" (the number) and "componentSignature" (the signature text).
    explicit VErrorBase(VError code);

    // Stores the code and the calling task's id and name; shares (retains) the
    // given parameters object and adds nothing to it. A null object is replaced
    // by a new empty one.
    VErrorBase(VError code, VJSONObject* parameters);

    // Copies code, task id and name; the parameters are a deep clone.
    VErrorBase(const VErrorBase& other);
    VErrorBase& operator=(const VErrorBase&) = delete;

    ~VErrorBase() override;

    // Builds a record from a parameters object, which it shares (not copies).
    // The signature comes from the object's string "componentSignature" when it
    // has one, otherwise the given signature is written into the object. The
    // number comes from the object's number "errCode" truncated to 32 bits,
    // otherwise "errCode" is set to -1. A code whose halves are both 0 becomes
    // 'bkit' 1. A null object gives a record on a new object. One reference for
    // the caller.
    static VErrorBase* Create(VJSONObject* parameters, OsType signature);

    // With the process object: DumpToString cut to size/2 UTF-16 units, written
    // as UTF-16 little-endian, size set to the bytes written, answer
    // VTC_UTF_16_SMALLENDIAN. Without it: a one-line ASCII summary, answer
    // VTC_UTF_8.
    CharSet DebugDump(char* buffer, int& size) override;

    // "Error code: %d (%.4s)" with the number and the four signature characters.
    virtual void GetErrorString(VString& out) const;

    // The "message" parameter when set; else the registered localizer's text
    // for the code, filled from the parameters; else the native domain's own
    // text ('POSX', 'CARB', 'MACH', 'COCO'); else GetErrorString.
    virtual void GetErrorDescription(VString& out) const;

    // The "action_description" parameter when set (out is left alone when it is
    // not), then {name} placeholders of out filled from the parameters.
    virtual void GetActionDescription(VString& out) const;

    // "basekit" for 'bkit', else "component: 'xxxx'".
    virtual void GetLocation(VString& out) const;

    // The task name; the id goes to *taskID when it is not null.
    virtual void GetTaskName(VString& out, int32_t* taskID = nullptr) const;

    // Error string, description, location and action description, each on its
    // own line when not empty, then the task line.
    virtual void DumpToString(VString& out) const;

    VError GetError() const { return fError; }
    OsType GetComponentSignature() const { return COMPONENT_FROM_VERROR(fError); }
    int32_t GetErrorNumber() const { return ERRCODE_FROM_VERROR(fError); }
    int32_t GetTaskID() const { return fTaskID; }

    // The parameters object, never null; no reference for the caller.
    VJSONObject* GetParameters() const { return fParameters; }

    // The stack crawl; error records leave it empty.
    const XMacStackCrawl& GetStackCrawl() const { return fStackCrawl; }

    // Store a named parameter as a JSON string or number (replacing it).
    void SetString(const VString& name, const VString& text);
    void SetLong(const VString& name, int32_t value);
    void SetLong8(const VString& name, int64_t value);

    // Stores "message", which then overrides every other description.
    void SetDescription(const VString& text);

    // Computes the description once and stores it as "message" unless one is
    // there already, so that it no longer depends on the localizer.
    void FreezeDescription();

    // A new object with "errCode", "componentSignature" and "message" (the
    // description), in that order. One reference for the caller.
    VJSONObject* CreateJSONObject() const;

    // Sets "error_code", "task_id" and "task_name" in bag (replacing them) and
    // makes the parameters, as a bag, its only "parameters" element. Answers 0.
    // (runtime/VErrorBaseBag.cpp)
    VError SaveToBag(VValueBag& bag) const;
    // Reads back what SaveToBag wrote: the code and task id when present, the
    // task name (empty when absent), and the parameters when the first
    // "parameters" element converts to a JSON object. Answers 0.
    VError LoadFromBag(const VValueBag& bag);

    // Asks the localizer for the code's text. Code 0: true, out untouched. A
    // localizer that answers: out filled from the parameters, true. Otherwise out
    // is cleared and the result is false.
    bool CallLocalizer(ILocalizer* localizer, VError code, VString& out) const;

    // --- localizer registry (not locked; see the file comment) ---
    static void RegisterLocalizer(OsType signature, ILocalizer* localizer);
    static void UnregisterLocalizer(OsType signature);
    static ILocalizer* GetLocalizer(OsType signature);

    // --- native codes ---

    // 0 gives 0; otherwise 'CARB' status looked up in the native table: the
    // toolbox code on a hit, the 'CARB' code itself on a miss.
    static VError MAC_MapCarbonErrorToVError(int32_t status);

    // 'CARB' and 'POSX' codes: the table's toolbox code, else defaultError.
    // 'COCO' and 'MACH' with a non-zero number: defaultError. 'bkit' 1:
    // defaultError. Any other code is returned unchanged.
    static VError EncodedNativeErrorToVError(VError native, VError defaultError);

    // True for a code of the operating system ('POSX', 'CARB', 'MACH', 'COCO'):
    // such a code is pushed as its own record beneath the toolbox record.
    static bool IsNativeError(VError code)
    {
        OsType component = COMPONENT_FROM_VERROR(code);
        return component == kPOSX_SIGNATURE || component == kCARB_SIGNATURE || component == kMACH_SIGNATURE ||
               component == kCOCO_SIGNATURE;
    }

    static std::map<OsType, ILocalizer*> sLocalizers;

protected:
    // Fills out from the parameters' {name} placeholders.
    void FormatWithParameters(VString& out) const;

    VError fError = 0;
    int32_t fTaskID = 0;
    VString fTaskName;
    VJSONObject* fParameters = nullptr;
    XMacStackCrawl fStackCrawl;
};

// A record whose description is the text its creator gave.
class VErrorUserGenerated : public VErrorBase {
public:
    VErrorUserGenerated(VError code, const VString& description);

    // Both answer the given text unchanged.
    void GetErrorDescription(VString& out) const override;
    void DumpToString(VString& out) const override;

private:
    VString fDescription;
};

// A record describing an error imported from outside the process (a remote
// service); nothing here creates one.
class VErrorImported : public VErrorBase {
public:
    VErrorImported(VError code, const VString& description);

    void GetErrorDescription(VString& out) const override;
    void GetLocation(VString& out) const override;  // "REST Imported Error"
    void DumpToString(VString& out) const override;

private:
    VString fDescription;
};

// Raises code on the calling task with up to three string parameters ("p1",
// "p2", "p3"). Returns code. Does nothing before the process object exists.
VError _ThrowError(VError code, const VString* p1 = nullptr, const VString* p2 = nullptr,
                   const VString* p3 = nullptr);

// Pushes error on the calling task, taking over the caller's reference. With a
// non-zero native code, a record of that code is pushed first so that the cause
// lies under the error, unless a level of the task's stack filters the error's
// code. Returns the error's code (0 for a null error, which is ignored).
VError _PushRetainedError(VErrorBase* error, VError native = 0);

// Raises a VErrorUserGenerated with message as its description. Returns code.
VError vThrowUserGeneratedError(VError code, const VString& message);

// Scoped raiser: holds one record (and an optional native code) while the
// caller adds parameters, and pushes both with _PushRetainedError when it goes
// out of scope. Example:
//   StThrowError<> err(MakeBKitError(600), MakePOSIXVError(errno));
//   err->SetString("path", path);
template <class T = VErrorBase>
class StThrowError {
public:
    explicit StThrowError(VError code, VError native = 0) : fError(new T(code)), fNative(native) {}

    // Adopts the caller's reference to error.
    explicit StThrowError(T* error, VError native = 0) : fError(error), fNative(native) {}

    ~StThrowError() { _PushRetainedError(fError, fNative); }

    StThrowError(const StThrowError&) = delete;
    StThrowError& operator=(const StThrowError&) = delete;

    T* operator->() const { return fError; }
    T* Get() const { return fError; }
    VError GetError() const { return fError ? fError->GetError() : 0; }

private:
    T* fError;
    VError fNative;
};

}  // namespace bkit
