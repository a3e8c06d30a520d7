// VStorageLockerTest.cpp - shared JSON trees: locker uses across tasks, assignment rules, races.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONGraph.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VStorageLocker.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

// Runs f on a new task; the returned task is joined by Join.
VTask* Start(std::function<void()> f)
{
    VTask* task = new VTask(0, eTaskStylePreemptive, std::move(f));
    EXPECT_TRUE(task->Run());
    return task;
}

void Join(VTask* task)
{
    EXPECT_TRUE(task->WaitForDeath(30000));
    task->Release();
}

void WaitFor(const std::atomic<int>& phase, int value)
{
    while (phase.load() < value)
        VTask::Sleep(1);
}

VRefPtr<VJSONObject> SharedObject(VStorageLocker* locker)
{
    return VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, locker, false));
}

TEST(VStorageLocker, UsesNestPerTaskAndOtherTasksWait)
{
    VRefPtr<VStorageLocker> locker = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker());
    ASSERT_TRUE(locker->Use());
    ASSERT_TRUE(locker->Use());
    std::atomic<int> phase{0};
    bool triedWhileUsed = true;
    bool triedWhenFree = false;
    VTask* other = Start([&] {
        triedWhileUsed = locker->TryToUse();
        locker->EndUse();  // not the owner: changes nothing
        phase = 1;
        WaitFor(phase, 2);
        triedWhenFree = locker->TryToUse();
        locker->EndUse();
    });
    WaitFor(phase, 1);
    EXPECT_EQ(locker->GetUseCount(), 2);
    locker->EndUse();
    locker->EndUse();
    EXPECT_EQ(locker->GetOwner(), 0u);
    phase = 2;
    Join(other);
    EXPECT_FALSE(triedWhileUsed);
    EXPECT_TRUE(triedWhenFree);
    EXPECT_EQ(locker->GetOwner(), 0u);
}

TEST(VStorageLocker, UseWaitsUntilTheOwnerEndsAndChangesAreRefusedMeanwhile)
{
    VRefPtr<VStorageLocker> locker = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker());
    VRefPtr<VJSONObject> object = SharedObject(locker.Get());
    VRefPtr<VJSONArray> array = VRefPtr<VJSONArray>::Adopt(new VJSONArray(locker.Get()));
    object->SetProperty("a", VJSONValue(1.0));
    std::atomic<int> phase{0};
    VTask* owner = Start([&] {
        VJSONUser user(object.Get(), false);
        phase = 1;
        WaitFor(phase, 2);
        VTask::Sleep(30);
        object->SetProperty("a", VJSONValue(2.0));
    });
    WaitFor(phase, 1);
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_FALSE(object->SetProperty("a", VJSONValue(3.0)));
        EXPECT_EQ(errors.GetLastError(), VE_JSON_OBJECT_LOCKED_BY_OTHER_TASK);
        EXPECT_FALSE(object->RemoveOwnProperty("a"));
        EXPECT_FALSE(array->Push(VJSONValue(1.0)));
        EXPECT_EQ(errors.GetLastError(), VE_JSON_ARRAY_LOCKED_BY_OTHER_TASK);
        EXPECT_EQ(object->GetProperty("a").GetNumber(), 1);  // reading is allowed
    }
    phase = 2;
    {
        VJSONUser user(object.Get(), false);  // waits for the owner's scope to end
        EXPECT_TRUE(user.IsInUse());
        EXPECT_EQ(object->GetProperty("a").GetNumber(), 2);
        EXPECT_TRUE(object->SetProperty("a", VJSONValue(4.0)));
    }
    Join(owner);
}

