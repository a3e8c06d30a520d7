// VMetricsManager.h - collector of timed activity metrics.
//
// This file defines VMetricsManager, which records timed activities ("metrics")
// of the kinds it was started for and hands them out as one JSON array. The
// process object owns one manager; progress indicators push a metric of kind
// eMetricsKind_ProgressSession each time one of their sessions ends.
//
// Contracts:
// - Nothing is recorded until Start gives a kind mask; Reset stops collection
//   and forgets every metric.
// - Push retains the data it keeps; Collect answers a new array (one reference,
//   the caller's) holding deep clones, and leaves the metrics in the manager.
// - Thread-safety: every operation may be called from any task.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "basekit/runtime/VCriticalSection.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONArray;
class VJSONObject;

enum EMetricsKind : uint32_t {
    eMetricsKind_ProgressSession = 2,
};

class VMetricsManager : public VObject {
public:
    struct Metric {
        EMetricsKind fKind;
        unsigned long long fDuration;  // milliseconds
        VJSONObject* fData;            // retained, may be null
    };

    VMetricsManager() = default;
    ~VMetricsManager() override;
    VMetricsManager(const VMetricsManager&) = delete;
    VMetricsManager& operator=(const VMetricsManager&) = delete;

    // Starts collecting kinds whose bit (kind mod 32) is set in kindMask and
    // that lasted at least minimumDuration milliseconds.
    void Start(unsigned long long minimumDuration, unsigned int kindMask);

    // Records a metric when it is being collected; data is retained.
    void Push(EMetricsKind kind, unsigned long long duration, VJSONObject* data);

    // Stops collection and forgets every metric.
    void Reset();

    // A new array (the caller's reference) of one object per metric, in push
    // order: "activityKind" (1 << kind), "activityDuration" (seconds) and, when
    // the metric has data, "activityData" (a deep clone).
    VJSONArray* Collect();

    // Whether metrics of kind are being collected.
    bool IsCollecting(EMetricsKind kind) const;

    // The process's manager, which progress indicators push to: the process
    // object installs the one it owns after creating it and installs null
    // before deleting it. No reference is kept (the manager is not counted).
    static void SetProcessManager(VMetricsManager* manager);
    static VMetricsManager* GetProcessManager();

private:
    void _Clear();

    mutable VCriticalSection fLock;
    std::vector<Metric> fMetrics;
    // Read before the lock in Push; a stale value only drops or keeps one
    // metric around a Start or Reset.
    std::atomic<unsigned long long> fMinimumDuration{0};
    std::atomic<unsigned int> fKindMask{0};

    static std::atomic<VMetricsManager*> sProcessManager;
};

}  // namespace bkit
