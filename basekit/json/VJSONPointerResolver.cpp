// VJSONPointerResolver.cpp - resolving "$ref" references and JSON Pointers.
#include "basekit/json/VJSONPointerResolver.h"

#include <algorithm>

#include "basekit/files/IFile.h"
#include "basekit/files/IFolder.h"
#include "basekit/files/VURL.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"

namespace bkit {

const VString VJSONPointerResolver::sRefPropertyName("$ref");

// --- cache ---

VJSONValue VJSONFileCache::GetValue(const VString& path) const
{
    auto found = fDocuments.find(path);
    return found != fDocuments.end() ? found->second : VJSONValue();
}

void VJSONFileCache::SetValue(const VString& path, const VJSONValue& value)
{
    if (value.IsUndefined())
        fDocuments.erase(path);
    else
        fDocuments[path] = value;
}

// --- resolver ---

VJSONPointerResolver::Context::~Context()
{
    for (IFile*& file : documents)
        ReleaseRefCountable(&file);
}

VJSONPointerResolver::VJSONPointerResolver(const VJSONValue& root, IFolder* baseFolder, VJSONFileCache* cache)
    : fRoot(root),
      fBaseFolder(RetainRefCountable(baseFolder)),
      fCache(cache ? RetainRefCountable(cache) : new VJSONFileCache())
{
}

VJSONPointerResolver::~VJSONPointerResolver()
{
    ReleaseRefCountable(&fErrors);
    ReleaseRefCountable(&fCache);
    ReleaseRefCountable(&fBaseFolder);
}

VJSONValue VJSONPointerResolver::GetErrors() const
{
    return (fErrors && fErrors->GetCount() > 0) ? VJSONValue(fErrors) : VJSONValue();
}

void VJSONPointerResolver::_ThrowError(VError code, const VString& value1, const char* name1, const VString& value2,
                                       const char* name2)
{
    if (fErrors == nullptr)
        fErrors = new VJSONArray();
    VJSONObject* record = new VJSONObject();
    record->SetProperty(VString("code"), VJSONValue(static_cast<double>(ERRCODE_FROM_VERROR(code))));
    const OsType component = COMPONENT_FROM_VERROR(code);
    char signature[5] = {static_cast<char>(component >> 24), static_cast<char>(component >> 16),
                         static_cast<char>(component >> 8), static_cast<char>(component), 0};
    record->SetProperty(VString("component"), VJSONValue(VString(signature)));
    VJSONObject* parameters = new VJSONObject();
    if (*name1)
        parameters->SetProperty(VString("p1"), VJSONValue(value1));
    if (*name2)
        parameters->SetProperty(VString("p2"), VJSONValue(value2));
    VErrorBase error(code, parameters);
    parameters->Release();
    VString message;
    error.GetErrorDescription(message);
    record->SetProperty(VString("message"), VJSONValue(message));
    if (*name1)
        record->SetProperty(VString(name1), VJSONValue(value1));
    if (*name2)
        record->SetProperty(VString(name2), VJSONValue(value2));
    fErrors->Push(VJSONValue(record));
    record->Release();
}

bool VJSONPointerResolver::ResolveOnePointer(VJSONObject* object, bool followReferences, VJSONValue& result)
{
    StErrorContextInstaller silent(false, true);
    Context context;
    context.followReferences = followReferences;
    result = VJSONValue(object);
    return Resolve(context, result, nullptr, nullptr, nullptr);
}

bool VJSONPointerResolver::Resolve(Context& context, VJSONValue& value, VRefPtr<VJSONPointerResolver>* subResolver,
                                   bool* onPath, bool* walkMembers)
{
    auto answer = [&](bool path, bool walk, VJSONPointerResolver* sub) {
        if (onPath)
            *onPath = path;
        if (walkMembers)
            *walkMembers = walk;
        if (subResolver)
            *subResolver = VRefPtr<VJSONPointerResolver>(sub);
    };
    VJSONObject* object = value.GetObject();
    if (object == nullptr) {
        answer(false, value.IsArray(), this);
        return false;
    }
    const bool inPath = std::find(context.path.begin(), context.path.end(), object) != context.path.end();
    if (inPath || context.visited.count(object) != 0) {
        answer(inPath, false, this);
        return false;
    }
    context.visited.insert(object);
    VJSONValue ref = object->GetProperty(sRefPropertyName);
    if (!ref.IsString()) {
        answer(false, true, this);
        return false;
    }
    VString uri;
    ref.GetString(uri);
    VRefPtr<VJSONObject> held(object);
    context.path.push_back(object);
    VJSONValue designated, document;
    IFolder* folder = nullptr;
    const bool resolved = ResolvePointerURI(context, uri, designated, document, &folder);
    if (resolved) {
        if (context.merge)
            PatchPointerValue(context, value, designated);
        else
            value = designated;
    } else {
        value.SetUndefined();
    }
    context.path.pop_back();
    if (value.GetObject() != object)
        context.visited.erase(object);
    VRefPtr<VJSONPointerResolver> sub;
    if (resolved) {
        sub = VRefPtr<VJSONPointerResolver>::Adopt(new VJSONPointerResolver(document, folder, fCache));
    }
    ReleaseRefCountable(&folder);
    if (onPath)
        *onPath = false;
    if (walkMembers)
        *walkMembers = true;
    if (subResolver)
        *subResolver = sub;
    return true;
}

bool VJSONPointerResolver::ResolvePointerURI(Context& context, const VString& uri, VJSONValue& designated,
                                             VJSONValue& document, IFolder** folder)
{
    VString path, pointer;
    const VIndex hash = uri.FindUniChar(u'#');
    if (hash > 0) {
        path = uri.GetSubString(1, hash - 1);
        pointer = uri.GetSubString(hash + 1, uri.GetLength() - hash);
    } else {
        path = uri;
    }
    VURL::Decode(path);
    VURL::Decode(pointer);
    path.TrimUniChar(u' ');
    for (const char* scheme : {"http:", "https:", "file:"}) {
        if (path.BeginsWith(VString(scheme))) {
            _ThrowURIError(VE_JSON_POINTER_UNSUPPORTED, context.currentURI);
            designated.SetUndefined();
            return false;
        }
    }
    VJSONValue loaded;
    if (!LoadDocument(context, uri, path, loaded, folder)) {
        designated.SetUndefined();
        return false;
    }
    VString previous = context.currentURI;
    context.currentURI = uri;
    const bool ok = ResolvePointerString(context, loaded, pointer, designated);
    context.currentURI = previous;
    if (ok)
        document = loaded;
    return ok;
}

bool VJSONPointerResolver::LoadDocument(Context& context, const VString& uri, const VString& path,
                                        VJSONValue& document, IFolder** folder)
{
    if (path.IsEmpty()) {
        document = fRoot;
        *folder = RetainRefCountable(fBaseFolder);
        return true;
    }
    IFile* file = nullptr;
    if (path[0] != u'/' && fBaseFolder != nullptr)
        file = fBaseFolder->_RetainRelativeIFile(path, FPS_POSIX);
    if (file == nullptr) {
        _ThrowError(VE_JSON_POINTER_DOCUMENT_NOT_FOUND, uri, "pointerURI", path, "referredPath");
        return false;
    }
    context.documents.push_back(RetainRefCountable(file));
    VString key;
    file->GetPath().GetPosixPath(key);
    document = fCache->GetValue(key);
    bool ok = true;
    if (document.IsUndefined()) {
        if (!file->Exists()) {
            _ThrowError(VE_JSON_POINTER_DOCUMENT_NOT_FOUND, uri, "pointerURI", key, "referredPath");
            ok = false;
        } else {
            StErrorContextInstaller silent(false, true);
            if (VJSONImporter::ParseFile(file, document, 131) != 0 || document.IsUndefined()) {
                _ThrowError(VE_JSON_POINTER_DOCUMENT_UNREADABLE, uri, "pointerURI", key, "referredPath");
                ok = false;
            } else {
                fCache->SetValue(key, document);
            }
        }
    }
    if (ok)
        *folder = file->RetainParentFolder(true);
    file->Release();
    return ok;
}

bool VJSONPointerResolver::ResolvePointerString(Context& context, const VJSONValue& document,
                                                const VString& pointer, VJSONValue& designated)
{
    designated = document;
    if (pointer.IsEmpty())
        return true;
    if (pointer[0] != u'/') {
        _ThrowURIError(VE_JSON_POINTER_INVALID, context.currentURI);
        return false;
    }
    std::vector<VString> tokens;
    pointer.GetSubStrings(u'/', tokens, true);
    for (size_t i = 1; i < tokens.size(); ++i) {
        if (!ResolveOnePart(context, designated, tokens[i]))
            return false;
    }
    return true;
}

bool VJSONPointerResolver::ResolveOnePart(Context& context, VJSONValue& current, const VString& rawToken)
{
    VString token = rawToken;
    token.Exchange(VString("~1"), VString("/"));
    token.Exchange(VString("~0"), VString("~"));
    if (VJSONArray* array = current.GetArray()) {
        const VIndex n = token.GetLength();
        if (n == 0 || (n > 1 && token[0] == u'0')) {
            _ThrowURIError(VE_JSON_POINTER_INVALID, context.currentURI);
            return false;
        }
        if (n == 1 && token[0] == u'-') {
            _ThrowURIError(VE_JSON_POINTER_UNSUPPORTED, context.currentURI);
            return false;
        }
        // Digits only; an index past the element count stops growing, so a
        // many-digit token can never wrap into a valid index.
        const size_t count = array->GetCount();
        size_t index = 0;
        bool past = false;
        for (VIndex k = 0; k < n; ++k) {
            const UniChar c = token[k];
            if (c < u'0' || c > u'9') {
                _ThrowURIError(VE_JSON_POINTER_INVALID, context.currentURI);
                return false;
            }
            if (!past) {
                index = index * 10 + static_cast<size_t>(c - u'0');
                past = index >= count;
            }
        }
        if (past || index >= count) {
            _ThrowURIError(VE_JSON_POINTER_NOT_FOUND, context.currentURI);
            return false;
        }
        current = array->GetAt(index);
        if (current.IsUndefined()) {
            _ThrowURIError(VE_JSON_POINTER_NOT_FOUND, context.currentURI);
            return false;
        }
        return true;
    }
    if (!current.IsObject()) {
        _ThrowURIError(VE_JSON_POINTER_NOT_A_CONTAINER, context.currentURI);
        return false;
    }
    if (context.followReferences) {
        bool onPath = false;
        Resolve(context, current, nullptr, &onPath, nullptr);
        if (onPath) {
            _ThrowURIError(VE_JSON_POINTER_CIRCULAR, context.currentURI);
            return false;
        }
        if (!current.IsObject()) {
            if (current.IsArray())
                return ResolveOnePart(context, current, rawToken);
            _ThrowURIError(current.IsUndefined() ? VE_JSON_POINTER_NOT_FOUND : VE_JSON_POINTER_NOT_A_CONTAINER,
                           context.currentURI);
            return false;
        }
    }
    current = current.GetObject()->GetProperty(token);
    if (current.IsUndefined()) {
        _ThrowURIError(VE_JSON_POINTER_NOT_FOUND, context.currentURI);
        return false;
    }
    return true;
}

void VJSONPointerResolver::PatchPointerValue(Context&, VJSONValue& value, const VJSONValue& designated)
{
    VJSONObject* reference = value.GetObject();
    VJSONObject* target = designated.GetObject();
    const bool onlyRef = reference == nullptr ||
                         (reference->GetPropertyCount() == 1 && reference->GetNameAt(0).EqualToStringRaw(sRefPropertyName));
    if (target == nullptr || onlyRef) {
        value = designated;
        return;
    }
    VRefPtr<VJSONObject> held(reference);
    VJSONObject* merged = new VJSONObject();
    for (const auto& [name, member] : target->GetInternalProperties())
        merged->SetProperty(name, member);
    for (const auto& [name, member] : reference->GetInternalProperties()) {
        if (!name.EqualToStringRaw(sRefPropertyName))
            merged->SetProperty(name, member);
    }
    value.SetObject(merged);
    merged->Release();
}

void VJSONPointerResolver::ResolveRecursively(VJSONValue& value, bool merge, std::vector<IFile*>* files)
{
    StErrorContextInstaller silent(true, true);
    Context context;
    context.merge = merge;
    context.followReferences = true;
    _ResolveRecursively(this, context, value, 0);
    while (!context.pending.empty()) {
        auto walks = std::move(context.pending);
        context.pending.clear();
        for (auto& [resolver, pendingValue] : walks)
            _ResolveRecursively(resolver.Get(), context, pendingValue, 0);
    }
    if (files) {
        for (IFile* file : context.documents)
            files->push_back(RetainRefCountable(file));
    }
    const VError last = silent.GetLastError();
    if (last != 0 && (fErrors == nullptr || fErrors->GetCount() == 0))
        _ThrowError(last, VString(), "", VString(), "");
}

bool VJSONPointerResolver::_ResolveRecursively(VJSONPointerResolver* resolver, Context& context, VJSONValue& value,
                                               uint32_t depth)
{
    if (depth > kMaxDepth)
        return false;
    if (VJSONObject* object = value.GetObject()) {
        VRefPtr<VJSONPointerResolver> sub;
        bool walk = false;
        VRefPtr<VJSONObject> held(object);
        if (resolver->Resolve(context, value, &sub, nullptr, &walk)) {
            if (sub)
                context.pending.emplace_back(sub, value);
            return true;
        }
        if (walk) {
            for (const auto& [name, member] : object->GetInternalProperties()) {
                VJSONValue visited = member;
                if (_ResolveRecursively(resolver, context, visited, depth + 1) && !visited.IsUndefined())
                    object->SetProperty(name, visited);
            }
        }
        return false;
    }
    if (VJSONArray* array = value.GetArray()) {
        // Arrays are remembered as objects are, so a cycle through arrays ends.
        if (!context.visited.insert(array).second)
            return false;
        VRefPtr<VJSONArray> held(array);
        const size_t count = array->GetCount();
        for (size_t i = 0; i < count; ++i) {
            VJSONValue element = array->GetAt(i);
            if (_ResolveRecursively(resolver, context, element, depth + 1))
                array->SetAt(i, element);
        }
    }
    return false;
}

}  // namespace bkit
