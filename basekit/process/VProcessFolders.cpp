// VProcessFolders.cpp - the application's folders and files, product folders and version texts.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/BundleInfo.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"

namespace bkit {

VFilePath VProcess::GetExecutableFilePath() const
{
    std::string path = platform::BundleInfo::GetExecutablePath();
    if (path.empty() || path[0] != '/')
        return VFilePath();
    VString text;
    text.FromCString(path.c_str());  // 7-bit text needs no converter
    return VFilePath(text, FPS_POSIX);
}

VFile* VProcess::RetainExecutableFile() const
{
    VFilePath path = GetExecutableFilePath();
    return path.IsValid() ? new VFile(path) : nullptr;
}

VFilePath VProcess::GetExecutableFolderPath() const
{
    VFilePath path = GetExecutableFilePath();
    if (path.IsValid())
        path.ToFolder();
    return path;
}

VFolder* VProcess::RetainFolder(OsType kind) const
{
    VFilePath path = GetExecutableFolderPath();
    if (!path.IsValid())
        return nullptr;
    struct Kind {
        OsType kind;
        int levelsUp;          // from the executable's folder
        const char* inContents;  // then these folders inside, ':' between them
    };
    static const Kind kKinds[] = {
        {kProcessFolderBundle, 2, nullptr},
        {kProcessFolderExecutable, 0, nullptr},
        {kProcessFolderContents, 1, nullptr},
        {kProcessFolderResources, 1, "Resources"},
        {kProcessFolderNativeComponents, 1, "Native Components"},
        {kProcessFolderDTDs, 1, "Resources:DTD"},
        {kProcessFolderXSDs, 1, "Resources:XSD"},
        {kProcessFolderXSLs, 1, "Resources:XSL"},
        {kProcessFolderJSONSchemas, 1, "Resources:JSONSchemas"},
    };
    for (const Kind& k : kKinds) {
        if (k.kind != kind)
            continue;
        for (int i = 0; i < k.levelsUp; ++i)
            path.ToParent();
        if (k.inContents != nullptr) {
            std::vector<VString> names;
            VString(k.inContents).GetSubStrings(u':', names);
            for (const VString& name : names)
                path.ToSubFolder(name);
        }
        return path.IsValid() ? new VFolder(path) : nullptr;
    }
    return nullptr;
}

VFile* VProcess::RetainFile(OsType kind, const VString& name, OsType fallbackKind) const
{
    VFile* file = nullptr;
    if (VFolder* folder = RetainFolder(kind)) {
        file = folder->RetainRelativeFile(name, FPS_POSIX);
        folder->Release();
        if (file != nullptr && file->Exists())
            return file;
        ReleaseRefCountable(&file);
    }
    if (fallbackKind == 0)
        return nullptr;
    if (VFolder* fallback = RetainFolder(fallbackKind)) {
        if (fallback->Exists())
            file = fallback->RetainRelativeFile(name, FPS_SYSTEM);
        fallback->Release();
        if (file != nullptr && !file->Exists())
            ReleaseRefCountable(&file);
    }
    return file;
}

VFolder* VProcess::RetainProductSystemFolder(ESystemFolderKind kind, bool create) const
{
    if (kind < eFK_UserDocuments || kind > eFK_UserHome || kind == eFK_None || kind == eFK_UserDesktop ||
        kind == eFK_Applications || kind == eFK_UserLibrary)
        return VFolder::RetainSystemFolder(kind, create);

    VFolder* system = VFolder::RetainSystemFolder(kind, create);
    if (system == nullptr)
        return nullptr;
    VFolder* product = nullptr;
    {
        // An alias of the product's name that leads to a folder stands for it.
        StErrorContextInstaller probing(false, true);
        VFile entry(system->GetPath(), fProductFolderName, FPS_SYSTEM);
        VFilePath target;
        if (entry.IsAliasFile() && entry.ResolveAlias(target) == VE_OK) {
            VString text;
            target.GetPath(text);
            if (!text.IsEmpty() && text[text.GetLength() - 1] != u':')
                text.AppendUniChar(u':');
            VFolder* resolved = new VFolder(VFilePath(text, FPS_SYSTEM));
            if (resolved->Exists())
                product = resolved;
            else
                resolved->Release();
        }
    }
    if (product == nullptr)
        product = system->RetainRelativeFolder(fProductFolderName, FPS_SYSTEM);
    system->Release();
    if (product == nullptr || product->Exists())
        return product;
    if (!create) {
        product->Release();
        return nullptr;
    }

    ESystemFolderKind fallback = eFK_None;
    if (kind == eFK_CommonApplicationData)
        fallback = eFK_UserApplicationData;
    else if (kind == eFK_CommonPreferences)
        fallback = eFK_UserPreferences;
    else if (kind == eFK_CommonCache)
        fallback = eFK_UserCache;
    if (fallback == eFK_None) {
        if (product->CreateRecursive() != VE_OK)
            ReleaseRefCountable(&product);
        return product;
    }
    VError error;
    {
        // A shared folder the user may not write to is no failure: the user's
        // own folder of the same kind serves instead.
        StErrorContextInstaller silent(false, true);
        error = product->CreateRecursive();
    }
    if (error == VE_OK)
        return product;
    product->Release();
    return RetainProductSystemFolder(fallback, true);
}

bool VProcess::_FindBuild(const VString& version, VIndex* at) const
{
    *at = version.FindRawString(VString("build "));
    return *at > 0;
}

void VProcess::GetShortProductVersion(VString& out) const
{
    VIndex at;
    out = _FindBuild(fProductVersion, &at) ? fProductVersion.GetSubString(1, at - 1) : fProductVersion;
    out.RemoveWhiteSpaces(true, true);
}

void VProcess::GetMainProductVersion(VString& out) const
{
    GetShortProductVersion(out);
    VIndex dot = out.FindUniChar(u'.');
    if (dot > 0)
        out.Truncate(dot - 1);
}

void VProcess::GetBuildNumber(VString& out) const
{
    VIndex at;
    if (!_FindBuild(fProductVersion, &at)) {
        out = VString();
        return;
    }
    VIndex first = at + 6;
    out = fProductVersion.GetSubString(first, fProductVersion.GetLength() - first + 1);
    out.RemoveWhiteSpaces(true, true);
}

uint32_t VProcess::GetChangeListNumber() const
{
    VString build;
    GetBuildNumber(build);
    VIndex dot = build.FindUniChar(u'.');
    if (dot <= 0)
        return 0;
    std::string digits = to_string(build.GetSubString(dot + 1, build.GetLength() - dot));
    return static_cast<uint32_t>(strtoul(digits.c_str(), nullptr, 10));
}

pid_t VProcess::GetSystemID()
{
    return getpid();
}

bool VProcess::IsProcessRunning(pid_t pid)
{
    return !(kill(pid, 0) != 0 && errno == ESRCH);
}

}  // namespace bkit
