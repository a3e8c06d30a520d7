// VFilePath.h - the name of a file or a folder in the internal volume form.
//
// This file defines VFilePath, the value that names a file or a folder
// everywhere in the toolbox, and FilePathStyle, the two text forms a path can
// be given in. A path holds one text in the internal volume form and a validity
// flag:
//   "Volume:dir:sub:"   a folder (ends with ':')
//   "Volume:dir:file"   a file
//   "Volume:"           the root folder of a volume
// A ':' never occurs inside a name; a '/' inside a name is an ordinary
// character (the POSIX conversion swaps ':' and '/' inside names). In the
// internal form an empty component climbs one level: "Vol:a::x" is "Vol:x".
//
// Contracts:
// - The flag is true only when the text is not empty, holds no NUL code unit
//   nor a surrogate without its other half, does not begin with ':' and its climbing steps resolved without going
//   above the volume. Every query gives false, 0 or an empty text on an
//   invalid path, and the navigation operations leave an invalid path alone.
// - A path names only what it spells: "." and ".." are steps of the POSIX
//   form, never names. A text in the internal form holding such a component
//   (the volume included) makes an invalid path, and so does a navigation
//   that would put one in (ToSubFolder(".."), ToSubFile(".")); nothing is
//   raised for it. The setters (SetName, SetFileName, SetFolderName and the
//   extension setters) refuse such a change instead and leave the path as it
//   was. POSIX texts keep their steps: they are resolved on the way in.
// - Nothing here touches the disk except the POSIX full-path conversions,
//   which ask the mounted-volume cache (XMacVolumes) and may resolve symbolic
//   links of the folders on the way to find the volume a path lies on.
// - Only SetName, SetFileName and SetFolderName raise an error ('bkit' 614,
//   a name holding ':'); every other failure is the validity flag, or, for a
//   setter, the path left as it was.
// - A path is a plain value used by one task at a time; copies are cheap (the
//   text is shared copy-on-write).
#pragma once

#include "basekit/BKitTypes.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VFolder;

// The text form a path is given or asked in.
enum FilePathStyle : int32_t {
    FPS_SYSTEM = 0,  // the internal ':' volume form
    FPS_POSIX = 1,   // '/' separators; a full path begins with '/'
};

// 'bkit' 614: a name holding ':' given to a path.
constexpr VError VE_FS_BAD_NAME = MakeBKitError(614);

class VFilePath : public VObject {
public:
    // Empty and invalid.
    VFilePath();
    VFilePath(const VFilePath& other);
    VFilePath& operator=(const VFilePath& other) { return FromFilePath(other); }
    ~VFilePath() override;

    // A full path in the given style (the bool has no effect).
    explicit VFilePath(const VString& fullPath, FilePathStyle style = FPS_SYSTEM, bool unused = false);

    // A path relative to a base folder path. With forbidFullPosix false, a
    // POSIX text beginning with '/' is taken as a full path instead. POSIX
    // ".." steps that climb above the base's mounted volume lead where they
    // lead from the base's POSIX path ("../dev/null" from "dev:" is
    // "dev:null"); the internal form itself never climbs above its volume.
    VFilePath(const VFilePath& base, const VString& relativePath, FilePathStyle style = FPS_SYSTEM,
              bool forbidFullPosix = false);

    // Copies text and flag. Returns the path itself.
    VFilePath& FromFilePath(const VFilePath& other);

    // See the constructors. Return the path itself.
    VFilePath& FromFullPath(const VString& fullPath, FilePathStyle style = FPS_SYSTEM, bool unused = false);
    VFilePath& FromRelativePath(const VFilePath& base, const VString& relativePath, FilePathStyle style = FPS_SYSTEM,
                                bool forbidFullPosix = false);
    // The same against the folder object's path.
    VFilePath& FromRelativePath(const VFolder& base, const VString& relativePath, FilePathStyle style = FPS_SYSTEM,
                                bool forbidFullPosix = false);

    // Empty text, invalid.
    void Clear();

    CharSet DebugDump(char* buffer, int& length) override;

    // --- queries ---

    bool IsValid() const { return fIsValid; }
    bool IsEmpty() const { return fPath.IsEmpty(); }
    bool IsFile() const;
    bool IsFolder() const;
    // Valid, at least 2 units and a ':' at or before the second-to-last one.
    bool HasParent() const;
    // Components, the volume counting 1 ("Vol:" 1, "Vol:a:" 2, "Vol:a:f" 3).
    VIndex GetDepth() const;
    // Both valid, parent a folder path, this text begins with the parent's
    // (locale comparison ignoring case and accents) and differs from it.
    bool IsChildOf(const VFilePath& parent) const;
    // The same with a code-unit comparison of the beginning.
    bool IsChildOfRawPath(const VFilePath& parent) const;
    // The beginning test only.
    bool IsSameOrChildOf(const VFilePath& parent) const;

    // Exact comparison of the texts and flags.
    bool operator==(const VFilePath& other) const;
    bool operator!=(const VFilePath& other) const { return !(*this == other); }

