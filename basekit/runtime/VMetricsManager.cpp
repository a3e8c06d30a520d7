// VMetricsManager.cpp - collector of timed activity metrics.
#include "basekit/runtime/VMetricsManager.h"

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONCloner.h"
#include "basekit/json/VJSONObject.h"

namespace bkit {

std::atomic<VMetricsManager*> VMetricsManager::sProcessManager{nullptr};

void VMetricsManager::SetProcessManager(VMetricsManager* manager)
{
    sProcessManager.store(manager, std::memory_order_release);
}

VMetricsManager* VMetricsManager::GetProcessManager()
{
    return sProcessManager.load(std::memory_order_acquire);
}

VMetricsManager::~VMetricsManager()
{
    _Clear();
}

void VMetricsManager::Start(unsigned long long minimumDuration, unsigned int kindMask)
{
    StLocker<VCriticalSection> locker(fLock);
    fMinimumDuration.store(minimumDuration, std::memory_order_relaxed);
    fKindMask.store(kindMask, std::memory_order_relaxed);
}

bool VMetricsManager::IsCollecting(EMetricsKind kind) const
{
    return (fKindMask.load(std::memory_order_relaxed) & (1u << (static_cast<uint32_t>(kind) % 32))) != 0;
}

void VMetricsManager::Push(EMetricsKind kind, unsigned long long duration, VJSONObject* data)
{
    if (duration < fMinimumDuration.load(std::memory_order_relaxed) || !IsCollecting(kind))
        return;
    StLocker<VCriticalSection> locker(fLock);
    if (data)
        data->Retain();
    fMetrics.push_back(Metric{kind, duration, data});
}

void VMetricsManager::_Clear()
{
    for (Metric& metric : fMetrics) {
        if (metric.fData)
            metric.fData->Release();
    }
    fMetrics.clear();
}

void VMetricsManager::Reset()
{
    StLocker<VCriticalSection> locker(fLock);
    fKindMask.store(0, std::memory_order_relaxed);
    _Clear();
}

VJSONArray* VMetricsManager::Collect()
{
    VJSONArray* array = new VJSONArray;
    StLocker<VCriticalSection> locker(fLock);
    for (const Metric& metric : fMetrics) {
        VJSONObject* object = new VJSONObject;
        object->SetPropertyAsNumber("activityKind", static_cast<double>(1ull << (static_cast<uint32_t>(metric.fKind) % 64)));
        object->SetPropertyAsNumber("activityDuration", static_cast<double>(metric.fDuration) / 1000.0);
        if (metric.fData) {
            VJSONCloner cloner;
            VJSONValue clone;
            if (cloner.CloneObject(metric.fData, clone) == VE_OK)
                object->SetProperty("activityData", clone);
        }
        array->Push(VJSONValue(object));
        object->Release();
    }
    return array;
}

}  // namespace bkit
