// VErrorContext.h - the levels of a task's error stack and their installer.
//
// This file defines VErrorContext, one level of a task's error stack (the
// errors raised while it was on top, the codes it expects, and its keep,
// silent and failed-for-memory flags); VErrorTaskContext, the whole stack of
// one task; and StErrorContextInstaller, the scoped object that opens a nested
// level for a stretch of work and closes it at the end of the scope.
//
// Contracts:
// - Each task owns its VErrorTaskContext (VTask creates it on first need and
//   deletes it with the task). Only the owning task touches it: nothing here
//   takes a lock. Records held by a level may be shared with other tasks, which
//   then only read them.
// - Levels hold one reference to each of their errors and release them when
//   flushed or destroyed. Get... operations hand out no reference.
// - An expected (filtered) error makes the level on top silent and makes it
//   drop its errors when it is popped.
//
// The task side: VTask::PushError(error) calls
//   bool silent; ctx->PushError(error, &silent); if (!silent) VDebugMgr::Get()->ErrorThrown(error);
// and the other static error operations of VTask forward to the calling task's
// VErrorTaskContext.
#pragma once

#include <initializer_list>
#include <vector>

#include "basekit/runtime/VErrorBase.h"

namespace bkit {

class VJSONValue;
class VValueBag;

class VErrorContext : public VObject, public IRefCountable {
public:
    using ErrorList = std::vector<VErrorBase*>;
    using CodeList = std::vector<VError>;

    // No errors, no filters, not failed for memory.
    explicit VErrorContext(bool keep = true, bool silent = false);

    // Copies the errors (retaining each) and the failed-for-memory flag; the
    // copy keeps its errors, is not silent and filters nothing.
    VErrorContext(const VErrorContext& other);
    VErrorContext& operator=(const VErrorContext&) = delete;

    ~VErrorContext() override;

    // Retains and appends error; 'bkit' 100 marks the level failed for memory.
    // A null error does nothing and gives false.
    bool PushError(VErrorBase* error);

    // Appends the other's errors (retained) in order and takes over its
    // failed-for-memory flag (replaced, not combined).
    void PushErrors(const VErrorContext& other);

    // Releases every error, newest first, and clears failed-for-memory.
    void Flush();

    bool IsEmpty() const { return fErrors.empty(); }
    VIndex GetErrorCount() const { return static_cast<VIndex>(fErrors.size()); }
    const ErrorList& GetErrors() const { return fErrors; }

    // Oldest / newest error, null when empty. No reference for the caller.
    VErrorBase* GetFirst() const;
    VErrorBase* GetLast() const;

    // The newest error's code, 0 when empty.
    VError GetLastError() const;

    // The first error with exactly that code, or null.
    VErrorBase* Find(VError code) const;

    // True when some error's code equals one of the codes before the first 0.
    template <class... More>
    bool FindAny(VError code, More... more) const
    {
        return FindAnyInList({code, static_cast<VError>(more)...});
    }
    bool FindAnyInList(std::initializer_list<VError> codes) const;

    // --- expected codes ---
    void AddFilteredCode(VError code) { fFilteredCodes.push_back(code); }
    bool IsErrorFiltered(VError code) const;
    bool HasFilters() const { return !fFilteredCodes.empty(); }

    // --- flags ---
    bool IsFailedForMemory() const { return fFailedForMemory; }
    void SetFailedForMemory(bool failed) { fFailedForMemory = failed; }
    bool IsSilent() const { return fSilent; }
    void SetSilent(bool silent) { fSilent = silent; }
    bool IsKeepingErrors() const { return fKeep; }
    void SetKeepingErrors(bool keep) { fKeep = keep; }

    // An empty context makes value undefined; otherwise value becomes a new
    // array of each record's CreateJSONObject, oldest first.
    void SaveToJSONArray(VJSONValue& value) const;

    // Hands every error, oldest first, to the process logger, inside a nested
    // level that silently drops what fails while logging. Nothing happens while
    // the process has no logger.
    void SendErrorsToLogger() const;

    // Inserts errors (retained) in their order before all errors of this level.
    void InsertFront(const ErrorList& errors);

    // Adds each error, oldest first, to bag as an element "error". Answers 0.
    VError SaveToBag(VValueBag& bag) const;
    // Appends a record loaded from each "error" element of bag, in order;
    // stops at the first load that fails and answers its error ('bkit' 100
    // when memory runs out).
    VError LoadFromBag(const VValueBag& bag);

private:
    ErrorList fErrors;
    CodeList fFilteredCodes;
    bool fFailedForMemory = false;
    bool fSilent;
    bool fKeep;
};

class VErrorTaskContext : public VObject, public IRefCountable {
public:
    using ContextList = std::vector<VErrorContext*>;

