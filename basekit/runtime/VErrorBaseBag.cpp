// VErrorBaseBag.cpp - the bag forms of error records and of error stacks.
//
// A record saves its code, task id and name as attributes (the keys of log
// entries) and its parameters as the element "parameters", converted through
// the bag's JSON form. A level saves its records as "error" elements, oldest
// first; a task's whole stack is listed as "__ERROR" elements for callers that
// show errors to a user.
#include <new>

#include "basekit/bags/VValueBag.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/ILogger.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "basekit/values/VScalars.h"

namespace bkit {

namespace {

const StPackedDictionaryKey& ParametersKey()
{
    static const StPackedDictionaryKey key("parameters");
    return key;
}

const StPackedDictionaryKey& ErrorKey()
{
    static const StPackedDictionaryKey key("error");
    return key;
}

// Loads a new record from each "error" element in order and hands it to take;
// stops at the first load that fails and answers its error.
template <class Take>
VError LoadErrors(const VValueBag& bag, Take take)
{
    const VBagArray* list = bag.GetElements(ErrorKey());
    for (VIndex i = 1; list != nullptr && i <= list->GetCount(); ++i) {
        VErrorBase* record = new (std::nothrow) VErrorBase();
        if (record == nullptr)
            return VE_MEMORY_FULL;
        VError err = record->LoadFromBag(*list->GetNth(i));
        if (err == VE_OK)
            take(record);
        record->Release();
        if (err != VE_OK)
            return err;
    }
    return VE_OK;
}

}  // namespace

VError VErrorBase::SaveToBag(VValueBag& bag) const
{
    ILoggerBagKeys::error_code.Set(&bag, fError);
    ILoggerBagKeys::task_id.Set(&bag, fTaskID);
    ILoggerBagKeys::task_name.Set(&bag, fTaskName);
    if (fParameters != nullptr) {
        VRefPtr<VValueBag> parameters = VRefPtr<VValueBag>::Adopt(new VValueBag());
        if (parameters->FromJSONValue(VJSONValue(fParameters)) == VE_OK)
            bag.ReplaceElement(ParametersKey(), parameters.Get());
    }
    return VE_OK;
}

VError VErrorBase::LoadFromBag(const VValueBag& bag)
{
    uint64_t code = 0;
    if (ILoggerBagKeys::error_code.Get(&bag, code))
        fError = static_cast<VError>(code);
    ILoggerBagKeys::task_id.Get(&bag, fTaskID);
    fTaskName.Clear();
    ILoggerBagKeys::task_name.Get(&bag, fTaskName);
    if (const VValueBag* parameters = bag.GetUniqueElementByPath(VValueBag::KeyList{ParametersKey()})) {
        VJSONValue value;
        parameters->GetJSONValue(value);
        if (VJSONObject* object = value.GetObject()) {
            object->Retain();
            ReleaseRefCountable(&fParameters);
            fParameters = object;
        }
    }
    return VE_OK;
}

VError VErrorContext::SaveToBag(VValueBag& bag) const
{
    for (const VErrorBase* error : fErrors) {
        VRefPtr<VValueBag> saved = VRefPtr<VValueBag>::Adopt(new VValueBag());
        error->SaveToBag(*saved);
        bag.AddElement(ErrorKey(), saved.Get());
    }
    return VE_OK;
}

VError VErrorContext::LoadFromBag(const VValueBag& bag)
{
    return LoadErrors(bag, [this](VErrorBase* record) { PushError(record); });
}

void VErrorTaskContext::PushErrorsFromBag(const VValueBag& bag)
{
    LoadErrors(bag, [this](VErrorBase* record) { PushError(record); });
}

void VErrorTaskContext::BuildErrorStack(VValueBag& bag)
{
    static const StPackedDictionaryKey errorKey("__ERROR"), messageKey("message"),
        signatureKey("componentSignature"), codeKey("errCode");
    VErrorTaskContext* stack = VTask::GetErrorContext(false);
    if (stack == nullptr)
        return;
    VErrorContext all;
    stack->GetErrors(all);
    for (const VErrorBase* error : all.GetErrors()) {
        VRefPtr<VValueBag> entry = VRefPtr<VValueBag>::Adopt(new VValueBag());
        VString text;
        error->GetErrorDescription(text);
        entry->SetString(messageKey, text);
        text.Clear();
        text.AppendOsType(error->GetComponentSignature());
        entry->SetString(signatureKey, text);
        entry->SetLong(codeKey, error->GetErrorNumber());
        bag.AddElement(errorKey, entry.Get());
    }
}

}  // namespace bkit
