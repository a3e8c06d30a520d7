// VJSONGraphTest.cpp - cycle collection: the collector's invariant, what is freed and what stays.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONGraph.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

// Counts the containers built and freed on this task while a test runs, so
// that a test can tell that everything it made is gone.
class GraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VJSONObject::sTaskCounter = 0;
        VJSONArray::sTaskCounter = 0;
        VJSONObject::sTaskToMonitor = VTask::GetCurrentID();
        VJSONArray::sTaskToMonitor = VTask::GetCurrentID();
    }
    void TearDown() override
    {
        VJSONObject::sTaskToMonitor = 0;
        VJSONArray::sTaskToMonitor = 0;
    }
    static int32_t Alive() { return VJSONObject::sTaskCounter.load() + VJSONArray::sTaskCounter.load(); }
};

VRefPtr<VJSONObject> NewObject() { return VRefPtr<VJSONObject>::Adopt(new VJSONObject()); }
VRefPtr<VJSONArray> NewArray() { return VRefPtr<VJSONArray>::Adopt(new VJSONArray()); }

TEST_F(GraphTest, SelfAndMutualCyclesAreFreedWithTheirLastOutsideReference)
{
    {
        VRefPtr<VJSONObject> self = NewObject();
        self->SetProperty("me", VJSONValue(self.Get()));
        ASSERT_NE(self->_GetGraph(), nullptr);
        EXPECT_TRUE(self->_GetGraph()->HasCycle());
        EXPECT_TRUE(self->_GetGraph()->CheckInvariant());
    }
    EXPECT_EQ(Alive(), 0);

    {
        VRefPtr<VJSONObject> a = NewObject();
        VRefPtr<VJSONArray> b = NewArray();
        a->SetProperty("b", VJSONValue(b.Get()));
        b->Push(VJSONValue(a.Get()));
        b.Clear();
        // The outside reference to a keeps both whole.
        VJSONValue back = a->GetProperty("b").GetArray()->GetAt(0);
        EXPECT_EQ(back.GetObject(), a.Get());
        EXPECT_TRUE(a->_GetGraph()->CheckInvariant());
    }
    EXPECT_EQ(Alive(), 0);
}

TEST_F(GraphTest, TreeWithoutCycleGetsAGraphWithoutTheCycleFlag)
{
    VRefPtr<VJSONObject> root = NewObject();
    VJSONValue child(JSON_array);
    child.GetArray()->Push(VJSONValue(JSON_object));
    root->SetProperty("child", child);
    ASSERT_NE(root->_GetGraph(), nullptr);
    EXPECT_FALSE(root->_GetGraph()->HasCycle());
    EXPECT_EQ(root->_GetGraph()->GetMembers().size(), 3u);
    EXPECT_TRUE(root->_GetGraph()->CheckInvariant());
}

TEST_F(GraphTest, ACycleDetachedWhileItsOwnerLivesIsFreedAndCountersFollow)
{
    VRefPtr<VJSONObject> owner = NewObject();
    {
        VJSONValue x(JSON_object);
        VJSONValue y(JSON_array);
        x.SetProperty("y", y);
        y.GetArray()->Push(x);
        owner->SetProperty("x", x);
    }
    EXPECT_EQ(Alive(), 3);
    VJSONGraph* graph = owner->_GetGraph();
    EXPECT_TRUE(graph->CheckInvariant());

    // Overwriting the only link into the cycle frees it at once.
    owner->SetProperty("x", VJSONValue(1.0));
    EXPECT_EQ(Alive(), 1);
    EXPECT_EQ(owner->_GetGraph(), graph);
    EXPECT_TRUE(graph->CheckInvariant());

    // The graph still collects later cycles: its counters were adjusted.
    {
        VJSONValue again(JSON_object);
        again.SetProperty("self", again);
        owner->SetProperty("again", again);
    }
    owner->RemoveProperty("again");
    EXPECT_EQ(Alive(), 1);
    owner->SetProperty("self", VJSONValue(owner.Get()));
    EXPECT_TRUE(graph->CheckInvariant());
    owner.Clear();
    EXPECT_EQ(Alive(), 0);
}

