// VComponentManager.h - the registry of component types and their libraries.
//
// This file defines VComponentManager, a static registry of component types
// (four-character codes), each served either by a creator function registered
// in the process or by a component library: a dynamic library exporting
// "Main", "GetNthComponentType" and "CreateComponent" (signatures below). It
// keeps unique instances, checks a component's declared requirements and
// picks the localization language of a folder.
//
// Contracts:
// - Nothing works before Init and after DeInit: registry operations answer
//   'bkit' 1000 (raised where the operation raises), null or false.
// - Retain... operations hand a new reference to the caller.
// - Errors are raised on the calling task unless said "returned"; failed
//   entry-point lookups raise nothing.
// - Thread-safety: any task. The type lock comes first: the check, checking
//   and instance locks are never held while waiting for it. Creators run with
//   the type lock held, "Main" with the type and check locks, and either may
//   ask the registry for components.
#pragma once

#include <cstdint>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/CComponent.h"
#include "basekit/runtime/VArrayOf.h"

namespace bkit {

class VCriticalSection;
class VFilePath;
class VFolder;
class VLibrary;

constexpr VError VE_COMPONENT_MANAGER_NOT_INITIALIZED = MakeBKitError(1000);
constexpr VError VE_COMPONENT_NOT_REGISTERED = MakeBKitError(1001);
constexpr VError VE_COMPONENT_ALREADY_REGISTERED = MakeBKitError(1002);
constexpr VError VE_COMPONENT_UNKNOWN = MakeBKitError(1003);
constexpr VError VE_COMPONENT_BAD_LIBRARY = MakeBKitError(1004);
constexpr VError VE_COMPONENT_CANNOT_LOAD_LIBRARY = MakeBKitError(1008);

// The entry points of a component library.
extern const char* const kDEFAULT_MAIN_SYMBOL;         // "Main"
extern const char* const kDEFAULT_GET_TYPES_SYMBOL;    // "GetNthComponentType"
extern const char* const kDEFAULT_CREATE_SYMBOL;       // "CreateComponent"
extern const char* const kDEFAULT_LOCK_SYMBOL;         // "Lock" (never looked up)
extern const char* const kDEFAULT_UNLOCK_SYMBOL;       // "UnLock" (never looked up)
extern const char* const kDEFAULT_CAN_UNLOAD_SYMBOL;   // "CanUnloadLibrary" (never looked up)

// Messages of "Main".
constexpr uint32_t kCOMPONENT_LIBRARY_REGISTERED = 0x72656773;    // 'regs'
constexpr uint32_t kCOMPONENT_LIBRARY_LEAVING = 0x6C656176;       // 'leav'

using ComponentLibraryMainProc = void (*)(uint32_t message, VLibrary* library);
// Answers true and the n-th type (n from 1) while there is one.
using ComponentLibraryGetTypeProc = bool (*)(int32_t n, uint32_t& type);
using ComponentLibraryCreateProc = CComponent* (*)(uint32_t type, uint32_t kind);
using ComponentCreatorProc = CComponent* (*)(uint32_t type, uint32_t kind);

class VComponentManager {
public:
    static bool Init();
    static void DeInit();
    static bool IsInitialized() { return sIsInitialized != 0; }

    // --- creators ---
    static VError RegisterComponentCreator(uint32_t type, ComponentCreatorProc creator, bool overwrite = false);
    static VError UnRegisterComponentCreator(uint32_t type, ComponentCreatorProc creator);
    // Also unregisters (releases) the registered instances of the type when a
    // library served it, before releasing the library.
    static VError UnRegisterComponentType(uint32_t type);

    // --- libraries ---
    // Loads the library and registers each of its types. 0, or the error.
    static VError RegisterComponentLibrary(const VFilePath& path);
    // Unregisters (releases) the registered instances of the library's types
    // before "Main" hears 'leav' and the library is released; its last release
    // unloads the code, so a caller must give back its own references first.
    static VError UnRegisterComponentLibrary(const VFilePath& path);

    // --- components ---
    // A registered instance of type and kind ('BBBB': any), else a new one
    // that is then registered as the instance.
    static CComponent* RetainComponent(uint32_t type, uint32_t kind = kCOMPONENT_ANY_KIND);
    // A new component, checked for its requirements unless skipped.
    static CComponent* RetainUniqueComponent(uint32_t type, uint32_t kind = kCOMPONENT_ANY_KIND,
                                             bool skipRequirements = false);
    static VError RegisterComponentInstance(CComponent* component);
    static VError UnRegisterComponentInstance(CComponent* component);
    // Appends RetainComponent(type, kind) of every registered type.
    static bool RetainComponentsOfFamily(uint32_t kind, VArrayOf<CComponent*>* components);
    static bool IsComponentAvailable(uint32_t type);

    // --- requirements ---
    // keptComponents, when given, receives (retained) the components created
    // for the check.
    static bool CheckComponentRequirements(CComponent* component, bool keep = false,
                                           VArrayOf<CComponent*>* keptComponents = nullptr);
    static void ResetComponentRequirements(uint32_t type, bool withDependents = false);

    // --- localization ---
    // The dialect of the folder's localization (-2 when none can be told); see
    // the source for the rules. For a bundle, its Contents/Resources is used.
    static uint32_t GetLocalizationLanguage(VFolder* folder, bool isBundle, uint32_t dialect);

private:
    static int32_t _FindType(uint32_t type);
    static void _RemoveType(int32_t position);
    static void _ResetRequirements(uint32_t type);
    // Unregisters and releases every registered instance of these types.
    static void _ReleaseInstancesOf(const std::vector<uint32_t>& types);

    static VArrayOf<uint32_t>* sComponentTypes;
    static VArrayOf<ComponentCreatorProc>* sComponentProcs;
    static VArrayOf<VLibrary*>* sComponentLibraries;
    // Parallel to sComponentLibraries: its "CreateComponent", looked up once.
    static VArrayOf<ComponentLibraryCreateProc>* sComponentLibraryProcs;
    static VArrayOf<CComponent*>* sComponentInstances;
    static VArrayOf<uint32_t>* sComponentChecked;
    static VArrayOf<unsigned char>* sComponentIsAvailable;
    static VArrayOf<unsigned char>* sComponentHasRequirements;
    static VArrayOf<uint32_t>* sComponentChecking;
    static VCriticalSection* sAccessingTypes;
    static VCriticalSection* sAccessingInstances;
    static VCriticalSection* sAccessingChecked;
    static VCriticalSection* sAccessingChecking;
    static unsigned char sIsInitialized;
};

}  // namespace bkit
