// VUpdateEngineClient.cpp - the client customization: the server link file and the executable's permissions.

#include <string>

#include "basekit/bags/VValueBag.h"
#include "basekit/bags/VXMLBagHandler.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/mac/XMacFile.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/platform/BundleExecutable.h"
#include "basekit/platform/FileOps.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/values/VScalars.h"
#include "updater/VUpdateEngine.h"

using namespace bkit;

// The record of the server link file, in the order of its attributes.
struct StartupParametersBagKeys {
    static const StPackedDictionaryKey database_shortcut;
    static const StBagKeyNoDefault<VBoolean, bool> is_remote;
    static const StBagKeyNoDefault<VString, VString> server_database_name;
    static const StBagKeyNoDefault<VString, VString> cache_folder_name;
    static const StBagKeyNoDefault<VBoolean, bool> remote_shared_resources;
    static const StBagKeyNoDefault<VString, VString> server_path;
};

const StPackedDictionaryKey StartupParametersBagKeys::database_shortcut("database_shortcut");
const StBagKeyNoDefault<VBoolean, bool> StartupParametersBagKeys::is_remote("is_remote");
const StBagKeyNoDefault<VString, VString> StartupParametersBagKeys::server_database_name("server_database_name");
const StBagKeyNoDefault<VString, VString> StartupParametersBagKeys::cache_folder_name("cache_folder_name");
const StBagKeyNoDefault<VBoolean, bool> StartupParametersBagKeys::remote_shared_resources("remote_shared_resources");
const StBagKeyNoDefault<VString, VString> StartupParametersBagKeys::server_path("server_path");

namespace {

// The property's text when it is a string; empty otherwise.
bool StringProperty(const VJSONObject& object, const char* name, VString& out)
{
    VJSONValue value = object.GetProperty(VString(name));
    if (!value.IsString()) {
        out = VString();
        return false;
    }
    value.GetString(out);
    return true;
}

}  // namespace

bool VUpdateEngine::_FinishClientCustomization()
{
    StErrorContextInstaller context(true, true);
    VJSONValue info;
    VFile file(fClientInfoFile);
    // Read strictly: a text cut short or not JSON at all must not pass for
    // the object its first part reads as; the reader's error stays beneath.
    VError readError = VJSONImporter::ParseFile(&file, info, VJSONImporter::kOption_Strict);
    VJSONObject* object = readError == VE_OK ? info.GetObject() : nullptr;
    VString serverPlatform;
    if (object == nullptr || !StringProperty(*object, "ServerPlatform", serverPlatform)) {
        ThrowErrorWithPath(VE_UPDATER_CLIENT_INFO_UNUSABLE, fClientInfoFile);
        return false;
    }
    _SetIPAdressOnClientPref(*object, fUpToDateApp);
    _FinishMacClientCustomization();
    return context.GetLastError() == VE_OK;
}

bool VUpdateEngine::_SetIPAdressOnClientPref(const VJSONObject& info, const VFilePath& bundle)
{
    VString serverPath;
    if (!StringProperty(info, "BuildIPAdress", serverPath))
        return true;
    VString port;
    if (StringProperty(info, "BuildIPPort", port))
        serverPath.AppendPrintf(":%S", &port);
    VString publishName, cacheFolderName;
    StringProperty(info, "PublishName", publishName);
    StringProperty(info, "BuildCacheFolderNameClient", cacheFolderName);

    VFilePath folderPath(bundle);
    folderPath.ToSubFolder(VString("Contents")).ToSubFolder(VString("Database"));
    VFolder folder(folderPath);
    if (!folder.Exists())
        folder.CreateRecursive();

    VValueBag* bag = new VValueBag;
    StartupParametersBagKeys::is_remote.Set(bag, true);
    StartupParametersBagKeys::server_database_name.Set(bag, publishName);
    StartupParametersBagKeys::server_path.Set(bag, serverPath);
    StartupParametersBagKeys::cache_folder_name.Set(bag, cacheFolderName);
    StartupParametersBagKeys::remote_shared_resources.Set(bag, false);
    VFile file(folder, VString("ZizozazIzudud.Zanthlink"), FPS_POSIX);
    WriteBagToFileInXML(*bag, VString("database_shortcut"), &file, true);
    bag->Release();
    return true;
}

bool VUpdateEngine::_GetBundleExecutable(const VFilePath& bundle, std::string& executable)
{
    platform::BundleExecutable::Result found = platform::BundleExecutable::Find(
        XMacFile::PosixPathText(bundle), platform::BundleExecutable::Execution::kNotAsked);
    if (found.verdict != platform::BundleExecutable::Verdict::kUsable)
        return false;
    executable = found.resolved;
    return true;
}

bool VUpdateEngine::_IsApplicationBundle(const VFilePath& bundle, bool madeExecutable)
{
    // What the restart ("open -a") will ask of the installed copy, as far as
    // it can be told before the copy is made: who may run the executable
    // depends on who owns the copy, which _IsRunnableCopy judges.
    if (!VFolder(bundle).Exists())
        return false;
    using platform::BundleExecutable;
    BundleExecutable::Result found = BundleExecutable::Find(
        XMacFile::PosixPathText(bundle),
        madeExecutable ? BundleExecutable::Execution::kNotAsked : BundleExecutable::Execution::kSomeExecuteBit);
    if (found.verdict == BundleExecutable::Verdict::kUsable)
        return true;
    std::string reason = BundleExecutable::Describe(found);
    LogError("The up-to-date application would not start once installed: %s", reason.c_str());
    return false;
}

bool VUpdateEngine::_IsRunnableCopy(const VFilePath& copy, const VFilePath& upToDate)
{
    using platform::BundleExecutable;
    BundleExecutable::Result found =
        BundleExecutable::Find(XMacFile::PosixPathText(copy), BundleExecutable::Execution::kByThisProcess);
    if (found.verdict == BundleExecutable::Verdict::kUsable)
        return true;
    // The copy bears a hidden name and goes: the reason names the up-to-date
    // bundle, whose copy this is.
    const std::string shown = WithoutTrailingSlashes(XMacFile::PosixPathText(upToDate).c_str());
    if (!found.path.empty())
        found.path = shown + found.path.substr(found.bundle.size());
    found.bundle = shown;
    std::string reason = BundleExecutable::Describe(found);
    LogError("The up-to-date application would not start once installed: %s", reason.c_str());
    ThrowErrorWithPath(VE_UPDATER_UPTODATE_APP_MISSING, upToDate);
    return false;
}

bool VUpdateEngine::_IsApplicationBundle(const VFilePath& bundle) const
{
    // The client customization runs exactly when the update is given a file for it.
    return _IsApplicationBundle(bundle, fClientInfoFile.IsValid() && fClientInfoFile.IsFile());
}

bool VUpdateEngine::_FinishMacClientCustomization()
{
    StErrorContextInstaller context(true, true);
    std::string executablePath;
    if (!_GetBundleExecutable(fUpToDateApp, executablePath))
        return false;
    VString executableText;
    executableText.FromCString(executablePath.c_str());
    VFile executable(VFilePath(executableText, FPS_POSIX));
    if (!executable.Exists())
        return false;
    unsigned short mode = 0;
    if (executable.MAC_GetPermissions(&mode) == VE_OK && (mode & 0111) != 0111)
        executable.MAC_SetPermissions(static_cast<unsigned short>(mode | 0111));
    return context.GetLastError() == VE_OK;
}
