// VJSONFunctionContext.h - what a native JSON function receives when called.
//
// This file defines IJSONFunctionContext, the call context of member
// functions, getters, setters and constructors (this object or array,
// parameters numbered from 1, the result, two opaque host contexts), with
// typed parameter readers; and VJSONFunctionContext, the context built for
// calls made from native code, which may wrap an outer context and pass
// parameters and result through to it.
//
// Contracts:
// - A typed reader that meets a wrong kind pushes its 'QNRT' error once per
//   call, clears the parameters-valid flag and still returns a result; the
//   function tests the flag (or the error stack) after reading.
// - Contexts live on the caller's stack for one call; parameters are the
//   caller's vector (not copied). No locking: one task per call.
#pragma once

#include <cstdint>
#include <vector>

#include "basekit/json/IJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

constexpr VError VE_JSON_PARAM_NOT_A_NUMBER = MakeVError(MakeOsType("QNRT"), 7);
constexpr VError VE_JSON_PARAM_NOT_A_STRING = MakeVError(MakeOsType("QNRT"), 8);
constexpr VError VE_JSON_PARAM_NOT_AN_OBJECT = MakeVError(MakeOsType("QNRT"), 54);
constexpr VError VE_JSON_PARAM_NOT_A_BOOLEAN = MakeVError(MakeOsType("QNRT"), 55);

// The bytes of a blob parameter, shared with the blob (valid while it lives).
struct VJSONBlobParam {
    bool found = false;
    const void* data = nullptr;
    size_t length = 0;
};

class IJSONFunctionContext {
public:
    IJSONFunctionContext() = default;
    virtual ~IJSONFunctionContext() = default;

    virtual VJSONObject* GetThisObject() = 0;
    virtual VJSONArray* GetThisArray() = 0;
    virtual void SetResult(const VJSONValue& value, uint8_t legacyKind = 5) = 0;
    virtual void GetResult(VJSONValue& out) = 0;
    virtual uint8_t GetResultLegacyValueKind() = 0;
    virtual bool GetResultIsExpected() = 0;
    // The parameter vector (may be null); 0 or an error.
    virtual VError GetParametersAsJSONValues(std::vector<VJSONValue>** out) = 0;
    // 1: not available here.
    virtual VError GetParameterList(void** list, int* count, void** extra, bool* flag) = 0;
    virtual CDBZanthBaseContext* GetBaseContext() = 0;
    virtual VDBLanguageContext* GetLanguageContext() = 0;
    virtual size_t GetParamCount() = 0;
    // Parameter i counted from 1; undefined outside 1..count.
    virtual VJSONValue GetParam(int index) = 0;
    virtual VJSONBlobParam GetBlobParam(int index, bool silent);
    virtual VJSONObject* GetScopeThisObject() = 0;
    virtual VJSONObject* GetScopeFunctionObject() = 0;

    // The class owning the running function, or null.
    VJSONClass* GetScopeClass();

    // Typed readers (see the file comment).
    double GetNumberParam(int index);
    bool GetNumberOptParam(int index, double* out);
    // The number truncated to a signed 32-bit integer; NaN gives 0 and
    // values beyond the range the nearest bound.
    int32_t GetLongParam(int index);
    bool GetBoolParam(int index);
    VString GetStringParam(int index);
    VRefPtr<VJSONObject> GetObjectParam(int index);
    VRefPtr<VJSONArray> GetArrayParam(int index);

    bool AreParametersValid() const { return fParametersValid; }

    // Converts a double to a signed 32- / 64-bit integer toward zero, with
    // NaN as 0 and out-of-range values at the nearest bound (a cast of an
    // out-of-range double is undefined). Every JSON number-to-integer
    // conversion goes through these.
    static int32_t ToLong(double number);
    static int64_t ToLong8(double number);

protected:
    bool fParametersValid = true;

private:
    void _Invalid(VError code);
};

class VJSONFunctionContext : public VObject, public IJSONFunctionContext {
public:
    // A context passing everything but this to outer (may be null); the host
    // contexts come from outer.
    VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray, IJSONFunctionContext* outer);
    // A context of its own over the caller's parameters.
    VJSONFunctionContext(VJSONObject* thisObject, VJSONArray* thisArray, std::vector<VJSONValue>* parameters,
                         CDBZanthBaseContext* baseContext, VDBLanguageContext* languageContext);
    ~VJSONFunctionContext() override = default;

    VJSONObject* GetThisObject() override { return fThisObject; }
    VJSONArray* GetThisArray() override { return fThisArray; }
    void SetResult(const VJSONValue& value, uint8_t legacyKind = 5) override;
    void GetResult(VJSONValue& out) override;
    uint8_t GetResultLegacyValueKind() override { return fResultKind; }
    bool GetResultIsExpected() override { return fResultExpected; }
    VError GetParametersAsJSONValues(std::vector<VJSONValue>** out) override;
    VError GetParameterList(void** list, int* count, void** extra, bool* flag) override;
    CDBZanthBaseContext* GetBaseContext() override { return fBaseContext; }
    VDBLanguageContext* GetLanguageContext() override { return fLanguageContext; }
    size_t GetParamCount() override;
    VJSONValue GetParam(int index) override;
    VJSONBlobParam GetBlobParam(int index, bool silent) override;
    VJSONObject* GetScopeThisObject() override;
    VJSONObject* GetScopeFunctionObject() override;

    // Names the running function and its this object, so that super calls
    // and super constructors made through this context find their class.
    // Without a scope the outer context's (or null) is given.
    void SetScope(VJSONObject* thisObject, VJSONObject* functionObject)
    {
        fScopeThis = thisObject;
        fScopeFunction = functionObject;
    }

private:
    VJSONObject* fScopeThis = nullptr;
    VJSONObject* fScopeFunction = nullptr;
    VJSONObject* fThisObject;
    VJSONArray* fThisArray;
    std::vector<VJSONValue>* fParameters = nullptr;
    VJSONValue fResult;
    uint8_t fResultKind = 5;
    bool fResultExpected = true;
    CDBZanthBaseContext* fBaseContext = nullptr;
    VDBLanguageContext* fLanguageContext = nullptr;
    IJSONFunctionContext* fOuter = nullptr;
};

}  // namespace bkit
