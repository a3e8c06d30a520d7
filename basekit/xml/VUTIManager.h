// VUTIManager.h - the process's registry of uniform type identifiers read from property lists.
//
// This file defines VUTIManager, which reads the type declarations of a
// property-list file ("UTExportedTypeDeclarations" and
// "UTImportedTypeDeclarations"), links each declared type to the types it
// conforms to, answers which type a tag (file-name extension, OS type, MIME
// type) belongs to and whether a file conforms to a type, and registers every
// declared type as a private file kind. The declarations are read by the
// handlers of VUTIManagerXMLHandler.h.
//
// Contracts:
// - One instance per process, made at the first GetUTIManager (not
//   thread-safe) and released by DeInit or Delete. It starts the XML library
//   when built and stops it when destroyed.
// - A type keeps its first declaration: a later one of the same identifier
//   (any case) is dropped.
// - Results named Create... and Retain... carry references the caller releases.
// - The localization manager is a plain pointer its owner keeps alive.
// - No locks: used from the main task.
#pragma once

#include <vector>

#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"
#include "basekit/xml/VUTI.h"

namespace bkit {

class VFile;
class VLocalizationManager;
class VUTIManagerXMLHandler;
class VXMLParser;

// Tag classes.
extern const char* const kUTTagClassFilenameExtension;  // "public.filename-extension"
extern const char* const kUTTagClassMIMEType;           // "public.mime-type"
extern const char* const kUTTagClassOSType;             // "com.apple.ostype"

class VUTIManager : public VObject, public IRefCountable {
public:
    static VUTIManager* GetUTIManager();
    static bool DeInit();
    static void Delete();

    VUTIManager();
    ~VUTIManager() override;
    VUTIManager(const VUTIManager&) = delete;
    VUTIManager& operator=(const VUTIManager&) = delete;

    void SetLocalizationManager(VLocalizationManager* manager) { fLocalizationManager = manager; }

    // Reads the file's declarations, then ProcessExtractedUTIs. False only for
    // a null or missing file (parse errors are pushed; what was read stays).
    bool LoadXMLFile(VFile* file);
    // The reading alone; answers false.
    bool AnalyzeXMLFile(const VFile* file);

    // Adds a type with a new reference unless its identifier is empty or
    // already registered; whether it was added.
    bool AddNewUTI(VUTI* uti);
    int32_t GetUTIsCount() const { return static_cast<int32_t>(fTypes.size()); }
    // The type of that identifier (no reference), or null.
    VUTI* GetUTI(const VString& identifier) const;

    // Equality without case or accent sensitivity.
    static bool UTTypeEqual(const VString& a, const VString& b);

    // Every type (retained, map order) that the tag of the class belongs to;
    // null for an empty class or tag. The caller deletes the vector and
    // releases its elements. conformingTo is not used.
    std::vector<VUTI*>* UTTypeCreateAllIdentifiersForTag(const VString& tagClass, const VString& tag,
                                                         const VString& conformingTo);
    // The preferred type of a tag, conforming to conformingTo when it is not
    // empty: a public type wins over others, then map order. One reference,
    // or null.
    VUTI* UTTypeCreatePreferredIdentifierForTag(const VString& tagClass, const VString& tag,
                                                const VString& conformingTo);
    // The type of the file by extension and by OS type conforms to identifier.
    bool UTTypeConformsTo(VFile* file, const VString& identifier);

    // Links each declared type to the types its placeholders name and
    // registers every type as a private file kind. Returns 0.
    int32_t ProcessExtractedUTIs();

private:
    static VUTIManager* sInstance;

    VUTIMap fTypes;
    VXMLParser* fParser = nullptr;
    VUTIManagerXMLHandler* fRootHandler = nullptr;
    VLocalizationManager* fLocalizationManager = nullptr;
};

}  // namespace bkit
