// VJSONWriter.cpp - the JSON text writer.
#include "basekit/json/VJSONWriter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <type_traits>
#include <utility>

#include "basekit/files/IFile.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONClass.h"
#include "basekit/json/IJSONObject.h"
#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONPropertyIterator.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/text/VTextConverterForms.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"

namespace bkit {

namespace {

// The short form stops a container once this many characters were counted.
constexpr uint32_t kShortFormLimit = 512;

constexpr VIndex kFirstRoom = 256;
// The most units a string holds, its terminator and count included.
constexpr int64_t kMaxUnits = 0x7FFFFFF0;

}  // namespace

VJSONWriter::VJSONWriter(VDBLanguageContext* languageContext, uint32_t flags)
    : fLanguageContext(languageContext), fFlags(flags), fIndentUnit(u"\t")
{
    if (fFlags & kFlag_Indented)
        fIndent.AppendUniChar(u'\n');
}

VJSONWriter::VJSONWriter(uint32_t flags) : VJSONWriter(nullptr, flags) {}

VJSONWriter::~VJSONWriter() = default;

// --- levels and indents ---

void VJSONWriter::IncrementLevel()
{
    ++fLevel;
    if (fFlags & kFlag_Indented)
        fIndent.AppendString(fIndentUnit);
}

void VJSONWriter::DecrementLevel()
{
    if (fLevel > 0)
        --fLevel;
    if (fFlags & kFlag_Indented)
        fIndent.Truncate(std::max<VIndex>(1, fIndent.GetLength() - fIndentUnit.GetLength()));
}

void VJSONWriter::InsertIndentString(VString& text) const
{
    if (fFlags & kFlag_Indented)
        text.Insert(fIndent, 1);
}

void VJSONWriter::AppendIndentString(VString& text) const
{
    if (fFlags & kFlag_Indented)
        text.AppendString(fIndent);
}

// --- output buffer ---

bool VJSONWriter::_Reserve(VIndex extra)
{
    if (extra <= fOut.capacity - fOut.length)
        return true;
    int64_t needed = static_cast<int64_t>(fOut.length) + extra;
    int64_t room = std::max<int64_t>({needed, 2 * static_cast<int64_t>(fOut.capacity), kFirstRoom});
    if (room > kMaxUnits)
        room = needed;
    if (room > kMaxUnits) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    // The string keeps only what its length says: tell it first.
    fOut.text.Validate(fOut.length);
    if (!fOut.text._ReallocBuffer(static_cast<VIndex>(room), true))
        return false;
    fOut.units = fOut.text.GetCPointerForWrite();
    fOut.capacity = fOut.text.GetCapacity();
    return true;
}

bool VJSONWriter::_AppendASCII(const char* text, VIndex length)
{
    if (!_Reserve(length))
        return false;
    for (VIndex i = 0; i < length; ++i)
        fOut.units[fOut.length + i] = static_cast<UniChar>(text[i]);
    fOut.length += length;
    return true;
}

bool VJSONWriter::_AppendNumber(double number)
{
    char digits[VReal::kRealTextRoom] = {};
    const VIndex length = static_cast<VIndex>(VReal::RealToJSONChars(number, digits));
#if defined(__SSE2__)
    // Numbers fill documents such as coordinate lists: widen the whole
    // buffer in four stores and let the length say what counts.
    if (fOut.capacity - fOut.length >= static_cast<VIndex>(sizeof(digits))) {
        const __m128i zero = _mm_setzero_si128();
        UniChar* at = fOut.units + fOut.length;
        for (size_t i = 0; i < sizeof(digits); i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(digits + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at + i), _mm_unpacklo_epi8(bytes, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at + i + 8), _mm_unpackhi_epi8(bytes, zero));
        }
        fOut.length += length;
        return true;
    }
#endif
    return _AppendASCII(digits, length);
}

bool VJSONWriter::_AppendUnits(const UniChar* units, VIndex n)
{
    if (!_Reserve(n))
        return false;
    std::copy_n(units, n, fOut.units + fOut.length);
    fOut.length += n;
    return true;
}

bool VJSONWriter::_AppendIndent() { return _AppendUnits(fIndent.GetCPointer(), fIndent.GetLength()); }

void VJSONWriter::_Finish(VString& out)
{
    fOut.text.Validate(fOut.length);
    out = std::move(fOut.text);
    fOut = Output();
}

// --- entry points ---

template <class Container>
VError VJSONWriter::_Stringify(const Container* container, VString& out)
{
    // A nested call (an implemented object writing its parts) gets its own
    // buffer; the enclosing text is put back afterwards.
    Output enclosing = std::move(fOut);
    fOut = Output();
    VError err = 0;
    if constexpr (std::is_same_v<Container, VJSONValue>)
        err = _WriteValue(*container);
    else if constexpr (std::is_same_v<Container, VJSONObject>)
        err = _WriteObject(container);
    else
        err = _WriteArray(container);
    if (err == 0)
        _Finish(out);
    else
        out.Clear();
    fOut = std::move(enclosing);
    return err;
}

