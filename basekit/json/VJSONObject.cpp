// VJSONObject.cpp - the JSON object's construction, properties and links.
#include "basekit/json/VJSONObject.h"

#include <algorithm>
#include <new>

#include "basekit/json/VJSONClass.h"
#include "basekit/json/VJSONClassStore.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONFunctionContext.h"
#include "basekit/json/VJSONGraph.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTask.h"

namespace bkit {

std::atomic<int32_t> VJSONObject::sTaskToMonitor{0};
std::atomic<int32_t> VJSONObject::sTaskCounter{0};

const VString& VJSONObject::LockerIDName()
{
    static const VString* name = new VString("__LockerID");
    return *name;
}

// --- construction ---

VJSONObject::VJSONObject(const VJSONObject* classObject, IJSONObject* implementation, VStorageLocker* locker,
                         bool exempt)
    : fImplementation(RetainRefCountable(implementation)), fExempt(exempt)
{
    // Without a class object the object stays generic: no class pointer, so
    // that plain objects never touch a class's use count.
    if (VJSONClass* cls = VJSONClass::FromClassObject(classObject))
        _SetClass(cls);
    if (locker)
        _SetStorageLocker(locker);
    const int32_t monitored = sTaskToMonitor.load(std::memory_order_relaxed);
    if (monitored != 0 && !fExempt && VTask::GetCurrentID() == monitored) {
        fCreatorTask = monitored;
        sTaskCounter.fetch_add(1, std::memory_order_relaxed);
    }
    if (fImplementation)
        fImplementation->IJSON_DoConnectDependencies(this);
}

VJSONObject::VJSONObject(const VJSONObject* classObject, IJSONObject* implementation, bool shared)
    : VJSONObject(classObject, implementation, nullptr, false)
{
    if (shared) {
        VStorageLocker* locker = new VStorageLocker(true, false);
        _SetStorageLocker(locker);
        locker->Release();
    }
}

VJSONObject::VJSONObject() : VJSONObject(nullptr, nullptr, nullptr, false) {}

void VJSONObject::_WillBeFreed()
{
    if (fImplementation)
        fImplementation->IJSON_DoDisconnectDependencies(this);
}

VJSONObject::~VJSONObject()
{
    if (_GetGraph() != nullptr) {
        // Deleted directly, not through its last release.
        StGraphLocker lock(_NeedsGraphLock());
        _LeaveGraph();
    }
    ReleaseRefCountable(&fImplementation);
    if (fClass)
        fClass->UnuseClassObject();
    if (fCreatorTask != 0 && VTask::GetCurrentID() == fCreatorTask)
        sTaskCounter.fetch_sub(1, std::memory_order_relaxed);
}

// --- table ---

std::u16string_view VJSONObject::_View(const VString& name)
{
    const UniChar* units = name.GetCPointer();
    return units ? std::u16string_view(units, static_cast<size_t>(name.GetLength())) : std::u16string_view();
}

ptrdiff_t VJSONObject::_Find(const VString& name) const
{
    const std::u16string_view key = _View(name);
    if (fIndex.empty()) {
        // Small objects, the common case, are searched in place.
        for (size_t i = 0; i < fProperties.size(); ++i) {
            if (_View(fProperties[i].first) == key)
                return static_cast<ptrdiff_t>(i);
        }
        return -1;
    }
    const IndexSlot& slot = fIndex[_ProbeIndex(name, _Hash(key))];
    return static_cast<ptrdiff_t>(slot.position) - 1;
}

size_t VJSONObject::_ProbeIndex(const VString& name, uint32_t hash) const
{
    const std::u16string_view key = _View(name);
    const size_t mask = fIndex.size() - 1;
    size_t i = hash & mask;
    while (fIndex[i].position != 0 &&
           (fIndex[i].hash != hash || _View(fProperties[fIndex[i].position - 1].first) != key))
        i = (i + 1) & mask;
    return i;
}

void VJSONObject::_PutInIndex(Index& index, uint32_t hash, size_t position)
{
    const size_t mask = index.size() - 1;
    size_t i = hash & mask;
    while (index[i].position != 0)
        i = (i + 1) & mask;
    index[i] = IndexSlot{hash, static_cast<uint32_t>(position + 1)};
}

void VJSONObject::_FillIndex(Index& index, size_t count) const
{
    for (size_t i = 0; i < count; ++i)
        _PutInIndex(index, _Hash(_View(fProperties[i].first)), i);
}

void VJSONObject::_AddToIndex(const VString& name, size_t position)
{
    if (fIndex.empty() && position < kLinearSearchLimit)
        return;
    _ReserveIndex(position + 1);
    _PutInIndex(fIndex, _Hash(_View(name)), position);
}

void VJSONObject::_ReserveIndex(size_t entries)
{
    // At most half full, so that probes stay short; grown fourfold, as
    // objects past the linear limit tend to be large.
    if (entries * 2 <= fIndex.size())
        return;
    size_t size = 64;
    while (size < entries * 2)
        size *= 4;
    Index index(size, IndexSlot{0, 0});  // built aside, so that a failure leaves the old one
    _FillIndex(index, fProperties.size());
    fIndex.swap(index);
}

VJSONValue VJSONObject::_TakeEntry(size_t position)
{
    VJSONValue value(std::move(fProperties[position].second));
    fProperties.erase(fProperties.begin() + static_cast<ptrdiff_t>(position));
    if (fProperties.size() < kLinearSearchLimit) {
        fIndex.clear();
    } else if (!fIndex.empty()) {
        // Positions past the removed one all moved: refill in place.
        std::fill(fIndex.begin(), fIndex.end(), IndexSlot{0, 0});
        _FillIndex(fIndex, fProperties.size());
    }
    return value;
}

void VJSONObject::_GetChildContainers(std::vector<VJSONContainer*>& out) const
{
    for (const Entry& entry : fProperties) {
        if (VJSONContainer* container = ContainerOf(entry.second))
            out.push_back(container);
    }
}

void VJSONObject::_DropAllValuesForCollection()
{
    std::vector<Entry> old;
    old.swap(fProperties);
    fIndex.clear();
}

bool VJSONObject::_IsSharableByImplementation() const
{
    bool flag = false;
    return fImplementation != nullptr && fImplementation->IJSON_IsSharable(this, &flag);
}

bool VJSONObject::IsShared() const
{
    return _GetStorageLocker() != nullptr || _IsSharableByImplementation();
}

// --- reading ---

VJSONValue VJSONObject::GetProperty(const VString& name, VDBLanguageContext* languageContext) const
{
    VJSONValue out;
    {
        StContainerLock lock(this);
        if (fImplementation) {
            if (fImplementation->IJSON_GetProperty(this, name, out, languageContext) != eJSON_notHandled)
                return out;
        }
        out = _GetOwnProperty(name);
    }
    // The class answers outside the object's locks: a getter is user code.
    if (out.IsUndefined() && fClass != nullptr) {
        if (VJSONObject* function = fClass->GetMemberFunction(name))
            return VJSONValue(function);
        if (VJSONObject* getter = fClass->GetGetter(name)) {
            std::vector<VJSONValue> none;
            getter->CallAsFunction(const_cast<VJSONObject*>(this), nullptr, &none, out, nullptr, languageContext);
        }
    }
    return out;
}

void VJSONObject::_SetClass(VJSONClass* cls)
{
    if (cls == nullptr || cls == fClass)
        return;
    cls->UseClassObject();
    VJSONClass* old = fClass;
    fClass = cls;
    if (old)
        old->UnuseClassObject();
}

void VJSONObject::_LeaveClass()
{
    VJSONClass* old = fClass;
    fClass = nullptr;
    if (old)
        old->UnuseClassObject();
}

void VJSONObject::_SetImplementation(IJSONObject* implementation)
{
    if (implementation == fImplementation)
        return;
    if (fImplementation)
        fImplementation->IJSON_DoDisconnectDependencies(this);
    IJSONObject* old = fImplementation;
    fImplementation = RetainRefCountable(implementation);
    ReleaseRefCountable(&old);
    if (fImplementation)
        fImplementation->IJSON_DoConnectDependencies(this);
}

VJSONObject* VJSONObject::GetClassObject() const
{
    if (fClass != nullptr)
        return fClass->GetClassObject();
    // A plain object keeps no class pointer, so that it never touches the
    // root class's use count; it is of the store's "Object" all the same.
    const VJSONClassStore* store = VJSONClassStore::GetProcessStore();
    return store != nullptr ? store->GetObjectClassObject() : nullptr;
}

VJSONObject* VJSONObject::_GetPrototype() const { return fClass ? fClass->GetPrototype() : nullptr; }

bool VJSONObject::IsGenericObject() const { return fClass == nullptr || fClass->GetSuperClass() == nullptr; }

bool VJSONObject::IsInstanceOf(const VJSONClass* cls) const
{
    if (cls == nullptr)
        return false;
    if (fClass == nullptr)
        return cls->GetSuperClass() == nullptr && cls->GetName().EqualToStringRaw(VString("Object"));
    return fClass->IsKindOf(cls);
}

bool VJSONObject::IsInstanceOf(const VJSONObject* classObject) const
{
    const VJSONClass* cls = VJSONClass::FromClassObject(classObject);
    if (cls == nullptr) {
        _ThrowError(VE_JSON_NOT_A_CLASS);
        return false;
    }
    return IsInstanceOf(cls);
}

EJSONStatus VJSONObject::CallAsFunction(VJSONObject* thisObject, VJSONArray* thisArray,
                                        std::vector<VJSONValue>* parameters, VJSONValue& result,
                                        CDBZanthBaseContext* baseContext, VDBLanguageContext* languageContext)
{
    if (fImplementation == nullptr)
        return eJSON_notHandled;
    VJSONFunctionContext context(thisObject, thisArray, parameters, baseContext, languageContext);
    context.SetScope(thisObject, this);
    EJSONStatus status = fImplementation->IJSON_CallAsFunction(this, &context);
    context.GetResult(result);
    return status;
}

VJSONValue VJSONObject::GetOwnProperty(const VString& name) const
{
    StContainerLock lock(this);
    return _GetOwnProperty(name);
}

VJSONValue VJSONObject::_GetOwnProperty(const VString& name) const
{
    ptrdiff_t position = _Find(name);
    if (position >= 0)
        return fProperties[static_cast<size_t>(position)].second;
    VStorageLocker* locker = _GetStorageLocker();
    if (locker != nullptr && name.EqualToStringRaw(LockerIDName()))
        return VJSONValue(static_cast<double>(locker->GetSharedID()));
    return VJSONValue(VJSONValue::sUndefined);
}

bool VJSONObject::HasProperty(const VString& name, VDBLanguageContext* languageContext) const
{
    {
        StContainerLock lock(this);
        if (fImplementation) {
            VJSONValue out;
            EJSONStatus status = fImplementation->IJSON_GetProperty(this, name, out, languageContext);
            if (status == eJSON_done && !out.IsUndefined())
                return true;
            if (status != eJSON_notHandled)
                return false;
        }
        if (_HasOwnProperty(name))
            return true;
    }
    // The prototype chain, outside this object's locks; a class met twice
    // ends the walk.
    std::vector<const VJSONClass*> met;
    for (const VJSONClass* cls = fClass; cls != nullptr; cls = cls->GetSuperClass()) {
        if (std::find(met.begin(), met.end(), cls) != met.end())
            break;
        met.push_back(cls);
        const VJSONObject* prototype = cls->GetPrototype();
        if (prototype != nullptr && prototype != this && prototype->HasOwnProperty(name))
            return true;
    }
    return false;
}

bool VJSONObject::HasOwnProperty(const VString& name) const
{
    StContainerLock lock(this);
    return _HasOwnProperty(name);
}

bool VJSONObject::_HasOwnProperty(const VString& name) const
{
    if (_Find(name) >= 0)
        return true;
    return _GetStorageLocker() != nullptr && name.EqualToStringRaw(LockerIDName());
}

VJSONValue VJSONObject::GetPropertyByIndex(int64_t index, EJSONStatus* status) const
{
    StContainerLock lock(this);
    VJSONValue out;
    EJSONStatus result = eJSON_notHandled;
    if (fImplementation)
        result = fImplementation->IJSON_GetPropertyByIndex(this, index, out);
    if (status)
        *status = result;
    return out;
}

int64_t VJSONObject::GetCountPropertiesByIndex(EJSONStatus* status) const
{
    StContainerLock lock(this);
    int64_t count = 0;
    EJSONStatus result = eJSON_notHandled;
    if (fImplementation)
        result = fImplementation->IJSON_GetCountPropertiesByIndex(this, &count);
    if (status)
        *status = result;
    return (result == eJSON_notHandled) ? 0 : count;
}

VError VJSONObject::GetString(VString& out) const
{
    out.FromCString("[object Object]");
    return 0;
}

// --- writing ---

bool VJSONObject::SetProperty(const VString& name, const VJSONValue& value, VDBLanguageContext* languageContext)
{
    if (value.IsUndefined()) {
        RemoveProperty(name);
        return true;
    }
    if (fImplementation) {
        EJSONStatus status = fImplementation->IJSON_SetProperty(this, name, value, languageContext);
        if (status != eJSON_notHandled)
            return status == eJSON_done;
    }
    if (fClass != nullptr) {
        if (VJSONObject* setter = fClass->GetSetter(name)) {
            std::vector<VJSONValue> parameters{value};
            VJSONValue ignored;
            EJSONStatus status = setter->CallAsFunction(this, nullptr, &parameters, ignored, nullptr, languageContext);
            if (status != eJSON_notHandled)
                return status == eJSON_done;
        }
    }
    StContainerLock lock(this, _NeedsGraphLockFor(value));
    return _SetOwnProperty(name, value);
}

bool VJSONObject::SetOwnProperty(const VString& name, const VJSONValue& value)
{
    if (value.IsUndefined())
        return RemoveOwnProperty(name);
    StContainerLock lock(this, _NeedsGraphLockFor(value));
    return _SetOwnProperty(name, value);
}

bool VJSONObject::_SetOwnProperty(const VString& name, const VJSONValue& value)
{
    if (value.IsUndefined())
        return _RemoveOwnProperty(name);
    const void* address = &value;
    if (!fProperties.empty() && address >= static_cast<const void*>(fProperties.data()) &&
        address < static_cast<const void*>(fProperties.data() + fProperties.size())) {
        // The value sits in this table, where the slot it replaces may be.
        const VJSONValue copy(value);
        return _SetOwnProperty(name, copy);
    }
    VStorageLocker* locker = _GetStorageLocker();
    if (locker != nullptr) {
        if (name.EqualToStringRaw(LockerIDName()))
            return false;
        if (!_CheckWriter(VE_JSON_OBJECT_LOCKED_BY_OTHER_TASK))
            return false;
        if (!VStorageLocker::Assign(this, locker, value))
            return false;
        locker = _GetStorageLocker();  // Assign may have given this object the value's locker
        if (locker->AcceptsAnyValue() && !value.IsObject() && !value.IsArray() && !value.IsNull()) {
            _ThrowError(VE_JSON_ONLY_CONTAINERS_ALLOWED);
            return false;
        }
    }
    // The replaced value stays held until its link is dropped last: the local
    // check then sees the structure below it as the caller leaves it, and a
    // collection it starts no longer needs this object's table.
    VJSONValue old;
    ptrdiff_t position = _Find(name);
    if (position >= 0) {
        VJSONValue& slot = fProperties[static_cast<size_t>(position)].second;
        old = std::move(slot);
        slot = value;
    } else {
        try {
            // Room first (growing geometrically), so that the append below
            // cannot fail after the index has taken the name.
            if (fProperties.size() == fProperties.capacity())
                fProperties.reserve(std::max<size_t>(4, fProperties.capacity() * 2));
            _AddToIndex(name, fProperties.size());
        } catch (const std::bad_alloc&) {
            _ThrowError(VE_MEMORY_FULL);
            return false;
        }
        fProperties.emplace_back(name, value);
    }
    VJSONValue::CheckAndUpdateJsonStamp(value, GetJSONStamp());
    _ReplaceValueLinks(value, old);
    return true;
}

bool VJSONObject::_SetParsedMembers(std::vector<ParsedMember>& members)
{
    const size_t count = members.size();
    if (!fProperties.empty()) {
        // Not the fresh table of a parse: the general way.
        bool done = true;
        for (ParsedMember& member : members)
            done = done && _SetOwnProperty(*member.name, member.value);
        members.clear();
        return done;
    }
    try {
        fProperties.reserve(count);
        if (count > kLinearSearchLimit)
            _ReserveIndex(count);
    } catch (const std::bad_alloc&) {
        _ThrowError(VE_MEMORY_FULL);
        members.clear();
        return false;
    }
    // Room for every entry is made: the appends below cannot fail.
    if (fIndex.empty()) {
        for (size_t i = 0; i < count; ++i) {
            // Only a name whose hash an earlier one shares can be a repeat:
            // the table holds nothing but the earlier names.
            ptrdiff_t position = -1;
            for (size_t j = 0; j < i; ++j) {
                if (members[j].hash == members[i].hash) {
                    position = _Find(*members[i].name);
                    break;
                }
            }
            if (position >= 0)
                fProperties[static_cast<size_t>(position)].second = std::move(members[i].value);
            else
                fProperties.emplace_back(*members[i].name, std::move(members[i].value));
        }
    } else {
        for (ParsedMember& member : members) {
            IndexSlot& slot = fIndex[_ProbeIndex(*member.name, member.hash)];
            if (slot.position != 0) {
                fProperties[slot.position - 1].second = std::move(member.value);
            } else {
                slot = IndexSlot{member.hash, static_cast<uint32_t>(fProperties.size() + 1)};
                fProperties.emplace_back(*member.name, std::move(member.value));
            }
        }
    }
    members.clear();
    return true;
}

bool VJSONObject::SetPropertyAsBool(const VString& name, bool value)
{
    VJSONValue v;
    v.SetBool(value);
    return SetProperty(name, v);
}

bool VJSONObject::RemoveProperty(const VString& name)
{
    if (fImplementation) {
        EJSONStatus status = fImplementation->IJSON_RemoveProperty(this, name);
        if (status != eJSON_notHandled)
            return status == eJSON_done;
    }
    return RemoveOwnProperty(name);
}

bool VJSONObject::RemoveOwnProperty(const VString& name)
{
    StContainerLock lock(this);
    return _RemoveOwnProperty(name);
}

bool VJSONObject::_RemoveOwnProperty(const VString& name)
{
    if (!_CheckWriter(VE_JSON_OBJECT_LOCKED_BY_OTHER_TASK))
        return false;
    if (VJSONStamp* stamp = GetJSONStamp())
        stamp->Increment();
    ptrdiff_t position = _Find(name);
    if (position >= 0)
        _RemoveInternalProperty(static_cast<size_t>(position));
    return true;
}

void VJSONObject::_RemoveInternalProperty(size_t position)
{
    if (position >= fProperties.size())
        return;
    // Held until its link is dropped, so that the local check sees what hangs
    // below it as the table leaves it.
    VJSONValue removed = _TakeEntry(position);
    _DisconnectValue(removed);
}

bool VJSONObject::SetProperties(const NameValueList& list, VDBLanguageContext* languageContext)
{
    if (list.empty())
        return true;
    bool result = true;
    if (fImplementation && fImplementation->IJSON_BeginChangeProperties(this) == eJSON_failed)
        result = false;
    for (const auto& [name, value] : list) {
        if (!SetProperty(name, value, languageContext)) {
            result = false;
            break;
        }
    }
    if (fImplementation && fImplementation->IJSON_EndChangeProperties(this) == eJSON_failed)
        result = false;
    return result;
}

bool VJSONObject::SetPropertiesWithPaths(const NameValueList& list)
{
    for (const auto& [path, value] : list) {
        if (!SetPropertyWithPath(path, value))
            return false;
    }
    return true;
}

void VJSONObject::SetJSONStamp(VJSONStamp* stamp)
{
    VJSONContainer::SetJSONStamp(stamp);
    if (fImplementation)
        fImplementation->IJSON_SetJSONStamp(this, stamp);
}

// --- links held by the implementation ---

void VJSONObject::ConnectImplementationProperty(const VJSONValue& value)
{
    StGraphLocker lock(IsShared());
    _ConnectValue(value);
}

void VJSONObject::DisconnectImplementationProperty(const VJSONValue& value)
{
    StGraphLocker lock(IsShared());
    _DisconnectValue(value);
}

void VJSONObject::DisconnectAll()
{
    VJSONGraph* graph = _GetGraph();
    if (graph == nullptr)
        return;
    StGraphLocker lock(IsSharedGraph());
    std::vector<VJSONContainer*> children;
    _GetChildContainers(children);
    for (VJSONContainer* child : children)
        _ForgetLink(graph, child);
}

}  // namespace bkit
