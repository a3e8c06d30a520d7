// VJSONPointerResolver.h - "$ref" references and JSON Pointers (RFC 6901).
//
// This file defines VJSONFileCache, parsed documents by POSIX path, and
// VJSONPointerResolver, which replaces reference objects {"$ref": "doc#/ptr"}
// by the values they designate, loading referenced documents relative to a
// base folder, caching them, and detecting circular references.
//
// Contracts:
// - No resolution error stops a run or reaches the caller's error stack:
//   each becomes a record {"code", "component", "message", params...} in the
//   errors array (GetErrors) and the reference yields undefined.
// - Walks remember the objects and arrays they visited and stop below
//   kMaxDepth levels, so cyclic and very deep graphs end.
// - Documents named by "http:", "https:" or "file:" are never fetched (909).
// - A resolver and its cache are used by one task at a time.
#pragma once

#include <map>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class IFile;
class IFolder;
class VJSONArray;

constexpr VError VE_JSON_POINTER_NOT_FOUND = MakeBKitError(906);
constexpr VError VE_JSON_POINTER_INVALID = MakeBKitError(907);
constexpr VError VE_JSON_POINTER_CIRCULAR = MakeBKitError(908);
constexpr VError VE_JSON_POINTER_UNSUPPORTED = MakeBKitError(909);
constexpr VError VE_JSON_POINTER_NOT_A_CONTAINER = MakeBKitError(910);
constexpr VError VE_JSON_POINTER_DOCUMENT_UNREADABLE = MakeBKitError(912);
constexpr VError VE_JSON_POINTER_DOCUMENT_NOT_FOUND = MakeBKitError(913);

class VJSONFileCache : public VObject, public IRefCountable {
public:
    VJSONValue GetValue(const VString& path) const;
    // An undefined value erases the entry.
    void SetValue(const VString& path, const VJSONValue& value);
    size_t GetCount() const { return fDocuments.size(); }

private:
    std::map<VString, VJSONValue> fDocuments;
};

class VJSONPointerResolver : public VObject, public IRefCountable {
public:
    static const VString sRefPropertyName;
    static constexpr uint32_t kMaxDepth = 1000;

    struct Context {
        std::set<const void*> visited;
        std::vector<const VJSONObject*> path;
        std::vector<std::pair<VRefPtr<VJSONPointerResolver>, VJSONValue>> pending;
        std::vector<IFile*> documents;
        bool merge = false;
        bool followReferences = true;
        VString currentURI;
        ~Context();
    };

    // Keeps the root and one reference to the folder and cache (a new cache
    // when none is given). Relative document paths are taken against the
    // base folder; this tree has no file-system namespace to resolve them.
    VJSONPointerResolver(const VJSONValue& root, IFolder* baseFolder, VJSONFileCache* cache);
    ~VJSONPointerResolver() override;

    // result = what the reference object designates (undefined when it could
    // not be resolved); true when object was a reference.
    bool ResolveOnePointer(VJSONObject* object, bool followReferences, VJSONValue& result);
    // Replaces every reference of the graph; files (optional) receives each
    // document file loaded, retained once.
    void ResolveRecursively(VJSONValue& value, bool merge, std::vector<IFile*>* files);

    // The error records, or undefined when there were none.
    VJSONValue GetErrors() const;

    bool Resolve(Context& context, VJSONValue& value, VRefPtr<VJSONPointerResolver>* subResolver, bool* onPath,
                 bool* walkMembers);
    bool ResolvePointerURI(Context& context, const VString& uri, VJSONValue& designated, VJSONValue& document,
                           IFolder** folder);
    bool LoadDocument(Context& context, const VString& uri, const VString& path, VJSONValue& document,
                      IFolder** folder);
    bool ResolvePointerString(Context& context, const VJSONValue& document, const VString& pointer,
                              VJSONValue& designated);
    bool ResolveOnePart(Context& context, VJSONValue& current, const VString& token);
    void PatchPointerValue(Context& context, VJSONValue& value, const VJSONValue& designated);

    void _ThrowError(VError code, const VString& value1, const char* name1, const VString& value2,
                     const char* name2);
    void _ThrowURIError(VError code, const VString& uri) { _ThrowError(code, uri, "pointerURI", VString(), ""); }

private:
    static bool _ResolveRecursively(VJSONPointerResolver* resolver, Context& context, VJSONValue& value,
                                    uint32_t depth);

    VJSONValue fRoot;
    IFolder* fBaseFolder;
    VJSONFileCache* fCache;
    VJSONArray* fErrors = nullptr;
};

}  // namespace bkit