VError VJSONWriter::StringifyValue(const VJSONValue& value, VString& out) { return _Stringify(&value, out); }

VError VJSONWriter::StringifyObject(const VJSONObject* object, VString& out) { return _Stringify(object, out); }

VError VJSONWriter::StringifyArray(const VJSONArray* array, VString& out) { return _Stringify(array, out); }

VError VJSONWriter::StringifyValueToFile(IFile* file, const VJSONValue& value, uint32_t flags)
{
    if (file == nullptr)
        return 0;
    VJSONWriter writer(flags);
    VString text;
    VError err = writer.StringifyValue(value, text);
    if (err != 0)
        return err;
    return file->SetContentAsString(text, VTC_UTF_8, eCRM_NONE, false);
}

// --- values ---

VError VJSONWriter::_WriteString(const UniChar* units, VIndex length)
{
    int64_t room = JSONEscapedRoom(length);
    if (room > kMaxUnits)
        return _ThrowError(VE_STRING_ALLOC_FAILED);
    if (!_Reserve(static_cast<VIndex>(room)))
        return VE_STRING_ALLOC_FAILED;
    fOut.length += WriteJSONEscaped(units, length, fOut.units + fOut.length, fFlags);
    return 0;
}

VError VJSONWriter::_WriteDate(const VJSONValue& value)
{
    int16_t year = 0, month = 0, day = 0;
    value.GetDate(&year, &month, &day);
    VTime time;
    if (fFlags & kFlag_LocalDates)
        time.FromLocalTime(year, month, day, 0, 0, 0, 0);
    else
        time.FromUTCTime(year, month, day, 0, 0, 0, 0);
    VString text;
    time.GetJSONString(text, fFlags);
    // The time writer has escaped and quoted it already.
    return _AppendUnits(text.GetCPointer(), text.GetLength()) ? 0 : VE_STRING_ALLOC_FAILED;
}

VError VJSONWriter::_WriteValue(const VJSONValue& value)
{
    bool written = true;
    switch (value.GetType()) {
        case JSON_null:
        case JSON_undefined:
            written = _AppendASCII("null", 4);
            break;
        case JSON_false:
            written = _AppendASCII("false", 5);
            break;
        case JSON_true:
            written = _AppendASCII("true", 4);
            break;
        case JSON_string: {
            const VInlineString& text = value.GetInlineString();
            return _WriteString(text.GetCPointer(), text.GetLength());
        }
        case JSON_number:
            written = _AppendNumber(value.GetNumber());
            break;
        case JSON_object:
            return _WriteObject(value.GetObject());
        case JSON_array:
            return _WriteArray(value.GetArray());
        case JSON_date:
            return _WriteDate(value);
        default:
            break;
    }
    return written ? 0 : VE_STRING_ALLOC_FAILED;
}

VError VJSONWriter::_CheckStack()
{
    if (VTaskMgr::Get()->GetCurrentFreeStackSize() < kMinFreeStack)
        return _ThrowError(VE_STACK_TOO_SMALL);
    return 0;
}

bool VJSONWriter::_OnPath(const void* container) const
{
    return std::find(fPath.begin(), fPath.end(), container) != fPath.end();
}

void VJSONWriter::_Close(char bracket, bool stopped)
{
    if (fFlags & kFlag_Indented)
        _AppendIndent();
    if (!stopped) {
        if (_Reserve(1))
            _Append(bracket);
    } else if (!fEllipsisWritten) {
        _AppendASCII("...", 3);
        fEllipsisWritten = true;
    }
}

VError VJSONWriter::_WriteArray(const VJSONArray* array)
{
    if (array == nullptr)
        return _AppendASCII("undefined", 9) ? 0 : VE_STRING_ALLOC_FAILED;
    // A plain array of this task is read in place; a shared one gives copies
    // taken under its lock.
    const bool inPlace = !array->IsSharedGraph();
    size_t count = inPlace ? array->GetValueCount() : array->GetCount();
    if (count == 0)
        return _AppendASCII("[]", 2) ? 0 : VE_STRING_ALLOC_FAILED;
    if (_OnPath(array))
        return _ThrowError(VE_JSON_CYCLE);
    VError err = _CheckStack();
    if (err != 0)
        return err;
    fPath.push_back(array);
    IncrementLevel();
    const bool indented = (fFlags & kFlag_Indented) != 0;
    const bool shortForm = (fFlags & kFlag_ShortForm) != 0;
    bool stopped = false;
    if (!_AppendASCII("[", 1))
        err = VE_STRING_ALLOC_FAILED;
    for (size_t i = 0; i < count && err == 0; ++i) {
        if (i > 0 && !_AppendASCII(",", 1)) {
            err = VE_STRING_ALLOC_FAILED;
            break;
        }
        VIndex partStart = fOut.length;
        if (indented && !_AppendIndent()) {
            err = VE_STRING_ALLOC_FAILED;
            break;
        }
        if (inPlace)
            err = _WriteValue(i < array->GetValueCount() ? array->GetValueAt(i) : VJSONValue::sUndefined);
        else
            err = _WriteValue(array->GetAt(i));
        if (err == 0 && shortForm) {
            if (fCount > kShortFormLimit)
                stopped = true;
            else
                fCount += static_cast<uint32_t>(fOut.length - partStart);
        }
        if (stopped)
            break;
    }
    DecrementLevel();
    fPath.pop_back();
    if (err == 0)
        _Close(']', stopped);
    return err;
}

