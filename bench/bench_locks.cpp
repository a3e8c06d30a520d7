// bench_locks.cpp - the critical section against std::recursive_mutex.
//
// Uncontended: one task locks and unlocks in a loop, once while it is the
// process's only thread and once while another thread exists (both the C
// library and the critical section take cheaper roads in a single-threaded
// process). Contended: 4 threads take turns on one lock around a shared
// counter, so the lock is handed over between them all the time.
#include <benchmark/benchmark.h>

#include <future>
#include <mutex>
#include <thread>

#include "basekit/runtime/VLocks.h"
#include "basekit/runtime/VTaskMgr.h"

namespace {

bkit::VCriticalSection gSection;
std::recursive_mutex gMutex;
long gCounter = 0;

void BM_CriticalSection_Uncontended(benchmark::State& state)
{
    bkit::VCriticalSection cs;
    for (auto _ : state) {
        cs.Lock();
        benchmark::ClobberMemory();
        cs.Unlock();
    }
}
BENCHMARK(BM_CriticalSection_Uncontended);

void BM_RecursiveMutex_Uncontended(benchmark::State& state)
{
    std::recursive_mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        benchmark::ClobberMemory();
        mutex.unlock();
    }
}
BENCHMARK(BM_RecursiveMutex_Uncontended);

// Keeps a second thread parked for the length of a benchmark.
class StOtherThread {
public:
    StOtherThread() : fThread([this] { fStop.get_future().wait(); }) {}
    ~StOtherThread()
    {
        fStop.set_value();
        fThread.join();
    }

private:
    std::promise<void> fStop;
    std::thread fThread;
};

void BM_CriticalSection_UncontendedWithOtherThread(benchmark::State& state)
{
    StOtherThread other;
    bkit::VCriticalSection cs;
    for (auto _ : state) {
        cs.Lock();
        benchmark::ClobberMemory();
        cs.Unlock();
    }
}
BENCHMARK(BM_CriticalSection_UncontendedWithOtherThread);

void BM_RecursiveMutex_UncontendedWithOtherThread(benchmark::State& state)
{
    StOtherThread other;
    std::recursive_mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        benchmark::ClobberMemory();
        mutex.unlock();
    }
}
BENCHMARK(BM_RecursiveMutex_UncontendedWithOtherThread);

void BM_CriticalSection_Contended(benchmark::State& state)
{
    for (auto _ : state) {
        gSection.Lock();
        ++gCounter;
        gSection.Unlock();
    }
}
BENCHMARK(BM_CriticalSection_Contended)->Threads(4)->UseRealTime();

void BM_RecursiveMutex_Contended(benchmark::State& state)
{
    for (auto _ : state) {
        gMutex.lock();
        ++gCounter;
        gMutex.unlock();
    }
}
BENCHMARK(BM_RecursiveMutex_Contended)->Threads(4)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    // The calling thread becomes the main task, as in a program.
    bkit::VTaskMgr::Init(nullptr);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bkit::VTaskMgr::DeInit();
    return 0;
}
