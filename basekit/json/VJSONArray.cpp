// VJSONArray.cpp - the JSON array's elements, links and locking.
#include "basekit/json/VJSONArray.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "basekit/json/VJSONCloner.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONGraph.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VString.h"

namespace bkit {

std::atomic<int32_t> VJSONArray::sTaskToMonitor{0};
std::atomic<int32_t> VJSONArray::sTaskCounter{0};

VJSONArray::VJSONArray(VStorageLocker* locker)
{
    if (locker)
        _SetStorageLocker(locker);
    const int32_t monitored = sTaskToMonitor.load(std::memory_order_relaxed);
    if (monitored != 0 && VTask::GetCurrentID() == monitored) {
        fCreatorTask = monitored;
        sTaskCounter.fetch_add(1, std::memory_order_relaxed);
    }
}

VJSONArray::VJSONArray(bool shared) : VJSONArray(static_cast<VStorageLocker*>(nullptr))
{
    if (shared) {
        VStorageLocker* locker = new VStorageLocker(true, false);
        _SetStorageLocker(locker);
        locker->Release();
    }
}

VJSONArray::~VJSONArray()
{
    if (_GetGraph() != nullptr) {
        // Deleted directly, not through its last release.
        StGraphLocker lock(_NeedsGraphLock());
        _LeaveGraph();
    }
    if (fCreatorTask != 0 && VTask::GetCurrentID() == fCreatorTask)
        sTaskCounter.fetch_sub(1, std::memory_order_relaxed);
}

void VJSONArray::_GetChildContainers(std::vector<VJSONContainer*>& out) const
{
    for (const VJSONValue& value : fValues) {
        if (VJSONContainer* container = ContainerOf(value))
            out.push_back(container);
    }
}

void VJSONArray::_DropAllValuesForCollection()
{
    std::vector<VJSONValue> old;
    old.swap(fValues);
}

bool VJSONArray::_Admit(const VJSONValue& value)
{
    VStorageLocker* locker = _GetStorageLocker();
    return locker == nullptr || VStorageLocker::Assign(this, locker, value);
}

void VJSONArray::_StoreAt(size_t index, const VJSONValue& value)
{
    if (&value == &fValues[index]) {
        // Storing an element onto itself: the slot is moved out below.
        const VJSONValue copy(value);
        _StoreAt(index, copy);
        return;
    }
    VJSONValue::CheckAndUpdateJsonStamp(value, GetJSONStamp());
    VJSONValue old(std::move(fValues[index]));
    fValues[index] = value;
    _ReplaceValueLinks(value, old);
}

void VJSONArray::_Append(const VJSONValue& value)
{
    VJSONValue::CheckAndUpdateJsonStamp(value, GetJSONStamp());
    fValues.push_back(value);
    _ConnectValue(value);
}

void VJSONArray::_DropRemoved(std::vector<VJSONValue>& removed)
{
    // One at a time, each dropped after its own check: a container removed
    // twice would otherwise never look collectable.
    for (VJSONValue& each : removed) {
        VJSONValue value(std::move(each));
        _DisconnectValue(value);
    }
    removed.clear();
}

// --- reading ---

size_t VJSONArray::GetCount() const
{
    StContainerLock lock(this);
    return fValues.size();
}

bool VJSONArray::GetAt(size_t index, VJSONValue& out) const
{
    StContainerLock lock(this);
    if (index >= fValues.size()) {
        out.SetUndefined();
        return false;
    }
    out = fValues[index];
    return true;
}

VJSONValue VJSONArray::GetAt(size_t index) const
{
    StContainerLock lock(this);
    if (index >= fValues.size())
        return VJSONValue(VJSONValue::sUndefined);
    return fValues[index];
}

void VJSONArray::GetValues(std::vector<VJSONValue>& out) const
{
    StContainerLock lock(this);
    out = fValues;
}

uint32_t VJSONArray::GetStampAt(size_t index) const
{
    StContainerLock lock(this);
    return (index < fValues.size()) ? fValues[index].GetStamp() : 0;
}

void VJSONArray::TouchStampAt(size_t index)
{
    StContainerLock lock(this);
    if (index < fValues.size())
        fValues[index]._SetStamp(VJSONValue::NextStamp());
}

// --- changing ---

bool VJSONArray::SetAt(size_t index, const VJSONValue& value, bool grow)
{
    StContainerLock lock(this, _NeedsGraphLockFor(value));
    if (!_CheckWriter(VE_JSON_ARRAY_LOCKED_BY_OTHER_TASK) || !_Admit(value))
        return false;
    if (index >= fValues.size()) {
        if (!grow) {
            _ThrowError(VE_JSON_INDEX_OUT_OF_RANGE);
            return false;
        }
        if (index == SIZE_MAX) {
            _ThrowError(VE_MEMORY_FULL);
            return false;
        }
        if (!_Resize(index + 1, JSON_null))
            return false;
    }
    _StoreAt(index, value);
    return true;
}

bool VJSONArray::Push(const VJSONValue& value)
{
    StContainerLock lock(this, _NeedsGraphLockFor(value));
    if (!_CheckWriter(VE_JSON_ARRAY_LOCKED_BY_OTHER_TASK) || !_Admit(value))
        return false;
    try {
        if (fValues.size() == fValues.capacity())
            fValues.reserve(std::max<size_t>(4, fValues.capacity() * 2));
    } catch (const std::bad_alloc&) {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    _Append(value);
    return true;
}

bool VJSONArray::_PushParsedValues(std::vector<VJSONValue>& values)
{
    bool done = true;
    try {
        fValues.reserve(fValues.size() + values.size());
        for (VJSONValue& value : values)
            fValues.push_back(std::move(value));
    } catch (const std::bad_alloc&) {
        _ThrowError(VE_MEMORY_FULL);
        done = false;
    }
    values.clear();
    return done;
}

bool VJSONArray::Resize(size_t count, JSONType fillKind)
{
    StContainerLock lock(this);
    if (!_CheckWriter(VE_JSON_ARRAY_LOCKED_BY_OTHER_TASK))
        return false;
    if (VJSONStamp* stamp = GetJSONStamp())
        stamp->Increment();
    return _Resize(count, fillKind);
}

bool VJSONArray::_Resize(size_t count, JSONType fillKind)
{
    const size_t size = fValues.size();
    if (count >= size) {
        if (count == size)
            return true;
        try {
            VJSONValue fill(fillKind);
            MakeValueSharedIfNecessary(fill);
            fValues.reserve(count);
            // Each link is recorded as its element arrives: a graph walk must
            // never meet a container value that is not counted yet.
            for (size_t i = size; i < count; ++i) {
                fValues.push_back(fill);
                _ConnectValue(fValues.back());
            }
        } catch (const std::exception&) {  // bad_alloc, or length_error beyond max_size
            _ThrowError(VE_MEMORY_FULL);
            return false;
        }
        return true;
    }
    std::vector<VJSONValue> dropped(std::make_move_iterator(fValues.begin() + static_cast<ptrdiff_t>(count)),
                                    std::make_move_iterator(fValues.end()));
    fValues.resize(count);
    _DropRemoved(dropped);
    return true;
}

void VJSONArray::RemoveAt(size_t index, size_t count)
{
    StContainerLock lock(this);
    if (!_CheckWriter(VE_JSON_ARRAY_LOCKED_BY_OTHER_TASK) || index >= fValues.size() || count == 0)
        return;
    const size_t end = index + std::min(count, fValues.size() - index);
    std::vector<VJSONValue> dropped(std::make_move_iterator(fValues.begin() + static_cast<ptrdiff_t>(index)),
                                    std::make_move_iterator(fValues.begin() + static_cast<ptrdiff_t>(end)));
    fValues.erase(fValues.begin() + static_cast<ptrdiff_t>(index), fValues.begin() + static_cast<ptrdiff_t>(end));
    _DropRemoved(dropped);
}

void VJSONArray::Clear()
{
    RemoveAt(0, SIZE_MAX);
}

void VJSONArray::SwapValues(std::vector<VJSONValue>& values)
{
    StContainerLock lock(this, true);
    if (!_CheckWriter(VE_JSON_ARRAY_LOCKED_BY_OTHER_TASK))
        return;
    for (const VJSONValue& value : values) {
        if (!_Admit(value))
            return;
    }
    std::vector<VJSONValue> old;
    try {
        old.reserve(values.size());
    } catch (const std::bad_alloc&) {
        _ThrowError(VE_MEMORY_FULL);
        return;
    }
    // The new elements arrive one at a time so that each link is counted
    // before a graph walk can see it.
    old.swap(fValues);
    for (VJSONValue& value : values)
        _Append(std::move(value));
    values.clear();
    // The old elements go back to the caller, who holds them while their
    // links are dropped.
    values.swap(old);
    for (const VJSONValue& value : values)
        _DisconnectValue(value);
    if (VJSONStamp* stamp = GetJSONStamp())
        stamp->Increment();
}

bool VJSONArray::Concatenate(const VJSONArray& other)
{
    std::vector<VJSONValue> values;
    other.GetValues(values);
    if (values.empty())
        return true;
    StContainerLock lock(this, true);
    if (!_CheckWriter(VE_JSON_ARRAY_LOCKED_BY_OTHER_TASK))
        return false;
    try {
        fValues.reserve(fValues.size() + values.size());
    } catch (const std::bad_alloc&) {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    bool result = true;
    for (const VJSONValue& value : values) {
        if (!_Admit(value)) {
            result = false;
            break;
        }
        _Append(value);
    }
    if (VJSONStamp* stamp = GetJSONStamp())
        stamp->Increment();
    return result;
}

void VJSONArray::DisconnectAll(size_t from)
{
    VJSONGraph* graph = _GetGraph();
    if (graph == nullptr)
        return;
    StContainerLock lock(this);
    for (size_t i = from; i < fValues.size(); ++i)
        _ForgetLink(graph, ContainerOf(fValues[i]));
}

// --- copies and text ---

VError VJSONArray::Clone(VJSONValue& out, VJSONCloner& cloner) const
{
    // The cloner walks without recursion and keeps shared parts shared: one
    // copying walk serves arrays met alone and inside other containers.
    return cloner.CloneArray(this, out);
}

VError VJSONArray::GetString(VString& out, std::set<const VJSONArray*>* visited) const
{
    if (GetCount() == 0) {
        out.Clear();
        return 0;
    }
    std::set<const VJSONArray*> ownSet;
    if (visited == nullptr)
        visited = &ownSet;

    // Nested arrays are walked with a stack of frames, not by recursion: each
    // nested array is one part of its parent, its own elements joined inside.
    struct Frame {
        const VJSONArray* array;
        std::vector<VJSONValue> values;
        size_t next = 0;
        bool first = true;
    };
    std::vector<Frame> stack;
    VError error = 0;
    auto enter = [&](const VJSONArray* array) {
        if (!visited->insert(array).second)
            return VE_JSON_CYCLE;
        stack.push_back(Frame{array, {}});
        array->GetValues(stack.back().values);
        return VError(0);
    };
    VString result;
    VString part;
    error = enter(this);
    while (error == 0 && !stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.values.size()) {
            // Side by side the same array may appear again, only not inside itself.
            visited->erase(frame.array);
            stack.pop_back();
            continue;
        }
        const VJSONValue& element = frame.values[frame.next++];
        if (!frame.first)
            result.AppendUniChar(u',');
        frame.first = false;
        if (const VJSONArray* inner = element.GetArray()) {
            error = enter(inner);
        } else {
            error = element.GetString(part, visited);
            result.AppendString(part);
        }
    }
    for (const Frame& frame : stack)
        visited->erase(frame.array);
    if (error == 0)
        out.FromString(result);
    return error;
}

}  // namespace bkit
