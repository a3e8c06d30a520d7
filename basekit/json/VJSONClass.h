// VJSONClass.h - JSON classes: prototypes, member functions, getters, setters, constructors.
//
// This file defines VJSONClass, the implementation behind a class object: a
// VJSONObject of class "Class" whose property reads and writes pass through
// the class ("name", "superclass", "__prototype", "me", ...). Instances are
// ordinary objects whose class pointer names the class (VJSONObject).
//
// Contracts:
// - A class is created (Create), then its functions are set once
//   (SetFunctions); before that it makes no instance.
// - A class lives as long as its class object; the class object lives as long
//   as the store holds it or objects of the class exist (use count).
// - Walks up the superclass chain stop at a class met twice, so a corrupt
//   chain cannot loop.
// - The class lock guards only the internal singleton; the maps are written
//   only while functions are set, before the class is used. The use count is
//   atomic. A store's lock is taken before a class's lock.
// - Errors: 'QNRT' with the negative numbers below, no text of their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "basekit/json/IJSONObject.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"
#include "basekit/values/VTime.h"

namespace bkit {

class IFile;

constexpr VError VE_JSON_READ_ONLY_PROPERTY = MakeVError(kQNRT_SIGNATURE, -10702);
constexpr VError VE_JSON_CANNOT_SET_PROPERTY = MakeVError(kQNRT_SIGNATURE, -10705);
constexpr VError VE_JSON_NOT_A_FUNCTION = MakeVError(kQNRT_SIGNATURE, -10707);
constexpr VError VE_JSON_NOT_CALLABLE = MakeVError(kQNRT_SIGNATURE, -10729);
constexpr VError VE_JSON_NO_SCOPE_CLASS = MakeVError(kQNRT_SIGNATURE, -10736);
constexpr VError VE_JSON_BAD_SUPER_CONSTRUCTOR_CALL = MakeVError(kQNRT_SIGNATURE, -10746);
constexpr VError VE_JSON_SUPERCLASS_NOT_A_CLASS = MakeVError(kQNRT_SIGNATURE, -10747);
constexpr VError VE_JSON_SUPER_CONSTRUCTOR_NOT_CALLED = MakeVError(kQNRT_SIGNATURE, -10748);
constexpr VError VE_JSON_NO_INSTANTIATOR = MakeVError(kQNRT_SIGNATURE, -10749);
constexpr VError VE_JSON_OVERRIDING_FINAL_FUNCTION = MakeVError(kQNRT_SIGNATURE, -10750);
constexpr VError VE_JSON_CONSTRUCTOR_NOT_RUN = MakeVError(kQNRT_SIGNATURE, -10751);
constexpr VError VE_JSON_SHARED_INSTANTIATOR = MakeVError(kQNRT_SIGNATURE, -10759);
constexpr VError VE_JSON_TOO_MANY_PARAMETERS = MakeVError(kQNRT_SIGNATURE, 58);

// The hash of class and store maps (see VJSONClassStore).
struct hasher_VString {
    size_t operator()(const VString& text) const;
};

class VJSONClass : public VObject, public IJSONObject {
public:
    using NativeFunction = EJSONStatus (*)(const VJSONObject* thisFunction, IJSONFunctionContext* context);
    using Instantiator = VJSONObject* (*)(VJSONObject* classObject, IJSONFunctionContext* context);
    using FunctionMap = std::unordered_map<VString, VJSONObject*, hasher_VString>;
    using FunctionList = std::vector<std::pair<VString, VJSONObject*>>;

    enum : uint32_t {
        kFlag_Final = 0x02,
        kFlag_Shared = 0x20,
        kFlag_Singleton = 0x40,
        kFlag_SessionSingleton = 0x80,  // implies shared and singleton
    };

    struct FunctionDescriptor {
        VString name;
        NativeFunction function;
        uint32_t flags;  // bit 0 final, bit 1 hidden
    };

