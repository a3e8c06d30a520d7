// VStorageLocker.cpp - storage lockers, scoped uses, and containers joining shared graphs.
#include "basekit/json/VStorageLocker.h"

#include <unordered_set>
#include <vector>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONContainer.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONGraph.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VSystem.h"
#include "basekit/runtime/VTask.h"

namespace bkit {

namespace {

// A waiter is woken by its message-queue event; a wake that comes between
// registering and waiting would be missed, so each wait is short and the
// owner is checked again after it.
constexpr int kUseWaitSliceMs = 20;

uint32_t CurrentOwnerID()
{
    return static_cast<uint32_t>(VCriticalSection::GetCurrentOwnerID());
}

}  // namespace

std::atomic<uint32_t> VStorageLocker::sNextID{1};

VStorageLocker::VStorageLocker(bool isPrivate, bool acceptAny)
    : fID(sNextID.fetch_add(1, std::memory_order_relaxed)), fAcceptAny(acceptAny), fPrivate(isPrivate)
{
}

VStorageLocker::~VStorageLocker() = default;

bool VStorageLocker::Use()
{
    const uint32_t me = CurrentOwnerID();
    VTask* task = VTask::GetCurrent();
    for (;;) {
        fMutex.Lock();
        if (fOwner == me || fOwner == 0) {
            fOwner = me;
            ++fUseCount;
            fMutex.Unlock();
            return true;
        }
        if (task != nullptr)
            fWaiters.insert(task);
        fMutex.Unlock();
        if (task != nullptr)
            VTask::WaitAndExecuteMessages(kUseWaitSliceMs, nullptr);
        else
            VSystem::Delay(1);
        fMutex.Lock();
        if (task != nullptr)
            fWaiters.erase(task);
        fMutex.Unlock();
        if (task != nullptr && task->GetState() >= TS_DYING)
            return false;
    }
}

bool VStorageLocker::TryToUse()
{
    if (!fMutex.TryToLock())
        return false;
    const uint32_t me = CurrentOwnerID();
    bool obtained = false;
    if (fOwner == me || fOwner == 0) {
        fOwner = me;
        ++fUseCount;
        obtained = true;
    }
    fMutex.Unlock();
    return obtained;
}

void VStorageLocker::EndUse()
{
    StLocker<VCriticalSection> lock(fMutex);
    if (fOwner != CurrentOwnerID())
        return;
    if (--fUseCount <= 0) {
        fUseCount = 0;
        fOwner = 0;
        for (VTask* waiter : fWaiters)
            waiter->SetMessageQueueEvent();
    }
}

bool VStorageLocker::IsFreeOrUsedByCurrentTask() const
{
    StLocker<VCriticalSection> lock(fMutex);
    return fOwner == 0 || fOwner == CurrentOwnerID();
}

uint32_t VStorageLocker::GetOwner() const
{
    StLocker<VCriticalSection> lock(fMutex);
    return fOwner;
}

int32_t VStorageLocker::GetUseCount() const
{
    StLocker<VCriticalSection> lock(fMutex);
    return fUseCount;
}

int32_t VStorageLocker::GetSharedID() const
{
    const int32_t id = static_cast<int32_t>(fID);
    return (IsPrivate() || fAcceptAny) ? -id : id;
}

bool VStorageLocker::Assign(VJSONContainer* container, VStorageLocker* containerLocker, const VJSONValue& value)
{
    VJSONContainer* valueContainer = VJSONContainer::ContainerOf(value);
    if (valueContainer == nullptr)
        return true;
    return Assign(container, containerLocker, valueContainer, valueContainer->_GetStorageLocker());
}

bool VStorageLocker::Assign(VJSONContainer* container, VStorageLocker* containerLocker, VJSONContainer* value,
                            VStorageLocker* valueLocker)
{
    if (containerLocker == nullptr || value == nullptr)
        return true;
    if (valueLocker == nullptr) {
        if (value->_IsSharableByImplementation())
            return true;
        _ThrowError(VE_JSON_VALUE_NOT_SHARABLE);
        return false;
    }
    if (containerLocker->AcceptsAnyValue())
        return true;
    if (!valueLocker->IsPrivate()) {
        if (containerLocker->IsPrivate()) {
            container->_SetStorageLocker(valueLocker);
            return true;
        }
        if (containerLocker == valueLocker)
            return true;
        _ThrowError(value->AsArray() != nullptr ? VE_JSON_ARRAY_OF_OTHER_GRAPH : VE_JSON_OBJECT_OF_OTHER_GRAPH);
        return false;
    }
    const uint32_t owner = valueLocker->GetOwner();
    if (owner != 0 && owner != CurrentOwnerID()) {
        _ThrowError(VE_JSON_PRIVATE_LOCKER_IN_USE);
        return false;
    }
    containerLocker->SetPrivate(false);
    value->_SetStorageLocker(containerLocker);
    return true;
}

// --- scoped use ---

VJSONUser::VJSONUser(VStorageLocker* locker, bool tryOnly) : fLocker(RetainRefCountable(locker))
{
    _Start(tryOnly);
}

VJSONUser::VJSONUser(const VJSONObject* object, bool tryOnly)
{
    _TakeLockerOf(object);
    _Start(tryOnly);
}

VJSONUser::VJSONUser(const VJSONArray* array, bool tryOnly)
{
    _TakeLockerOf(array);
    _Start(tryOnly);
}

VJSONUser::VJSONUser(const VJSONValue& value, bool tryOnly)
{
    _TakeLockerOf(VJSONContainer::ContainerOf(value));
    _Start(tryOnly);
}

VJSONUser::~VJSONUser()
{
    if (fLocker != nullptr) {
        if (fInUse)
            fLocker->EndUse();
        fLocker->Release();
    }
}

void VJSONUser::_TakeLockerOf(const VJSONContainer* container)
{
    if (container == nullptr)
        return;
    StGraphLocker lock;
    fLocker = RetainRefCountable(container->_GetStorageLocker());
}

void VJSONUser::_Start(bool tryOnly)
{
    if (fLocker == nullptr)
        fInUse = true;
    else
        fInUse = tryOnly ? fLocker->TryToUse() : fLocker->Use();
}

// --- containers in shared graphs ---

VRefPtr<VStorageLocker> VJSONContainer::GetStorageLocker() const
{
    return VRefPtr<VStorageLocker>(_GetStorageLocker());
}

void VJSONContainer::SetStorageLocker(VStorageLocker* locker)
{
    StGraphLocker lock;
    _SetStorageLocker(locker);
}

void VJSONContainer::_SetStorageLocker(VStorageLocker* locker)
{
    if (locker)
        locker->Retain();
    if (VStorageLocker* old = fStorageLocker.exchange(locker))
        old->Release();
}

bool VJSONContainer::IsSharedGraph() const
{
    return _NeedsGraphLock();
}

void VJSONContainer::MakeGraphShared()
{
    StGraphLocker lock;
    if (fGraph == nullptr) {
        // A parsed tree has no graph until it needs one: this is such a need.
        std::vector<VJSONContainer*> children;
        _GetChildContainers(children);
        if (children.empty())
            return;
        VJSONGraph* graph = new VJSONGraph();
        graph->_Collect(this, nullptr);
        graph->Release();
    }
    fGraph->SetShared();
}

int32_t VJSONContainer::GetSharedID() const
{
    StContainerLock lock(this);
    VStorageLocker* locker = _GetStorageLocker();
    return locker ? locker->GetSharedID() : 0;
}

bool VJSONContainer::_CanMakeShared(VStorageLocker* locker) const
{
    bool can = true;
    _WalkReachable(const_cast<VJSONContainer*>(this), [&](VJSONContainer* container) {
        if (!can)
            return false;
        if (VStorageLocker* own = container->_GetStorageLocker()) {
            can = (own == locker || own->IsPrivate());
            return false;
        }
        VJSONObject* object = container->AsObject();
        if (object != nullptr && object->GetImplementation() != nullptr) {
            can = container->_IsSharableByImplementation();
            return false;
        }
        return true;
    });
    return can;
}

void VJSONContainer::_SetStorageLockerDeep(VStorageLocker* locker)
{
    _WalkReachable(this, [locker](VJSONContainer* container) {
        container->_SetStorageLocker(locker);
        return true;
    });
}

void VJSONContainer::_WalkReachable(VJSONContainer* start, const std::function<bool(VJSONContainer*)>& visit)
{
    std::vector<VJSONContainer*> stack{start};
    std::unordered_set<VJSONContainer*> seen;
    while (!stack.empty()) {
        VJSONContainer* container = stack.back();
        stack.pop_back();
        if (!seen.insert(container).second || !visit(container))
            continue;
        StContainerLock lock(container);
        container->_GetChildContainers(stack);
    }
}

bool VJSONContainer::_CheckWriter(VError code) const
{
    VStorageLocker* locker = _GetStorageLocker();
    if (locker != nullptr && !locker->IsFreeOrUsedByCurrentTask()) {
        _ThrowError(code);
        return false;
    }
    return true;
}

bool VJSONContainer::_NeedsGraphLockFor(const VJSONValue& value)
{
    VJSONContainer* container = ContainerOf(value);
    return container != nullptr && (container->IsSharedGraph() || container->_IsSharableByImplementation());
}

void VJSONContainer::MakeValueSharedIfNecessary(VJSONValue& value)
{
    VStorageLocker* locker = _GetStorageLocker();
    VJSONContainer* container = ContainerOf(value);
    if (locker == nullptr || container == nullptr)
        return;
    StGraphLocker lock;
    if (container->_CanMakeShared(locker)) {
        container->_SetStorageLockerDeep(locker);
        locker->SetPrivate(false);
    }
}

void VJSONContainer::SetJSONStamp(VJSONStamp* stamp)
{
    StGraphLocker lock(_NeedsGraphLock());
    if (stamp == fStamp)
        return;
    RetainRefCountable(stamp);
    VJSONStamp* old = fStamp;
    fStamp = stamp;
    if (old)
        old->Release();
}

}  // namespace bkit
