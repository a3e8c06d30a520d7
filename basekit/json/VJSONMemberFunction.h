// VJSONMemberFunction.h - native functions as JSON function objects, and super calls.
//
// This file defines VJSONMemberFunction, the implementation of a function
// object (an object of class "Function") that calls a native function; the
// natives "apply" and "call" of the root class "Function"; and VJSONSuper /
// VJSONSuperMember, which let a native function call the same-named member
// of its class's superclass.
//
// Contracts: function objects are read-only ('QNRT' -10702 on writes); the
// owner class is not retained (the class holds its functions). Errors are
// 'QNRT' numbers without texts of their own.
#pragma once

#include "basekit/json/IJSONObject.h"
#include "basekit/json/VJSONClass.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONMemberFunction : public VObject, public IJSONObject {
public:
    VJSONMemberFunction(VJSONClass::NativeFunction function, const VString& fullName, VJSONClass* owner)
        : fFunction(function), fFullName(fullName), fOwner(owner)
    {
    }

    // The function object (one reference): class "Function", this as its
    // implementation; flags bit 0 "final", bit 1 "__hidden".
    static VJSONObject* Create(VJSONClass::NativeFunction function, const VString& name, VJSONClass* owner,
                               uint32_t flags);

    static EJSONStatus do_apply(const VJSONObject* thisFunction, IJSONFunctionContext* context);
    static EJSONStatus do_call(const VJSONObject* thisFunction, IJSONFunctionContext* context);

    EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
                                  VDBLanguageContext* languageContext) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
                                  VDBLanguageContext* languageContext) override;
    bool IJSON_Clear(VJSONObject* object) override;
    bool IJSON_IsEmpty(const VJSONObject* object) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* object, const VString& name) override;
    EJSONStatus IJSON_Stringify(const VJSONObject* object, VJSONWriter* writer, VString& out, VError* error) override;
    EJSONStatus IJSON_CloneImpl(const VJSONObject* object, VJSONCloner& cloner, IJSONObject** out) override;
    EJSONStatus IJSON_GetPropertyNames(const VJSONObject* object, std::vector<VString>& names) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out, bool shortForm) override;
    EJSONStatus IJSON_CallAsFunction(VJSONObject* object, IJSONFunctionContext* context) override;
    VJSONClass* IJSON_GetFunctionClassOwner(const VJSONObject* object) override;

private:
    VJSONClass::NativeFunction fFunction;
    VString fFullName;
    VJSONClass* fOwner;
};

class VJSONSuper : public VObject, public IJSONObject {
public:
    static VJSONObject* CreateObject();

    EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
                                  VDBLanguageContext* languageContext) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
                                  VDBLanguageContext* languageContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* object, const VString& name) override;
    EJSONStatus IJSON_Clone(const VJSONObject* object, VJSONCloner& cloner, VJSONValue& out, VError* error) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out, bool shortForm) override;
};

class VJSONSuperMember : public VObject, public IJSONObject {
public:
    explicit VJSONSuperMember(const VString& name) : fName(name) {}

    static VJSONObject* CreateObject(const VString& name);

    EJSONStatus IJSON_CallAsFunction(VJSONObject* object, IJSONFunctionContext* context) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
                                  VDBLanguageContext* languageContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* object, const VString& name) override;
    EJSONStatus IJSON_Clone(const VJSONObject* object, VJSONCloner& cloner, VJSONValue& out, VError* error) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out, bool shortForm) override;

private:
    VString fName;
};

}  // namespace bkit
