// bench_json.cpp - the JSON text reader and writer over real documents, with
// a widely used C++ JSON library doing the same in the same run.
//
// The documents (twitter, citm_catalog, canada) are read at run time from the
// shared bench data, or from the folder named by BKIT_JSON_BENCH_DATA. Every
// figure is in bytes of UTF-8 JSON per second:
// - Parse: the reader over the document already in a string (the toolbox's
//   text is UTF-16, converted once beforehand);
// - ParseUTF8: the same, the UTF-8 to UTF-16 conversion included, as a file
//   read goes;
// - Tokens: the reader's tokenizer alone over the document (every token,
//   strings decoded, no tree), which shows what reading costs apart from
//   building the values;
// - Write: the tree written back as compact text, counted in the UTF-8 bytes
//   of that text.
// The library's benchmarks parse the same UTF-8 bytes and dump their tree. They
// are left out when its header is not installed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/json/VJSONWriter.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/text/VString.h"

#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#define BKIT_BENCH_WITH_NLOHMANN 1
#endif

using namespace bkit;

namespace {

struct Document {
    std::string name;
    std::string utf8;
    VString text;
    VJSONValue tree;
    size_t writtenBytes = 0;
};

std::vector<Document*> gDocuments;

bool ReadWhole(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream content;
    content << in.rdbuf();
    out = content.str();
    return true;
}

void BM_Parse(benchmark::State& state, Document* doc)
{
    for (auto _ : state) {
        VJSONValue value;
        if (VJSONImporter::ParseString(doc->text, value, 0) != 0)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc->utf8.size()));
}

void BM_Tokens(benchmark::State& state, Document* doc)
{
    for (auto _ : state) {
        VJSONImporter importer(doc->text, 0);
        VError err = 0;
        size_t tokens = 0;
        while (importer.GetNextJSONToken(&err) != VJSONImporter::jsonNone)
            ++tokens;
        benchmark::DoNotOptimize(tokens);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc->utf8.size()));
}

void BM_ParseUTF8(benchmark::State& state, Document* doc)
{
    for (auto _ : state) {
        VString text;
        text.FromBlock(doc->utf8.data(), doc->utf8.size(), VTC_UTF_8);
        VJSONValue value;
        if (VJSONImporter::ParseString(text, value, 0) != 0)
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc->utf8.size()));
}

void BM_Write(benchmark::State& state, Document* doc)
{
    for (auto _ : state) {
        VJSONWriter writer(VJSONWriter::kFlag_Quoted);
        VString out;
        if (writer.StringifyValue(doc->tree, out) != 0)
            state.SkipWithError("write failed");
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc->writtenBytes));
}

#ifdef BKIT_BENCH_WITH_NLOHMANN
void BM_NlohmannParse(benchmark::State& state, Document* doc)
{
    for (auto _ : state) {
        nlohmann::json value = nlohmann::json::parse(doc->utf8);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc->utf8.size()));
}

void BM_NlohmannWrite(benchmark::State& state, Document* doc)
{
    nlohmann::json value = nlohmann::json::parse(doc->utf8);
    size_t bytes = value.dump().size();
    for (auto _ : state) {
        std::string out = value.dump();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
#endif

bool LoadDocuments()
{
    const char* env = std::getenv("BKIT_JSON_BENCH_DATA");
    std::string folder = env && *env ? env : BKIT_SOURCE_DIR "/../shared/bench-data/json";
    for (const char* name : {"twitter", "citm_catalog", "canada"}) {
        auto* doc = new Document;
        doc->name = name;
        if (!ReadWhole(folder + "/" + name + ".json", doc->utf8)) {
            fprintf(stderr, "bench_json: %s/%s.json cannot be read; skipped\n", folder.c_str(), name);
            delete doc;
            continue;
        }
        doc->text.FromBlock(doc->utf8.data(), doc->utf8.size(), VTC_UTF_8);
        if (VJSONImporter::ParseString(doc->text, doc->tree, 0) != 0) {
            fprintf(stderr, "bench_json: %s does not parse; skipped\n", name);
            delete doc;
            continue;
        }
        VString written;
        VJSONWriter writer(VJSONWriter::kFlag_Quoted);
        writer.StringifyValue(doc->tree, written);
        doc->writtenBytes = to_string(written).size();
        gDocuments.push_back(doc);
    }
    return !gDocuments.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    VProcess process;
    if (!process.Init(0) || !VTaskMgr::IsInited()) {
        fprintf(stderr, "the process could not be initialised\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (!LoadDocuments())
        fprintf(stderr, "bench_json: no documents; nothing to measure\n");
    for (Document* doc : gDocuments) {
        benchmark::RegisterBenchmark(("Parse/" + doc->name).c_str(), BM_Parse, doc)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Tokens/" + doc->name).c_str(), BM_Tokens, doc)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("ParseUTF8/" + doc->name).c_str(), BM_ParseUTF8, doc)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Write/" + doc->name).c_str(), BM_Write, doc)->Unit(benchmark::kMillisecond);
#ifdef BKIT_BENCH_WITH_NLOHMANN
        benchmark::RegisterBenchmark(("NlohmannParse/" + doc->name).c_str(), BM_NlohmannParse, doc)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("NlohmannWrite/" + doc->name).c_str(), BM_NlohmannWrite, doc)
            ->Unit(benchmark::kMillisecond);
#endif
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (Document* doc : gDocuments)
        delete doc;
    return 0;
}
