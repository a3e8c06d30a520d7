// bench_bags.cpp - bag attributes looked up and set, and bags through their binary and XML forms.
//
// Lookups run on bags of 4 names (linear scan) and 64 names (hash index), by
// static keys as callers use them; setting replaces a long in place. A log
// entry sized bag (8 attributes, 3 children) is written to and read from a
// memory stream, and dumped as XML text.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/files/VMemoryStream.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/values/VScalars.h"

using namespace bkit;

namespace {

std::vector<std::string> Names(int count)
{
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back("attribute_" + std::to_string(i));
    return names;
}

void BM_Lookup(benchmark::State& state)
{
    const std::vector<std::string> names = Names(static_cast<int>(state.range(0)));
    std::vector<StPackedDictionaryKey> keys;
    for (const std::string& n : names)
        keys.emplace_back(n.c_str());
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    for (size_t i = 0; i < keys.size(); ++i)
        bag->SetLong(keys[i], static_cast<int32_t>(i));
    VLong value;
    for (auto _ : state) {
        for (const StPackedDictionaryKey& key : keys)
            bag->GetAttribute(key, value);
        benchmark::DoNotOptimize(value.GetLong());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}

void BM_SetInPlace(benchmark::State& state)
{
    const std::vector<std::string> names = Names(static_cast<int>(state.range(0)));
    std::vector<StPackedDictionaryKey> keys;
    for (const std::string& n : names)
        keys.emplace_back(n.c_str());
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    for (const StPackedDictionaryKey& key : keys)
        bag->SetLong(key, 0);
    int32_t n = 0;
    for (auto _ : state) {
        for (const StPackedDictionaryKey& key : keys)
            bag->SetLong(key, ++n);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}

VRefPtr<VValueBag> LogEntry()
{
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    bag->SetString("message", VString("The file could not be opened"));
    bag->SetLong("level", 6);
    bag->SetString("source", VString("updater"));
    bag->SetString("task_name", VString("main"));
    bag->SetLong("task_id", 42);
    bag->SetLong8("error_code", 0x626b6974000000c8LL);
    bag->SetLong("component_signature", 0x626b6974);
    bag->SetString("file_name", VString("/tmp/some/path/file.txt"));
    for (int i = 0; i < 3; ++i) {
        VRefPtr<VValueBag> child = VRefPtr<VValueBag>::Adopt(new VValueBag());
        child->SetLong("i", i);
        child->SetString("path", VString("/tmp/x"));
        bag->AddElement("error", child.Get());
    }
    return bag;
}

void BM_StreamWriteRead(benchmark::State& state)
{
    VRefPtr<VValueBag> bag = LogEntry();
    for (auto _ : state) {
        VPtrStream stream;
        stream.OpenWriting();
        bag->WriteToStream(&stream);
        stream.CloseWriting();
        stream.OpenReading();
        VValueBag read;
        read.ReadFromStream(&stream);
        stream.CloseReading();
        benchmark::DoNotOptimize(read.GetAttributesCount());
    }
}

void BM_DumpXML(benchmark::State& state)
{
    VRefPtr<VValueBag> bag = LogEntry();
    for (auto _ : state) {
        VString xml;
        bag->DumpXML(xml, VString("entry"), true);
        benchmark::DoNotOptimize(xml.GetLength());
    }
}

}  // namespace

BENCHMARK(BM_Lookup)->Arg(4)->Arg(64);
BENCHMARK(BM_SetInPlace)->Arg(4)->Arg(64);
BENCHMARK(BM_StreamWriteRead);
BENCHMARK(BM_DumpXML);

int main(int argc, char** argv)
{
    VProcess process;
    if (!process.Init(0) || !VTaskMgr::IsInited()) {
        fprintf(stderr, "the process could not be initialised\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
