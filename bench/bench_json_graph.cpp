// bench_json_graph.cpp - building and dropping JSON trees with the cycle collector's bookkeeping.
//
// Trees are built through the public calls, bottom-up (each container filled
// before it is stored) and top-down (stored first, filled after), so that the
// cost of linking graphs and merging them shows against a plain build of
// std::vector nodes of the same shape. The text reader builds the same tree
// out of any graph; a further case shows what a parsed tree costs once a link
// closes a cycle over it and it must join a graph after all. The last case
// drops a large cyclic structure, which the group check collects in one pass.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/text/VString.h"

namespace {

using bkit::JSON_array;
using bkit::JSON_object;
using bkit::VJSONValue;
using bkit::VString;

constexpr int kFanOut = 8;
constexpr int kDepth = 5;  // 8^5 = 32768 leaves

const VString& Key(int i)
{
    static const std::vector<VString> keys = [] {
        std::vector<VString> k;
        for (int j = 0; j < kFanOut; ++j)
            k.emplace_back(("key" + std::to_string(j)).c_str());
        return k;
    }();
    return keys[static_cast<size_t>(i)];
}

VJSONValue BuildBottomUp(int depth)
{
    VJSONValue node(JSON_object);
    for (int i = 0; i < kFanOut; ++i) {
        if (depth == 0)
            node.SetProperty(Key(i), VJSONValue(static_cast<double>(i)));
        else
            node.SetProperty(Key(i), BuildBottomUp(depth - 1));
    }
    return node;
}

void FillTopDown(const VJSONValue& node, int depth)
{
    for (int i = 0; i < kFanOut; ++i) {
        if (depth == 0) {
            node.SetProperty(Key(i), VJSONValue(static_cast<double>(i)));
        } else {
            VJSONValue child(JSON_array);
            node.SetProperty(Key(i), child);
            VJSONValue inner(JSON_object);
            child.GetArray()->Push(inner);
            FillTopDown(inner, depth - 1);
        }
    }
}

struct PlainNode {
    std::vector<std::unique_ptr<PlainNode>> children;
    std::vector<double> numbers;
};

std::unique_ptr<PlainNode> BuildPlain(int depth)
{
    auto node = std::make_unique<PlainNode>();
    for (int i = 0; i < kFanOut; ++i) {
        if (depth == 0)
            node->numbers.push_back(i);
        else
            node->children.push_back(BuildPlain(depth - 1));
    }
    return node;
}

void BM_JSONTreeBottomUp(benchmark::State& state)
{
    for (auto _ : state) {
        VJSONValue root = BuildBottomUp(kDepth - 1);
        benchmark::DoNotOptimize(root);
    }
}
BENCHMARK(BM_JSONTreeBottomUp)->Unit(benchmark::kMillisecond);

void BM_JSONTreeTopDown(benchmark::State& state)
{
    for (auto _ : state) {
        VJSONValue root(JSON_object);
        FillTopDown(root, kDepth - 1);
        benchmark::DoNotOptimize(root);
    }
}
BENCHMARK(BM_JSONTreeTopDown)->Unit(benchmark::kMillisecond);

void BM_PlainTreeTwin(benchmark::State& state)
{
    for (auto _ : state) {
        auto root = BuildPlain(kDepth - 1);
        benchmark::DoNotOptimize(root);
    }
}
BENCHMARK(BM_PlainTreeTwin)->Unit(benchmark::kMillisecond);

const VString& TreeText()
{
    static const VString text = [] {
        VString out;
        BuildBottomUp(kDepth - 1).Stringify(out, 1);
        return out;
    }();
    return text;
}

void BM_JSONTreeParsed(benchmark::State& state)
{
    for (auto _ : state) {
        VJSONValue root;
        bkit::VJSONImporter::ParseString(TreeText(), root);
        benchmark::DoNotOptimize(root);
    }
}
BENCHMARK(BM_JSONTreeParsed)->Unit(benchmark::kMillisecond);

void BM_JSONParsedTreeLinkedIntoCycle(benchmark::State& state)
{
    for (auto _ : state) {
        VJSONValue root;
        bkit::VJSONImporter::ParseString(TreeText(), root);
        root.SetProperty(VString("self"), root);  // the whole tree joins one graph here
        root.SetNull();
    }
}
BENCHMARK(BM_JSONParsedTreeLinkedIntoCycle)->Unit(benchmark::kMillisecond);

void BM_JSONCyclicTreeCollected(benchmark::State& state)
{
    for (auto _ : state) {
        VJSONValue root(JSON_object);
        FillTopDown(root, kDepth - 1);
        root.SetProperty(VString("self"), root);  // one link closes a cycle over the whole tree
        root.SetNull();                           // the group check frees it all
    }
}
BENCHMARK(BM_JSONCyclicTreeCollected)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
