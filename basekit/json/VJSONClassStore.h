// VJSONClassStore.h - the registry of JSON classes of one component.
//
// This file defines VJSONClassStore: classes by name (exact or ignoring
// case, all or only visible ones), attached stores of other components, the
// three root classes "Object", "Class" and "Function", and the store's own
// face as a JSON object (its properties are its classes).
//
// The process store: the process creates one store named "zanth" at
// start-up with InitProcessStore() and ends it with DeInitProcessStore()
// when it goes; VProcess::GetClassObject(storeName, className) answers
// with RetainProcessClassObject(storeName, className). Classes and function
// objects made while there is no process store have no class of their own.
//
// Contracts:
// - One VCriticalSection guards the maps; lookups return retained objects.
//   The store's lock is taken before a class's lock.
// - The root classes hold each other (the class of "Class" is "Class"
//   itself); the destructor breaks those cycles so that everything the store
//   made is freed.
#pragma once

#include <unordered_map>
#include <vector>

#include "basekit/json/IJSONObject.h"
#include "basekit/json/VJSONClass.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONClassStore : public VObject, public IJSONObject {
public:
    using ClassMap = std::unordered_map<VString, VJSONObject*, hasher_VString>;
    using StoreMap = std::unordered_map<VString, VJSONClassStore*, hasher_VString>;
    using FileMap = std::unordered_map<VString, IFile*, hasher_VString>;

    enum : uint32_t { kFlag_Hidden = 1 };

    explicit VJSONClassStore(const VString& name);
    ~VJSONClassStore() override;

    // --- the process store ---

    // Makes the store "zanth" with its root classes when there is none;
    // returns it (no reference). Thread-safe.
    static VJSONClassStore* InitProcessStore();
    // Ends the process store (its classes are freed once nothing uses them).
    static void DeInitProcessStore();
    // The process store (no reference), or null.
    static VJSONClassStore* GetProcessStore();
    // The class object when storeName is the process store's name exactly.
    static VJSONObject* RetainProcessClassObject(const VString& storeName, const VString& className);

    const VString& GetName() const { return fName; }

    void AddRootClasses();
    void AddClass(VJSONObject* classObject, uint32_t flags);
    VJSONObject* AddClass(const VString& name, const std::vector<VJSONClass::FunctionDescriptor>& descriptors,
                          VJSONObject* superclassObject, VJSONClass::NativeFunction constructor,
                          VJSONClass::Instantiator instantiator, uint32_t flags);

    VJSONObject* GetClassObject(const VString& name, bool ignoreCase) const;
    VJSONObject* GetVisibleClassObject(const VString& name, bool ignoreCase) const;
    bool EqualClassName(const VString& a, const VString& b, bool ignoreCase) const;
    void GetClasses(ClassMap& out) const;
    void GetVisibleClasses(ClassMap& out) const;
    void GetComponentClassStores(StoreMap& out) const;
    size_t GetCount() const;

    void AddComponentClassStore(const VString& name, VJSONClassStore* store);
    VJSONClassStore* GetComponentClassStore(const VString& name) const;
    void RemoveComponentClassStores();

    void ReleaseSingletons();
    void RemoveObsoleteClasses(const FileMap& files, std::vector<VString>& removedNames);
    void GetPublicSharedSingletonIdentifiers(std::vector<VString>& identifiers, const VString& prefix) const;
    VJSONObject* GetClassObjectFromIdentifier(const VString& identifier) const;
    VJSONObject* GetSingletonObjectFromIdentifier(const VString& identifier,
                                                  VDBLanguageContext* languageContext) const;

    // The root class objects (no reference), null before AddRootClasses.
    VJSONObject* GetObjectClassObject() const { return fObjectClass; }
    VJSONObject* GetClassClassObject() const { return fClassClass; }
    VJSONObject* GetFunctionClassObject() const { return fFunctionClass; }

    // IJSONObject of the store's object.
    EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
                                  VDBLanguageContext* languageContext) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
                                  VDBLanguageContext* languageContext) override;
    bool IJSON_Clear(VJSONObject* object) override;
    bool IJSON_IsEmpty(const VJSONObject* object) override;
    EJSONStatus IJSON_Stringify(const VJSONObject* object, VJSONWriter* writer, VString& out, VError* error) override;
    EJSONStatus IJSON_GetPropertyNames(const VJSONObject* object, std::vector<VString>& names) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out, bool shortForm) override;

private:
    static VJSONObject* _Find(const ClassMap& map, const VString& name, bool ignoreCase);
    static void _Put(ClassMap& map, const VString& name, VJSONObject* classObject);

    mutable VCriticalSection fLock;
    VString fName;
    ClassMap fClasses;
    ClassMap fVisibleClasses;
    StoreMap fComponentStores;
    VJSONObject* fObjectClass = nullptr;
    VJSONObject* fClassClass = nullptr;
    VJSONObject* fFunctionClass = nullptr;
};

}  // namespace bkit