TEST(VStorageLocker, AssignmentRulesBetweenGraphs)
{
    VRefPtr<VStorageLocker> first = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker());
    VRefPtr<VStorageLocker> second = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker());
    VRefPtr<VJSONObject> a = SharedObject(first.Get());
    VRefPtr<VJSONObject> b = SharedObject(second.Get());
    VRefPtr<VJSONArray> list = VRefPtr<VJSONArray>::Adopt(new VJSONArray(second.Get()));
    VRefPtr<VJSONObject> plain = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    struct Case {
        VJSONValue value;
        VError error;
    };
    const Case cases[] = {
        {VJSONValue(b.Get()), VE_JSON_OBJECT_OF_OTHER_GRAPH},
        {VJSONValue(list.Get()), VE_JSON_ARRAY_OF_OTHER_GRAPH},
        {VJSONValue(plain.Get()), VE_JSON_VALUE_NOT_SHARABLE},
    };
    for (const Case& c : cases) {
        StErrorContextInstaller errors(false, true);
        EXPECT_FALSE(a->SetProperty("x", c.value));
        EXPECT_EQ(errors.GetLastError(), c.error);
        EXPECT_FALSE(a->HasOwnProperty("x"));
        EXPECT_EQ(b->GetStorageLocker(), second);
    }

    // A new shared array joins a new shared object: it takes the object's
    // locker, which stops being private.
    VRefPtr<VJSONObject> object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, true));
    VRefPtr<VJSONArray> array = VRefPtr<VJSONArray>::Adopt(new VJSONArray(true));
    EXPECT_LT(object->GetSharedID(), 0);
    EXPECT_TRUE(object->SetProperty("list", VJSONValue(array.Get())));
    EXPECT_EQ(array->GetStorageLocker(), object->GetStorageLocker());
    EXPECT_GT(object->GetSharedID(), 0);

    // Paths make their containers shared as they go.
    EXPECT_TRUE(object->SetPropertyWithPath("made.list[1].x", VJSONValue(1.0)));
    EXPECT_EQ(object->GetPropertyWithPath("made.list[1]").GetObject()->GetStorageLocker(), object->GetStorageLocker());

    // A whole unshared tree joins through MakeValueSharedIfNecessary.
    VJSONValue tree(JSON_object);
    tree.SetProperty("inner", VJSONValue(JSON_array));
    object->MakeValueSharedIfNecessary(tree);
    EXPECT_TRUE(object->SetProperty("tree", tree));
    EXPECT_EQ(tree.GetProperty("inner").GetArray()->GetStorageLocker(), object->GetStorageLocker());
}

TEST(VStorageLocker, SharedCyclesAreCollected)
{
    VJSONObject::sTaskCounter = 0;
    VJSONObject::sTaskToMonitor = VTask::GetCurrentID();
    {
        VRefPtr<VStorageLocker> locker = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker());
        VRefPtr<VJSONObject> a = SharedObject(locker.Get());
        VRefPtr<VJSONObject> b = SharedObject(locker.Get());
        a->SetProperty("b", VJSONValue(b.Get()));
        b->SetProperty("a", VJSONValue(a.Get()));
        EXPECT_TRUE(a->_GetGraph()->IsShared());
    }
    EXPECT_EQ(VJSONObject::sTaskCounter.load(), 0);
    VJSONObject::sTaskToMonitor = 0;
}

// Tasks change one shared tree under uses of its locker while others read it
// without one; the graph must stay consistent and everything must go.
TEST(VStorageLocker, ConcurrentChangesAndReadsOfOneSharedTree)
{
    VRefPtr<VStorageLocker> locker = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker());
    VRefPtr<VJSONObject> root = SharedObject(locker.Get());
    root->SetProperty("list", VJSONValue(VRefPtr<VJSONArray>::Adopt(new VJSONArray(locker.Get())).Get()));
    std::vector<VTask*> tasks;
    for (int t = 0; t < 4; ++t) {
        tasks.push_back(Start([&, t] {
            for (int i = 0; i < 200; ++i) {
                VJSONUser user(root.Get(), false);
                VJSONArray* list = root->GetProperty("list").GetArray();
                VRefPtr<VJSONObject> item = SharedObject(locker.Get());
                item->SetProperty("root", VJSONValue(root.Get()));  // a cycle through the root
                item->SetProperty("n", VJSONValue(static_cast<double>(i)));
                list->Push(VJSONValue(item.Get()));
                if (list->GetCount() > 8)
                    list->RemoveAt(0, 4);
                root->SetProperty(VString(std::to_string(t).c_str()), VJSONValue(item.Get()));
            }
        }));
        tasks.push_back(Start([&] {
            for (int i = 0; i < 400; ++i) {
                VJSONValue list = root->GetProperty("list");
                VJSONValue first = list.GetArray()->GetAt(0);
                if (first.IsObject()) {
                    EXPECT_TRUE(first.GetProperty("n").IsNumber());
                }
            }
        }));
    }
    for (VTask* task : tasks)
        Join(task);
    {
        StGraphLocker lock;
        EXPECT_TRUE(root->_GetGraph()->CheckInvariant());
    }
    // Every item held the root: once they are unlinked, only ours is left.
    root->RemoveProperty("list");
    for (int t = 0; t < 4; ++t)
        root->RemoveProperty(VString(std::to_string(t).c_str()));
    EXPECT_TRUE(root->IsEmpty());
    EXPECT_EQ(root->GetRefCount(), 1);
}

}  // namespace
}  // namespace bkit
