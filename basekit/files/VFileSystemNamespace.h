// VFileSystemNamespace.h - the table of named file systems and the path texts that name them.
//
// This file defines VFileSystemNamespace: file systems by name, optionally
// chained to a parent namespace, that turn texts of the form
// "/<file-system name>/<relative POSIX path>" into file and folder objects
// bound to that file system, and that load further file systems from a
// definition file ("fileSystems.json": an array of objects with "name",
// "path", "parent" and "writable").
//
// Contracts:
// - Reference counted (count 1 at creation); the parent is retained.
// - Thread-safe: every table access holds the namespace's recursive lock. A
//   lookup that climbs to the parent holds one namespace's lock at a time, and
//   a file system found is retained before the lock is let go, so a
//   concurrent UnregisterFileSystem never frees it under the caller.
// - Lookups report failure by answering null or false and push nothing.
// - A text never leaves the file system it names: ".." steps are resolved
//   first and a result outside the root, by its names or through a symbolic
//   link on disk, is refused (see VFileSystem). The relative part is cut at
//   the exact length of the root's text, so it names what the text spells.
// - Operations named Retain... hand the caller a new reference.
#pragma once

#include <cstdint>
#include <map>
#include <string_view>
#include <unordered_map>

#include "basekit/BKitTypes.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class IFile;
class IFolder;
class VFile;
class VJSONArray;

// Lookup options of the namespace operations.
enum : uint32_t {
    eFSN_SkipHidden = 1,     // file systems carrying flag 16 are not found
    eFSN_SearchParents = 2,  // a name missing here is looked for up the parent chain
};

class VFileSystemNamespace : public VObject, public IRefCountable {
public:
    // An empty table; the parent, when given, is retained.
    explicit VFileSystemNamespace(VFileSystemNamespace* parent = nullptr);

    VFileSystemNamespace(const VFileSystemNamespace&) = delete;
    VFileSystemNamespace& operator=(const VFileSystemNamespace&) = delete;

    VFileSystemNamespace* GetParent() const { return fParent.Get(); }

    // Stores the file system under its name (retained), releasing one stored
    // there before. Null does nothing.
    void RegisterFileSystem(VFileSystem* fileSystem);
    // VFileSystem::Create(name, root, flags, 0, 0) and registration; answers
    // the creation's error code ('bkit' 686, pushed, for a bad name).
    VError RegisterFileSystem(const VString& name, IFolder* root, uint32_t flags);
    // Removes the entry when present.
    void UnregisterFileSystem(const VString& name);

    // The file system of that name, or null. Option 1: one with flag 16 is
    // not found (the search does not go on to the parent). Option 2: a name
    // missing here is looked for in the parent, then its parent, and so on.
    VFileSystem* RetainFileSystem(const VString& name, uint32_t options) const;
    // That file system's root folder, bound to it; null when not found.
    IFolder* RetainFileSystemRootFolder(const VString& name, uint32_t options) const;
    // Every file system (option 1: those without flag 16) into out by name;
    // with option 2 the parents' first, so a name defined here overrides
    // theirs. Answers 0.
    VError RetainMapOfFileSystems(std::map<VString, VRefPtr<VFileSystem>>& out, uint32_t options) const;

    // Reads a definition file: null pushes 'bkit' 1; text that is not JSON
    // pushes 'bkit' 687 ("path") and answers the reader's code; an array is
    // loaded (LoadFromJSONArray), any other value ignored. Else 0.
    VError LoadFromDefinitionFile(VFile* file);
    // Registers one file system per well-formed element, in order, under the
    // lock. Elements that are not objects, whose "parent" is unknown or whose
    // root cannot be made are skipped; a bad name pushes 'bkit' 686 and
    // registers nothing. Answers 0.
    VError LoadFromJSONArray(const VJSONArray* array);

    // For "/<name>/<rest>" naming a registered file system, with <rest>
    // resolved against its root and still inside it: fs and relative (the
    // POSIX path from the root) are set and the answer is true. Otherwise
    // false and the outputs are untouched.
    bool ParsePathWithFileSystem(const VString& text, VRefPtr<VFileSystem>& fs, VString& relative,
                                 uint32_t options) const;

    // A file (resp. folder) object for text, or null:
    // - a relative text is resolved by base, or without base taken as a full
    //   POSIX path when fullPathAllowed;
    // - "/<name>/<rest>" gives an object bound to that file system;
    // - any other full text is, without base and when fullPathAllowed, a full
    //   POSIX path giving an unbound object.
    IFile* RetainFile(const VString& text, IFolder* base, uint32_t options, bool fullPathAllowed) const;
    IFolder* RetainFolder(const VString& text, IFolder* base, uint32_t options, bool fullPathAllowed) const;

    // The same through ns; without namespace, relative texts go to base and
    // other texts are full POSIX paths (never refused for fullPathAllowed
    // false, since no file-system name can be meant).
    static IFile* RetainFile(VFileSystemNamespace* ns, const VString& text, IFolder* base, uint32_t options,
                             bool fullPathAllowed);
    static IFolder* RetainFolder(VFileSystemNamespace* ns, const VString& text, IFolder* base, uint32_t options,
                                 bool fullPathAllowed);

private:
    ~VFileSystemNamespace() override;

    struct NameHash {
        size_t operator()(const VString& name) const
        {
            return std::hash<std::u16string_view>()(
                std::u16string_view(name.GetCPointer(), static_cast<size_t>(name.GetLength())));
        }
    };
    using Table = std::unordered_map<VString, VRefPtr<VFileSystem>, NameHash>;

    mutable VCriticalSection fLock;
    Table fTable;
    VRefPtr<VFileSystemNamespace> fParent;
};

}  // namespace bkit
