// VUpdateEngineCommandLine.cpp - the updater's options and the checks of its bundle paths.
#include <limits.h>
#include <unistd.h>

#include <vector>

#include "basekit/process/VCommandLineParser.h"
#include "updater/VUpdateEngine.h"

using namespace bkit;

namespace {

// A folder path from a full POSIX text, with or without its final "/".
VFilePath FolderPathFromText(const VString& text)
{
    VString folder(text);
    if (folder.IsEmpty() || folder[folder.GetLength() - 1] != u'/')
        folder.AppendUniChar(u'/');
    return VFilePath(folder, FPS_POSIX);
}

bool IsMissing(const VString& text)
{
    return text.IsNull() || text.IsEmpty();
}

// The path an option names: a relative text is read against the current
// folder, as any command-line program reads it. False when the text gives no
// usable path of that kind (a folder path for folder, else a file path).
bool OptionPath(const VString& text, bool folder, VFilePath& out)
{
    VString posix(text);
    if (folder && posix[posix.GetLength() - 1] != u'/')
        posix.AppendUniChar(u'/');
    if (posix[0] == u'/') {
        out.FromFullPath(posix, FPS_POSIX);
    } else {
        char current[PATH_MAX];
        if (getcwd(current, sizeof(current)) == nullptr) {
            out.Clear();
            return false;
        }
        VString base;
        base.FromCString(current);
        if (base[base.GetLength() - 1] != u'/')
            base.AppendUniChar(u'/');
        out.FromRelativePath(VFilePath(base, FPS_POSIX), posix, FPS_POSIX);
    }
    return out.IsValid() && (folder ? out.IsFolder() : out.IsFile());
}

// Stores the path of a path option, or tells why it cannot be used; an
// absent option clears it.
bool StoreOptionPath(const VString& text, bool folder, const char* option, VFilePath& out)
{
    if (IsMissing(text)) {
        out.Clear();
        return true;
    }
    if (OptionPath(text, folder, out))
        return true;
    VString message;
    message.AppendPrintf("invalid path for option --%s\n", option);
    VCommandLineParser::PrintArgumentError(message);
    return false;
}

}  // namespace

int32_t VUpdateEngine::DoParseCommandLine(VCommandLineParser& parser)
{
    fCallerPid = -1;
    fSilent = false;
    fRestartHeadless = false;
    VString installPath, restartParams, callerLog, logDir, clientInfo, outdated, upToDate;
    std::vector<VString> positional;
    bool version = false;

    parser.AddParagraph(VString("\nZanth Updater\n\t\tUpdates an existing Zanth application residing at <path of app to "
                                "update> using \t\tnewer versions tored <path of update>\n\n"));
    parser.AddOption(fCallerPid, VString("pid"), VString("Wait for the caller's pid"));
    parser.AddFlag(fSilent, VString("silent"),
                   VString("ensure that no message is displayed in case of error. Errors are still logged though"));
    parser.AddOption(installPath, VString("install-path"),
                     VString("indicates where the updated app should be installed instead of <path of app to update>."));
    parser.AddOption(restartParams, VString("restart-params"),
                     VString("indicates the full path to the ZanthLink \t\tfile that will be passed back to the "
                             "restarted application. This does not \t\tapply if the application is started as a service"));
    parser.AddOption(callerLog, VString("caller-log"), VString("Restart params"));
    parser.AddOption(logDir, VString("log-dir"),
                     VString("specifies a folder for the updater where log file should be written"));
    parser.AddOption(clientInfo, VString("client-info"),
                     VString("path of the client customization file. Using this \t\toption IMPLIES that application is "
                             "a Zanth-based client, which incurs special processing."));
    parser.AddOption(outdated, VString("outdated-app"), VString("Outdated application bundle path"));
    parser.AddOption(upToDate, VString("uptodate-app"), VString("Up-to-date application bundle path"));
    parser.AddPositionalArguments(positional);
    parser.AddFlag(fRestartHeadless, VString("restart-headless"), VString("Restart the application in headless mode."));
    parser.AddParagraph(VString("\nHelp:\n"));
    parser.AddFlag(version, VString("version"), VString("Print the version and exits"));

    int32_t result = parser.Parse();
    if (result == 0 && version) {
        VCommandLineParser::Print(GetProductVersion());
        return 2;
    }
    if (result != 0)
        return result;

    if (positional.size() == 1) {
        VCommandLineParser::PrintArgumentError(
            VString("not enough arguments from the command line (required <dest> <src>)\n"));
        return 1;
    }
    if (positional.size() > 2) {
        VCommandLineParser::PrintArgumentError(VString("two many arguments from the command line"));
        return 1;
    }
    if (positional.size() == 2) {
        bool outdatedMismatch = false;
        if (!IsMissing(outdated)) {
            if (!outdated.EqualToString(positional[0], false)) {
                VCommandLineParser::PrintArgumentError(VString("mismatched value for option --outdated-app\n"));
                outdatedMismatch = true;
            }
        } else {
            outdated = positional[0];
        }
        if (!IsMissing(upToDate)) {
            if (!upToDate.EqualToString(positional[1], false)) {
                VCommandLineParser::PrintArgumentError(VString("mismatched value for option --uptodate-app\n"));
                return 1;
            }
        } else {
            upToDate = positional[1];
        }
        if (outdatedMismatch)
            return 1;
    }

    bool upToDateMissing = IsMissing(upToDate);
    if (upToDateMissing)
        VCommandLineParser::PrintArgumentError(VString("mismatched value for option --uptodate-app\n"));
    if (IsMissing(outdated)) {
        VCommandLineParser::PrintArgumentError(VString("mismatched value for option --outdated-app\n"));
        return 1;
    }
    if (upToDateMissing)
        return 1;

    fOutdatedApp = FolderPathFromText(outdated);
    fUpToDateApp = FolderPathFromText(upToDate);
    fInstallApp = fOutdatedApp;
    if (!StoreOptionPath(restartParams, false, "restart-params", fRestartParams))
        return 1;
    fLogProgressToCaller = !IsMissing(callerLog);
    if (!StoreOptionPath(logDir, true, "log-dir", fLogFolder))
        return 1;
    if (!StoreOptionPath(clientInfo, false, "client-info", fClientInfoFile))
        return 1;
    return 0;
}
