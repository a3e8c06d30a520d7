// VJSONPointerResolver.cpp - resolving "$ref" references and JSON Pointers.
//
// Documents are found and loaded in VJSONPointerResolverDocuments.cpp.
#include "basekit/json/VJSONPointerResolver.h"

#include "basekit/files/IFile.h"
#include "basekit/files/IFolder.h"
#include "basekit/files/VFileSystemNamespace.h"
#include "basekit/files/VURL.h"
#include "basekit/json/VJSONArray.h"
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

// One reference (or bare pointer) under resolution. Chains of references are
// a stack of these rather than of calls, so their length costs heap, not stack.
struct VJSONPointerResolver::Step {
    VJSONObject* reference = nullptr;  // held by its outcome; null for a bare URI or pointer
    VJSONValue referenceValue;          // the reference object, merged with the result
    VString uri;
    std::vector<VString> tokens;        // escaped tokens after the leading "/"
    size_t next = 0;
    VJSONValue current;
    VRefPtr<VJSONPointerResolver> scope;  // the resolver of the document holding current
    bool failed = false;
    bool circular = false;
};

namespace {

bool IsReference(const VJSONObject* object)
{
    return object != nullptr && object->GetProperty(VJSONPointerResolver::sRefPropertyName).IsString();
}

}  // namespace

VJSONPointerResolver::VJSONPointerResolver(const VJSONValue& root, IFolder* baseFolder,
                                           VFileSystemNamespace* nameSpace, VJSONFileCache* cache)
    : fRoot(root),
      fBaseFolder(baseFolder),
      fNamespace(nameSpace),
      fCache(cache ? VRefPtr<VJSONFileCache>(cache) : VRefPtr<VJSONFileCache>::Adopt(new VJSONFileCache())),
      fBoundary(baseFolder)
{
}

VJSONPointerResolver::~VJSONPointerResolver() = default;

VJSONValue VJSONPointerResolver::GetErrors() const
{
    return (fErrors && fErrors->GetCount() > 0) ? VJSONValue(fErrors.Get()) : VJSONValue();
}

namespace {

// A new record holding the code's number and component.
VJSONObject* NewErrorRecord(VError code)
{
    VJSONObject* record = new VJSONObject();
    record->SetProperty(VString("code"), VJSONValue(static_cast<double>(ERRCODE_FROM_VERROR(code))));
    const OsType component = COMPONENT_FROM_VERROR(code);
    char signature[5] = {static_cast<char>(component >> 24), static_cast<char>(component >> 16),
                         static_cast<char>(component >> 8), static_cast<char>(component), 0};
    record->SetProperty(VString("component"), VJSONValue(VString(signature)));
    return record;
}

}  // namespace