    VJSONClass(const VString& name, VJSONObject* superclassObject, uint32_t level, IFile* file,
               const VString& storeName, uint32_t flags);
    ~VJSONClass() override;

    // The class object (one reference), or null ('QNRT' -10747 when the
    // superclass object is no class). A null superclass is the process
    // store's "Object".
    static VJSONObject* Create(const VString& name, VJSONObject* superclassObject, IFile* file,
                               const VString& storeName, uint32_t flags);
    static VJSONObject* Create(const VString& name, const std::vector<FunctionDescriptor>& descriptors,
                               VJSONObject* superclassObject, NativeFunction constructor, Instantiator instantiator,
                               uint32_t flags);

    // The class behind a class object, or null.
    static VJSONClass* FromClassObject(const VJSONObject* classObject);

    void SetFunctions(const std::vector<FunctionDescriptor>& descriptors, NativeFunction constructor,
                      Instantiator instantiator);
    void SetFunctions(const FunctionList& functions, VJSONObject* constructorObject, Instantiator instantiator);

    const VString& GetName() const { return fName; }
    const VString& GetStoreName() const { return fStoreName; }
    VJSONObject* GetClassObject() const { return fClassObject; }
    VJSONClass* GetSuperClass() const { return fSuperClass; }
    VJSONObject* GetSuperClassObject() const { return fSuperClassObject; }
    VJSONObject* GetPrototype() const { return fPrototype; }
    VJSONObject* GetConstructor() const { return fConstructor; }
    uint32_t GetLevel() const { return fLevel; }
    uint32_t GetSequenceID() const { return fSequenceID; }
    uint32_t GetFlags() const { return fFlags; }
    uint32_t GetClassData() const { return 0; }
    IFile* GetDefinitionFile() const { return fFile; }
    bool AreFunctionsSet() const { return fFunctionsSet; }
    void SetObsolete(bool obsolete) { fObsolete = obsolete; }

    // Lookups of the maps (no reference), null when absent.
    VJSONObject* GetMemberFunction(const VString& name) const;
    VJSONObject* GetGetter(const VString& name) const;
    VJSONObject* GetSetter(const VString& name) const;
    void GetGetterNames(std::vector<VString>& names) const;
    // Some attribute is read through a getter: instances then have
    // properties beyond their stored ones.
    bool HasGetters() const { return !fGetterMap.empty(); }

    // This class or one of its superclasses is cls.
    bool IsKindOf(const VJSONClass* cls) const;

    static bool IsFunctionHidden(const VJSONObject* functionObject);

    VJSONObject* CreateInstance(VJSONObject* classObject, IJSONFunctionContext* context) const;
    static VJSONObject* CreateInstanceFromClassObject(VJSONObject* classObject, VDBLanguageContext* languageContext,
                                                      std::vector<VJSONValue>* parameters);
    EJSONStatus ConstructInstance(VJSONObject* instance, IJSONFunctionContext* context) const;
    EJSONStatus CallConstructor(VJSONObject* instance, IJSONFunctionContext* context) const;
    static EJSONStatus CallSuperConstructor(IJSONFunctionContext* context);
    static VError FinalizeInstance(VJSONObject* instance);
    virtual EJSONStatus _InitProperties(VJSONObject* instance, IJSONFunctionContext* context) const;
    virtual EJSONStatus _CallProperties(VJSONObject* instance, IJSONFunctionContext* context) const;

    // Singletons (retained results).
    VJSONObject* GetSingleton(VDBLanguageContext* languageContext, IJSONFunctionContext* context) const;
    VJSONObject* GetInternalSingleton(VDBLanguageContext* languageContext, IJSONFunctionContext* context) const;
    void ReleaseSingleton();

    bool IsObsolete() const;

    void UseClassObject();
    void UnuseClassObject();

    // Drops everything the class holds (prototype contents, functions,
    // constructor, singleton) and leaves its class object's class, so that
    // the cycles through the root classes end. Only the store's teardown
    // calls it.
    void _BreakCycles();

