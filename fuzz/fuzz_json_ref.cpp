// fuzz_json_ref.cpp - libFuzzer target for the "$ref" resolver.
//
// At start a temporary folder gets a base folder of small documents that
// refer to each other, to a document that does not parse, to a file outside
// the base folder (also through a link), and through a file system named
// "fs"; a secret document lies beside the base folder.
//
// Each input is a flag byte, a first line used as a "$ref" text and the rest
// read leniently as a JSON document. The line is resolved alone
// (ResolveOnePointer, references followed or not), then the document, placed
// in an object beside references built from the line, is resolved whole
// (ResolveRecursively, merged or not), with or without base folder and
// namespace. Crashes, sanitizer reports, runs that never end and any loaded
// document outside the base folder are the findings.
#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "basekit/files/IFile.h"
#include "basekit/files/VFileSystemNamespace.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONPointerResolver.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

namespace {

std::string sTop;       // the temporary folder
std::string sRealBase;  // real path of its base folder, with a final '/'
VFolder* sBase = nullptr;
VFileSystemNamespace* sNamespace = nullptr;

void Write(const std::string& name, const char* content)
{
    std::ofstream(sTop + "/" + name) << content;
}

int RemoveItem(const char* path, const struct stat*, int, struct FTW*)
{
    ::remove(path);
    return 0;
}

void RemoveTop()
{
    if (!sTop.empty())
        ::nftw(sTop.c_str(), RemoveItem, 16, FTW_DEPTH | FTW_PHYS);
}

VString Text(const std::string& text)
{
    VString out;
    out.FromCString(text.c_str());
    return out;
}

void MakeFolders()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-json-ref-XXXXXX";
    Check(::mkdtemp(templ.data()) != nullptr);
    sTop = templ;
    std::atexit(RemoveTop);
    for (const char* folder : {"/base", "/base/sub", "/outside"})
        Check(::mkdir((sTop + folder).c_str(), 0755) == 0);
    Write("base/doc.json", R"({"x":{"$ref":"sub/c.json#/c"},"y":[1,{"$ref":"#/x"}],"z":{"$ref":"bad.json"},)"
                           R"("w":{"$ref":"doc.json#/y","k":2}})");
    Write("base/sub/c.json", R"({"c":{"$ref":"../doc.json#/y/0"},"d":{"$ref":"../../outside/secret.json#/s"},)"
                             R"("e":{"$ref":"/fs/c.json#/c"},"f":{"$ref":"../out/secret.json"}})");
    Write("base/bad.json", R"({"unterminated)");
    Write("outside/secret.json", R"({"s":"outside"})");
    Check(::symlink("../outside", (sTop + "/base/out").c_str()) == 0);
    Check(::symlink("loop", (sTop + "/base/loop").c_str()) == 0);
    char real[PATH_MAX];
    Check(::realpath((sTop + "/base").c_str(), real) != nullptr);
    sRealBase = std::string(real) + "/";
    sBase = new VFolder(Text(sTop + "/base/"), FPS_POSIX);
    sNamespace = new VFileSystemNamespace();
    // The namespace keeps its roots: they live on the heap.
    VRefPtr<VFolder> sub = VRefPtr<VFolder>::Adopt(new VFolder(Text(sTop + "/base/sub/"), FPS_POSIX));
    Check(sNamespace->RegisterFileSystem(Text("fs"), sub.Get(), 0) == 0);
    VRefPtr<VFolder> outside = VRefPtr<VFolder>::Adopt(new VFolder(Text(sTop + "/outside/"), FPS_POSIX));
    Check(sNamespace->RegisterFileSystem(Text("hidden"), outside.Get(), 16) == 0);
}

// Every document loaded lies in the base folder, links resolved.
void CheckInside(std::vector<IFile*>& files)
{
    for (IFile*& file : files) {
        VString path;
        file->GetPath().GetPosixPath(path);
        char real[PATH_MAX];
        if (::realpath(to_string(path).c_str(), real) != nullptr)
            Check(std::string(real).rfind(sRealBase, 0) == 0);
        ReleaseRefCountable(&file);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartProcess();
    MakeFolders();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    const bool merge = flags & 1, withNamespace = flags & 2, follow = flags & 4, withBase = !(flags & 8);
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t newline = rest.find('\n');
    std::string line = rest.substr(0, newline);
    rest = newline == std::string::npos ? std::string() : rest.substr(newline + 1);
    VString uri, text;
    uri.FromBlock(line.data(), line.size(), VTC_UTF_8);
    text.FromBlock(rest.data(), rest.size(), VTC_UTF_8);

    StErrorContextInstaller quiet(false, true);
    VJSONValue document;
    VJSONImporter::ParseString(text, document, 0);
    VJSONObject* root = new VJSONObject();
    root->SetProperty(Text("doc"), document);
    VJSONObject* reference = new VJSONObject();
    reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(uri));
    root->SetProperty(Text("r"), VJSONValue(reference));
    VJSONObject* merged = new VJSONObject();
    merged->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(uri));
    merged->SetProperty(Text("k"), VJSONValue(1.0));
    root->SetProperty(Text("m"), VJSONValue(merged));
    VJSONValue value(root);

    VJSONFileCache* cache = new VJSONFileCache();
    IFolder* base = withBase ? sBase : nullptr;
    VFileSystemNamespace* ns = withNamespace ? sNamespace : nullptr;

    VJSONPointerResolver* one = new VJSONPointerResolver(value, base, ns, cache);
    VJSONValue designated;
    Check(one->ResolveOnePointer(reference, follow, designated));
    one->Release();

    VJSONPointerResolver* whole = new VJSONPointerResolver(value, base, ns, cache);
    std::vector<IFile*> files;
    whole->ResolveRecursively(value, merge, &files);
    CheckInside(files);
    Check(cache->GetValue(Text(sTop + "/outside/secret.json")).IsUndefined());
    Check(cache->GetValue(Text(sTop + "/base/out/secret.json")).IsUndefined());
    whole->Release();

    cache->Release();
    merged->Release();
    reference->Release();
    root->Release();
    quiet.Flush();
    return 0;
}
