// IRefCountableTest.cpp - reference counts and the smart pointer.
#include "basekit/values/IRefCountable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace bkit {
namespace {

struct Counted : IRefCountable {
    explicit Counted(std::atomic<int>* deaths) : fDeaths(deaths) {}
    ~Counted() override { ++*fDeaths; }
    std::atomic<int>* fDeaths;
};

TEST(IRefCountable, CountsFromOneAndDiesAtZero)
{
    std::atomic<int> deaths{0};
    auto* obj = new Counted(&deaths);
    EXPECT_EQ(obj->GetRefCount(), 1);
    EXPECT_EQ(obj->Retain(), 2);
    EXPECT_EQ(obj->Release(), 1);
    EXPECT_EQ(deaths, 0);
    EXPECT_EQ(obj->Release(), 0);
    EXPECT_EQ(deaths, 1);
}

TEST(IRefCountable, ConcurrentReleaseDestroysExactlyOnce)
{
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> deaths{0};
        auto* obj = new Counted(&deaths);
        const int threads = 8, perThread = 1000;
        for (int i = 0; i < threads * perThread - 1; ++i) obj->Retain();
        std::vector<std::thread> pool;
        std::atomic<int> zeros{0};
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&] {
                for (int i = 0; i < perThread; ++i)
                    if (obj->Release() == 0) ++zeros;
            });
        for (auto& th : pool) th.join();
        EXPECT_EQ(deaths, 1);
        EXPECT_EQ(zeros, 1);
    }
}

TEST(VRefPtr, CopiesOwnOneReferenceEach)
{
    std::atomic<int> deaths{0};
    auto* obj = new Counted(&deaths);
    {
        VRefPtr<Counted> a = VRefPtr<Counted>::Adopt(obj);
        EXPECT_EQ(obj->GetRefCount(), 1);
        std::vector<VRefPtr<Counted>> copies(3, a);
        EXPECT_EQ(obj->GetRefCount(), 4);
        VRefPtr<Counted> moved = std::move(a);
        EXPECT_FALSE(a);
        EXPECT_EQ(obj->GetRefCount(), 4);
    }
    EXPECT_EQ(deaths, 1);
    VRefPtr<Counted> empty;  // destroying a null pointer does nothing
}

}  // namespace
}  // namespace bkit
