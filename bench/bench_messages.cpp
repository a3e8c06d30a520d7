// bench_messages.cpp - message throughput between two tasks.
//
// Compares posting messages from the main task to a worker task and executing
// them there with the same traffic over a plain mutex, condition variable and
// deque between two threads. Both sides allocate one object per message and
// end every batch with a round trip, so that a batch counts only when all its
// messages ran.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "basekit/runtime/IMessageable.h"
#include "basekit/runtime/VMessage.h"
#include "basekit/runtime/VTask.h"
#include "basekit/runtime/VTaskMgr.h"

namespace {

using namespace bkit;

constexpr int kBatch = 1000;

class CountingTarget : public IMessageable {
public:
    void DoMessage(VMessage&) override { ++fCount; }
    long fCount = 0;
};

void BM_TaskMessages(benchmark::State& state)
{
    VTask* worker = new VTask(0, eTaskStylePreemptive, [] {
        VTask* self = VTask::GetCurrent();
        while (!self->IsDying())
            VTask::ExecuteMessagesWithTimeout(100, false);
    });
    worker->Run();
    CountingTarget target;
    target.SetMessagingTask(worker->GetID());

    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            VMessage* message = new VMessage;
            message->PostTo(&target);
            message->Release();
        }
        VMessage* fence = new VMessage;
        fence->SendTo(&target);
        fence->Release();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);

    worker->Kill();
    worker->WaitForDeath(10000);
    worker->Release();
}
BENCHMARK(BM_TaskMessages)->UseRealTime();

// The plain version: one heap object per message, executed by the consumer.
// Execute consumes the message.
struct PlainMessage {
    virtual ~PlainMessage() = default;
    virtual void Execute(long& count)
    {
        ++count;
        delete this;
    }
};

struct PlainFence : PlainMessage {
    void Execute(long&) override
    {
        std::lock_guard<std::mutex> lock(fMutex);
        fDone = true;
        fCondition.notify_one();
    }
    void Wait()
    {
        std::unique_lock<std::mutex> lock(fMutex);
        fCondition.wait(lock, [this] { return fDone; });
    }
    std::mutex fMutex;
    std::condition_variable fCondition;
    bool fDone = false;
};

class PlainQueue {
public:
    void Push(PlainMessage* message)
    {
        std::lock_guard<std::mutex> lock(fMutex);
        const bool wasEmpty = fMessages.empty();
        fMessages.push_back(message);
        if (wasEmpty)
            fCondition.notify_one();
    }
    // Null when asked to stop.
    PlainMessage* Pop()
    {
        std::unique_lock<std::mutex> lock(fMutex);
        fCondition.wait(lock, [this] { return !fMessages.empty(); });
        PlainMessage* message = fMessages.front();
        fMessages.pop_front();
        return message;
    }

private:
    std::mutex fMutex;
    std::condition_variable fCondition;
    std::deque<PlainMessage*> fMessages;
};

void BM_MutexConditionDeque(benchmark::State& state)
{
    PlainQueue queue;
    long count = 0;
    std::thread consumer([&] {
        while (PlainMessage* message = queue.Pop())
            message->Execute(count);
    });

    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            queue.Push(new PlainMessage);
        PlainFence fence;
        queue.Push(&fence);
        fence.Wait();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);

    queue.Push(nullptr);
    consumer.join();
}
BENCHMARK(BM_MutexConditionDeque)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    // The benchmark's thread is the main task that posts.
    if (!VTaskMgr::Init(nullptr))
        return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    VTaskMgr::DeInit();
    return 0;
}