TEST_F(GraphTest, RemovalsOfEveryKindFreeDetachedCycles)
{
    // Each way of dropping elements or properties, on a cycle reachable only
    // through what is dropped; a container held twice is dropped twice.
    const std::vector<std::function<void(VJSONObject*, VJSONArray*)>> removals = {
        [](VJSONObject*, VJSONArray* a) { a->RemoveAt(0, 2); },
        [](VJSONObject*, VJSONArray* a) { a->Clear(); },
        [](VJSONObject*, VJSONArray* a) { a->Resize(0); },
        [](VJSONObject*, VJSONArray* a) { a->SetAt(0, VJSONValue(JSON_null)); a->SetAt(1, VJSONValue(JSON_null)); },
        [](VJSONObject* o, VJSONArray*) { o->ClearInternalProperties(); },
        [](VJSONObject* o, VJSONArray*) { o->RemoveProperty("a"); o->RemoveProperty("b"); },
    };
    for (size_t i = 0; i < removals.size(); ++i) {
        SCOPED_TRACE(i);
        {
            VRefPtr<VJSONObject> owner = NewObject();
            VRefPtr<VJSONArray> list = NewArray();
            owner->SetProperty("list", VJSONValue(list.Get()));
            {
                VJSONValue cycle(JSON_object);
                cycle.SetProperty("self", cycle);
                list->Push(cycle);
                list->Push(cycle);
                owner->SetProperty("a", cycle);
                owner->SetProperty("b", cycle);
            }
            if (i < 4) {
                owner->RemoveProperty("a");
                owner->RemoveProperty("b");
            } else {
                list->Clear();
            }
            removals[i](owner.Get(), list.Get());
            EXPECT_EQ(Alive(), 2);  // the owner and its list
            EXPECT_TRUE(owner->_GetGraph()->CheckInvariant());
        }
        EXPECT_EQ(Alive(), 0);
    }
}

TEST_F(GraphTest, RemovingAnInternalPropertyKeepsIndexesDenseAndFreesWhatOnlyItHeld)
{
    {
        VRefPtr<VJSONObject> owner = NewObject();
        owner->SetProperty("a", VJSONValue(1.0));
        {
            VRefPtr<VJSONObject> x = NewObject();
            VRefPtr<VJSONObject> y = NewObject();
            x->SetProperty("y", VJSONValue(y.Get()));
            y->SetProperty("x", VJSONValue(x.Get()));
            owner->SetProperty("b", VJSONValue(x.Get()));
        }
        owner->SetProperty("c", VJSONValue(2.0));
        owner->_RemoveInternalProperty(1);
        owner->_RemoveInternalProperty(5);  // past the end: nothing
        ASSERT_EQ(owner->GetPropertyCount(), 2u);
        EXPECT_EQ(to_string(owner->GetNameAt(1)), "c");
        EXPECT_EQ(owner->GetProperty("c").GetNumber(), 2);
        EXPECT_EQ(Alive(), 1);  // the cycle only b held is gone
        EXPECT_TRUE(owner->_GetGraph() == nullptr || owner->_GetGraph()->CheckInvariant());
    }
    EXPECT_EQ(Alive(), 0);
}

