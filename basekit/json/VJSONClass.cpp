// VJSONClass.cpp - JSON classes: building, functions, instances and singletons.
#include "basekit/json/VJSONClass.h"

#include <algorithm>

#include "basekit/files/IFile.h"
#include "basekit/json/VJSONClassStore.h"
#include "basekit/json/VJSONFunctionContext.h"
#include "basekit/json/VJSONMemberFunction.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VStorageLocker.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"

namespace bkit {

namespace {

std::atomic<uint32_t> sClassCounter{0};

const VString kName("name");
const VString kSuperclass("superclass");
const VString kPrototype("__prototype");
const VString kFile("__file");
const VString kID("_id");
const VString kHidden("__hidden");
const VString kProperties("__properties");
const VString kMe("me");
const VString kIsSingleton("isSingleton");
const VString kIsShared("isShared");
const VString kIsSessionSingleton("isSessionSingleton");
const VString kDescription("_description");
const VString kConstant("constant");

bool IsOneOf(const VString& name, std::initializer_list<const VString*> names)
{
    for (const VString* n : names) {
        if (name.EqualToStringRaw(*n))
            return true;
    }
    return false;
}

}  // namespace

const VString VJSONClass::sFunctionProperty_local("local");
const VString VJSONClass::sFunctionProperty_exposed("exposed");
const VString VJSONClass::sFunctionProperty_onHTTPGet("onHTTPGet");
const VString VJSONClass::sFunctionProperty_eventName("eventName");
const VString VJSONClass::sFunctionProperty_resultType("resultType");
const VString VJSONClass::sFunctionProperty_resultTypeCode("resultTypeCode");
const VString VJSONClass::sFunctionProperty_resultClass("resultClass");
const VString VJSONClass::sFunctionProperty_shared("shared");
const VString VJSONClass::sClassProperty_singleton("singleton");
const VString VJSONClass::sClassProperty_session("session");
const VString VJSONClass::sClassProperty_aliases("aliases");
const VString VJSONClass::sAliasProperty_name("name");
const VString VJSONClass::sAliasProperty_path("path");
const VString VJSONClass::sClassProperty_properties("properties");
const VString VJSONClass::sClassProperty_property_value("value");
const VString VJSONClass::sClassProperty_property_type("type");
const VString VJSONClass::sClassProperty_property_content("content");
const VString VJSONClass::sFunctionType_init("init");
const VString VJSONClass::sFunctionType_init_withSpace("init ");

size_t hasher_VString::operator()(const VString& text) const
{
    // Long names fold their first and last eight units only.
    const UniChar* units = text.GetCPointer();
    const uint32_t n = static_cast<uint32_t>(text.GetLength());
    uint32_t h = n;
    if (n >= 17) {
        for (uint32_t i = 0; i < 8; ++i)
            h = h * 257 + units[i];
        for (uint32_t i = n - 8; i < n; ++i)
            h = h * 257 + units[i];
    } else {
        for (uint32_t i = 0; i < n; ++i)
            h = h * 257 + units[i];
    }
    return (h << (n % 32)) + h;
}

VJSONClass::VJSONClass(const VString& name, VJSONObject* superclassObject, uint32_t level, IFile* file,
                       const VString& storeName, uint32_t flags)
    : fName(name),
      fStoreName(storeName),
      fSuperClass(FromClassObject(superclassObject)),
      fSuperClassObject(RetainRefCountable(superclassObject)),
      fLevel(level),
      fSequenceID(sClassCounter.fetch_add(1) + 1),
      fFile(RetainRefCountable(file)),
      fFlags((flags & kFlag_SessionSingleton) ? (flags | kFlag_Shared | kFlag_Singleton) : flags)
{
    fFunctions.max_load_factor(1.0f);
    fGetterMap.max_load_factor(1.0f);
    fSetterMap.max_load_factor(1.0f);
    fInitMap.max_load_factor(1.0f);
    fPrototype = new VJSONObject();
    fInstantiator = (fFlags & (kFlag_Shared | kFlag_SessionSingleton)) ? &SharedObjectInstantiator : &GenericInstantiator;
    if (fFile == nullptr || fFile->GetTimeAttributes(&fDefinitionTime) != 0)
        fDefinitionTime.FromSystemTime();
}

VJSONClass::~VJSONClass()
{
    ReleaseRefCountable(&fFile);
    ReleaseRefCountable(&fReadOnlyErrorFunction);
    ReleaseRefCountable(&fWriteOnlyErrorFunction);
    ReleaseRefCountable(&fInitFunctions);
    ReleaseRefCountable(&fSingleton);
    ReleaseRefCountable(&fConstructor);
    ReleaseRefCountable(&fSetters);
    ReleaseRefCountable(&fGetters);
    ReleaseRefCountable(&fPrototype);
    ReleaseRefCountable(&fSuperClassObject);
}

VJSONClass* VJSONClass::FromClassObject(const VJSONObject* classObject)
{
    return classObject ? dynamic_cast<VJSONClass*>(classObject->GetImplementation()) : nullptr;
}

VJSONObject* VJSONClass::Create(const VString& name, VJSONObject* superclassObject, IFile* file,
                                const VString& storeName, uint32_t flags)
{
    VJSONClassStore* store = VJSONClassStore::GetProcessStore();
    VRefPtr<VJSONObject> super;
    if (superclassObject != nullptr)
        super = VRefPtr<VJSONObject>(superclassObject);
    else if (store != nullptr)
        super = VRefPtr<VJSONObject>(store->GetObjectClassObject());
    uint32_t level = 0;
    if (super) {
        VJSONClass* superClass = FromClassObject(super.Get());
        if (superClass == nullptr) {
            _ThrowError(VE_JSON_SUPERCLASS_NOT_A_CLASS);
            return nullptr;
        }
        level = superClass->GetLevel() + 1;
    }
    VJSONClass* cls = new VJSONClass(name, super.Get(), level, file, storeName, flags);
    VJSONObject* classObject = new VJSONObject(store ? store->GetClassClassObject() : nullptr, cls, nullptr, false);
    cls->fClassObject = classObject;
    cls->Release();
    return classObject;
}

VJSONObject* VJSONClass::Create(const VString& name, const std::vector<FunctionDescriptor>& descriptors,
                                VJSONObject* superclassObject, NativeFunction constructor, Instantiator instantiator,
                                uint32_t flags)
{
    VJSONObject* classObject = Create(name, superclassObject, nullptr, VString(), flags);
    if (VJSONClass* cls = FromClassObject(classObject))
        cls->SetFunctions(descriptors, constructor, instantiator);
    return classObject;
}

// --- functions ---

void VJSONClass::SetFunctions(const std::vector<FunctionDescriptor>& descriptors, NativeFunction constructor,
                              Instantiator instantiator)
{
    if (fFunctionsSet)
        return;
    FunctionList functions;
    for (const FunctionDescriptor& d : descriptors) {
        uint32_t flags = d.flags | ((fFlags & kFlag_Final) ? 1u : 0u);
        functions.emplace_back(d.name, VJSONMemberFunction::Create(d.function, d.name, this, flags));
    }
    VJSONObject* constructorObject = nullptr;
    if (constructor != nullptr)
        constructorObject = VJSONMemberFunction::Create(constructor, VString("constructor"), this, 0);
    SetFunctions(functions, constructorObject, instantiator);
    for (auto& f : functions)
        ReleaseRefCountable(&f.second);
    ReleaseRefCountable(&constructorObject);
}

VJSONObject* VJSONClass::_NewMapObject() { return new VJSONObject(); }

void VJSONClass::_Record(VJSONObject*& holder, FunctionMap& map, const VString& key, VJSONObject* function)
{
    if (holder == nullptr)
        holder = _NewMapObject();
    holder->SetOwnProperty(key, VJSONValue(function));
    map[key] = function;
}

void VJSONClass::SetFunctions(const FunctionList& functions, VJSONObject* constructorObject,
                              Instantiator instantiator)
{
    if (fFunctionsSet)
        return;
    VJSONObject* old = fConstructor;
    fConstructor = RetainRefCountable(constructorObject);
    ReleaseRefCountable(&old);
    fInstantiator = instantiator;

    if (fSuperClass != nullptr && fSuperClass != this) {
        fFunctions = fSuperClass->fFunctions;
        fGetterMap = fSuperClass->fGetterMap;
        fSetterMap = fSuperClass->fSetterMap;
    }
    for (const auto& [name, function] : functions) {
        if (function == nullptr)
            continue;
        if (fPrototype->SetOwnProperty(name, VJSONValue(function)))
            fFunctions[name] = function;
        VIndex blank = name.FindUniChar(u' ');
        if (blank <= 2)
            continue;
        VString prefix = name.GetSubString(1, blank - 1);
        VString attribute = name.GetSubString(blank + 1, name.GetLength() - blank);
        function->SetOwnProperty(sFunctionProperty_eventName, VJSONValue(prefix));
        if (prefix.EqualToStringRaw(VString("get")))
            _Record(fGetters, fGetterMap, attribute, function);
        else if (prefix.EqualToStringRaw(VString("set")))
            _Record(fSetters, fSetterMap, attribute, function);
        else if (prefix.EqualToStringRaw(sFunctionType_init))
            _Record(fInitFunctions, fInitMap, attribute, function);
    }
    for (const auto& [attribute, getter] : fGetterMap) {
        if (fSetterMap.count(attribute) != 0)
            continue;
        if (fReadOnlyErrorFunction == nullptr)
            fReadOnlyErrorFunction = VJSONMemberFunction::Create(&do_errorReadOnlyAttribute,
                                                                 VString("set ") + attribute, this, 1);
        fSetterMap[attribute] = fReadOnlyErrorFunction;
    }
    for (const auto& [attribute, setter] : fSetterMap) {
        if (fGetterMap.count(attribute) != 0)
            continue;
        if (fWriteOnlyErrorFunction == nullptr)
            fWriteOnlyErrorFunction = VJSONMemberFunction::Create(&do_errorWriteOnlyAttribute,
                                                                  VString("get ") + attribute, this, 1);
        fGetterMap[attribute] = fWriteOnlyErrorFunction;
    }
    fFunctionsSet = true;
}

VJSONObject* VJSONClass::GetMemberFunction(const VString& name) const
{
    auto found = fFunctions.find(name);
    return found != fFunctions.end() ? found->second : nullptr;
}

VJSONObject* VJSONClass::GetGetter(const VString& name) const
{
    auto found = fGetterMap.find(name);
    return found != fGetterMap.end() ? found->second : nullptr;
}

VJSONObject* VJSONClass::GetSetter(const VString& name) const
{
    auto found = fSetterMap.find(name);
    return found != fSetterMap.end() ? found->second : nullptr;
}

void VJSONClass::GetGetterNames(std::vector<VString>& names) const
{
    for (const auto& entry : fGetterMap)
        names.push_back(entry.first);
}

bool VJSONClass::IsFunctionHidden(const VJSONObject* functionObject)
{
    return functionObject != nullptr && functionObject->GetOwnProperty(kHidden).GetBool();
}

std::vector<const VJSONClass*> VJSONClass::_GetChain() const
{
    std::vector<const VJSONClass*> chain;
    for (const VJSONClass* cls = this; cls != nullptr; cls = cls->fSuperClass) {
        if (std::find(chain.begin(), chain.end(), cls) != chain.end())
            break;
        chain.push_back(cls);
    }
    return chain;
}

bool VJSONClass::IsKindOf(const VJSONClass* cls) const
{
    const std::vector<const VJSONClass*> chain = _GetChain();
    return std::find(chain.begin(), chain.end(), cls) != chain.end();
}

// --- instances ---

VJSONObject* VJSONClass::CreateInstance(VJSONObject* classObject, IJSONFunctionContext* context) const
{
    if (!fFunctionsSet)
        return nullptr;
    if (fInstantiator == nullptr) {
        _ThrowError(VE_JSON_NO_INSTANTIATOR);
        return nullptr;
    }
    VJSONObject* instance = fInstantiator(classObject, context);
    if (instance != nullptr)
        ConstructInstance(instance, context);
    return instance;
}

VJSONObject* VJSONClass::CreateInstanceFromClassObject(VJSONObject* classObject, VDBLanguageContext* languageContext,
                                                       std::vector<VJSONValue>* parameters)
{
    VJSONClass* cls = FromClassObject(classObject);
    if (cls == nullptr)
        return nullptr;
    VJSONFunctionContext context(nullptr, nullptr, parameters, nullptr, languageContext);
    return cls->CreateInstance(classObject, &context);
}

EJSONStatus VJSONClass::ConstructInstance(VJSONObject* instance, IJSONFunctionContext* context) const
{
    const std::vector<const VJSONClass*> chain = _GetChain();
    uint32_t withoutConstructor = 0;
    for (auto i = chain.rbegin(); i != chain.rend() && (*i)->fConstructor == nullptr; ++i)
        ++withoutConstructor;
    // Levels count from 0 at the root: the classes without constructor above
    // the first one that has one are constructed up to level count - 1.
    instance->SetConstructionLevel(withoutConstructor > 0 ? withoutConstructor - 1 : 0);
    instance->SetUnderConstruction(true);
    EJSONStatus status = _InitProperties(instance, context);
    if (status != eJSON_failed) {
        for (const VJSONClass* cls : chain) {
            if (cls->fConstructor != nullptr) {
                status = cls->CallConstructor(instance, context);
                break;
            }
        }
    }
    instance->SetConstructionLevel(fLevel);
    instance->SetUnderConstruction(false);
    return status;
}

EJSONStatus VJSONClass::CallConstructor(VJSONObject* instance, IJSONFunctionContext* context) const
{
    if (fConstructor == nullptr || fConstructor->GetImplementation() == nullptr)
        return eJSON_notHandled;
    VJSONFunctionContext call(instance, nullptr, context);
    call.SetScope(instance, fConstructor);
    EJSONStatus status = fConstructor->GetImplementation()->IJSON_CallAsFunction(fConstructor, &call);
    if (status != eJSON_done)
        return status;
    for (const VJSONClass* cls : _GetChain()) {
        if (cls->fLevel <= instance->GetConstructionLevel())
            break;
        if (cls != this && cls->fConstructor != nullptr) {
            _ThrowError(VE_JSON_SUPER_CONSTRUCTOR_NOT_CALLED);
            return eJSON_failed;
        }
    }
    return eJSON_done;
}

EJSONStatus VJSONClass::CallSuperConstructor(IJSONFunctionContext* context)
{
    VJSONObject* instance = context ? context->GetThisObject() : nullptr;
    VJSONClass* scope = context ? context->GetScopeClass() : nullptr;
    if (instance == nullptr || scope == nullptr || scope->fLevel == 0) {
        _ThrowError(VE_JSON_BAD_SUPER_CONSTRUCTOR_CALL);
        return eJSON_failed;
    }
    const uint32_t constructed = instance->GetConstructionLevel();
    if (scope->fLevel > constructed) {
        const std::vector<const VJSONClass*> chain = scope->_GetChain();
        for (size_t i = 1; i < chain.size() && chain[i - 1]->fLevel > constructed; ++i) {
            const VJSONClass* super = chain[i];
            EJSONStatus status = super->_InitProperties(instance, context);
            if (status == eJSON_notHandled || status == eJSON_done) {
                EJSONStatus called = super->CallConstructor(instance, context);
                if (called != eJSON_notHandled) {
                    instance->SetConstructionLevel(scope->fLevel);
                    return called;
                }
            } else {
                instance->SetConstructionLevel(scope->fLevel);
                return status;
            }
        }
        instance->SetConstructionLevel(scope->fLevel);
        return eJSON_notHandled;
    }
    const VJSONClass* instanceClass = instance->GetClass();
    if ((instanceClass != nullptr && constructed != instanceClass->fLevel) || instance->IsUnderConstruction()) {
        if (scope->fSuperClass != nullptr)
            scope->fSuperClass->_InitProperties(instance, context);
        return eJSON_done;
    }
    _ThrowError(VE_JSON_BAD_SUPER_CONSTRUCTOR_CALL);
    return eJSON_failed;
}

VError VJSONClass::FinalizeInstance(VJSONObject* instance)
{
    const VJSONClass* cls = instance ? instance->GetClass() : nullptr;
    if (cls == nullptr)
        return 0;
    for (const VJSONClass* c : cls->_GetChain()) {
        if (c->fConstructor != nullptr) {
            VError err = _ThrowError(VE_JSON_CONSTRUCTOR_NOT_RUN, &c->fName);
            instance->SetConstructionLevel(cls->fLevel);
            return err;
        }
    }
    instance->SetConstructionLevel(cls->fLevel);
    return 0;
}

EJSONStatus VJSONClass::_InitProperties(VJSONObject* instance, IJSONFunctionContext* context) const
{
    if (fFlags & kFlag_Shared) {
        VJSONUser user(instance, false);
        return _CallProperties(instance, context);
    }
    return _CallProperties(instance, context);
}

EJSONStatus VJSONClass::_CallProperties(VJSONObject* instance, IJSONFunctionContext* context) const
{
    VDBLanguageContext* language = context ? context->GetLanguageContext() : nullptr;
    CDBZanthBaseContext* base = context ? context->GetBaseContext() : nullptr;
    for (const auto& [name, function] : fInitMap) {
        if (function->GetImplementation() != nullptr) {
            VJSONValue result;
            EJSONStatus status = function->CallAsFunction(instance, nullptr, nullptr, result, base, language);
            if (status != eJSON_done)
                return status;
            instance->SetProperty(name, result, language);
        } else {
            instance->SetProperty(name, function->GetOwnProperty(kConstant), language);
        }
    }
    return eJSON_done;
}

// --- singletons ---

VJSONObject* VJSONClass::GetSingleton(VDBLanguageContext* languageContext, IJSONFunctionContext* context) const
{
    if (!(fFlags & kFlag_Singleton))
        return nullptr;
    if ((fFlags & (kFlag_Shared | kFlag_SessionSingleton)) == kFlag_Shared)
        return GetInternalSingleton(languageContext, context);
    // Other singletons come from a host provider, which this system has not.
    return nullptr;
}

VJSONObject* VJSONClass::GetInternalSingleton(VDBLanguageContext* languageContext,
                                              IJSONFunctionContext* context) const
{
    // Read and made under the lock: a second reader never sees a half-made one.
    StLocker<VCriticalSection> lock(fLock);
    if (fSingleton == nullptr) {
        VJSONFunctionContext own(fClassObject, nullptr, nullptr, nullptr, languageContext);
        fSingleton = CreateInstance(fClassObject, context ? context : &own);
    }
    return RetainRefCountable(fSingleton);
}

void VJSONClass::ReleaseSingleton()
{
    StLocker<VCriticalSection> lock(fLock);
    ReleaseRefCountable(&fSingleton);
}

bool VJSONClass::IsObsolete() const
{
    for (const VJSONClass* cls : _GetChain()) {
        if (cls->fObsolete)
            return true;
        if (cls->fFile != nullptr) {
            StErrorContextInstaller silent(false, true);
            VTime modified;
            if (cls->fFile->GetTimeAttributes(&modified) != 0) {
                if (!cls->fFile->Exists())
                    return true;
            } else if (cls->fDefinitionTime.GetMilliseconds() < modified.GetMilliseconds()) {
                return true;
            }
        }
    }
    return false;
}

void VJSONClass::UseClassObject()
{
    if (fUseCount.fetch_add(1) == 0 && fClassObject)
        fClassObject->Retain();
}

void VJSONClass::UnuseClassObject()
{
    if (fUseCount.fetch_sub(1) == 1 && fClassObject)
        fClassObject->Release();
}

void VJSONClass::_BreakCycles()
{
    ReleaseSingleton();
    fFunctions.clear();
    fGetterMap.clear();
    fSetterMap.clear();
    fInitMap.clear();
    for (VJSONObject* holder : {fPrototype, fGetters, fSetters, fInitFunctions}) {
        if (holder)
            holder->ClearInternalProperties();
    }
    ReleaseRefCountable(&fConstructor);
    ReleaseRefCountable(&fReadOnlyErrorFunction);
    ReleaseRefCountable(&fWriteOnlyErrorFunction);
}

// --- natives ---

EJSONStatus VJSONClass::do_new(const VJSONObject*, IJSONFunctionContext* context)
{
    VJSONObject* target = context->GetThisObject();
    VJSONClass* cls = FromClassObject(target);
    VJSONObject* instance = nullptr;
    if (cls != nullptr) {
        if (cls->fFlags & kFlag_Singleton) {
            instance = cls->GetSingleton(context->GetLanguageContext(), context);
        } else if (cls->fFunctionsSet) {
            if (cls->fInstantiator == nullptr) {
                _ThrowError(VE_JSON_NO_INSTANTIATOR);
            } else {
                instance = cls->fInstantiator(target, context);
                if (instance)
                    cls->ConstructInstance(instance, context);
            }
        }
    }
    context->SetResult(instance ? VJSONValue(instance) : VJSONValue(JSON_null), 5);
    ReleaseRefCountable(&instance);
    return eJSON_done;
}

EJSONStatus VJSONClass::do_errorReadOnlyAttribute(const VJSONObject*, IJSONFunctionContext*)
{
    _ThrowError(VE_JSON_READ_ONLY_PROPERTY);
    return eJSON_failed;
}

EJSONStatus VJSONClass::do_errorWriteOnlyAttribute(const VJSONObject*, IJSONFunctionContext* context)
{
    context->SetResult(VJSONValue(), 5);
    return eJSON_done;
}

EJSONStatus VJSONClass::do_errorOverridingFinalFunction(const VJSONObject* thisFunction, IJSONFunctionContext*)
{
    VJSONValue description = thisFunction ? thisFunction->GetProperty(kDescription) : VJSONValue();
    VString text;
    if (description.IsString()) {
        description.GetString(text);
        _ThrowError(VE_JSON_OVERRIDING_FINAL_FUNCTION, &text);
    } else {
        _ThrowError(VE_JSON_OVERRIDING_FINAL_FUNCTION);
    }
    return eJSON_failed;
}

VJSONObject* VJSONClass::ErrorSharedObjectInstantiator(VJSONObject*, IJSONFunctionContext*)
{
    _ThrowError(VE_JSON_SHARED_INSTANTIATOR);
    return nullptr;
}

VJSONObject* VJSONClass::GenericInstantiator(VJSONObject* classObject, IJSONFunctionContext*)
{
    return new VJSONObject(classObject, nullptr, false);
}

VJSONObject* VJSONClass::SharedObjectInstantiator(VJSONObject* classObject, IJSONFunctionContext*)
{
    return new VJSONObject(classObject, nullptr, true);
}

// --- the class object's properties ---

EJSONStatus VJSONClass::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                          VDBLanguageContext* languageContext)
{
    if (name.EqualToStringRaw(kPrototype)) {
        out.SetObject(fPrototype);
    } else if (name.EqualToStringRaw(kMe) && (fFlags & kFlag_Singleton)) {
        VJSONObject* singleton = GetSingleton(languageContext, nullptr);
        if (singleton)
            out.SetObject(singleton);
        else
            out.SetNull();
        ReleaseRefCountable(&singleton);
    } else if (name.EqualToStringRaw(kIsSingleton)) {
        out.SetBool((fFlags & kFlag_Singleton) != 0);
    } else if (name.EqualToStringRaw(kIsShared)) {
        out.SetBool((fFlags & kFlag_Shared) != 0);
    } else if (name.EqualToStringRaw(kIsSessionSingleton)) {
        out.SetBool((fFlags & kFlag_SessionSingleton) != 0);
    } else if (name.EqualToStringRaw(kName)) {
        out.SetString(fName);
    } else if (name.EqualToStringRaw(kSuperclass)) {
        if (fSuperClassObject)
            out.SetObject(fSuperClassObject);
        else
            out.SetNull();
    } else if (name.EqualToStringRaw(kFile)) {
        if (fFile)
            out.SetString(fFile->GetPathWithFileSystem());
    } else if (name.EqualToStringRaw(kID)) {
        out.SetNumber(fSequenceID);
    } else {
        return eJSON_notHandled;
    }
    return eJSON_done;
}