void VJSONPointerResolver::_ThrowError(VError code, const VString& value1, const char* name1, const VString& value2,
                                       const char* name2)
{
    if (!fErrors)
        fErrors = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    if (static_cast<size_t>(fErrors->GetCount()) >= kErrorRecordsKept) {
        _CountErrorNotKept();
        return;
    }
    VJSONObject* record = NewErrorRecord(code);
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

void VJSONPointerResolver::_CountErrorNotKept()
{
    ++fErrorsNotKept;
    if (!fNotKeptRecord) {
        fNotKeptRecord = VRefPtr<VJSONObject>::Adopt(NewErrorRecord(VE_JSON_POINTER_ERRORS_NOT_KEPT));
        fErrors->Push(VJSONValue(fNotKeptRecord.Get()));
    }
    VString message;
    message.AppendULong8(fErrorsNotKept);
    message.AppendCString(fErrorsNotKept == 1 ? " more error was not kept" : " more errors were not kept");
    fNotKeptRecord->SetProperty(VString("message"), VJSONValue(message));
    fNotKeptRecord->SetProperty(VString("count"), VJSONValue(static_cast<double>(fErrorsNotKept)));
}

bool VJSONPointerResolver::ResolveOnePointer(VJSONObject* object, bool followReferences, VJSONValue& result)
{
    StErrorContextInstaller silent(false, true);
    Context context;
    context.followReferences = followReferences;
    context.reporter = this;
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
    auto known = context.outcomes.find(object);
    if (known == context.outcomes.end()) {
        if (context.visited.count(object) != 0) {
            answer(false, false, this);
            return false;
        }
        if (!IsReference(object)) {
            context.visited.insert(object);
            answer(false, true, this);
            return false;
        }
        std::vector<Step> steps(1);
        _OpenReference(context, steps.back(), value, context.currentURI);
        VJSONValue ignored;
        VRefPtr<VJSONPointerResolver> ignoredScope;
        _Drive(context, steps, ignored, ignoredScope);
        known = context.outcomes.find(object);
    } else if (known->second.resolving) {
        answer(true, false, this);
        return false;
    }
    value = known->second.value;
    answer(false, true, known->second.scope.Get());
    return true;
}

void VJSONPointerResolver::_OpenReference(Context& context, Step& step, const VJSONValue& reference,
                                          const VString& enclosingURI)
{
    step.reference = reference.GetObject();
    step.referenceValue = reference;
    Outcome& outcome = context.outcomes[step.reference];
    outcome.reference = VRefPtr<VJSONObject>(step.reference);
    step.reference->GetProperty(sRefPropertyName).GetString(step.uri);
    _OpenURI(context, step, enclosingURI);
}

void VJSONPointerResolver::_OpenURI(Context& context, Step& step, const VString& enclosingURI)
{
    VString path, pointer;
    const VIndex hash = step.uri.FindUniChar(u'#');
    if (hash > 0) {
        path = step.uri.GetSubString(1, hash - 1);
        pointer = step.uri.GetSubString(hash + 1, step.uri.GetLength() - hash);
    } else {
        path = step.uri;
    }
    VURL::Decode(path);
    VURL::Decode(pointer);
    path.TrimUniChar(u' ');
    for (const char* scheme : {"http:", "https:", "file:"}) {
        if (path.BeginsWith(VString(scheme))) {
            _Reporter(context)->_ThrowURIError(VE_JSON_POINTER_UNSUPPORTED, enclosingURI);
            step.failed = true;
            return;
        }
    }
    if (!LoadDocument(context, step.uri, path, step.current, &step.scope)) {
        step.failed = true;
        return;
    }
    _OpenPointer(context, step, pointer);
}

void VJSONPointerResolver::_OpenPointer(Context& context, Step& step, const VString& pointer)
{
    if (pointer.IsEmpty())
        return;
    if (pointer[0] != u'/') {
        _Reporter(context)->_ThrowURIError(VE_JSON_POINTER_INVALID, step.uri);
        step.failed = true;
        return;
    }
    pointer.GetSubStrings(u'/', step.tokens, true);
    step.next = 1;  // the empty text before the first "/"
}

// Runs the steps until the first one has ended: each step walks its tokens;
// a reference met on the way (or at the end) is resolved by a step pushed on
// top, whose outcome the step below then reads in its place.
bool VJSONPointerResolver::_Drive(Context& context, std::vector<Step>& steps, VJSONValue& result,
                                  VRefPtr<VJSONPointerResolver>& scope)
{
    for (;;) {
        Step& step = steps.back();
        bool ended = step.failed;
        if (!ended && context.followReferences && step.current.IsObject()) {
            const VJSONObject* object = step.current.GetObject();
            auto known = context.outcomes.find(object);
            if (known != context.outcomes.end()) {
                const Outcome& outcome = known->second;
                if (!outcome.resolving && !outcome.failed) {
                    step.current = outcome.value;
                    step.scope = outcome.scope;
                    continue;
                }
                // A reference met again while still open closes a cycle; a
                // failed one fails whatever rests on it, a cycle as a cycle.
                step.circular = outcome.resolving || outcome.circular;
                _Reporter(context)->_ThrowURIError(
                    step.circular ? VE_JSON_POINTER_CIRCULAR : VE_JSON_POINTER_NOT_FOUND, step.uri);
                step.failed = ended = true;
            } else if (IsReference(object)) {
                Step inner;
                VRefPtr<VJSONPointerResolver> holder = step.scope;
                const VString enclosing = step.uri;
                holder->_OpenReference(context, inner, step.current, enclosing);
                steps.push_back(std::move(inner));
                continue;
            }
        }
        if (!ended && step.next < step.tokens.size()) {
            if (!_Advance(context, step.uri, step.current, step.tokens[step.next++]))
                step.failed = true;
            continue;
        }
        Step done = std::move(steps.back());
        steps.pop_back();
        VJSONValue value;
        if (!done.failed) {
            value = done.current;
            if (done.reference != nullptr && context.merge) {
                value = done.referenceValue;
                if (!PatchPointerValue(context, value, done.current)) {
                    _Reporter(context)->_ThrowURIError(VE_JSON_POINTER_MERGE_TOO_LARGE, done.uri);
                    done.failed = true;
                    value = VJSONValue();
                }
            }
        }
        if (done.reference != nullptr) {
            Outcome& outcome = context.outcomes[done.reference];
            outcome.resolving = false;
            outcome.failed = done.failed;
            outcome.circular = done.circular;
            outcome.value = value;
            if (!done.failed)
                outcome.scope = done.scope;
        }
        if (steps.empty()) {
            result = value;
            scope = done.failed ? VRefPtr<VJSONPointerResolver>() : done.scope;
            return !done.failed;
        }
    }
}

bool VJSONPointerResolver::ResolvePointerURI(Context& context, const VString& uri, VJSONValue& designated,
                                             VRefPtr<VJSONPointerResolver>* scope)
{
    std::vector<Step> steps(1);
    steps.back().uri = uri;
    _OpenURI(context, steps.back(), context.currentURI);
    VRefPtr<VJSONPointerResolver> holder;
    const bool ok = _Drive(context, steps, designated, holder);
    if (scope)
        *scope = holder;
    return ok;
}

bool VJSONPointerResolver::ResolvePointerString(Context& context, const VJSONValue& document,
                                                const VString& pointer, VJSONValue& designated)
{
    std::vector<Step> steps(1);
    Step& step = steps.back();
    step.uri = context.currentURI;
    step.current = document;
    step.scope = VRefPtr<VJSONPointerResolver>(this);
    _OpenPointer(context, step, pointer);
    VRefPtr<VJSONPointerResolver> ignored;
    return _Drive(context, steps, designated, ignored);
}

bool VJSONPointerResolver::ResolveOnePart(Context& context, VJSONValue& current, const VString& token)
{
    if (context.followReferences) {
        bool onPath = false;
        Resolve(context, current, nullptr, &onPath, nullptr);
        if (onPath) {
            _Reporter(context)->_ThrowURIError(VE_JSON_POINTER_CIRCULAR, context.currentURI);
            return false;
        }
        if (current.IsUndefined()) {
            _Reporter(context)->_ThrowURIError(VE_JSON_POINTER_NOT_FOUND, context.currentURI);
            return false;
        }
    }
    return _Advance(context, context.currentURI, current, token);
}

// One token of a pointer, references on the way already resolved.
bool VJSONPointerResolver::_Advance(Context& context, const VString& uri, VJSONValue& current,
                                    const VString& rawToken)
{
    // Escapes are exact units: a locale-aware match would also take a
    // full-width tilde or digit for one, and read a name that is not there.
    VString token = rawToken;
    token.ExchangeRawString(VString("~1"), VString("/"));
    token.ExchangeRawString(VString("~0"), VString("~"));
    VJSONPointerResolver* reporter = _Reporter(context);
    if (VJSONArray* array = current.GetArray()) {
        const VIndex n = token.GetLength();
        if (n == 0 || (n > 1 && token[0] == u'0')) {
            reporter->_ThrowURIError(VE_JSON_POINTER_INVALID, uri);
            return false;
        }
        if (n == 1 && token[0] == u'-') {
            reporter->_ThrowURIError(VE_JSON_POINTER_UNSUPPORTED, uri);
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
                reporter->_ThrowURIError(VE_JSON_POINTER_INVALID, uri);
                return false;
            }
            if (!past) {
                index = index * 10 + static_cast<size_t>(c - u'0');
                past = index >= count;
            }
        }
        if (past || index >= count) {
            reporter->_ThrowURIError(VE_JSON_POINTER_NOT_FOUND, uri);
            return false;
        }
        current = array->GetAt(index);
        if (current.IsUndefined()) {
            reporter->_ThrowURIError(VE_JSON_POINTER_NOT_FOUND, uri);
            return false;
        }
        return true;
    }
    VJSONObject* object = current.GetObject();
    if (object == nullptr) {
        reporter->_ThrowURIError(VE_JSON_POINTER_NOT_A_CONTAINER, uri);
        return false;
    }
    current = object->GetProperty(token);
    if (current.IsUndefined()) {
        reporter->_ThrowURIError(VE_JSON_POINTER_NOT_FOUND, uri);
        return false;
    }
    return true;
}