TEST_F(GraphTest, CollectingReferencesBringsWholeTreesIntoAGraph)
{
    struct Case {
        const char* text;
        size_t members;
    };
    const Case cases[] = {
        {"{\"a\":[{},[]],\"b\":{\"c\":{}}}", 6},
        {"[[{}],{},[[[]]]]", 7},
        {"{}", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        {
            VJSONValue root;
            ASSERT_EQ(VJSONImporter::ParseString(VString(c.text), root, 0), 0u);
            VJSONGraph* graph = new VJSONGraph();
            if (root.IsObject())
                graph->CollectObjectReferences(root.GetObject());
            else
                graph->CollectArrayReferences(root.GetArray());
            EXPECT_EQ(graph->GetMembers().size(), c.members);
            EXPECT_FALSE(graph->HasCycle());
            EXPECT_TRUE(graph->CheckInvariant());
            // A second walk from a member changes nothing.
            graph->CollectObjectReferences(root.GetObject());
            graph->CollectArrayReferences(root.GetArray());
            EXPECT_EQ(graph->GetMembers().size(), c.members);
            EXPECT_TRUE(graph->CheckInvariant());
            graph->Release();  // the members hold it now
        }
        EXPECT_EQ(Alive(), 0);
    }
}

TEST_F(GraphTest, LinkingTwoGraphsMergesThem)
{
    VRefPtr<VJSONObject> a = NewObject();
    VRefPtr<VJSONObject> b = NewObject();
    a->SetProperty("x", VJSONValue(JSON_array));
    b->SetProperty("y", VJSONValue(JSON_array));
    ASSERT_NE(a->_GetGraph(), b->_GetGraph());
    a->SetProperty("b", VJSONValue(b.Get()));
    EXPECT_EQ(a->_GetGraph(), b->_GetGraph());
    EXPECT_EQ(a->_GetGraph()->GetMembers().size(), 4u);
    EXPECT_TRUE(a->_GetGraph()->CheckInvariant());
    b->SetProperty("a", VJSONValue(a.Get()));
    a.Clear();
    b.Clear();
    EXPECT_EQ(Alive(), 0);
}

TEST_F(GraphTest, SwapValuesHandsBackTheOldElementsWithTheirLinksDropped)
{
    VRefPtr<VJSONArray> array = NewArray();
    array->Push(VJSONValue(JSON_object));
    std::vector<VJSONValue> values{VJSONValue(JSON_array), VJSONValue(2.0)};
    VJSONArray* incoming = values[0].GetArray();
    array->SwapValues(values);
    ASSERT_EQ(array->GetCount(), 2u);
    EXPECT_EQ(array->GetAt(0).GetArray(), incoming);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_TRUE(values[0].IsObject());
    EXPECT_EQ(values[0].GetObject()->_GetInGraphCount(), 0u);
    EXPECT_EQ(incoming->_GetInGraphCount(), 1u);
    EXPECT_TRUE(array->_GetGraph()->CheckInvariant());
}

TEST_F(GraphTest, DeepStructuresAreFreedAndComparedWithoutRecursion)
{
    constexpr int kDepth = 200000;
    {
        VJSONValue root(JSON_array);
        VJSONValue copy(JSON_array);
        for (VJSONValue* tree : {&root, &copy}) {
            VJSONValue current = *tree;
            for (int i = 0; i < kDepth; ++i) {
                VJSONValue next(JSON_array);
                current.GetArray()->Push(next);
                current = next;
            }
        }
        VCompareOptions options;
        EXPECT_TRUE(root.DeepEqualTo(copy, options));
        VString text;
        EXPECT_EQ(root.GetString(text), 0u);
        EXPECT_TRUE(text.IsEmpty());
    }
    EXPECT_EQ(Alive(), 0);
}

// Random links, overwrites and removals among a pool of containers, with the
// invariant checked after every step.
void RunRandomSteps(std::vector<VJSONValue>& pool, std::mt19937& random)
{
    auto pick = [&]() -> VJSONValue& { return pool[random() % pool.size()]; };
    auto name = [&]() { return VString(std::to_string(random() % 4).c_str()); };

    for (int step = 0; step < 300; ++step) {
        VJSONValue& owner = pick();
        VJSONValue value = (random() % 5 == 0) ? VJSONValue(1.0) : pick();
        switch (random() % 6) {
            case 0:
            case 1:
                if (owner.IsObject())
                    owner.GetObject()->SetProperty(name(), value);
                else if (owner.IsArray())
                    owner.GetArray()->Push(value);
                break;
            case 2:
                if (owner.IsObject())
                    owner.GetObject()->RemoveProperty(name());
                else if (owner.IsArray())
                    owner.GetArray()->RemoveAt(random() % 4, random() % 3);
                break;
            case 3:
                if (owner.IsArray())
                    owner.GetArray()->SetAt(random() % 6, value, true);
                else if (owner.IsObject() && random() % 4 == 0)
                    owner.GetObject()->ClearInternalProperties();
                break;
            case 4:
                // Drop an outside reference: only the graph keeps it now.
                pick() = VJSONValue((random() % 2) ? JSON_object : JSON_array);
                break;
            default:
                if (owner.IsArray() && random() % 3 == 0)
                    owner.GetArray()->Resize(random() % 5, JSON_null);
                break;
        }
        for (const VJSONValue& each : pool) {
            VJSONContainer* container = VJSONContainer::ContainerOf(each);
            if (container != nullptr && container->_GetGraph() != nullptr) {
                ASSERT_TRUE(container->_GetGraph()->CheckInvariant()) << "step " << step;
            }
        }
    }
}

// Every container of a parsed document, the root first.
std::vector<VJSONValue> ParsedContainers(const char* text)
{
    VJSONValue root;
    EXPECT_EQ(VJSONImporter::ParseString(VString(text), root, 0), 0u);
    std::vector<VJSONValue> out{root};
    for (size_t i = 0; i < out.size(); ++i) {
        std::vector<VJSONContainer*> children;
        VJSONContainer::ContainerOf(out[i])->_GetChildContainers(children);
        for (VJSONContainer* child : children) {
            if (VJSONObject* object = child->AsObject())
                out.emplace_back(object);
            else
                out.emplace_back(child->AsArray());
        }
    }
    return out;
}

TEST_F(GraphTest, RandomGraphsKeepTheInvariantAndFreeEverything)
{
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        std::vector<VJSONValue> pool;
        for (int i = 0; i < 12; ++i)
            pool.emplace_back((random() % 2) ? JSON_object : JSON_array);
        RunRandomSteps(pool, random);
        pool.clear();
        EXPECT_EQ(Alive(), 0);
    }
}

