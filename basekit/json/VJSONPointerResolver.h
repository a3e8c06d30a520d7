// VJSONPointerResolver.h - "$ref" references and JSON Pointers (RFC 6901).
//
// This file defines VJSONFileCache, parsed documents by POSIX path, and
// VJSONPointerResolver, which replaces reference objects {"$ref": "doc#/ptr"}
// by the values they designate, loading referenced documents relative to a
// base folder or through a file-system namespace, caching them, and detecting
// circular references.
//
// Contracts:
// - No resolution error stops a run or reaches the caller's error stack:
//   each becomes a record {"code", "component", "message", params...} in the
//   errors array (GetErrors) of the resolver the run was started on, also for
//   references met inside other documents, and the reference yields undefined.
// - A reference resolves through references to the final value, whatever the
//   order of members: a pointer that passes through or ends on a reference
//   object goes on with that reference's value. A reference that reaches
//   itself, directly or through others, fails with 908, and so does every
//   reference resting on it; one resting on a reference that failed otherwise
//   fails with 906. A merged object never holds "$ref".
// - Walks of graphs and chains of references keep their state on the heap, not
//   the stack: a long chain or a deep graph needs no more stack than a flat one.
// - A document path is a POSIX path ('/' between names, "." and ".." steps),
//   URL-decoded once. It is taken against the folder of the document holding
//   the reference and must lead, after "." and ".." and symbolic links are
//   resolved, to a file inside the base folder of the resolver the run started
//   on; anything else is 913 and nothing is read. With a namespace,
//   "/<file system>/<path>" names a file inside that file system under the
//   same rule, and references inside that document stay in it. Other paths
//   beginning with '/' name no document (913), nor do "http:", "https:" and
//   "file:" ones (909, never fetched).
// - ResolveRecursively lists each loaded document file once.
// - A resolver keeps its first kErrorRecordsKept error records; past them one
//   more record (918, with "count") tells how many errors were left out, so
//   that a document of failing references cannot grow the array without
//   bound.
// - Merging copies the target's members into a new object for every
//   reference, so a few references to a large object could take memory
//   without bound: one run copies at most kMergedMembersLimit members, and a
//   reference whose merge would pass that fails with 919 (undefined).
// - A resolver and its cache are used by one task at a time.
#pragma once

#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class IFile;
class IFolder;
class VFileSystemNamespace;
class VJSONArray;