bool VJSONPointerResolver::PatchPointerValue(Context& context, VJSONValue& value, const VJSONValue& designated)
{
    VJSONObject* reference = value.GetObject();
    VJSONObject* target = designated.GetObject();
    const bool onlyRef = reference == nullptr ||
                         (reference->GetPropertyCount() == 1 && reference->GetNameAt(0).EqualToStringRaw(sRefPropertyName));
    if (target == nullptr || onlyRef) {
        value = designated;
        return true;
    }
    const size_t members = target->GetPropertyCount() + reference->GetPropertyCount();
    if (members > kMergedMembersLimit - context.mergedMembers)
        return false;
    context.mergedMembers += members;
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
    return true;
}

void VJSONPointerResolver::ResolveRecursively(VJSONValue& value, bool merge, std::vector<IFile*>* files)
{
    StErrorContextInstaller silent(true, true);
    Context context;
    context.merge = merge;
    context.followReferences = true;
    context.reporter = this;
    _ResolveRecursively(this, context, value);
    while (!context.pending.empty()) {
        auto walks = std::move(context.pending);
        context.pending.clear();
        for (auto& [resolver, pendingValue] : walks)
            _ResolveRecursively(resolver.Get(), context, pendingValue);
    }
    if (files) {
        for (const auto& [path, document] : context.documents)
            files->push_back(RetainRefCountable(document.file.Get()));
    }
    const VError last = silent.GetLastError();
    if (last != 0 && GetErrors().IsUndefined())
        _ThrowError(last, VString(), "", VString(), "");
}

