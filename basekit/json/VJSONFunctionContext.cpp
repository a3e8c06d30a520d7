// VJSONFunctionContext.cpp - call contexts of native JSON functions and their parameter readers.
#include "basekit/json/VJSONFunctionContext.h"

#include <cmath>
#include <limits>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONBlob.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"

namespace bkit {

// --- interface ---

int32_t IJSONFunctionContext::ToLong(double number)
{
    if (std::isnan(number))
        return 0;
    if (number >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (number <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(number);
}

int64_t IJSONFunctionContext::ToLong8(double number)
{
    if (std::isnan(number))
        return 0;
    // 2^63 is exact in a double; anything at or past it is out of range.
    if (number >= 9223372036854775808.0)
        return std::numeric_limits<int64_t>::max();
    if (number <= -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(number);
}

void IJSONFunctionContext::_Invalid(VError code)
{
    fParametersValid = false;
    _ThrowError(code);
}

VJSONClass* IJSONFunctionContext::GetScopeClass()
{
    VJSONObject* function = GetScopeFunctionObject();
    IJSONObject* implementation = function ? function->GetImplementation() : nullptr;
    return implementation ? implementation->IJSON_GetFunctionClassOwner(function) : nullptr;
}

double IJSONFunctionContext::GetNumberParam(int index)
{
    VJSONValue value = GetParam(index);
    if (!value.IsNumber())
        _Invalid(VE_JSON_PARAM_NOT_A_NUMBER);
    return value.GetNumber();
}

bool IJSONFunctionContext::GetNumberOptParam(int index, double* out)
{
    VJSONValue value = GetParam(index);
    if (value.IsNumber()) {
        if (out)
            *out = value.GetNumber();
        return true;
    }
    if (value.IsUndefined())
        fParametersValid = false;
    else
        _Invalid(VE_JSON_PARAM_NOT_A_NUMBER);
    return false;
}

int32_t IJSONFunctionContext::GetLongParam(int index) { return ToLong(GetNumberParam(index)); }

bool IJSONFunctionContext::GetBoolParam(int index)
{
    VJSONValue value = GetParam(index);
    if (!value.IsBool())
        _Invalid(VE_JSON_PARAM_NOT_A_BOOLEAN);
    return value.GetBool();
}

VString IJSONFunctionContext::GetStringParam(int index)
{
    VJSONValue value = GetParam(index);
    VString text;
    if (!value.IsString())
        _Invalid(VE_JSON_PARAM_NOT_A_STRING);
    value.GetString(text);
    return text;
}

VRefPtr<VJSONObject> IJSONFunctionContext::GetObjectParam(int index)
{
    VJSONValue value = GetParam(index);
    if (!value.IsObject())
        _Invalid(VE_JSON_PARAM_NOT_AN_OBJECT);
    return VRefPtr<VJSONObject>(value.GetObject());
}

VRefPtr<VJSONArray> IJSONFunctionContext::GetArrayParam(int index)
{
    VJSONValue value = GetParam(index);
    if (!value.IsArray())
        _Invalid(VE_JSON_PARAM_NOT_AN_OBJECT);
    return VRefPtr<VJSONArray>(value.GetArray());
}

VJSONBlobParam IJSONFunctionContext::GetBlobParam(int index, bool silent)
{
    VJSONBlobParam out;
    VJSONValue value = GetParam(index);
    if (const VJSONBlob* blob = VJSONBlob::CastJSONObject(value.GetObject())) {
        out.found = true;
        out.data = blob->GetData();
        out.length = blob->GetSize();
    } else if (!silent) {
        _Invalid(VE_JSON_PARAM_NOT_AN_OBJECT);
    }
    return out;
}

// --- native-code context ---

VJSONFunctionContext::VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray,
                                           IJSONFunctionContext* outer)
    : fThisObject(thisObject), fThisArray(thisArray), fOuter(outer)
{
    if (outer) {
        fBaseContext = outer->GetBaseContext();
        fLanguageContext = outer->GetLanguageContext();
    }
}

VJSONFunctionContext::VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray,
                                           std::vector<VJSONValue>* parameters, CDBZanthBaseContext* baseContext,
                                           VDBLanguageContext* languageContext)
    : fThisObject(thisObject),
      fThisArray(thisArray),
      fParameters(parameters),
      fBaseContext(baseContext),
      fLanguageContext(languageContext)
{
}

void VJSONFunctionContext::SetResult(const VJSONValue& value, uint8_t legacyKind)
{
    if (fOuter) {
        fOuter->SetResult(value, 5);
        return;
    }
    fResult = value;
    fResultKind = legacyKind;
}

void VJSONFunctionContext::GetResult(VJSONValue& out)
{
    if (fOuter)
        fOuter->GetResult(out);
    else
        out = fResult;
}

VError VJSONFunctionContext::GetParametersAsJSONValues(std::vector<VJSONValue>** out)
{
    if (fOuter)
        return fOuter->GetParametersAsJSONValues(out);
    if (out)
        *out = fParameters;
    return 0;
}

VError VJSONFunctionContext::GetParameterList(void** list, int* count, void** extra, bool* flag)
{
    return fOuter ? fOuter->GetParameterList(list, count, extra, flag) : 1;
}

size_t VJSONFunctionContext::GetParamCount()
{
    if (fOuter)
        return fOuter->GetParamCount();
    return fParameters ? fParameters->size() : 0;
}

VJSONValue VJSONFunctionContext::GetParam(int index)
{
    if (fOuter)
        return fOuter->GetParam(index);
    if (fParameters == nullptr || index < 1 || static_cast<size_t>(index) > fParameters->size())
        return VJSONValue();
    return (*fParameters)[static_cast<size_t>(index) - 1];
}

VJSONBlobParam VJSONFunctionContext::GetBlobParam(int index, bool silent)
{
    if (fOuter)
        return fOuter->GetBlobParam(index, silent);
    return IJSONFunctionContext::GetBlobParam(index, silent);
}

VJSONObject* VJSONFunctionContext::GetScopeThisObject()
{
    if (fScopeFunction)
        return fScopeThis;
    return fOuter ? fOuter->GetScopeThisObject() : nullptr;
}

VJSONObject* VJSONFunctionContext::GetScopeFunctionObject()
{
    if (fScopeFunction)
        return fScopeFunction;
    return fOuter ? fOuter->GetScopeFunctionObject() : nullptr;
}

}  // namespace bkit
