// VErrorContext.cpp - the levels of a task's error stack.
#include "basekit/runtime/VErrorContext.h"

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/ILogger.h"
#include "basekit/runtime/VTask.h"

namespace bkit {

// --- VErrorContext ---

VErrorContext::VErrorContext(bool keep, bool silent) : fSilent(silent), fKeep(keep) {}

VErrorContext::VErrorContext(const VErrorContext& other)
    : VObject(), IRefCountable(), fErrors(other.fErrors), fFailedForMemory(other.fFailedForMemory), fSilent(false),
      fKeep(true)
{
    for (VErrorBase* error : fErrors)
        error->Retain();
}

VErrorContext::~VErrorContext()
{
    Flush();
}

bool VErrorContext::PushError(VErrorBase* error)
{
    if (error == nullptr)
        return false;
    if (error->GetError() == VE_MEMORY_FULL)
        fFailedForMemory = true;
    error->Retain();
    fErrors.push_back(error);
    return true;
}

void VErrorContext::PushErrors(const VErrorContext& other)
{
    // A copy: other may be this level.
    ErrorList errors = other.fErrors;
    for (VErrorBase* error : errors) {
        error->Retain();
        fErrors.push_back(error);
    }
    fFailedForMemory = other.fFailedForMemory;
}

void VErrorContext::Flush()
{
    // Emptied first, so that code run by a record's destruction sees a
    // consistent level.
    ErrorList errors;
    errors.swap(fErrors);
    fFailedForMemory = false;
    for (auto i = errors.rbegin(); i != errors.rend(); ++i)
        (*i)->Release();
}

VErrorBase* VErrorContext::GetFirst() const
{
    return fErrors.empty() ? nullptr : fErrors.front();
}

VErrorBase* VErrorContext::GetLast() const
{
    return fErrors.empty() ? nullptr : fErrors.back();
}

VError VErrorContext::GetLastError() const
{
    return fErrors.empty() ? 0 : fErrors.back()->GetError();
}

VErrorBase* VErrorContext::Find(VError code) const
{
    for (VErrorBase* error : fErrors) {
        if (error->GetError() == code)
            return error;
    }
    return nullptr;
}

bool VErrorContext::FindAnyInList(std::initializer_list<VError> codes) const
{
    for (VError code : codes) {
        if (code == 0)
            break;
        if (Find(code) != nullptr)
            return true;
    }
    return false;
}

bool VErrorContext::IsErrorFiltered(VError code) const
{
    for (VError filtered : fFilteredCodes) {
        if (filtered == code)
            return true;
    }
    return false;
}

void VErrorContext::SaveToJSONArray(VJSONValue& value) const
{
    if (fErrors.empty()) {
        value.SetUndefined();
        return;
    }
    VRefPtr<VJSONArray> array = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    for (VErrorBase* error : fErrors) {
        VRefPtr<VJSONObject> object = VRefPtr<VJSONObject>::Adopt(error->CreateJSONObject());
        array->Push(VJSONValue(object.Get()));
    }
    value.SetArray(array.Get());
}

void VErrorContext::SendErrorsToLogger() const
{
    ILogger* logger = ILogger::GetProcessLogger();
    if (logger == nullptr || fErrors.empty())
        return;
    // Whatever fails while logging is dropped without a word.
    StErrorContextInstaller quiet(false, true);
    ErrorList errors = fErrors;
    for (VErrorBase* error : errors)
        logger->LogErrorIfNecessary(error);
}

void VErrorContext::InsertFront(const ErrorList& errors)
{
    for (VErrorBase* error : errors) {
        if (error)
            error->Retain();
    }
    ErrorList kept;
    for (VErrorBase* error : errors) {
        if (error)
            kept.push_back(error);
    }
    fErrors.insert(fErrors.begin(), kept.begin(), kept.end());
}

// --- VErrorTaskContext ---

VErrorTaskContext::VErrorTaskContext() : fSpare(new VErrorContext(true, false)) {}

VErrorTaskContext::~VErrorTaskContext()
{
    ReleaseRefCountable(&fSpare);
    ContextList contexts;
    contexts.swap(fContexts);
    for (auto i = contexts.rbegin(); i != contexts.rend(); ++i)
        (*i)->Release();
}

VErrorContext* VErrorTaskContext::PushNewContext(bool keep, bool silent)
{
    VErrorContext* context = fSpare;
    if (context != nullptr) {
        fSpare = nullptr;
        context->SetFailedForMemory(false);
        context->SetKeepingErrors(keep);
        context->SetSilent(silent);
    } else {
        context = new VErrorContext(keep, silent);
    }
    fContexts.push_back(context);
    context->Retain();
    return context;
}

void VErrorTaskContext::PopContext()
{
    if (fContexts.empty())
        return;
    VErrorContext* top = fContexts.back();

    if (top->IsEmpty() || !top->IsKeepingErrors()) {
        fContexts.pop_back();
        top->Release();
        return;
    }

    if (fContexts.size() >= 2) {
        fContexts.pop_back();
        VErrorContext* below = fContexts.back();
        if (top->IsSilent() && !below->IsSilent())
            top->SendErrorsToLogger();
        below->PushErrors(*top);
        top->Release();
        return;
    }

    // The only level: its errors stay as the bottom of the stack, in a copy
    // that is not silent, keeps errors and expects nothing.
    if (top->IsSilent())
        top->SendErrorsToLogger();
    VErrorContext* copy = new VErrorContext(*top);
    fContexts.front() = copy;
    top->Release();
}

bool VErrorTaskContext::PushError(VErrorBase* error, bool* silent)
{
    if (silent)
        *silent = false;
    if (error == nullptr)
        return false;

    if (fContexts.empty()) {
        VErrorContext* bottom = PushNewContext(true, false);
        bottom->Release();  // the stack keeps its own reference
    }
    VErrorContext* top = fContexts.back();
    top->PushError(error);

    VError code = error->GetError();
    bool isSilent = false;
    for (auto i = fContexts.rbegin(); i != fContexts.rend(); ++i) {
        VErrorContext* context = *i;
        if (context->IsSilent()) {
            isSilent = true;
            break;
        }
        if (context->IsErrorFiltered(code)) {
            // An expected error: the level on top goes quiet and will drop
            // everything it holds when it is popped.
            top->SetSilent(true);
            top->SetKeepingErrors(false);
            isSilent = true;
            break;
        }
    }
    if (silent)
        *silent = isSilent;
    return true;
}

void VErrorTaskContext::PushErrorsFromContext(const VErrorContext* context)
{
    if (context == nullptr)
        return;
    VErrorContext::ErrorList errors = context->GetErrors();
    for (VErrorBase* error : errors)
        PushError(error, nullptr);
}

void VErrorTaskContext::InsertFrontErrors(const VErrorContext::ErrorList& errors)
{
    if (fContexts.empty()) {
        VErrorContext* bottom = PushNewContext(true, false);
        bottom->Release();
    }
    fContexts.front()->InsertFront(errors);
}

void VErrorTaskContext::Flush()
{
    if (!fContexts.empty())
        fContexts.back()->Flush();
}

VError VErrorTaskContext::GetLastError() const
{
    return fContexts.empty() ? 0 : fContexts.back()->GetLastError();
}

VErrorBase* VErrorTaskContext::GetLast() const
{
    for (auto i = fContexts.rbegin(); i != fContexts.rend(); ++i) {
        if (VErrorBase* error = (*i)->GetLast())
            return error;
    }
    return nullptr;
}

VErrorBase* VErrorTaskContext::GetFirst() const
{
    for (VErrorContext* context : fContexts) {
        if (VErrorBase* error = context->GetFirst())
            return error;
    }
    return nullptr;
}

VErrorBase* VErrorTaskContext::Find(VError code) const
{
    for (VErrorContext* context : fContexts) {
        if (VErrorBase* error = context->Find(code))
            return error;
    }
    return nullptr;
}

bool VErrorTaskContext::IsErrorFiltered(VError code) const
{
    for (VErrorContext* context : fContexts) {
        if (context->IsErrorFiltered(code))
            return true;
    }
    return false;
}

bool VErrorTaskContext::FailedForMemory() const
{
    return !fContexts.empty() && fContexts.back()->IsFailedForMemory();
}

void VErrorTaskContext::GetErrors(VErrorContext& out) const
{
    for (VErrorContext* context : fContexts) {
        for (VErrorBase* error : context->GetErrors())
            out.PushError(error);
    }
}

void VErrorTaskContext::MergeAndFlushLastContext(bool silent)
{
    if (fContexts.empty())
        return;
    VErrorContext* top = fContexts.back();
    if (top->IsEmpty())
        return;
    if (top->IsKeepingErrors()) {
        if (silent)
            top->SendErrorsToLogger();
        if (fContexts.size() >= 2) {
            fContexts[fContexts.size() - 2]->PushErrors(*top);
        } else {
            fContexts.insert(fContexts.begin(), new VErrorContext(*top));
        }
    }
    top->Flush();
    top->SetSilent(silent);
}

void VErrorTaskContext::RecycleContext(VErrorContext* context)
{
    if (context == nullptr)
        return;
    if (fSpare == nullptr && context->IsEmpty() && !context->HasFilters() && context->GetRefCount() == 1)
        fSpare = context;
    else
        context->Release();
}

// --- StErrorContextInstaller ---

void StErrorContextInstaller::_Init(bool keep, bool silent)
{
    fSilent = silent;
    fTaskContext = VTask::GetErrorContext(true);
    if (fTaskContext != nullptr)
        fContext = fTaskContext->PushNewContext(keep, silent);
    else
        fContext = new VErrorContext(keep, silent);
}

void StErrorContextInstaller::AddFilteredCodes(std::initializer_list<VError> codes)
{
    if (fContext == nullptr)
        return;
    bool first = true;
    for (VError code : codes) {
        if (!first && code == 0)
            break;
        fContext->AddFilteredCode(code);
        first = false;
    }
}

StErrorContextInstaller::~StErrorContextInstaller()
{
    if (fTaskContext != nullptr) {
        fTaskContext->PopContext();
        fTaskContext->RecycleContext(fContext);
    } else if (fContext != nullptr) {
        fContext->Release();
    }
}

}  // namespace bkit