EJSONStatus VJSONClass::IJSON_GetPropertyNames(const VJSONObject*, std::vector<VString>& names)
{
    for (const VString* n : {&kName, &kSuperclass, &kIsSingleton, &kIsShared, &kIsSessionSingleton})
        names.push_back(*n);
    return eJSON_done;
}

EJSONStatus VJSONClass::IJSON_GetDescription(const VJSONObject*, VString& out, bool)
{
    out = VString("Class: ") + fName;
    return eJSON_done;
}

EJSONStatus VJSONClass::IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&,
                                          VDBLanguageContext*)
{
    if (IsOneOf(name, {&kPrototype, &kName, &kSuperclass, &kFile, &kProperties, &kIsSingleton, &kMe, &kIsShared,
                       &kIsSessionSingleton})) {
        _ThrowError(VE_JSON_READ_ONLY_PROPERTY);
        return eJSON_failed;
    }
    return eJSON_notHandled;
}

EJSONStatus VJSONClass::IJSON_RemoveProperty(VJSONObject*, const VString& name)
{
    if (IsOneOf(name, {&kPrototype, &kName, &kSuperclass, &kFile, &kProperties, &kIsSingleton, &kMe, &kIsShared})) {
        _ThrowError(VE_JSON_READ_ONLY_PROPERTY);
        return eJSON_failed;
    }
    return eJSON_notHandled;
}

EJSONStatus VJSONClass::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue&, VError*)
{
    return eJSON_failed;
}

}  // namespace bkit
