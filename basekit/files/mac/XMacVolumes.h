// XMacVolumes.h - the cache of mounted volumes and full-path conversion.
//
// This file defines XMacVolumes, the process-wide cache that maps the mount
// paths of the mounted volumes to their names and back, and the two full-path
// conversions between POSIX text and the internal volume form ("Vol:dir:file")
// that the path and URL layers call whenever a full path changes form. Both
// conversions swap ':' and '/' inside names, since ':' separates the internal
// form and '/' the POSIX one.
//
// Contracts:
// - One instance lives for the whole process (Get()). Every lookup runs under
//   its lock and reloads the volume list when at least 2001 ms have passed
//   since the last load (or when the platform's table changed), so any task
//   may convert paths at any time.
// - Nothing here pushes an error record; failures are the returned false.
// - PosixFullPathToHFS resolves symbolic links of the folders on the way to
//   find the volume a path lies on; a file path whose text already lies below
//   that volume's mount point is kept as written (a final link is not
//   followed). A path that does not exist is converted through its parent,
//   once its ".." steps are taken in the text, so that the folder it names is
//   looked up on its own volume ("/x/../dev/" without "/x" is "/dev/").
//   A ".." that climbs above the top folder of the mount a file text lies
//   on leads to whatever the kernel finds there: "/dev/../dev/null" is
//   "dev:null" and "/mnt/vol/.." the folder "/mnt/" on its own volume, never
//   a climb above "Vol" in the internal form. Only "/.." has nowhere to go.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

// Shorter names first; names of equal length by code unit (exact, case counts).
struct VolumeNameComparator {
    bool operator()(const VString& a, const VString& b) const;
};

class XMacVolumes : public VObject {
public:
    // The process's instance.
    static XMacVolumes& Get();

    // Copies the name of the volume mounted at mountPath (exact bytes) into
    // name, cut to size and always terminated. True when found.
    bool GetVolumeNameFromMountPath(const char* mountPath, char* name, size_t size);

    // The mount path of a volume name; falls back to the translocation record.
    // True when an answer was given; mountPath is untouched otherwise.
    bool GetMountPathFromVolumeName(const VString& name, VString& mountPath);

    // The translocation test alone (no lock, no reload).
    bool _GetTranslocationMountPathForVolume(const VString& name, VString& out) const;

    // POSIX full path to the internal form. True with out set on success; out
    // is left partly built on failure.
    static bool PosixFullPathToHFS(const char* posixPath, bool isFolder, VString& out);

    // Internal form to POSIX full path, appended to out. The text is produced
    // in every case ("/" + volume name for an unknown volume); the result is
    // whether the volume was known.
    static bool HFSFullPathToPosix(const VString& path, VString& out);

    // Makes the next lookup reload the volume list.
    void InvalidateCache();

private:
    XMacVolumes();
    ~XMacVolumes() override;

    void _ReloadCacheIfNecessary();
    bool _GetMountPointOfPath(const char* path, std::string& mountPoint);
    void _CheckTranslocation();
    static bool _ConvertResolvedPath(const std::string& path, const std::string& mountPoint, const char* input,
                                     VString& out);
    static bool _ConvertUnresolved(const char* posixPath, bool isFolder, VString& out);
    static bool _ConvertThroughParent(const char* posixPath, VString& out);

    std::unordered_map<std::string, std::string> fMountPathToName;
    std::map<VString, VString, VolumeNameComparator> fNameToMountPath;
    uint64_t fLastLoadTime = 0;
    bool fLoaded = false;
    uint32_t fGeneration = 0;
    VCriticalSection fLock;
    VString fTranslocationVolumeName;
    VString fTranslocationMountPath;
};

}  // namespace bkit