    // Natives of the class itself.
    static EJSONStatus do_new(const VJSONObject* thisFunction, IJSONFunctionContext* context);
    static EJSONStatus do_errorReadOnlyAttribute(const VJSONObject* thisFunction, IJSONFunctionContext* context);
    static EJSONStatus do_errorWriteOnlyAttribute(const VJSONObject* thisFunction, IJSONFunctionContext* context);
    static EJSONStatus do_errorOverridingFinalFunction(const VJSONObject* thisFunction,
                                                       IJSONFunctionContext* context);
    static VJSONObject* ErrorSharedObjectInstantiator(VJSONObject* classObject, IJSONFunctionContext* context);
    static VJSONObject* GenericInstantiator(VJSONObject* classObject, IJSONFunctionContext* context);
    static VJSONObject* SharedObjectInstantiator(VJSONObject* classObject, IJSONFunctionContext* context);

    // IJSONObject of the class object.
    EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
                                  VDBLanguageContext* languageContext) override;
    EJSONStatus IJSON_GetPropertyNames(const VJSONObject* object, std::vector<VString>& names) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out, bool shortForm) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
                                  VDBLanguageContext* languageContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* object, const VString& name) override;
    EJSONStatus IJSON_Clone(const VJSONObject* object, VJSONCloner& cloner, VJSONValue& out,
                            VError* error) override;

    // Keys of class and function definitions. Those the class itself does
    // not read serve definitions supplied by a host.
    static const VString sFunctionProperty_local;
    static const VString sFunctionProperty_exposed;
    static const VString sFunctionProperty_onHTTPGet;
    static const VString sFunctionProperty_eventName;
    static const VString sFunctionProperty_resultType;
    static const VString sFunctionProperty_resultTypeCode;
    static const VString sFunctionProperty_resultClass;
    static const VString sFunctionProperty_shared;
    static const VString sClassProperty_singleton;
    static const VString sClassProperty_session;
    static const VString sClassProperty_aliases;
    static const VString sAliasProperty_name;
    static const VString sAliasProperty_path;
    static const VString sClassProperty_properties;
    static const VString sClassProperty_property_value;
    static const VString sClassProperty_property_type;
    static const VString sClassProperty_property_content;
    static const VString sFunctionType_init;
    static const VString sFunctionType_init_withSpace;

private:
    friend class VJSONClassStore;

    // The chain from this class up to the root, each class once.
    std::vector<const VJSONClass*> _GetChain() const;
    static VJSONObject* _NewMapObject();
    static void _Record(VJSONObject*& holder, FunctionMap& map, const VString& key, VJSONObject* function);

    VString fName;
    VString fStoreName;
    VJSONObject* fClassObject = nullptr;
    VJSONClass* fSuperClass = nullptr;
    VJSONObject* fSuperClassObject = nullptr;
    VJSONObject* fPrototype = nullptr;
    VJSONObject* fGetters = nullptr;
    VJSONObject* fSetters = nullptr;
    VJSONObject* fConstructor = nullptr;
    mutable VJSONObject* fSingleton = nullptr;
    mutable VCriticalSection fLock;
    Instantiator fInstantiator = nullptr;
    FunctionMap fFunctions;
    FunctionMap fGetterMap;
    FunctionMap fSetterMap;
    VJSONObject* fInitFunctions = nullptr;
    FunctionMap fInitMap;
    VJSONObject* fReadOnlyErrorFunction = nullptr;
    VJSONObject* fWriteOnlyErrorFunction = nullptr;
    uint32_t fLevel;
    uint32_t fSequenceID;
    IFile* fFile = nullptr;
    VTime fDefinitionTime;
    bool fFunctionsSet = false;
    bool fObsolete = false;
    uint32_t fFlags;
    std::atomic<uint32_t> fUseCount{0};
};

}  // namespace bkit
