// bench_readers_json.cpp - the readers of JSON, on the shapes that cost them most.
//
// The text reader (VJSONImporter) reads deep nesting (up to its depth
// bound), an object of many distinct keys and a string of long runs of
// escapes, into a tree and straight into a bag (JSONObjectToBag). The binary
// reader reads an object of many keys, alone and revived into a bag from its
// Base64 inside text. The "$ref" resolver follows a pointer of many escaped
// slashes, many references to one value and a chain of references each
// naming the next. See ReaderBench.h for the sizes, names and counters.
#include <string>

#include "bench/ReaderBench.h"
#include "basekit/bags/VValueBag.h"
#include "basekit/json/VJSONBinary.h"
#include "basekit/json/VJSONClassStore.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONPointerResolver.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"

using namespace bkit;
using namespace bkit::bench;

namespace {

VString Utf8(const std::string& text)
{
    VString out;
    out.FromBlock(text.data(), text.size(), VTC_UTF_8);
    return out;
}

// --- shapes ---

// Objects and arrays in turn, n levels.
std::string DeepNesting(int64_t n)
{
    std::string json;
    for (int64_t i = 0; i < n; ++i)
        json += i % 2 == 0 ? "{\"a\":" : "[";
    json += "1";
    for (int64_t i = n - 1; i >= 0; --i)
        json += i % 2 == 0 ? "}" : "]";
    return json;
}

std::string ManyKeys(int64_t n)
{
    std::string json = "{";
    for (int64_t i = 0; i < n; ++i)
        json += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":\"v\"";
    return json + "}";
}

std::string EscapeRuns(int64_t n)
{
    std::string json = "{\"s\":\"";
    for (int64_t i = 0; i < n; ++i)
        json += "\\u00e9\\n\\\"";
    return json + "\"}";
}

// --- text ---

bool ParseTree(const VString& text)
{
    StErrorContextInstaller quiet(false, true);
    VJSONValue value;
    return VJSONImporter::ParseString(text, value, VJSONImporter::kOption_Strict) == VE_OK && !value.IsUndefined();
}

bool ParseBag(const VString& text, VIndex expectedAttributes)
{
    StErrorContextInstaller quiet(false, true);
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
    VJSONImporter importer(text);
    return importer.JSONObjectToBag(*bag) == VE_OK && bag->GetAttributesCount() == expectedAttributes;
}

void TextDeepNesting(benchmark::State& state)
{
    const std::string json = DeepNesting(state.range(0));
    const VString text = Utf8(json);
    Measure(state, json.size(), "refused", [&] { return ParseTree(text); });
}

void TextManyKeys(benchmark::State& state)
{
    const std::string json = ManyKeys(state.range(0));
    const VString text = Utf8(json);
    Measure(state, json.size(), "refused", [&] { return ParseTree(text); });
}

void TextEscapeRuns(benchmark::State& state)
{
    const std::string json = EscapeRuns(state.range(0));
    const VString text = Utf8(json);
    Measure(state, json.size(), "refused", [&] { return ParseTree(text); });
}

void BagDeepNesting(benchmark::State& state)
{
    // Arrays directly inside arrays are refused by the bag reader: objects only.
    std::string json;
    for (int64_t i = 0; i < state.range(0); ++i)
        json += "{\"a\":";
    json += "\"v\"" + std::string(static_cast<size_t>(state.range(0)), '}');
    const VString text = Utf8(json);
    Measure(state, json.size(), "refused", [&] { return ParseBag(text, 0); });
}

void BagManyKeys(benchmark::State& state)
{
    const std::string json = ManyKeys(state.range(0));
    const VString text = Utf8(json);
    Measure(state, json.size(), "refused", [&] { return ParseBag(text, static_cast<VIndex>(state.range(0))); });
}

// --- binary ---

std::string BinaryOfManyKeys(int64_t n)
{
    StErrorContextInstaller quiet(false, true);
    VJSONValue value;
    VJSONImporter::ParseString(Utf8(ManyKeys(n)), value, 0);
    VMemoryBuffer<> buffer;
    VJSONBinaryWriter writer;
    if (writer.StreamValue(value, buffer) != VE_OK)
        return std::string();
    return std::string(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize());
}

void BinaryManyKeys(benchmark::State& state)
{
    const std::string bytes = BinaryOfManyKeys(state.range(0));
    Measure(state, bytes.size(), "refused", [&] {
        StErrorContextInstaller quiet(false, true);
        VJSONValue value;
        VJSONBinaryImporter importer(bytes.data(), bytes.size());
        return importer.GetValue(value) == VE_OK && value.IsObject() &&
               value.GetObject()->GetPropertyCount() == static_cast<size_t>(state.range(0));
    });
}

void BinaryRevivedIntoBag(benchmark::State& state)
{
    const std::string bytes = BinaryOfManyKeys(state.range(0));
    VString text("{\"__PRIVATE_BINARY_OBJECT\":\"");
    VString base64;
    base64.EncodeBase64(bytes.data(), bytes.size());
    text.AppendString(base64);
    text.AppendCString("\"}");
    Measure(state, static_cast<size_t>(text.GetLength()), "refused",
            [&] { return ParseBag(text, static_cast<VIndex>(state.range(0))); });
}

// --- "$ref" ---

bool ResolveWhole(const std::string& json, const char* probe)
{
    StErrorContextInstaller quiet(false, true);
    VJSONValue value;
    if (VJSONImporter::ParseString(Utf8(json), value, 0) != VE_OK)
        return false;
    VRefPtr<VJSONFileCache> cache = VRefPtr<VJSONFileCache>::Adopt(new VJSONFileCache());
    VRefPtr<VJSONPointerResolver> resolver =
        VRefPtr<VJSONPointerResolver>::Adopt(new VJSONPointerResolver(value, nullptr, nullptr, cache.Get()));
    resolver->ResolveRecursively(value, false, nullptr);
    return value.GetObject()->GetProperty(VString(probe)).IsNumber() && resolver->GetErrors().IsUndefined();
}

void RefEscapedSlashes(benchmark::State& state)
{
    std::string name;
    std::string pointer = "#/";
    for (int64_t i = 0; i < state.range(0); ++i) {
        name += "a/";
        pointer += "a~1";
    }
    VJSONObject* root = new VJSONObject();
    root->SetProperty(Utf8(name), VJSONValue(1.0));
    VJSONObject* reference = new VJSONObject();
    reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(Utf8(pointer)));
    root->SetProperty(VString("r"), VJSONValue(reference));
    const VJSONValue value(root);
    Measure(state, name.size() + pointer.size(), "not resolved", [&] {
        StErrorContextInstaller quiet(false, true);
        VRefPtr<VJSONFileCache> cache = VRefPtr<VJSONFileCache>::Adopt(new VJSONFileCache());
        VRefPtr<VJSONPointerResolver> resolver =
            VRefPtr<VJSONPointerResolver>::Adopt(new VJSONPointerResolver(value, nullptr, nullptr, cache.Get()));
        VJSONValue designated;
        return resolver->ResolveOnePointer(reference, true, designated) && designated.IsNumber();
    });
    reference->Release();
    root->Release();
}

