// VJSONObjectPaths.cpp - dotted paths with bracketed indexes through objects and arrays.
#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONGraph.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"

namespace bkit {

namespace {

// A path may grow an array by this many elements at most: a typing mistake
// in an index must not allocate gigabytes.
constexpr int64_t kMaxPathIndex = 1 << 24;

void TrimSpaces(VString& text)
{
    VIndex length = text.GetLength();
    const UniChar* units = text.GetCPointer();
    VIndex start = 0;
    while (start < length && units[start] == u' ')
        ++start;
    VIndex end = length;
    while (end > start && units[end - 1] == u' ')
        --end;
    if (start > 0 || end < length)
        text = VString(units + start, end - start);
}

// The pieces of text between separators, empty ones kept, each trimmed.
std::vector<VString> SplitTrimmed(const VString& text, UniChar separator)
{
    std::vector<VString> pieces;
    const UniChar* units = text.GetCPointer();
    VIndex length = text.GetLength();
    VIndex start = 0;
    for (VIndex i = 0; i <= length; ++i) {
        if (i == length || units[i] == separator) {
            VString piece = (i > start) ? VString(units + start, i - start) : VString("");
            TrimSpaces(piece);
            pieces.push_back(std::move(piece));
            start = i + 1;
        }
    }
    return pieces;
}

bool IsAbsent(const VJSONValue& value)
{
    return value.IsUndefined() || value.IsNull();
}

// An array index of a path part, or -1 when it is negative or beyond the cap.
int64_t PathIndex(const VString& part)
{
    int64_t index = part.GetLong8();
    return (index < 0 || index > kMaxPathIndex) ? -1 : index;
}

}  // namespace

bool VJSONObject::isvalidnumber(const VString& text)
{
    const UniChar* units = text.GetCPointer();
    for (VIndex i = 0; i < text.GetLength(); ++i) {
        if (units[i] < u'0' || units[i] > u'9')
            return false;
    }
    return true;
}

VError VJSONObject::ExtractPath(const VString& path, std::vector<VString>& parts)
{
    for (const VString& piece : SplitTrimmed(path, u'.')) {
        std::vector<VString> steps = SplitTrimmed(piece, u'[');
        if (steps[0].IsEmpty())
            return VE_JSON_PATH_EMPTY_PART;
        parts.push_back(steps[0]);
        for (size_t i = 1; i < steps.size(); ++i) {
            const VString& step = steps[i];
            VIndex length = step.GetLength();
            if (length == 0 || step.GetCPointer()[length - 1] != u']')
                return VE_JSON_PATH_MISSING_BRACKET;
            VString inside(step.GetCPointer(), length - 1);
            TrimSpaces(inside);
            if (inside.IsEmpty())
                return VE_JSON_PATH_EMPTY_PART;
            parts.push_back(std::move(inside));
        }
    }
    return 0;
}

VJSONValue VJSONObject::GetPropertyWithPath(const VString& path, VDBLanguageContext* languageContext) const
{
    std::vector<VString> parts;
    if (ExtractPath(path, parts) != 0)
        return VJSONValue(VJSONValue::sUndefined);
    return GetPropertyWithPath(parts, languageContext);
}

VJSONValue VJSONObject::GetPropertyWithPath(const std::vector<VString>& parts,
                                            VDBLanguageContext* languageContext) const
{
    static const VString kLength("length");
    VJSONValue current(const_cast<VJSONObject*>(this));
    for (const VString& part : parts) {
        if (VJSONObject* object = current.GetObject()) {
            VJSONValue next = object->GetProperty(part, languageContext);
            current = std::move(next);
        } else if (VJSONArray* array = current.GetArray()) {
            if (part.EqualToString(kLength, false)) {
                current = VJSONValue(static_cast<double>(array->GetCount()));
            } else {
                int64_t index = part.GetLong8();
                VJSONValue next = (index >= 0) ? array->GetAt(static_cast<size_t>(index)) : VJSONValue();
                current = std::move(next);
            }
        } else {
            return VJSONValue(VJSONValue::sUndefined);
        }
    }
    return current;
}

bool VJSONObject::SetPropertyWithPath(const VString& path, const VJSONValue& value,
                                      VDBLanguageContext* languageContext)
{
    std::vector<VString> parts;
    if (VError error = ExtractPath(path, parts); error != 0) {
        _ThrowError(error, &path);
        return false;
    }
    VJSONValue current(this);
    for (size_t i = 0; i < parts.size(); ++i) {
        const VString& part = parts[i];
        const bool last = (i + 1 == parts.size());
        VJSONValue next;
        if (VJSONObject* object = current.GetObject()) {
            if (last)
                return object->SetProperty(part, value, languageContext);
            next = object->GetProperty(part, languageContext);
            if (IsAbsent(next)) {
                next = VJSONValue(isvalidnumber(parts[i + 1]) ? JSON_array : JSON_object);
                object->MakeValueSharedIfNecessary(next);  // a shared tree takes its own kind only
                if (!object->SetProperty(part, next, languageContext))
                    return false;
            }
        } else if (VJSONArray* array = current.GetArray()) {
            const int64_t index = PathIndex(part);
            if (index < 0) {
                _ThrowError(VE_INVALID_PARAMETER, &part);
                return false;
            }
            const size_t position = static_cast<size_t>(index);
            if (position >= array->GetCount() && !array->Resize(position + 1, JSON_null))
                return false;
            if (last)
                return array->SetAt(position, value, false);
            next = array->GetAt(position);
            if (IsAbsent(next)) {
                next = VJSONValue(isvalidnumber(parts[i + 1]) ? JSON_array : JSON_object);
                array->MakeValueSharedIfNecessary(next);
                if (!array->SetAt(position, next, false))
                    return false;
            }
        } else {
            const VString& previous = parts[i - 1];
            _ThrowError(isvalidnumber(part) ? VE_JSON_PATH_NOT_AN_ARRAY : VE_JSON_PATH_NOT_AN_OBJECT, &previous);
            return false;
        }
        current = std::move(next);
    }
    return true;
}

// --- stamps at paths ---

uint32_t VJSONObject::GetPropertyStamp(const VString& name) const
{
    if (fImplementation) {
        uint32_t stamp = 0;
        if (fImplementation->IJSON_GetPropertyStamp(this, name, &stamp) != eJSON_notHandled)
            return stamp;
    }
    StContainerLock lock(this);
    ptrdiff_t position = _Find(name);
    return (position < 0) ? 0 : fProperties[static_cast<size_t>(position)].second.GetStamp();
}

void VJSONObject::TouchPropertyStamp(const VString& name)
{
    if (fImplementation && fImplementation->IJSON_TouchPropertyStamp(this, name) != eJSON_notHandled)
        return;
    StContainerLock lock(this);
    if (VJSONStamp* stamp = GetJSONStamp())
        stamp->Increment();
    ptrdiff_t position = _Find(name);
    if (position >= 0)
        fProperties[static_cast<size_t>(position)].second._SetStamp(VJSONValue::NextStamp());
}

namespace {

// Finds the container holding the last part of path; false for anything else.
bool FindStampHolder(const VJSONObject* root, const VString& path, VJSONValue& holder, VString& last)
{
    std::vector<VString> parts;
    if (VJSONObject::ExtractPath(path, parts) != 0 || parts.empty())
        return false;
    last = parts.back();
    parts.pop_back();
    holder = parts.empty() ? VJSONValue(const_cast<VJSONObject*>(root)) : root->GetPropertyWithPath(parts);
    return holder.IsObject() || holder.IsArray();
}

}  // namespace

uint32_t VJSONObject::GetPropertyStampWithPath(const VString& path) const
{
    static const VString kLength("length");
    VJSONValue holder;
    VString last;
    if (!FindStampHolder(this, path, holder, last))
        return 0;
    if (VJSONObject* object = holder.GetObject())
        return object->GetPropertyStamp(last);
    VJSONArray* array = holder.GetArray();
    if (last.EqualToStringRaw(kLength))
        return static_cast<uint32_t>(array->GetCount());
    if (!isvalidnumber(last))
        return 0;
    return array->GetStampAt(static_cast<size_t>(last.GetLong8()));
}

void VJSONObject::TouchPropertyStampWithPath(const VString& path)
{
    VJSONValue holder;
    VString last;
    if (!FindStampHolder(this, path, holder, last))
        return;
    if (VJSONObject* object = holder.GetObject())
        object->TouchPropertyStamp(last);
    else if (isvalidnumber(last))
        holder.GetArray()->TouchStampAt(static_cast<size_t>(last.GetLong8()));
}

}  // namespace bkit
