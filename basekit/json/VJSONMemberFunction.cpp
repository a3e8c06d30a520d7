// VJSONMemberFunction.cpp - native function objects, "apply", "call" and super calls.
#include "basekit/json/VJSONMemberFunction.h"

#include <algorithm>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONClassStore.h"
#include "basekit/json/VJSONFunctionContext.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"

namespace bkit {

namespace {

EJSONStatus Refuse(VError code)
{
    _ThrowError(code);
    return eJSON_failed;
}

// Calls target with thisArg and parameters on a fresh context and hands its
// result to the caller's context.
EJSONStatus CallWith(VJSONObject* target, const VJSONValue& thisArg, std::vector<VJSONValue>& parameters,
                     IJSONFunctionContext* context)
{
    VJSONFunctionContext call(thisArg.GetObject(), thisArg.GetArray(), &parameters, context->GetBaseContext(),
                              context->GetLanguageContext());
    call.SetScope(thisArg.GetObject(), target);
    EJSONStatus status = target->GetImplementation()->IJSON_CallAsFunction(target, &call);
    VJSONValue result;
    call.GetResult(result);
    context->SetResult(result, call.GetResultLegacyValueKind());
    if (status == eJSON_notHandled)
        _ThrowError(VE_JSON_NOT_CALLABLE);
    return status;
}

}  // namespace

VJSONObject* VJSONMemberFunction::Create(VJSONClass::NativeFunction function, const VString& name, VJSONClass* owner,
                                         uint32_t flags)
{
    VString fullName = (owner ? owner->GetName() : VString()) + VString(".") + name;
    VJSONMemberFunction* implementation = new VJSONMemberFunction(function, fullName, owner);
    VJSONClassStore* store = VJSONClassStore::GetProcessStore();
    VJSONObject* object =
        new VJSONObject(store ? store->GetFunctionClassObject() : nullptr, implementation, nullptr, false);
    implementation->Release();
    if (flags & 1)
        object->SetOwnProperty(VString("final"), VJSONValue(JSON_true));
    if (flags & 2)
        object->SetOwnProperty(VString("__hidden"), VJSONValue(JSON_true));
    return object;
}

EJSONStatus VJSONMemberFunction::do_apply(const VJSONObject*, IJSONFunctionContext* context)
{
    VJSONObject* target = context->GetThisObject();
    if (target == nullptr || target->GetImplementation() == nullptr)
        return Refuse(VE_JSON_NOT_CALLABLE);
    VJSONValue thisArg = context->GetParam(1);
    VJSONValue args = context->GetParam(2);
    std::vector<VJSONValue> parameters;
    if (VJSONArray* array = args.GetArray())
        array->GetValues(parameters);
    return CallWith(target, thisArg, parameters, context);
}

EJSONStatus VJSONMemberFunction::do_call(const VJSONObject*, IJSONFunctionContext* context)
{
    VJSONObject* target = context->GetThisObject();
    if (target == nullptr || target->GetImplementation() == nullptr)
        return Refuse(VE_JSON_NOT_CALLABLE);
    std::vector<VJSONValue>* given = nullptr;
    VError err = context->GetParametersAsJSONValues(&given);
    if (err != 0)
        return static_cast<EJSONStatus>(err);
    if (given != nullptr && !given->empty()) {
        std::vector<VJSONValue> parameters(given->begin() + 1, given->end());
        return CallWith(target, (*given)[0], parameters, context);
    }
    VJSONFunctionContext call(nullptr, nullptr, context);
    call.SetScope(nullptr, target);
    EJSONStatus status = target->GetImplementation()->IJSON_CallAsFunction(target, &call);
    if (status == eJSON_notHandled)
        _ThrowError(VE_JSON_NOT_CALLABLE);
    return status;
}

EJSONStatus VJSONMemberFunction::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                                   VDBLanguageContext*)
{
    if (!name.EqualToStringRaw(VString("_description")))
        return eJSON_notHandled;
    out.SetString(fFullName);
    return eJSON_done;
}

EJSONStatus VJSONMemberFunction::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&,
                                                   VDBLanguageContext*)
{
    return Refuse(VE_JSON_READ_ONLY_PROPERTY);
}

bool VJSONMemberFunction::IJSON_Clear(VJSONObject*) { return false; }

bool VJSONMemberFunction::IJSON_IsEmpty(const VJSONObject*) { return false; }

EJSONStatus VJSONMemberFunction::IJSON_RemoveProperty(VJSONObject*, const VString&)
{
    return Refuse(VE_JSON_READ_ONLY_PROPERTY);
}