void RefManyReferences(benchmark::State& state)
{
    std::string json = "{\"t\":1";
    for (int64_t i = 0; i < state.range(0); ++i)
        json += ",\"r" + std::to_string(i) + "\":{\"$ref\":\"#/t\"}";
    json += "}";
    std::string probe = "r";
    probe += std::to_string(state.range(0) - 1);
    Measure(state, json.size(), "not resolved", [&] { return ResolveWhole(json, probe.c_str()); });
}

void RefChain(benchmark::State& state)
{
    std::string json = "{";
    for (int64_t i = 0; i < state.range(0); ++i)
        json += "\"r" + std::to_string(i) + "\":{\"$ref\":\"#/r" + std::to_string(i + 1) + "\"},";
    json += "\"r" + std::to_string(state.range(0)) + "\":1}";
    Measure(state, json.size(), "not resolved", [&] { return ResolveWhole(json, "r0"); });
}

const ReaderCase kCases[] = {
    // The reader refuses nesting past VJSONImporter::kMaxDepth (1000).
    {"json", "deep_nesting", 120, TextDeepNesting},
    {"json", "many_keys", 10000, TextManyKeys},
    {"json", "escape_runs", 100000, TextEscapeRuns},
    {"json.bag", "deep_nesting", 120, BagDeepNesting},
    {"json.bag", "many_keys", 10000, BagManyKeys},
    {"json.binary", "many_keys", 10000, BinaryManyKeys},
    {"json.binary", "revived_into_bag", 10000, BinaryRevivedIntoBag},
    {"json.ref", "escaped_slashes", 20000, RefEscapedSlashes},
    {"json.ref", "many_references", 10000, RefManyReferences},
    {"json.ref", "chain", 1000, RefChain},
};

}  // namespace

int main(int argc, char** argv)
{
    if (!StartProcess())
        return 1;
    VJSONClassStore::InitProcessStore();
    RegisterCases(kCases);
    return RunCases(argc, argv);
}