VError VJSONWriter::_WriteObject(const VJSONObject* object)
{
    if (object == nullptr)
        return _AppendASCII("undefined", 9) ? 0 : VE_STRING_ALLOC_FAILED;
    if (_OnPath(object)) {
        if (fFlags & kFlag_CircularText)
            return _AppendASCII("\"[circular]\"", 12) ? 0 : VE_STRING_ALLOC_FAILED;
        return _ThrowError(VE_JSON_CYCLE);
    }
    if ((fFlags & kFlag_RefuseRepeated) && !fWritten.insert(object).second)
        return _ThrowError(VE_JSON_OBJECT_WRITTEN_TWICE);
    VError err = _CheckStack();
    if (err != 0)
        return err;
    fPath.push_back(object);
    err = _WriteObjectOnPath(object);
    fPath.pop_back();
    return err;
}

VError VJSONWriter::_WriteObjectOnPath(const VJSONObject* object)
{
    if ((fFlags & kFlag_OnlyGenericObjects) && !object->IsGenericObject())
        return _ThrowError(VE_JSON_NOT_GENERIC_OBJECT);
    IJSONObject* implementation = object->GetImplementation();
    if (implementation != nullptr) {
        if ((fFlags & kFlag_RefuseBinaryObjects) && implementation->IJSON_GetBinarySignature(object) != 0)
            return _ThrowError(VE_JSON_BINARY_OBJECT_REFUSED);
        VString text;
        VError err = 0;
        EJSONStatus status = implementation->IJSON_Stringify(object, this, text, &err);
        if (status != eJSON_notHandled || err != 0) {
            if (err == 0 && !_AppendUnits(text.GetCPointer(), text.GetLength()))
                err = VE_STRING_ALLOC_FAILED;
            return err;
        }
    }
    if (object->IsEmpty())
        return _AppendASCII("{}", 2) ? 0 : VE_STRING_ALLOC_FAILED;

    IncrementLevel();
    VError err = _AppendASCII("{", 1) ? 0 : VE_STRING_ALLOC_FAILED;
    bool stopped = false;
    // A plain object of this task is read in place; the iterator takes a
    // snapshot (or reads a shared tree under its lock) and lists the names an
    // implementation or the class's getters add.
    const VJSONClass* cls = object->GetClass();
    if (implementation == nullptr && !object->IsShared() && (cls == nullptr || !cls->HasGetters())) {
        const size_t count = object->GetPropertyCount();
        for (size_t i = 0; i < count && err == 0 && !stopped; ++i)
            err = _WriteMember(i == 0, object->GetNameAt(i), object->GetValueAt(i), &stopped);
    } else {
        bool first = true;
        for (VJSONPropertyConstOrderedIterator i(object, 0); i.IsValid() && err == 0 && !stopped; ++i) {
            err = _WriteMember(first, i.GetName(), i.GetValue(fLanguageContext), &stopped);
            first = false;
        }
    }
    DecrementLevel();
    if (err == 0)
        _Close('}', stopped);
    return err;
}

VError VJSONWriter::_WriteMember(bool first, const VString& name, const VJSONValue& value, bool* stopped)
{
    if (!first && !_AppendASCII(",", 1))
        return VE_STRING_ALLOC_FAILED;
    VIndex partStart = fOut.length;
    const bool indented = (fFlags & kFlag_Indented) != 0;
    if (indented && !_AppendIndent())
        return VE_STRING_ALLOC_FAILED;
    VError err = _WriteString(name.GetCPointer(), name.GetLength());
    if (err == 0 && !(indented ? _AppendASCII(": ", 2) : _AppendASCII(":", 1)))
        err = VE_STRING_ALLOC_FAILED;
    if (err == 0)
        err = _WriteValue(value);
    if (err == 0 && (fFlags & kFlag_ShortForm)) {
        if (fCount > kShortFormLimit)
            *stopped = true;
        else
            fCount += static_cast<uint32_t>(fOut.length - partStart);
    }
    return err;
}

}  // namespace bkit
