// fuzz_file_systems.cpp - libFuzzer target for file-system definition files
// and the path texts that name file systems.
//
// The input up to its first NUL byte is a definition file ("fileSystems.json"
// text), loaded into a namespace whose parent holds one file system, "base",
// over a small tree made at start: base/a/b/, base/up (a link to the tree's
// parent folder) and a sibling folder outside/ that nothing may reach. Each
// line after the NUL is a text looked up as a file and as a folder. The
// findings, beside crashes and sanitizer reports: an object bound to a file
// system lies inside that file system's root once links are resolved, and a
// file system defined under a parent lies inside the parent's root. Nothing is
// written; the tree is made once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include "basekit/files/IFile.h"
#include "basekit/files/IFolder.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFileSystemNamespace.h"
#include "basekit/files/VFolder.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

namespace {

std::string gTree;  // the temporary tree, with its final '/'
VFileSystemNamespace* gParent = nullptr;

// realpath of the deepest existing ancestor, with the missing rest appended.
std::string Resolved(const std::string& path)
{
    std::string head = path;
    std::string tail;
    while (!head.empty()) {
        char* real = realpath(head.c_str(), nullptr);
        if (real != nullptr) {
            std::string out(real);
            free(real);
            if (out.back() != '/')
                out += '/';
            return out + tail;
        }
        if (head.back() == '/')
            head.pop_back();
        size_t slash = head.rfind('/');
        if (slash == std::string::npos)
            break;
        tail = head.substr(slash + 1) + (tail.empty() ? "" : "/") + tail;
        head.resize(slash + 1);
    }
    return path;
}

std::string PosixOf(const VFilePath& path)
{
    VString text;
    path.GetPosixPath(text);
    return to_string(text);
}

// Compared without "." or ".." in the missing tail: a tail holding them cannot
// be judged from text, so it must not be there at all.
void Inside(const VFilePath& path, VFileSystem* fs)
{
    if (fs == nullptr || !path.IsValid())
        return;
    VFilePath root;
    fs->GetRoot(root);
    std::string r = Resolved(PosixOf(root));
    std::string p = Resolved(PosixOf(path));
    Check(p.compare(0, r.size(), r) == 0 || p + "/" == r);
    Check(p.find("/../") == std::string::npos && p.find("/./") == std::string::npos);
}

void Make(const std::string& path, bool folder)
{
    if (folder)
        mkdir(path.c_str(), 0755);
    else
        close(creat(path.c_str(), 0644));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartProcess();
    char pattern[] = "/tmp/fuzz-fs-XXXXXX";
    Check(mkdtemp(pattern) != nullptr);
    gTree = std::string(pattern) + "/";
    Make(gTree + "base", true);
    Make(gTree + "base/a", true);
    Make(gTree + "base/a/b", true);
    Make(gTree + "base/a/f.txt", false);
    Make(gTree + "outside", true);
    Make(gTree + "outside/secret", false);
    Check(symlink("..", (gTree + "base/up").c_str()) == 0);
    gParent = new VFileSystemNamespace;
    VFolder* root = new VFolder(VFilePath(VString((gTree + "base/").c_str()), FPS_POSIX));
    Check(gParent->RegisterFileSystem(VString("base"), root, eFSWritable) == VE_OK);
    root->Release();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 8192)
        return 0;
    size_t split = 0;
    while (split < size && data[split] != 0)
        ++split;
    StErrorContextInstaller quiet(false, true);

    VFileSystemNamespace* ns = new VFileSystemNamespace(gParent);
    {
        VString definitions;
        definitions.FromBlock(data, split, VTC_UTF_8);
        std::string utf8 = to_string(definitions);
        VFile definitionFile(VFilePath(VString((gTree + "fileSystems.json").c_str()), FPS_POSIX));
        if (definitionFile.SetContent(utf8.data(), utf8.size()) == VE_OK)
            ns->LoadFromDefinitionFile(&definitionFile);
    }

    std::map<VString, VRefPtr<VFileSystem>> all;
    ns->RetainMapOfFileSystems(all, eFSN_SearchParents);
    for (auto& [name, fs] : all) {
        VFilePath root;
        fs->GetRoot(root);
        Check(root.IsFolder());
        // Only a root made under "base" can lie in the tree, whose name the
        // input cannot know: so a root in the tree is one under "base".
        std::string resolved = Resolved(PosixOf(root));
        std::string tree = Resolved(gTree);
        if (resolved.compare(0, tree.size(), tree) == 0)
            Check(resolved.compare(0, tree.size() + 5, tree + "base/") == 0);
    }

    size_t start = split + 1;
    while (start < size) {
        size_t end = start;
        while (end < size && data[end] != '\n')
            ++end;
        VString text;
        text.FromBlock(data + start, end - start, VTC_UTF_8);
        start = end + 1;
        for (uint32_t options : {0u, uint32_t(eFSN_SearchParents)}) {
            if (IFile* file = ns->RetainFile(text, nullptr, options, false)) {
                Inside(file->GetPath(), file->GetFileSystem());
                file->Release();
            }
            if (IFolder* folder = ns->RetainFolder(text, nullptr, options, false)) {
                Inside(folder->GetPath(), folder->GetFileSystem());
                folder->Release();
            }
        }
    }
    ns->Release();
    quiet.Flush();
    return 0;
}