    // An empty stack with one idle level kept for reuse.
    VErrorTaskContext();
    ~VErrorTaskContext() override;

    VErrorTaskContext(const VErrorTaskContext&) = delete;
    VErrorTaskContext& operator=(const VErrorTaskContext&) = delete;

    // Puts a new level on top (the spare one when there is one) and returns it
    // with one extra reference for the caller. Null when it cannot be made.
    VErrorContext* PushNewContext(bool keep, bool silent);

    // Removes the top level. Its errors are dropped when it has none or does not
    // keep them; otherwise they are passed down to the level below (logged first
    // when the top is silent and the one below is not). The only level, keeping
    // errors, is replaced by a non-silent copy of itself so its errors stay.
    void PopContext();

    // Pushes error on the top level (a new bottom level when the stack is empty).
    // *silent tells whether the error must go unreported: a silent level on the
    // way down says so; a level that filters the error's code says so and makes
    // the top level silent and dropping its errors. False for a null error.
    bool PushError(VErrorBase* error, bool* silent = nullptr);

    // Pushes each of the context's errors in order through PushError.
    void PushErrorsFromContext(const VErrorContext* context);

    // Pushes a record loaded from each "error" element of bag, in order,
    // through PushError; stops at the first load that fails.
    void PushErrorsFromBag(const VValueBag& bag);

    // Adds to bag an element "__ERROR" for each error of the calling task's
    // stack, bottom level first, with "message" (the description),
    // "componentSignature" (four characters) and "errCode" (the number).
    // Nothing when the task has no stack.
    static void BuildErrorStack(VValueBag& bag);

    // Inserts the errors (retained) before all errors of the bottom level,
    // creating a bottom level when the stack is empty.
    void InsertFrontErrors(const VErrorContext::ErrorList& errors);

    // Flushes the top level only.
    void Flush();

    // The newest error's code of the top level; lower levels are not consulted.
    // 0 without a level.
    VError GetLastError() const;

    // The newest error of the highest level that has one / the oldest error of
    // the lowest level that has one. Null when none. No reference.
    VErrorBase* GetLast() const;
    VErrorBase* GetFirst() const;

    // The first error with that code, searching from the bottom level up.
    VErrorBase* Find(VError code) const;

    // True when any level expects the code.
    bool IsErrorFiltered(VError code) const;

    // The top level's failed-for-memory flag; false without a level.
    bool FailedForMemory() const;

    // Appends every level's errors to out, bottom level first.
    void GetErrors(VErrorContext& out) const;

    // When the top level has errors: if it keeps them, logs them (when silent
    // is true) and passes them down; then flushes it and sets its silent flag.
    void MergeAndFlushLastContext(bool silent);

    // Keeps context as the spare when there is none and it is empty, filters
    // nothing and has no other owner; otherwise releases it. Takes over the
    // caller's reference either way.
    void RecycleContext(VErrorContext* context);

    // The top level, null without one. No reference.
    VErrorContext* GetLastContext() const { return fContexts.empty() ? nullptr : fContexts.back(); }
    VIndex GetContextCount() const { return static_cast<VIndex>(fContexts.size()); }

private:
    VErrorContext* fSpare = nullptr;
    ContextList fContexts;
};

// Opens a nested level on the calling task for the life of the object.
// keep: pass the level's errors down when it closes (else drop them).
// silent: errors raised meanwhile are not reported to the debug manager.
// Codes given to the second constructor are expected: raising one of them makes
// the level silent and makes it drop all its errors when it closes.
// On a thread that is no task the level is free-standing and on no stack.
class StErrorContextInstaller {
public:
    explicit StErrorContextInstaller(bool keep = true, bool silent = false) { _Init(keep, silent); }

    // Keeping, not silent, expecting code and the further codes up to the first 0.
    template <class... More>
    explicit StErrorContextInstaller(VError code, More... more)
    {
        _Init(true, false);
        AddFilteredCodes({code, static_cast<VError>(more)...});
    }

    ~StErrorContextInstaller();

    StErrorContextInstaller(const StErrorContextInstaller&) = delete;
    StErrorContextInstaller& operator=(const StErrorContextInstaller&) = delete;

    // The level this installer opened (null when it could not be made).
    VErrorContext* GetContext() const { return fContext; }

    // Shortcuts on the installer's own level.
    VError GetLastError() const { return fContext ? fContext->GetLastError() : 0; }
    void Flush() const { if (fContext) fContext->Flush(); }
    bool IsSilent() const { return fSilent; }

private:
    void _Init(bool keep, bool silent);
    void AddFilteredCodes(std::initializer_list<VError> codes);

    VErrorTaskContext* fTaskContext = nullptr;
    VErrorContext* fContext = nullptr;
    bool fSilent = false;
};

}  // namespace bkit