constexpr VError VE_JSON_POINTER_NOT_FOUND = MakeBKitError(906);
constexpr VError VE_JSON_POINTER_INVALID = MakeBKitError(907);
constexpr VError VE_JSON_POINTER_CIRCULAR = MakeBKitError(908);
constexpr VError VE_JSON_POINTER_UNSUPPORTED = MakeBKitError(909);
constexpr VError VE_JSON_POINTER_NOT_A_CONTAINER = MakeBKitError(910);
constexpr VError VE_JSON_POINTER_DOCUMENT_UNREADABLE = MakeBKitError(912);
constexpr VError VE_JSON_POINTER_DOCUMENT_NOT_FOUND = MakeBKitError(913);
constexpr VError VE_JSON_POINTER_ERRORS_NOT_KEPT = MakeBKitError(918);
constexpr VError VE_JSON_POINTER_MERGE_TOO_LARGE = MakeBKitError(919);

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
    // See the contracts above.
    static constexpr size_t kErrorRecordsKept = 100;
    static constexpr size_t kMergedMembersLimit = size_t{1} << 20;

    // What one reference object stands for.
    struct Outcome {
        VRefPtr<VJSONObject> reference;  // held, so that its address names it for the whole run
        VJSONValue value;                // undefined when it failed
        VRefPtr<VJSONPointerResolver> scope;  // the resolver of the document holding value
        bool resolving = true;           // still on the way: meeting it again is a cycle
        bool failed = false;
        bool circular = false;           // failed because of a cycle
    };

    // A document file loaded during a run, with the resolver of its content.
    struct Document {
        VRefPtr<IFile> file;
        VRefPtr<VJSONPointerResolver> scope;
    };

    struct Context {
        std::unordered_set<const void*> visited;  // containers already walked
        std::unordered_map<const VJSONObject*, Outcome> outcomes;  // reference objects met
        std::vector<std::pair<VRefPtr<VJSONPointerResolver>, VJSONValue>> pending;
        std::map<VString, Document> documents;  // by POSIX path
        bool merge = false;
        size_t mergedMembers = 0;  // copied into merged objects so far
        bool followReferences = true;
        VString currentURI;
        // Receives the error records; null: the resolver at hand.
        VJSONPointerResolver* reporter = nullptr;
    };

    // Keeps the root and one reference to the folder, namespace and cache (a
    // new cache when none is given). Relative document paths are taken
    // against the base folder, which no document may leave; without a base
    // folder only the root and, with a namespace, file-system paths resolve.
    VJSONPointerResolver(const VJSONValue& root, IFolder* baseFolder, VFileSystemNamespace* nameSpace,
                         VJSONFileCache* cache);
    VJSONPointerResolver(const VJSONValue& root, IFolder* baseFolder, VJSONFileCache* cache)
        : VJSONPointerResolver(root, baseFolder, nullptr, cache)
    {
    }
    ~VJSONPointerResolver() override;

    // result = what the reference object designates (undefined when it could
    // not be resolved); true when object was a reference. Without
    // followReferences, references met on the way are taken as plain objects.
    bool ResolveOnePointer(VJSONObject* object, bool followReferences, VJSONValue& result);
    // Replaces every reference of the graph; files (optional) receives each
    // document file loaded, once, retained.
    void ResolveRecursively(VJSONValue& value, bool merge, std::vector<IFile*>* files);

    // The error records, or undefined when there were none.
    VJSONValue GetErrors() const;

    // Steps of a run. Resolve replaces a reference object by its outcome
    // (undefined on failure; subResolver then null) and answers true; for any
    // other value it answers false, with onPath set for a reference still
    // being resolved and walkMembers for containers not yet walked.
    bool Resolve(Context& context, VJSONValue& value, VRefPtr<VJSONPointerResolver>* subResolver, bool* onPath,
                 bool* walkMembers);
    // designated and scope (the resolver of the document holding it) for a
    // "doc#/pointer" text of this resolver's document.
    bool ResolvePointerURI(Context& context, const VString& uri, VJSONValue& designated,
                           VRefPtr<VJSONPointerResolver>* scope);
    // The document and the resolver of its content; an empty path is this
    // resolver's root.
    bool LoadDocument(Context& context, const VString& uri, const VString& path, VJSONValue& document,
                      VRefPtr<VJSONPointerResolver>* scope);
    bool ResolvePointerString(Context& context, const VJSONValue& document, const VString& pointer,
                              VJSONValue& designated);
    bool ResolveOnePart(Context& context, VJSONValue& current, const VString& token);
    // value becomes the merge of the reference object it holds with
    // designated; false, value untouched, when that would copy more members
    // than the run may.
    bool PatchPointerValue(Context& context, VJSONValue& value, const VJSONValue& designated);

    void _ThrowError(VError code, const VString& value1, const char* name1, const VString& value2,
                     const char* name2);
    void _ThrowURIError(VError code, const VString& uri) { _ThrowError(code, uri, "pointerURI", VString(), ""); }

private:
    struct Step;

    // One more error past the kept records: counted in the record after them.
    void _CountErrorNotKept();

    VJSONPointerResolver* _Reporter(Context& context) { return context.reporter ? context.reporter : this; }
    bool _Drive(Context& context, std::vector<Step>& steps, VJSONValue& result,
                VRefPtr<VJSONPointerResolver>& scope);
    void _OpenReference(Context& context, Step& step, const VJSONValue& reference, const VString& enclosingURI);
    void _OpenURI(Context& context, Step& step, const VString& enclosingURI);
    void _OpenPointer(Context& context, Step& step, const VString& pointer);
    bool _Advance(Context& context, const VString& uri, VJSONValue& current, const VString& token);
    IFile* _RetainDocumentFile(const VString& path, VRefPtr<IFolder>& boundary) const;

    static bool _ResolveRecursively(VJSONPointerResolver* resolver, Context& context, VJSONValue& value);

    VJSONValue fRoot;
    VRefPtr<IFolder> fBaseFolder;
    VRefPtr<VFileSystemNamespace> fNamespace;
    VRefPtr<VJSONFileCache> fCache;
    VRefPtr<VJSONArray> fErrors;
    // The record after the kept ones, and the count it gives.
    VRefPtr<VJSONObject> fNotKeptRecord;
    size_t fErrorsNotKept = 0;
    // No document outside it is read: the base folder of the resolver a run
    // starts on, or the root of the file system a document was named in.
    VRefPtr<IFolder> fBoundary;
};

}  // namespace bkit
