// VComponentManager.cpp - the registry of component types and their libraries.
#include "basekit/runtime/VComponentManager.h"

#include <algorithm>

#include "basekit/files/VFilePath.h"
#include "basekit/files/VFileError.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/runtime/VLibrary.h"
#include "basekit/text/VString.h"

namespace bkit {

const char* const kDEFAULT_MAIN_SYMBOL = "Main";
const char* const kDEFAULT_GET_TYPES_SYMBOL = "GetNthComponentType";
const char* const kDEFAULT_CREATE_SYMBOL = "CreateComponent";
const char* const kDEFAULT_LOCK_SYMBOL = "Lock";
const char* const kDEFAULT_UNLOCK_SYMBOL = "UnLock";
const char* const kDEFAULT_CAN_UNLOAD_SYMBOL = "CanUnloadLibrary";

VArrayOf<uint32_t>* VComponentManager::sComponentTypes = nullptr;
VArrayOf<ComponentCreatorProc>* VComponentManager::sComponentProcs = nullptr;
VArrayOf<VLibrary*>* VComponentManager::sComponentLibraries = nullptr;
VArrayOf<ComponentLibraryCreateProc>* VComponentManager::sComponentLibraryProcs = nullptr;
VArrayOf<CComponent*>* VComponentManager::sComponentInstances = nullptr;
VArrayOf<uint32_t>* VComponentManager::sComponentChecked = nullptr;
VArrayOf<unsigned char>* VComponentManager::sComponentIsAvailable = nullptr;
VArrayOf<unsigned char>* VComponentManager::sComponentHasRequirements = nullptr;
VArrayOf<uint32_t>* VComponentManager::sComponentChecking = nullptr;
VCriticalSection* VComponentManager::sAccessingTypes = nullptr;
VCriticalSection* VComponentManager::sAccessingInstances = nullptr;
VCriticalSection* VComponentManager::sAccessingChecked = nullptr;
VCriticalSection* VComponentManager::sAccessingChecking = nullptr;
unsigned char VComponentManager::sIsInitialized = 0;

namespace {

constexpr uint32_t kMinRequirementsVersion = 0x10000;
constexpr uint32_t kMinRequirementsSize = 52;
constexpr int kRequirementCountWord = 10;
constexpr int kFirstRequirementWord = 11;
constexpr int kVersionWord = 5;

uint32_t ComponentVersion(const CComponent* component)
{
    const uint32_t* info = component->GetVersionInfo();
    return info ? info[kVersionWord] : 0;
}

}  // namespace

bool VComponentManager::Init()
{
    if (sIsInitialized)
        return true;
    sComponentTypes = new VArrayOf<uint32_t>(10);
    sComponentProcs = new VArrayOf<ComponentCreatorProc>(10);
    sComponentLibraries = new VArrayOf<VLibrary*>(10);
    sComponentLibraryProcs = new VArrayOf<ComponentLibraryCreateProc>(10);
    sComponentInstances = new VArrayOf<CComponent*>(10);
    sComponentChecked = new VArrayOf<uint32_t>(10);
    sComponentIsAvailable = new VArrayOf<unsigned char>(10);
    sComponentHasRequirements = new VArrayOf<unsigned char>(10);
    sComponentChecking = new VArrayOf<uint32_t>(10);
    sAccessingTypes = new VCriticalSection;
    sAccessingInstances = new VCriticalSection;
    sAccessingChecked = new VCriticalSection;
    sAccessingChecking = new VCriticalSection;
    sIsInitialized = 1;
    return true;
}

void VComponentManager::DeInit()
{
    if (!sIsInitialized)
        return;
    sIsInitialized = 0;
    for (int32_t i = 1; i <= sComponentInstances->GetCount(); ++i)
        sComponentInstances->GetNth(i)->Release();
    for (int32_t i = 1; i <= sComponentLibraries->GetCount(); ++i) {
        if (VLibrary* library = sComponentLibraries->GetNth(i))
            library->Release();
    }
    delete sComponentTypes;
    delete sComponentProcs;
    delete sComponentLibraries;
    delete sComponentLibraryProcs;
    delete sComponentInstances;
    delete sComponentChecked;
    delete sComponentIsAvailable;
    delete sComponentHasRequirements;
    delete sComponentChecking;
    delete sAccessingTypes;
    delete sAccessingInstances;
    delete sAccessingChecked;
    delete sAccessingChecking;
    sComponentTypes = nullptr;
    sComponentProcs = nullptr;
    sComponentLibraries = nullptr;
    sComponentLibraryProcs = nullptr;
    sComponentInstances = nullptr;
    sComponentChecked = nullptr;
    sComponentIsAvailable = nullptr;
    sComponentHasRequirements = nullptr;
    sComponentChecking = nullptr;
    sAccessingTypes = sAccessingInstances = sAccessingChecked = sAccessingChecking = nullptr;
}

int32_t VComponentManager::_FindType(uint32_t type)
{
    return sComponentTypes->FindPos(type);
}

void VComponentManager::_RemoveType(int32_t position)
{
    sComponentTypes->DeleteNth(position);
    sComponentProcs->DeleteNth(position);
    sComponentLibraries->DeleteNth(position);
    sComponentLibraryProcs->DeleteNth(position);
}

void VComponentManager::_ReleaseInstancesOf(const std::vector<uint32_t>& types)
{
    std::vector<CComponent*> dropped;
    {
        StLocker<VCriticalSection> instances(sAccessingInstances);
        for (int32_t i = sComponentInstances->GetCount(); i >= 1; --i) {
            CComponent* instance = sComponentInstances->GetNth(i);
            if (std::find(types.begin(), types.end(), instance->GetComponentType()) != types.end()) {
                dropped.push_back(instance);
                sComponentInstances->DeleteNth(i);
            }
        }
    }
    // Outside the instance lock: a component's last release may call back in.
    for (CComponent* instance : dropped)
        instance->Release();
}

void VComponentManager::_ResetRequirements(uint32_t type)
{
    int32_t position = sComponentChecked->FindPos(type);
    if (position == 0)
        return;
    sComponentChecked->DeleteNth(position);
    sComponentIsAvailable->DeleteNth(position);
    sComponentHasRequirements->DeleteNth(position);
}

// --- creators ---

VError VComponentManager::RegisterComponentCreator(uint32_t type, ComponentCreatorProc creator, bool)
{
    if (!sIsInitialized)
        return _ThrowError(VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    if (!creator)
        return _ThrowError(VE_INVALID_PARAMETER);
    StLocker<VCriticalSection> types(sAccessingTypes);
    StLocker<VCriticalSection> checked(sAccessingChecked);
    int32_t position = _FindType(type);
    if (position != 0) {
        if (sComponentProcs->GetNth(position))
            return _ThrowError(VE_COMPONENT_ALREADY_REGISTERED);
        // A type served by a library: the creator takes precedence beside it.
        (*sComponentProcs)[position - 1] = creator;
    } else {
        sComponentProcs->AddTail(creator);
        sComponentTypes->AddTail(type);
        sComponentLibraries->AddTail(nullptr);
        sComponentLibraryProcs->AddTail(nullptr);
    }
    _ResetRequirements(type);
    return VE_OK;
}

VError VComponentManager::UnRegisterComponentCreator(uint32_t type, ComponentCreatorProc creator)
{
    if (!sIsInitialized)
        return _ThrowError(VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    StLocker<VCriticalSection> types(sAccessingTypes);
    StLocker<VCriticalSection> checked(sAccessingChecked);
    int32_t position = _FindType(type);
    if (position == 0 || sComponentProcs->GetNth(position) != creator)
        return _ThrowError(VE_COMPONENT_NOT_REGISTERED);
    if (sComponentLibraries->GetNth(position))
        (*sComponentProcs)[position - 1] = nullptr;  // the library still serves it
    else
        _RemoveType(position);
    _ResetRequirements(type);
    return VE_OK;
}

VError VComponentManager::UnRegisterComponentType(uint32_t type)
{
    if (!sIsInitialized)
        return _ThrowError(VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    StLocker<VCriticalSection> types(sAccessingTypes);
    int32_t position = _FindType(type);
    if (position == 0)
        return _ThrowError(VE_COMPONENT_UNKNOWN);
    VLibrary* library = sComponentLibraries->GetNth(position);
    _RemoveType(position);
    if (library) {
        // Its instances may be the library's code, which the release may unload.
        _ReleaseInstancesOf({type});
        library->Release();
    }
    return VE_OK;
}

// --- libraries ---

VError VComponentManager::RegisterComponentLibrary(const VFilePath& path)
{
    if (!sIsInitialized)
        return _ThrowError(VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    {
        StLocker<VCriticalSection> types(sAccessingTypes);
        for (int32_t i = 1; i <= sComponentLibraries->GetCount(); ++i) {
            VLibrary* library = sComponentLibraries->GetNth(i);
            if (library && library->IsSameFile(path))
                return _ThrowError(VE_COMPONENT_ALREADY_REGISTERED);
        }
    }
    auto library = VRefPtr<VLibrary>::Adopt(new VLibrary(path));
    if (!library->Load()) {
        StThrowError<VFileError> err(new VFileError(path, VE_COMPONENT_CANNOT_LOAD_LIBRARY));
        return VE_COMPONENT_CANNOT_LOAD_LIBRARY;
    }
    auto mainProc = reinterpret_cast<ComponentLibraryMainProc>(library->GetProcAddress(kDEFAULT_MAIN_SYMBOL));
    auto getType = reinterpret_cast<ComponentLibraryGetTypeProc>(library->GetProcAddress(kDEFAULT_GET_TYPES_SYMBOL));
    auto create = reinterpret_cast<ComponentLibraryCreateProc>(library->GetProcAddress(kDEFAULT_CREATE_SYMBOL));
    if (!mainProc || !getType || !create)
        return VE_COMPONENT_BAD_LIBRARY;

    StLocker<VCriticalSection> types(sAccessingTypes);
    StLocker<VCriticalSection> checked(sAccessingChecked);
    mainProc(kCOMPONENT_LIBRARY_REGISTERED, library.Get());
    uint32_t type = 0;
    for (int32_t n = 1; getType(n, type); ++n) {
        int32_t position = _FindType(type);
        if (position != 0) {
            VLibrary*& slot = (*sComponentLibraries)[position - 1];
            if (slot)
                slot->Release();
            slot = library.Get();
            (*sComponentLibraryProcs)[position - 1] = create;
        } else {
            sComponentLibraries->AddTail(library.Get());
            sComponentLibraryProcs->AddTail(create);
            sComponentProcs->AddTail(nullptr);
            sComponentTypes->AddTail(type);
        }
        library->Retain();
        _ResetRequirements(type);
    }
    return VE_OK;
}

VError VComponentManager::UnRegisterComponentLibrary(const VFilePath& path)
{
    if (!sIsInitialized)
        return _ThrowError(VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    StLocker<VCriticalSection> types(sAccessingTypes);
    StLocker<VCriticalSection> checked(sAccessingChecked);
    std::vector<VLibrary*> held;
    std::vector<uint32_t> leaving;
    for (int32_t i = sComponentLibraries->GetCount(); i >= 1; --i) {
        VLibrary* library = sComponentLibraries->GetNth(i);
        if (!library || !library->IsSameFile(path))
            continue;
        const uint32_t type = sComponentTypes->GetNth(i);
        if (sComponentProcs->GetNth(i)) {
            (*sComponentLibraries)[i - 1] = nullptr;
            (*sComponentLibraryProcs)[i - 1] = nullptr;
        } else {
            _RemoveType(i);
        }
        _ResetRequirements(type);
        held.push_back(library);
        leaving.push_back(type);
    }
    if (held.empty())
        return VE_COMPONENT_NOT_REGISTERED;
    // The last library reference unloads its code, so no registered instance
    // may outlive it. A type that keeps a creator loses its instance too: it
    // may have come from the library before the creator was registered.
    _ReleaseInstancesOf(leaving);
    auto mainProc = reinterpret_cast<ComponentLibraryMainProc>(held.front()->GetProcAddress(kDEFAULT_MAIN_SYMBOL));
    if (mainProc)
        mainProc(kCOMPONENT_LIBRARY_LEAVING, nullptr);
    for (VLibrary* library : held)
        library->Release();
    return VE_OK;
}

// --- components ---

CComponent* VComponentManager::RetainUniqueComponent(uint32_t type, uint32_t kind, bool skipRequirements)
{
    if (!sIsInitialized)
        return nullptr;
    CComponent* component = nullptr;
    {
        StLocker<VCriticalSection> types(sAccessingTypes);
        int32_t position = _FindType(type);
        if (position == 0)
            return nullptr;
        if (ComponentCreatorProc creator = sComponentProcs->GetNth(position)) {
            component = creator(type, kind);
        } else if (ComponentLibraryCreateProc create = sComponentLibraryProcs->GetNth(position)) {
            component = create(type, kind);
        }
    }
    if (component && !skipRequirements && !CheckComponentRequirements(component, false)) {
        component->Release();
        component = nullptr;
    }
    return component;
}

CComponent* VComponentManager::RetainComponent(uint32_t type, uint32_t kind)
{
    if (!sIsInitialized)
        return nullptr;
    // The creation below takes the type lock, so it is taken first: a task
    // holding the instance lock must never wait for the type lock, which a
    // creator or "Main" holds when it asks for a component.
    StLocker<VCriticalSection> types(sAccessingTypes);
    StLocker<VCriticalSection> instances(sAccessingInstances);
    for (int32_t i = 1; i <= sComponentInstances->GetCount(); ++i) {
        CComponent* instance = sComponentInstances->GetNth(i);
        if (instance->GetComponentType() == type &&
            (kind == kCOMPONENT_ANY_KIND || instance->GetComponentKind() == kind)) {
            instance->Retain();
            return instance;
        }
    }
    CComponent* component = RetainUniqueComponent(type, kind, false);
    if (component && sComponentInstances->FindPos(component) == 0 && sComponentInstances->AddTail(component) != 0)
        component->Retain();  // the registry's reference
    return component;
}

VError VComponentManager::RegisterComponentInstance(CComponent* component)
{
    if (!sIsInitialized)
        return _ThrowError(VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    if (!component)
        return _ThrowError(VE_INVALID_PARAMETER);
    StLocker<VCriticalSection> instances(sAccessingInstances);
    if (sComponentInstances->FindPos(component) != 0)
        return _ThrowError(VE_COMPONENT_ALREADY_REGISTERED);
    if (sComponentInstances->AddTail(component) == 0)
        return VE_MEMORY_FULL;
    component->Retain();
    return VE_OK;
}

VError VComponentManager::UnRegisterComponentInstance(CComponent* component)
{
    if (!sIsInitialized)
        return _ThrowError(VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    if (!component)
        return _ThrowError(VE_INVALID_PARAMETER);
    {
        StLocker<VCriticalSection> instances(sAccessingInstances);
        if (!sComponentInstances->Delete(component))
            return _ThrowError(VE_COMPONENT_UNKNOWN);
    }
    component->Release();  // a last release may call back in
    return VE_OK;
}

bool VComponentManager::RetainComponentsOfFamily(uint32_t kind, VArrayOf<CComponent*>* components)
{
    if (!components || !sIsInitialized)
        return false;
    StLocker<VCriticalSection> types(sAccessingTypes);
    for (int32_t i = 1; i <= sComponentTypes->GetCount(); ++i) {
        if (CComponent* component = RetainComponent(sComponentTypes->GetNth(i), kind))
            components->AddTail(component);
    }
    return true;
}

bool VComponentManager::IsComponentAvailable(uint32_t type)
{
    if (!sIsInitialized)
        return false;
    StLocker<VCriticalSection> types(sAccessingTypes);
    return _FindType(type) != 0;
}

// --- requirements ---

bool VComponentManager::CheckComponentRequirements(CComponent* component, bool keep,
                                                   VArrayOf<CComponent*>* keptComponents)
{
    if (!component || !sIsInitialized)
        return false;
    const uint32_t type = component->GetComponentType();
    {
        StLocker<VCriticalSection> checked(sAccessingChecked);
        int32_t position = sComponentChecked->FindPos(type);
        if (position != 0)
            return sComponentIsAvailable->GetNth(position) != 0;
    }
    {
        StLocker<VCriticalSection> checking(sAccessingChecking);
        sComponentChecking->AddTail(type);
    }

    bool available = false;
    bool hasRequirements = false;
    const uint32_t* block = component->GetRequirements();
    if (block && block[0] >= kMinRequirementsVersion && block[1] >= kMinRequirementsSize) {
        const uint32_t count = block[kRequirementCountWord];
        // The block's size bounds the pairs that may be read.
        const uint32_t room = (block[1] / 4 > kFirstRequirementWord) ? (block[1] / 4 - kFirstRequirementWord) / 2 : 0;
        hasRequirements = count > 0;
        available = count <= room;
        for (uint32_t i = 0; available && i < count; ++i) {
            const uint32_t required = block[kFirstRequirementWord + 2 * i];
            const uint32_t minimum = block[kFirstRequirementWord + 2 * i + 1];
            if (required == type)
                continue;
            bool isChecked;
            bool isChecking;
            {
                StLocker<VCriticalSection> checked(sAccessingChecked);
                StLocker<VCriticalSection> checking(sAccessingChecking);
                isChecked = sComponentChecked->FindPos(required) != 0;
                isChecking = sComponentChecking->FindPos(required) != 0;
            }
            if ((isChecked || isChecking) && minimum == 0xFFFFFFFF)
                continue;
            // A type whose check is under way is made only for its version:
            // checking it again would recurse without end when two types
            // require each other. A checked type answers from the cache.
            CComponent* other = RetainUniqueComponent(required, kCOMPONENT_ANY_KIND, isChecking && !isChecked);
            if (!other) {
                available = false;
                break;
            }
            if (minimum != 0xFFFFFFFF && ComponentVersion(other) < minimum)
                available = false;
            if (keep && keptComponents)
                keptComponents->AddTail(other);
            else
                other->Release();
        }
    }

    {
        StLocker<VCriticalSection> checked(sAccessingChecked);
        if (sComponentChecked->FindPos(type) == 0) {
            sComponentChecked->AddTail(type);
            sComponentIsAvailable->AddTail(available ? 1 : 0);
            sComponentHasRequirements->AddTail(hasRequirements ? 1 : 0);
        }
    }
    {
        StLocker<VCriticalSection> checking(sAccessingChecking);
        sComponentChecking->Delete(type);
    }
    return available;
}

void VComponentManager::ResetComponentRequirements(uint32_t type, bool)
{
    if (!sIsInitialized)
        return;
    StLocker<VCriticalSection> checked(sAccessingChecked);
    _ResetRequirements(type);
}

}  // namespace bkit