// Walks the graph below value depth first with a stack of containers, so
// that nesting costs heap, not stack. A reference met is replaced by its
// outcome and the designated value queued for a walk of its own against its
// document; a failed reference stays in an object and becomes undefined in
// an array.
bool VJSONPointerResolver::_ResolveRecursively(VJSONPointerResolver* resolver, Context& context, VJSONValue& value)
{
    struct Level {
        VJSONValue container;
        VJSONPointerResolver* resolver;
        size_t next;
    };
    std::vector<Level> levels;
    auto visit = [&](VJSONPointerResolver* owner, VJSONValue& member) {
        if (member.IsObject()) {
            VRefPtr<VJSONPointerResolver> sub;
            bool walk = false;
            if (owner->Resolve(context, member, &sub, nullptr, &walk)) {
                if (sub)
                    context.pending.emplace_back(sub, member);
                return true;
            }
            if (walk)
                levels.push_back({member, owner, 0});
        } else if (VJSONArray* array = member.GetArray()) {
            if (context.visited.insert(array).second)
                levels.push_back({member, owner, 0});
        }
        return false;
    };
    const bool replaced = visit(resolver, value);
    while (!levels.empty()) {
        Level& level = levels.back();
        const VJSONValue container = level.container;
        VJSONPointerResolver* owner = level.resolver;
        const size_t index = level.next++;
        if (VJSONObject* object = container.GetObject()) {
            if (index >= object->GetPropertyCount()) {
                levels.pop_back();
                continue;
            }
            const VString name = object->GetNameAt(index);
            VJSONValue member = object->GetValueAt(index);
            if (visit(owner, member) && !member.IsUndefined())
                object->SetProperty(name, member);
        } else if (VJSONArray* array = container.GetArray()) {
            if (index >= array->GetCount()) {
                levels.pop_back();
                continue;
            }
            VJSONValue element = array->GetAt(index);
            if (visit(owner, element))
                array->SetAt(index, element);
        }
    }
    return replaced;
}

}  // namespace bkit