// A parsed tree is built out of any graph; links made into it, out of it and
// within it afterwards must still find every cycle they close.
TEST_F(GraphTest, RandomLinksAmongParsedTreesKeepTheInvariantAndFreeEverything)
{
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        std::vector<VJSONValue> pool;
        for (const char* text : {R"({"0":[{"1":{}},[[],{}]],"2":{"3":[]}})", R"([[{"0":[]}],{"1":{"2":[[]]}}])"}) {
            std::vector<VJSONValue> containers = ParsedContainers(text);
            // Some inner containers are held only by their parent.
            for (size_t i = 0; i < containers.size(); ++i) {
                if (i == 0 || random() % 3 != 0)
                    pool.push_back(containers[i]);
            }
        }
        pool.emplace_back(JSON_object);
        RunRandomSteps(pool, random);
        pool.clear();
        EXPECT_EQ(Alive(), 0);
    }
}

TEST_F(GraphTest, CyclesClosedThroughParsedTreesAreCollected)
{
    // A leaf linked back to the root of its parsed tree.
    {
        std::vector<VJSONValue> nodes = ParsedContainers(R"({"a":{"b":[{"c":{}}]}})");
        VJSONObject* leaf = nodes.back().GetObject();
        ASSERT_NE(leaf, nullptr);
        leaf->SetProperty("root", nodes.front());
        ASSERT_NE(leaf->_GetGraph(), nullptr);
        EXPECT_EQ(leaf->_GetGraph(), nodes.front().GetObject()->_GetGraph());
        EXPECT_TRUE(leaf->_GetGraph()->HasCycle());
        EXPECT_TRUE(leaf->_GetGraph()->CheckInvariant());
    }
    EXPECT_EQ(Alive(), 0);

    // A cycle below a parsed container that stays out of any graph, cut off
    // from it by a removal while the root lives on.
    {
        std::vector<VJSONValue> nodes = ParsedContainers(R"({"a":{"b":{}}})");
        VJSONObject* root = nodes[0].GetObject();
        VJSONObject* inner = nodes[2].GetObject();
        inner->SetProperty("self", nodes[2]);
        EXPECT_EQ(root->_GetGraph(), nullptr);
        nodes.resize(1);
        root->RemoveProperty("a");
        EXPECT_EQ(Alive(), 1);
    }
    EXPECT_EQ(Alive(), 0);
}

}  // namespace
}  // namespace bkit
