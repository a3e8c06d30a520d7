// VJSONGraph.cpp - linking containers into graphs and collecting unreachable cycles.
#include "basekit/json/VJSONGraph.h"

#include <unordered_set>
#include <vector>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONContainer.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VStorageLocker.h"

namespace bkit {

// --- locks ---

VCriticalSection* StGraphLocker::sMutex = &StGraphLocker::GetMutex();

VCriticalSection& StGraphLocker::GetMutex()
{
    // Never destroyed: containers released by other statics at exit still lock it.
    static VCriticalSection* mutex = new VCriticalSection();
    return *mutex;
}

StGraphLocker::StGraphLocker(bool lock) : fLocked(lock)
{
    if (fLocked)
        GetMutex().Lock();
}

StGraphLocker::~StGraphLocker()
{
    if (fLocked)
        GetMutex().Unlock();
}

VSharedObjectLocker::VSharedObjectLocker(VStorageLocker* locker) : fLocker(locker)
{
    if (fLocker) {
        fLocker->Retain();
        fLocker->GetCriticalSection().Lock();
    }
}

VSharedObjectLocker::~VSharedObjectLocker()
{
    if (fLocker) {
        fLocker->GetCriticalSection().Unlock();
        fLocker->Release();
    }
}

StContainerLock::StContainerLock(const VJSONContainer* container, bool force)
    : fGraphLock(force || (container != nullptr && container->IsSharedGraph())),
      fLockerLock(container != nullptr ? container->_GetStorageLocker() : nullptr)
{
}

// --- linking ---

void VJSONGraph::Connect(VJSONGraph** ownerGraph, VJSONGraph** valueGraph, VJSONObject* ownerObject,
                         VJSONArray* ownerArray, VJSONObject* valueObject, VJSONArray* valueArray)
{
    (void)ownerGraph;
    (void)valueGraph;
    VJSONContainer* owner = ownerObject ? static_cast<VJSONContainer*>(ownerObject) : ownerArray;
    VJSONContainer* value = valueObject ? static_cast<VJSONContainer*>(valueObject) : valueArray;
    if (owner != nullptr && value != nullptr)
        _Connect(owner, value);
}

void VJSONGraph::Connect(VJSONGraph** ownerGraph, const VJSONValue& value, VJSONObject* ownerObject,
                         VJSONArray* ownerArray)
{
    Connect(ownerGraph, nullptr, ownerObject, ownerArray, value.GetObject(), value.GetArray());
}

void VJSONGraph::_Connect(VJSONContainer* owner, VJSONContainer* value)
{
    const bool ownerShared = owner->_GetStorageLocker() != nullptr || owner->_IsSharableByImplementation();
    const bool valueShared = value->_GetStorageLocker() != nullptr || value->_IsSharableByImplementation();
    StGraphLocker lock(ownerShared || valueShared || owner->_NeedsGraphLock() || value->_NeedsGraphLock());

    VJSONGraph* ownerGraph = owner->fGraph;
    VJSONGraph* valueGraph = value->fGraph;

    if (ownerGraph == nullptr) {
        // The owner joins with everything it reaches, the new link included.
        VJSONGraph* graph = valueGraph;
        if (graph == nullptr) {
            graph = new VJSONGraph();
            graph->_Collect(owner, nullptr);  // reaches the value through the new link
            graph->Release();                  // the members hold it now
        } else {
            graph->_Collect(owner, value);
        }
        if (owner == value)
            graph->fHasCycle = true;
        if (ownerShared || (valueShared && valueGraph == nullptr))
            graph->SetShared();
        return;
    }

    ++value->fInGraphCount;
    ++ownerGraph->fInternalLinks;
    if (valueGraph == nullptr) {
        if (valueShared)
            ownerGraph->SetShared();
        ownerGraph->_Collect(value, nullptr);
    } else if (ownerGraph == valueGraph) {
        ownerGraph->fHasCycle = true;
    } else {
        // Merge the smaller graph into the larger: each member then moves
        // O(log n) times however a tree is assembled.
        VJSONGraph* into = ownerGraph;
        VJSONGraph* from = valueGraph;
        if (from->fMembers.size() > into->fMembers.size())
            std::swap(into, from);
        into->_Absorb(from);
    }
}

void VJSONGraph::_Absorb(VJSONGraph* from)
{
    fHasCycle = fHasCycle || from->fHasCycle;
    if (from->IsShared())
        SetShared();
    fTotalReferences += from->fTotalReferences.load();
    fInternalLinks += from->fInternalLinks;
    MemberSet members;
    members.swap(from->fMembers);
    from->fTotalReferences = 0;
    from->fInternalLinks = 0;
    fMembers.reserve(fMembers.size() + members.size());
    for (VJSONContainer* member : members) {
        fMembers.insert(member);
        Retain();
        std::atomic_ref<VJSONGraph*>(member->fGraph).store(this, std::memory_order_release);
        from->Release();  // the last member to switch frees the old graph
    }
}

void VJSONGraph::CollectReferences(VJSONObject* object, VJSONArray* array)
{
    CollectObjectReferences(object);
    CollectArrayReferences(array);
}

void VJSONGraph::CollectObjectReferences(VJSONObject* object)
{
    if (object)
        _Collect(object, nullptr);
}

void VJSONGraph::CollectArrayReferences(VJSONArray* array)
{
    if (array)
        _Collect(array, nullptr);
}

// Brings start, when it is in no graph, and every container it reaches into
// this graph: each new member brings its reference count, each container
// value inside a new member one link. Containers out of any graph form trees
// built by a parse; a container of another graph met on the way brings its
// whole graph (whose members reach only each other). Arriving again at a
// member may close a cycle, so the graph is then marked cyclic, except for
// the one arrival at expected, the value of a link being made from start.
void VJSONGraph::_Collect(VJSONContainer* start, VJSONContainer* expected)
{
    if (start->fGraph != nullptr) {
        if (start->fGraph != this)
            _Absorb(start->fGraph);
        return;
    }
    std::vector<VJSONContainer*> stack{start};
    std::vector<VJSONContainer*> children;
    _Adopt(start);
    while (!stack.empty()) {
        VJSONContainer* container = stack.back();
        stack.pop_back();
        children.clear();
        {
            VSharedObjectLocker lock(container->_GetStorageLocker());
            container->_GetChildContainers(children);
        }
        fInternalLinks += static_cast<uint32_t>(children.size());
        for (VJSONContainer* child : children) {
            ++child->fInGraphCount;
            VJSONGraph* childGraph = child->fGraph;
            if (childGraph == this) {
                if (child == expected)
                    expected = nullptr;
                else
                    fHasCycle = true;
            } else if (childGraph != nullptr) {
                _Absorb(childGraph);
            } else {
                _Adopt(child);
                stack.push_back(child);
            }
        }
    }
}

void VJSONGraph::_Adopt(VJSONContainer* container)
{
    fMembers.insert(container);
    Retain();
    std::atomic_ref<VJSONGraph*>(container->fGraph).store(this, std::memory_order_release);
    fTotalReferences += static_cast<uint32_t>(container->GetRefCount());
}

// --- collection ---

void VJSONGraph::Disconnect(VJSONGraph* graph, const VJSONValue& value)
{
    VJSONContainer* container = VJSONContainer::ContainerOf(value);
    if (graph == nullptr || container == nullptr || container->fGraph != graph)
        return;
    StGraphLocker lock(graph->IsShared() || container->_NeedsGraphLock());
    --container->fInGraphCount;
    --graph->fInternalLinks;
    _LocalCheck(container);
}

void VJSONGraph::ReleaseObjectDependenciesIfNecessary(VJSONObject* object)
{
    if (object)
        _LocalCheck(object);
}

void VJSONGraph::ReleaseArrayDependenciesIfNecessary(VJSONArray* array)
{
    if (array)
        _LocalCheck(array);
}

void VJSONGraph::_LocalCheck(VJSONContainer* start)
{
    if (start->_GetGraph() == nullptr)
        return;
    StGraphLocker lock(start->_NeedsGraphLock());
    VJSONGraph* graph = start->fGraph;
    if (graph == nullptr || start->fInGraphCount == 0 ||
        static_cast<uint32_t>(start->GetRefCount()) != start->fInGraphCount + 1)
        return;

    // Every arrival at a container is one visit; the part below start is
    // garbage when its members' counts add up to the visits (the links among
    // them plus the caller's hold on start) and it holds a cycle.
    std::vector<VJSONContainer*> listed;
    std::unordered_set<VJSONContainer*> seen;
    std::vector<VJSONContainer*> stack{start};
    std::vector<VJSONContainer*> children;
    uint64_t visits = 0;
    bool cycleSeen = false;
    while (!stack.empty()) {
        VJSONContainer* container = stack.back();
        stack.pop_back();
        ++visits;
        if (!seen.insert(container).second) {
            cycleSeen = true;
            continue;
        }
        listed.push_back(container);
        children.clear();
        {
            VSharedObjectLocker lockerLock(container->_GetStorageLocker());
            container->_GetChildContainers(children);
        }
        stack.insert(stack.end(), children.begin(), children.end());
    }
    if (!cycleSeen)
        return;
    uint64_t sum = 0;
    for (VJSONContainer* container : listed)
        sum += static_cast<uint32_t>(container->GetRefCount());
    if (sum != visits)
        return;

    // The graph lives on for its other members: take what leaves out of its
    // counters so that later checks still see the truth.
    graph->Retain();
    for (VJSONContainer* container : listed) {
        graph->fTotalReferences -= static_cast<uint32_t>(container->GetRefCount());
        graph->fInternalLinks -= container->fInGraphCount;
        container->fInGraphCount = 0;
        graph->fMembers.erase(container);
        std::atomic_ref<VJSONGraph*>(container->fGraph).store(nullptr, std::memory_order_release);
        graph->Release();
        container->Retain();
    }
    graph->Release();
    _EmptyAndRelease(listed);
}

bool VJSONGraph::ReleaseGraphDependenciesIfNecessary(IRefCountable* member)
{
    VJSONContainer* container = dynamic_cast<VJSONContainer*>(member);
    VJSONGraph* graph = container ? container->fGraph : nullptr;
    if (graph == nullptr)
        return false;
    StGraphLocker lock(graph->IsShared());
    if (graph->fTotalReferences.load() != graph->fInternalLinks + 1)
        return false;

    graph->Retain();
    std::vector<VJSONContainer*> members(graph->fMembers.begin(), graph->fMembers.end());
    graph->fMembers.clear();
    graph->fTotalReferences = 0;
    graph->fInternalLinks = 0;
    for (VJSONContainer* each : members) {
        each->fInGraphCount = 0;
        std::atomic_ref<VJSONGraph*>(each->fGraph).store(nullptr, std::memory_order_release);
        graph->Release();
        each->Retain();
    }
    _EmptyAndRelease(members);
    graph->Release();
    return true;
}

void VJSONGraph::_EmptyAndRelease(const std::vector<VJSONContainer*>& members)
{
    // Every member is held here, so none dies while the others drop their
    // values; the releases below free those only the dropped links held.
    for (VJSONContainer* each : members) {
        if (each->AsObject() != nullptr)
            each->_DropAllValuesForCollection();
    }
    for (VJSONContainer* each : members) {
        if (each->AsObject() == nullptr)
            each->_DropAllValuesForCollection();
    }
    for (VJSONContainer* each : members)
        each->Release();
}

bool VJSONGraph::CheckInvariant() const
{
    uint64_t references = 0;
    uint64_t inGraph = 0;
    uint64_t links = 0;
    std::vector<VJSONContainer*> children;
    for (VJSONContainer* member : fMembers) {
        if (member->fGraph != this)
            return false;
        references += static_cast<uint32_t>(member->GetRefCount());
        inGraph += member->fInGraphCount;
        children.clear();
        member->_GetChildContainers(children);
        links += children.size();
        for (VJSONContainer* child : children) {
            if (fMembers.count(child) == 0)
                return false;
        }
    }
    return references == fTotalReferences.load() && inGraph == fInternalLinks && links == fInternalLinks;
}

// --- VJSONContainer: counting and graph membership ---

namespace {

// Containers freed while another is being freed on this thread, so that
// dropping a deep tree takes a loop instead of one stack frame per level.
thread_local std::vector<VJSONContainer*>* tPendingFrees = nullptr;

}  // namespace

VJSONContainer::~VJSONContainer()
{
    if (VStorageLocker* locker = fStorageLocker.exchange(nullptr))
        locker->Release();
    ReleaseRefCountable(&fStamp);
}

VJSONContainer* VJSONContainer::ContainerOf(const VJSONValue& value)
{
    if (VJSONObject* object = value.GetObject())
        return object;
    return value.GetArray();
}

VJSONGraph* VJSONContainer::_GetGraph() const
{
    return std::atomic_ref<VJSONGraph*>(const_cast<VJSONGraph*&>(fGraph)).load(std::memory_order_acquire);
}

bool VJSONContainer::_NeedsGraphLock() const
{
    if (_GetStorageLocker() != nullptr)
        return true;
    VJSONGraph* graph = _GetGraph();
    return graph != nullptr && graph->IsShared();
}

int32_t VJSONContainer::Retain(const char*) const
{
    if (_GetGraph() == nullptr && _GetStorageLocker() == nullptr)
        return IRefCountable::Retain();
    StGraphLocker lock(_NeedsGraphLock());
    if (VJSONGraph* graph = fGraph)
        ++graph->fTotalReferences;
    return IRefCountable::Retain();
}

int32_t VJSONContainer::Release(const char*) const
{
    if (_GetGraph() == nullptr && _GetStorageLocker() == nullptr)
        return IRefCountable::Release();
    StGraphLocker lock(_NeedsGraphLock());
    VJSONContainer* self = const_cast<VJSONContainer*>(this);
    if (fGraph != nullptr && fGraph->fHasCycle)
        VJSONGraph::ReleaseGraphDependenciesIfNecessary(self);
    if (VJSONGraph* graph = fGraph)
        --graph->fTotalReferences;
    return IRefCountable::Release();
}

void VJSONContainer::DoOnRefCountZero()
{
    _WillBeFreed();
    if (_GetGraph() != nullptr) {
        StGraphLocker lock(_NeedsGraphLock());
        if (fGraph != nullptr)
            _LeaveGraph();
    }
    if (tPendingFrees != nullptr) {
        tPendingFrees->push_back(this);
        return;
    }
    std::vector<VJSONContainer*> pending;
    tPendingFrees = &pending;
    delete this;
    while (!pending.empty()) {
        VJSONContainer* next = pending.back();
        pending.pop_back();
        delete next;
    }
    tPendingFrees = nullptr;
}

void VJSONContainer::_LeaveGraph()
{
    VJSONGraph* graph = fGraph;
    std::vector<VJSONContainer*> children;
    _GetChildContainers(children);
    for (VJSONContainer* child : children)
        _ForgetLink(graph, child);
    graph->fMembers.erase(this);
    std::atomic_ref<VJSONGraph*>(fGraph).store(nullptr, std::memory_order_release);
    graph->Release();
}

void VJSONContainer::ClearFromGraph()
{
    StContainerLock lock(this);
    if (VJSONGraph* graph = fGraph) {
        std::vector<VJSONContainer*> children;
        _GetChildContainers(children);
        for (VJSONContainer* child : children)
            _ForgetLink(graph, child);
    }
    _DropAllValuesForCollection();
}

void VJSONContainer::_ForgetLink(VJSONGraph* graph, VJSONContainer* child)
{
    if (graph != nullptr && child != nullptr && child->fGraph == graph && child->fInGraphCount > 0) {
        --child->fInGraphCount;
        --graph->fInternalLinks;
    }
}

void VJSONContainer::_ConnectValue(const VJSONValue& value)
{
    if (VJSONContainer* container = ContainerOf(value))
        VJSONGraph::_Connect(this, container);
}

void VJSONContainer::_DisconnectValue(const VJSONValue& value)
{
    if (VJSONGraph* graph = _GetGraph())
        VJSONGraph::Disconnect(graph, value);
    else
        _DisconnectUncounted(value);
}

void VJSONContainer::_DisconnectUncounted(const VJSONValue& value)
{
    // The dropped link never counted (this container was in no graph when it
    // held the value), but what hangs below it may have joined a graph since
    // and be a cycle now reachable only through it.
    VJSONContainer* container = ContainerOf(value);
    if (container != nullptr && container->_GetGraph() != nullptr)
        VJSONGraph::_LocalCheck(container);
}

void VJSONContainer::_ReplaceValueLinks(const VJSONValue& stored, const VJSONValue& old)
{
    // Linking stored may bring this container into a graph; the link to old
    // counted only if it already was in one.
    const bool counted = _GetGraph() != nullptr;
    _ConnectValue(stored);
    if (counted)
        _DisconnectValue(old);
    else
        _DisconnectUncounted(old);
}

}  // namespace bkit