    // --- navigation: in place, each returns the path itself ---

    // "Vol:a:f" and "Vol:a:b:" go to "Vol:a:"; "Vol:" has no parent and becomes
    // empty and invalid.
    VFilePath& ToParent();
    // This path's parent into out; returns out's flag.
    bool GetParent(VFilePath& out) const;
    // A file path becomes its folder; a folder path is unchanged.
    VFilePath& ToFolder();
    bool GetFolder(VFilePath& out) const;
    // On a valid folder path append name and ':' (ToSubFolder) or name alone
    // (ToSubFile); otherwise unchanged. A name that makes a "." or ".."
    // component (or an empty one, for ToSubFolder) leaves the path invalid.
    VFilePath& ToSubFolder(const VString& name);
    VFilePath& ToSubFile(const VString& name);

    // --- names and extensions ---

    // The last component, whatever the flag ("Vol:" gives "Vol").
    void GetName(VString& out) const;
    // The last component of a valid file path, without its last extension
    // when asked. Empty for anything else.
    void GetFileName(VString& out, bool withExtension = true) const;
    // The last component of a valid folder path without its ':' (a volume
    // root gives the whole text, ':' included). Empty for anything else.
    void GetFolderName(VString& out, bool withExtension = true) const;
    // The text after the last '.' of the last component; empty when none.
    void GetExtension(VString& out) const;

    // Replace the last component. A change that is refused leaves the path as
    // it was and returns false: a name holding ':' (which also raises 'bkit'
    // 614), a volume root (it has no parent to hold another name), and a name
    // that would not make a valid path of the kind asked for ("." or "..",
    // or an empty name, which would leave the folder's path instead of a
    // file's). Return true when the path was changed.
    bool SetName(const VString& name);
    bool SetFileName(const VString& name, bool nameHasExtension = true);
    bool SetFolderName(const VString& name, bool nameHasExtension = true);

    // Replace the extension of a file or folder path; an empty extension
    // removes it (and its dot). A change that would not leave a valid path of
    // the same kind (an extension holding ':', a name left as "." or "..", a
    // file path left as its folder's) is refused: the path stays as it was.
    VFilePath& SetExtension(const VString& ext);
    VFilePath& SetFileExtension(const VString& ext);
    VFilePath& SetFolderExtension(const VString& ext);

    // Whether the text ends with "." + ext (":" added for a folder path), by
    // the calling task's locale comparison; an empty ext matches names without
    // a '.'.
    bool MatchExtension(const VString& ext, bool withDiacritics = false) const;

    // --- text out ---

    // The internal text, whatever the flag.
    void GetPath(VString& out) const { out.FromString(fPath); }
    const VString& GetPath() const { return fPath; }
    // Style 0: the internal text; POSIX: the full POSIX text of a valid path,
    // empty for an invalid one.
    VString GetPath(FilePathStyle style) const;
    // The full POSIX text of a valid path; an invalid path clears out.
    void GetPosixPath(VString& out) const;
    // When base is a valid folder path and this text's first units, as many
    // as base's text holds, equal it (locale comparison ignoring case and
    // accents), out is the rest of this text after exactly those units and the
    // result is true; otherwise out is the whole internal text and the result
    // false. A combining mark that follows the folder's text stays in out.
    bool GetRelativePath(const VFilePath& base, VString& out) const;
    // The same rest in relative POSIX text; otherwise the full POSIX text (empty
    // for an invalid path) and false.
    bool GetRelativePosixPath(const VFilePath& base, VString& out) const;

    // Removes white space at both ends and around every ':'. The flag is not
    // recomputed, except that a text left with a "." or ".." component (a
    // name " .. " trimmed) is no longer valid.
    void RemoveBlanks();

    // --- static checks ---

    // True when text holds a NUL code unit or a surrogate without its other
    // half: neither reaches the file system as the name it spells.
    static bool BadChar(const VString& text, FilePathStyle style, bool unused = false);
    // Not empty and, for POSIX, beginning with '/'; for the internal form not
    // beginning with ':'.
    static bool ValidFullPath(const VString& text, FilePathStyle style);
    // False only for POSIX text that begins with '/'.
    static bool ValidRelativePath(const VString& text, FilePathStyle style);
    // Resolves "./", repeated '/' and "../" steps of a '/' text in place from
    // its first '/'; a trailing "." or ".." is a step too. False, with the text
    // unchanged, when a ".." would climb above the start of the text.
    static bool ResolveRelativePosix(VString& text);

private:
    // Resolves the empty components of the internal form; false when the text
    // is not a valid full path or climbs above its volume.
    static bool _ResolveInternal(VString& text);
    // Valid when the text is not empty and every component is a name (no
    // ".", ".." or empty component).
    void _SetValidFromText();
    VFilePath& _KeepThroughSeparatorBefore(VIndex from);
    // Takes changed when it is a valid folder path (folder true) or a valid
    // file path; otherwise nothing changes. True when taken.
    bool _TakeIfValid(const VFilePath& changed, bool folder);

    VString fPath;
    bool fIsValid = false;
};

}  // namespace bkit
