// VJSONClassStore.cpp - class registry, root classes, and the process store.
#include "basekit/json/VJSONClassStore.h"

#include <atomic>
#include <mutex>

#include "basekit/files/IFile.h"
#include "basekit/json/VJSONMemberFunction.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"

namespace bkit {

namespace {

std::mutex sProcessStoreMutex;
std::atomic<VJSONClassStore*> sProcessStore{nullptr};

}  // namespace

VJSONClassStore* VJSONClassStore::InitProcessStore()
{
    std::lock_guard<std::mutex> lock(sProcessStoreMutex);
    VJSONClassStore* store = sProcessStore.load();
    if (store == nullptr) {
        store = new VJSONClassStore(VString("zanth"));
        // Published first: the root classes find "Class" and "Function"
        // through the process store while they are made.
        sProcessStore.store(store);
        store->AddRootClasses();
    }
    return store;
}

void VJSONClassStore::DeInitProcessStore()
{
    std::lock_guard<std::mutex> lock(sProcessStoreMutex);
    VJSONClassStore* store = sProcessStore.exchange(nullptr);
    ReleaseRefCountable(&store);
}

VJSONClassStore* VJSONClassStore::GetProcessStore() { return sProcessStore.load(); }

VJSONObject* VJSONClassStore::RetainProcessClassObject(const VString& storeName, const VString& className)
{
    std::lock_guard<std::mutex> lock(sProcessStoreMutex);
    VJSONClassStore* store = sProcessStore.load();
    if (store == nullptr || !storeName.EqualToStringRaw(store->GetName()))
        return nullptr;
    return store->GetClassObject(className, false);
}

VJSONClassStore::VJSONClassStore(const VString& name) : fName(name)
{
    fClasses.max_load_factor(1.0f);
    fVisibleClasses.max_load_factor(1.0f);
    fComponentStores.max_load_factor(1.0f);
}

VJSONClassStore::~VJSONClassStore()
{
    ReleaseSingletons();
    // Each class drops what it holds, and each class object leaves its class:
    // that ends the cycles through "Class" (its own class) and "Function"
    // (whose prototype holds function objects of class "Function").
    std::vector<VJSONObject*> objects;
    {
        StLocker<VCriticalSection> lock(fLock);
        for (auto& [name, object] : fClasses)
            objects.push_back(RetainRefCountable(object));
    }
    for (VJSONObject* object : objects) {
        if (VJSONClass* cls = VJSONClass::FromClassObject(object))
            cls->_BreakCycles();
    }
    for (VJSONObject* object : objects)
        object->_LeaveClass();
    for (VJSONObject*& object : objects)
        ReleaseRefCountable(&object);
    for (auto& [name, object] : fVisibleClasses)
        ReleaseRefCountable(&object);
    for (auto& [name, object] : fClasses)
        ReleaseRefCountable(&object);
    RemoveComponentClassStores();
}

void VJSONClassStore::AddRootClasses()
{
    StLocker<VCriticalSection> lock(fLock);
    auto makeRoot = [this](const char* name, VJSONObject* super, uint32_t level) {
        VJSONClass* cls = new VJSONClass(VString(name), super, level, nullptr, fName, 0);
        VJSONObject* object = new VJSONObject(nullptr, cls, nullptr, false);
        cls->fClassObject = object;
        cls->Release();
        return object;
    };
    VJSONObject* object = makeRoot("Object", nullptr, 0);
    VJSONObject* klass = makeRoot("Class", object, 1);
    VJSONClass* classClass = VJSONClass::FromClassObject(klass);
    object->_SetClass(classClass);
    klass->_SetClass(classClass);
    object->SetConstructionLevel(1);
    klass->SetConstructionLevel(2);
    fObjectClass = object;
    fClassClass = klass;
    VJSONObject* function = makeRoot("Function", object, 1);
    function->_SetClass(classClass);
    fFunctionClass = function;
    for (VJSONObject* o : {object, klass, function}) {
        const VString& name = VJSONClass::FromClassObject(o)->GetName();
        _Put(fClasses, name, o);
        _Put(fVisibleClasses, name, o);
        o->Release();
    }
    VJSONClass::FromClassObject(object)->SetFunctions(std::vector<VJSONClass::FunctionDescriptor>{}, nullptr, nullptr);
    classClass->SetFunctions({{VString("new"), &VJSONClass::do_new, 0}}, nullptr, nullptr);
    VJSONClass::FromClassObject(function)->SetFunctions(
        {{VString("apply"), &VJSONMemberFunction::do_apply, 0}, {VString("call"), &VJSONMemberFunction::do_call, 0}},
        nullptr, nullptr);
}

void VJSONClassStore::_Put(ClassMap& map, const VString& name, VJSONObject* classObject)
{
    auto [at, inserted] = map.emplace(name, nullptr);
    VJSONObject* old = at->second;
    at->second = RetainRefCountable(classObject);
    ReleaseRefCountable(&old);
}

void VJSONClassStore::AddClass(VJSONObject* classObject, uint32_t flags)
{
    VJSONClass* cls = VJSONClass::FromClassObject(classObject);
    if (cls == nullptr)
        return;
    StLocker<VCriticalSection> lock(fLock);
    _Put(fClasses, cls->GetName(), classObject);
    if (!(flags & kFlag_Hidden))
        _Put(fVisibleClasses, cls->GetName(), classObject);
}

VJSONObject* VJSONClassStore::AddClass(const VString& name,
                                       const std::vector<VJSONClass::FunctionDescriptor>& descriptors,
                                       VJSONObject* superclassObject, VJSONClass::NativeFunction constructor,
                                       VJSONClass::Instantiator instantiator, uint32_t flags)
{
    VJSONObject* classObject = VJSONClass::Create(name, superclassObject, nullptr, fName, flags);
    VJSONClass* cls = VJSONClass::FromClassObject(classObject);
    if (cls == nullptr)
        return classObject;
    cls->SetFunctions(descriptors, constructor, instantiator);
    AddClass(classObject, 0);
    return classObject;
}

VJSONObject* VJSONClassStore::_Find(const ClassMap& map, const VString& name, bool ignoreCase)
{
    if (!ignoreCase) {
        auto found = map.find(name);
        return found != map.end() ? RetainRefCountable(found->second) : nullptr;
    }
    for (const auto& [key, object] : map) {
        if (object != nullptr && key.CompareToStringRawCase(name) == CR_EQUAL)
            return RetainRefCountable(object);
    }
    return nullptr;
}

VJSONObject* VJSONClassStore::GetClassObject(const VString& name, bool ignoreCase) const
{
    StLocker<VCriticalSection> lock(fLock);
    return _Find(fClasses, name, ignoreCase);
}

VJSONObject* VJSONClassStore::GetVisibleClassObject(const VString& name, bool ignoreCase) const
{
    StLocker<VCriticalSection> lock(fLock);
    return _Find(fVisibleClasses, name, ignoreCase);
}

bool VJSONClassStore::EqualClassName(const VString& a, const VString& b, bool ignoreCase) const
{
    return ignoreCase ? a.CompareToStringRawCase(b) == CR_EQUAL : a.EqualToStringRaw(b);
}

void VJSONClassStore::GetClasses(ClassMap& out) const
{
    StLocker<VCriticalSection> lock(fLock);
    if (&out != &fClasses)
        out = fClasses;
}

void VJSONClassStore::GetVisibleClasses(ClassMap& out) const
{
    StLocker<VCriticalSection> lock(fLock);
    if (&out != &fVisibleClasses)
        out = fVisibleClasses;
}

void VJSONClassStore::GetComponentClassStores(StoreMap& out) const
{
    StLocker<VCriticalSection> lock(fLock);
    if (&out != &fComponentStores)
        out = fComponentStores;
}

size_t VJSONClassStore::GetCount() const
{
    StLocker<VCriticalSection> lock(fLock);
    return fClasses.size();
}

void VJSONClassStore::AddComponentClassStore(const VString& name, VJSONClassStore* store)
{
    StLocker<VCriticalSection> lock(fLock);
    if (store != nullptr && fComponentStores.count(name) == 0)
        fComponentStores.emplace(name, RetainRefCountable(store));
}

VJSONClassStore* VJSONClassStore::GetComponentClassStore(const VString& name) const
{
    StLocker<VCriticalSection> lock(fLock);
    auto found = fComponentStores.find(name);
    return found != fComponentStores.end() ? RetainRefCountable(found->second) : nullptr;
}

void VJSONClassStore::RemoveComponentClassStores()
{
    StLocker<VCriticalSection> lock(fLock);
    for (auto& [name, store] : fComponentStores)
        ReleaseRefCountable(&store);
    fComponentStores.clear();
}

void VJSONClassStore::ReleaseSingletons()
{
    StLocker<VCriticalSection> lock(fLock);
    for (auto& [name, object] : fClasses) {
        if (VJSONClass* cls = VJSONClass::FromClassObject(object))
            cls->ReleaseSingleton();
    }
}

void VJSONClassStore::RemoveObsoleteClasses(const FileMap& files, std::vector<VString>& removedNames)
{
    StLocker<VCriticalSection> lock(fLock);
    for (auto i = fClasses.begin(); i != fClasses.end();) {
        VJSONClass* cls = VJSONClass::FromClassObject(i->second);
        bool remove = false;
        if (cls != nullptr) {
            const bool named = files.count(i->first) != 0;
            if (cls->GetDefinitionFile() != nullptr)
                remove = !named || cls->IsObsolete();
            else
                remove = named || cls->IsObsolete();
        }
        if (!remove) {
            ++i;
            continue;
        }
        if (cls->GetDefinitionFile() != nullptr)
            removedNames.push_back(i->first);
        auto visible = fVisibleClasses.find(i->first);
        if (visible != fVisibleClasses.end()) {
            ReleaseRefCountable(&visible->second);
            fVisibleClasses.erase(visible);
        }
        ReleaseRefCountable(&i->second);
        i = fClasses.erase(i);
    }
}

void VJSONClassStore::GetPublicSharedSingletonIdentifiers(std::vector<VString>& identifiers,
                                                          const VString& prefix) const
{
    constexpr uint32_t kBoth = VJSONClass::kFlag_Shared | VJSONClass::kFlag_Singleton;
    StLocker<VCriticalSection> lock(fLock);
    for (const auto& [name, object] : fVisibleClasses) {
        VJSONClass* cls = VJSONClass::FromClassObject(object);
        if (cls && (cls->GetFlags() & kBoth) == kBoth)
            identifiers.push_back(prefix + name);
    }
    for (const auto& [component, store] : fComponentStores) {
        StLocker<VCriticalSection> inner(store->fLock);
        for (const auto& [name, object] : store->fVisibleClasses) {
            VJSONClass* cls = VJSONClass::FromClassObject(object);
            if (cls && (cls->GetFlags() & kBoth) == kBoth)
                identifiers.push_back(component + VString(".") + name);
        }
    }
}

VJSONObject* VJSONClassStore::GetClassObjectFromIdentifier(const VString& identifier) const
{
    const VIndex dot = identifier.FindUniChar(u'.');
    if (dot <= 1)
        return GetClassObject(identifier, false);
    VJSONClassStore* store = GetComponentClassStore(identifier.GetSubString(1, dot - 1));
    if (store == nullptr)
        return nullptr;
    VJSONObject* object = store->GetClassObject(identifier.GetSubString(dot + 1, identifier.GetLength() - dot), false);
    store->Release();
    return object;
}

VJSONObject* VJSONClassStore::GetSingletonObjectFromIdentifier(const VString& identifier,
                                                               VDBLanguageContext* languageContext) const
{
    VJSONObject* classObject = GetClassObjectFromIdentifier(identifier);
    VJSONClass* cls = VJSONClass::FromClassObject(classObject);
    VJSONObject* singleton = cls ? cls->GetSingleton(languageContext, nullptr) : nullptr;
    ReleaseRefCountable(&classObject);
    return singleton;
}

// --- the store's object ---

EJSONStatus VJSONClassStore::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                               VDBLanguageContext*)
{
    StLocker<VCriticalSection> lock(fLock);
    auto found = fClasses.find(name);
    if (found != fClasses.end()) {
        out.SetObject(found->second);
        return eJSON_done;
    }
    auto store = fComponentStores.find(name);
    if (store != fComponentStores.end()) {
        VJSONObject* object = new VJSONObject(nullptr, store->second, nullptr, false);
        out.SetObject(object);
        object->Release();
        return eJSON_done;
    }
    out.SetUndefined();
    return eJSON_done;
}

EJSONStatus VJSONClassStore::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*)
{
    _ThrowError(VE_JSON_CANNOT_SET_PROPERTY);
    return eJSON_failed;
}

bool VJSONClassStore::IJSON_Clear(VJSONObject*) { return false; }

bool VJSONClassStore::IJSON_IsEmpty(const VJSONObject*) { return false; }

EJSONStatus VJSONClassStore::IJSON_Stringify(const VJSONObject* object, VJSONWriter*, VString& out, VError*)
{
    return IJSON_GetDescription(object, out, false);
}

EJSONStatus VJSONClassStore::IJSON_GetPropertyNames(const VJSONObject*, std::vector<VString>& names)
{
    StLocker<VCriticalSection> lock(fLock);
    for (const auto& entry : fVisibleClasses)
        names.push_back(entry.first);
    return eJSON_done;
}

EJSONStatus VJSONClassStore::IJSON_GetDescription(const VJSONObject*, VString& out, bool)
{
    out.FromCString("<<Class Store>>");
    return eJSON_done;
}

}  // namespace bkit