EJSONStatus VJSONMemberFunction::IJSON_Stringify(const VJSONObject* object, VJSONWriter*, VString& out, VError*)
{
    return IJSON_GetDescription(object, out, false);
}

EJSONStatus VJSONMemberFunction::IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, IJSONObject** out)
{
    *out = new VJSONMemberFunction(fFunction, fFullName, nullptr);
    return eJSON_done;
}

EJSONStatus VJSONMemberFunction::IJSON_GetPropertyNames(const VJSONObject*, std::vector<VString>&)
{
    return eJSON_notHandled;
}

EJSONStatus VJSONMemberFunction::IJSON_GetDescription(const VJSONObject*, VString& out, bool)
{
    out = VString("<<Native Function: ") + fFullName + VString(" >>");
    return eJSON_done;
}

EJSONStatus VJSONMemberFunction::IJSON_CallAsFunction(VJSONObject* object, IJSONFunctionContext* context)
{
    return fFunction ? fFunction(object, context) : eJSON_notHandled;
}

VJSONClass* VJSONMemberFunction::IJSON_GetFunctionClassOwner(const VJSONObject*) { return fOwner; }

// --- super ---

VJSONObject* VJSONSuper::CreateObject()
{
    VJSONSuper* implementation = new VJSONSuper();
    VJSONObject* object = new VJSONObject(nullptr, implementation, nullptr, false);
    implementation->Release();
    return object;
}

EJSONStatus VJSONSuper::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                          VDBLanguageContext*)
{
    VJSONObject* member = VJSONSuperMember::CreateObject(name);
    out.SetObject(member);
    member->Release();
    return eJSON_done;
}

EJSONStatus VJSONSuper::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*)
{
    return Refuse(VE_JSON_CANNOT_SET_PROPERTY);
}

EJSONStatus VJSONSuper::IJSON_RemoveProperty(VJSONObject*, const VString&)
{
    return Refuse(VE_JSON_CANNOT_SET_PROPERTY);
}

EJSONStatus VJSONSuper::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& out, VError*)
{
    VJSONObject* copy = CreateObject();
    out.SetObject(copy);
    copy->Release();
    return eJSON_done;
}

EJSONStatus VJSONSuper::IJSON_GetDescription(const VJSONObject*, VString& out, bool)
{
    out.FromCString("<<Super>>");
    return eJSON_done;
}

VJSONObject* VJSONSuperMember::CreateObject(const VString& name)
{
    VJSONSuperMember* implementation = new VJSONSuperMember(name);
    VJSONObject* object = new VJSONObject(nullptr, implementation, nullptr, false);
    implementation->Release();
    return object;
}

EJSONStatus VJSONSuperMember::IJSON_CallAsFunction(VJSONObject*, IJSONFunctionContext* context)
{
    VJSONObject* thisObject = context->GetScopeThisObject();
    VJSONClass* scope = context->GetScopeClass();
    if (scope == nullptr)
        return Refuse(VE_JSON_NO_SCOPE_CLASS);
    VJSONValue member;
    std::vector<const VJSONClass*> met{scope};
    for (const VJSONClass* cls = scope->GetSuperClass(); cls != nullptr && member.IsUndefined();
         cls = cls->GetSuperClass()) {
        if (std::find(met.begin(), met.end(), cls) != met.end() || cls->GetPrototype() == nullptr)
            break;
        met.push_back(cls);
        member = cls->GetPrototype()->GetProperty(fName);
    }
    if (member.IsUndefined())
        return Refuse(VE_JSON_NOT_CALLABLE);
    VJSONObject* function = member.GetObject();
    if (function == nullptr || function->GetImplementation() == nullptr)
        return Refuse(VE_JSON_NOT_A_FUNCTION);
    VJSONFunctionContext call(thisObject, nullptr, context);
    call.SetScope(thisObject, function);
    return function->GetImplementation()->IJSON_CallAsFunction(function, &call);
}

EJSONStatus VJSONSuperMember::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*)
{
    return Refuse(VE_JSON_CANNOT_SET_PROPERTY);
}

EJSONStatus VJSONSuperMember::IJSON_RemoveProperty(VJSONObject*, const VString&)
{
    return Refuse(VE_JSON_CANNOT_SET_PROPERTY);
}

EJSONStatus VJSONSuperMember::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue& out, VError*)
{
    VJSONObject* copy = CreateObject(fName);
    out.SetObject(copy);
    copy->Release();
    return eJSON_done;
}

EJSONStatus VJSONSuperMember::IJSON_GetDescription(const VJSONObject*, VString& out, bool)
{
    out = VString("<<Super member: ") + fName + VString(">>");
    return eJSON_done;
}

}  // namespace bkit
