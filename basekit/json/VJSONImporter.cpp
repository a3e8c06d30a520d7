// VJSONImporter.cpp - the JSON text reader: tokens, values, errors.
#include "basekit/json/VJSONImporter.h"

#include <charconv>
#include <cstring>

#include "basekit/bags/VValueBag.h"
#include "basekit/files/IFile.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONBinary.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VStorageLocker.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/text/HexDigits.h"
#include "basekit/values/VScalars.h"
#include "basekit/values/VTime.h"

namespace bkit {

const VString VJSONImporter::sNameOfThePropertyWithPathsAndLines("__symbols");
const VString VJSONImporter::sLineKey("line");
const VString VJSONImporter::sOffsetKey("offset");
const VString VJSONImporter::sFakeArrayElementKey("____FakeArrayElement");

namespace {

// The "expected" texts of error reports.
constexpr const char* kExpectedValue = "\" 0-9 null true false { [";
constexpr const char* kExpectedElement = "\" 0-9 null true false { [ ]";
constexpr const char* kExpectedNumber = "+- 0-9 eE";

// Below this much free stack the reader refuses to go one level deeper, so
// that a thread with a small stack fails cleanly before kMaxDepth.
constexpr size_t kMinFreeStack = 32 * 1024;

constexpr UniChar kUnicodeMinus = 0x2212;

bool IsDigit(UniChar c) { return c >= u'0' && c <= u'9'; }

// A view of units as a string, without copying them. The units must outlive
// the view; whoever keeps the text copies it.
VString View(const UniChar* units, VIndex length)
{
    return VString(const_cast<UniChar*>(units), length, VString::kConstantText);
}

bool SameWord(const UniChar* p, VIndex n, const char* word)
{
    for (VIndex i = 0; i < n; ++i) {
        if (word[i] == 0 || p[i] != static_cast<UniChar>(word[i]))
            return false;
    }
    return word[n] == 0;
}

// The number grammar of bare words: -? (0 | digits)? (. digits+)? ([eE] [+-U+2212]? digits+)?
// and nothing else. The integer part may be empty (so "-" and "-.5" pass).
bool IsNumberWord(const UniChar* p, const UniChar* end)
{
    if (p < end && *p == u'-')
        ++p;
    if (p < end && *p == u'0') {
        ++p;
    } else {
        while (p < end && IsDigit(*p))
            ++p;
    }
    if (p < end && *p == u'.') {
        ++p;
        if (p == end || !IsDigit(*p))
            return false;
        while (p < end && IsDigit(*p))
            ++p;
    }
    if (p < end && (*p == u'e' || *p == u'E')) {
        ++p;
        if (p < end && (*p == u'+' || *p == u'-' || *p == kUnicodeMinus))
            ++p;
        if (p == end || !IsDigit(*p))
            return false;
        while (p < end && IsDigit(*p))
            ++p;
    }
    return p == end;
}

// The value of a word that passed IsNumberWord, as the string reader gives it.
// Plain ASCII words are read here without building a string; a word that the
// fast reader cannot take whole (out of range, U+2212, "-", "-.5") goes to
// the string reader itself, so both always agree.
double NumberValue(const UniChar* p, const UniChar* end)
{
    char buffer[64];
    size_t n = static_cast<size_t>(end - p);
    if (n < sizeof(buffer)) {
        bool ascii = true;
        for (size_t i = 0; i < n; ++i) {
            if (p[i] >= 0x80) {
                ascii = false;
                break;
            }
            buffer[i] = static_cast<char>(p[i]);
        }
        if (ascii) {
            double value = 0;
            auto result = std::from_chars(buffer, buffer + n, value);
            if (result.ec == std::errc() && result.ptr == buffer + n)
                return value;
        }
    }
    return View(p, static_cast<VIndex>(n)).GetReal();
}

// The date a text names, or false.
bool DateFromText(const VString& text, VJSONValue& out)
{
    VTime time;
    time.FromXMLString(text);
    if (time.IsNull()) {
        out.SetNull();
        return true;
    }
    out.SetDate(time.GetYear(), time.GetMonth(), time.GetDay());
    return true;
}

}  // namespace

VJSONImporter::VJSONImporter(const VString& text, uint32_t options)
    : fText(text), fOptions(options)
{
    fBegin = fText.GetCPointer();
    fEnd = fBegin + fText.GetLength();
    fCur = fBegin;
    fTokenStart = fBegin;
    fLineStart = fBegin;
    fLineScan = fBegin;
    if (fOptions & kOption_RecordPositions)
        fPositions = new VJSONObject();
}

VJSONImporter::~VJSONImporter()
{
    if (fPositions)
        fPositions->Release();
}

const char* VJSONImporter::_TokenToString(JsonToken token)
{
    switch (token) {
        case jsonNone: return "";
        case jsonBeginObject: return "{";
        case jsonEndObject: return "}";
        case jsonBeginArray: return "[";
        case jsonEndArray: return "]";
        case jsonSeparator: return ",";
        case jsonAssigne: return ":";
        case jsonString: return "\"";
        default: return "!";
    }
}

// --- tokens ---

VJSONImporter::JsonToken VJSONImporter::_ReadToken(VError* error)
{
    const UniChar* p = fCur;
    while (p < fEnd && *p < 33)
        ++p;
    fTokenStart = p;
    if (p == fEnd) {
        fCur = p;
        return jsonNone;
    }
    switch (*p) {
        case u'{': fCur = p + 1; return jsonBeginObject;
        case u'}': fCur = p + 1; return jsonEndObject;
        case u'[': fCur = p + 1; return jsonBeginArray;
        case u']': fCur = p + 1; return jsonEndArray;
        case u',': fCur = p + 1; return jsonSeparator;
        case u':': fCur = p + 1; return jsonAssigne;
        case u'"': return _ReadQuoted(p + 1, error);
        default: return _ReadWord(p);
    }
}

VJSONImporter::JsonToken VJSONImporter::_ReadQuoted(const UniChar* p, VError* error)
{
    fQuoted = true;
    const UniChar* const end = fEnd;
    const UniChar* start = p;
    // Most strings have no escape: they stay a view of the source.
    while (p < end && *p != u'"' && *p != u'\\' && *p != 0)
        ++p;
    if (p < end && *p == u'"') {
        fWordBegin = start;
        fWordEnd = p;
        fDecoded = false;
        fCur = p + 1;
        return jsonString;
    }
    fDecoded = true;
    fScratch.assign(start, p);
    while (p < end) {
        UniChar c = *p;
        if (c == u'"') {
            fCur = p + 1;
            return jsonString;
        }
        if (c == 0) {
            ++p;
        } else if (c == u'\\') {
            if (end - p < 2)
                break;
            UniChar e = p[1];
            p += 2;
            switch (e) {
                case u'b': fScratch += UniChar(8); break;
                case u'f': fScratch += UniChar(12); break;
                case u'n': fScratch += UniChar(10); break;
                case u'r': fScratch += UniChar(13); break;
                case u't': fScratch += UniChar(9); break;
                case u'u': {
                    if (end - p < 4) {
                        p = end;
                        break;
                    }
                    uint32_t value = 0;
                    for (int k = 0; k < 4; ++k) {
                        int digit = HexDigitValue(p[k]);
                        if (digit >= 0)
                            value = (value << 4) | static_cast<uint32_t>(digit);
                    }
                    fScratch += static_cast<UniChar>(value);
                    p += 4;
                    break;
                }
                default: fScratch += e; break;
            }
        } else {
            const UniChar* run = p;
            while (p < end && *p != u'"' && *p != u'\\' && *p != 0)
                ++p;
            fScratch.append(run, p);
        }
    }
    // End of text before the closing quote.
    fCur = end;
    if ((fOptions & kOption_Strict) && error != nullptr) {
        *error = _ThrowWithToken(VE_JSON_UNTERMINATED_STRING, "\"");
        return jsonNone;
    }
    return jsonString;
}

VJSONImporter::JsonToken VJSONImporter::_ReadWord(const UniChar* p)
{
    fQuoted = false;
    fDecoded = false;
    fWordBegin = p;
    const UniChar* const end = fEnd;
    while (p < end) {
        UniChar c = *p;
        if (c < 33) {
            fWordEnd = p;
            fCur = p + 1;
            return jsonString;
        }
        if (c == u'"' || c == u',' || c == u':' || c == u'[' || c == u']' || c == u'{' || c == u'}')
            break;
        ++p;
    }
    fWordEnd = p;
    fCur = p;
    return jsonString;
}

const UniChar* VJSONImporter::_TokenText(VIndex* length) const
{
    if (fDecoded) {
        *length = static_cast<VIndex>(fScratch.size());
        return reinterpret_cast<const UniChar*>(fScratch.data());
    }
    *length = static_cast<VIndex>(fWordEnd - fWordBegin);
    return fWordBegin;
}

VJSONImporter::JsonToken VJSONImporter::GetNextJSONToken(VString& text, bool* isQuoted, VError* error)
{
    JsonToken token = _ReadToken(error);
    if (token == jsonString) {
        VIndex length = 0;
        const UniChar* units = _TokenText(&length);
        text.FromUniString(units, length);
        if (isQuoted)
            *isQuoted = fQuoted;
    } else {
        text.Clear();
        if (isQuoted)
            *isQuoted = false;
    }
    return token;
}

VJSONImporter::JsonToken VJSONImporter::GetNextJSONToken(VError* error) { return _ReadToken(error); }

void VJSONImporter::_GetStartTokenFirstChar(VString& out) const
{
    if (fTokenStart < fEnd)
        out.FromUniChar(*fTokenStart);
    else
        out.Clear();
}

// --- errors ---

VError VJSONImporter::_ThrowPlace()
{
    // Lines counted as the larger of the LF and CR counts, so that LF, CR and
    // CR LF texts all number their lines alike.
    uint32_t lf = 0;
    uint32_t cr = 0;
    const UniChar* afterLF = fBegin;
    const UniChar* afterCR = fBegin;
    for (const UniChar* p = fBegin; p < fTokenStart; ++p) {
        if (*p == u'\n') {
            ++lf;
            afterLF = p + 1;
        } else if (*p == u'\r') {
            ++cr;
            afterCR = p + 1;
        }
    }
    const UniChar* lineStart = (lf > cr) ? afterLF : afterCR;
    StThrowError<> err(VE_JSON_MALFORMED);
    VString source(fSourceName);
    if (!source.IsEmpty())
        source.AppendCString(", ");
    err->SetString("source", source);
    err->SetLong("line", static_cast<int32_t>(1 + (lf > cr ? lf : cr)));
    err->SetLong("position", static_cast<int32_t>(1 + (fTokenStart - lineStart)));
    return VE_JSON_MALFORMED;
}

VError VJSONImporter::_ThrowInvalid(const VString& found, const char* expected)
{
    if (fOptions & kOption_NoInvalidTokenErrors)
        return VE_JSON_MALFORMED;
    {
        StThrowError<> err(found.IsEmpty() ? VE_JSON_INVALID_TOKEN_AT_END : VE_JSON_INVALID_TOKEN);
        err->SetString("found", found);
        err->SetString("expected", VString(expected));
    }
    return _ThrowPlace();
}

VError VJSONImporter::_ThrowInvalid(const char* found, const char* expected)
{
    return _ThrowInvalid(VString(found), expected);
}

VError VJSONImporter::_ThrowWithToken(VError code, const char* token)
{
    {
        StThrowError<> err(code);
        err->SetString("token", VString(token));
    }
    return _ThrowPlace();
}

// --- positions ---

void VJSONImporter::_AdvanceLines(const UniChar* upTo)
{
    // A line ends at LF, or at a CR that no LF follows.
    for (const UniChar* p = fLineScan; p < upTo; ++p) {
        if (*p == u'\n' || (*p == u'\r' && (p + 1 >= fEnd || p[1] != u'\n'))) {
            ++fLine;
            fLineStart = p + 1;
        }
    }
    if (upTo > fLineScan)
        fLineScan = upTo;
}

void VJSONImporter::_RecordPosition(const VString& path, const UniChar* at)
{
    _AdvanceLines(at);
    VJSONObject* place = new VJSONObject();
    place->SetProperty(sLineKey, VJSONValue(static_cast<double>(fLine)));
    place->SetProperty(sOffsetKey, VJSONValue(static_cast<double>(at - fLineStart)));
    fPositions->SetProperty(path, VJSONValue(place));
    place->Release();
}

void VJSONImporter::SetPathLineForEncompasingObject()
{
    if (fPositions == nullptr)
        return;
    // The character just read: the one before the cursor.
    const UniChar* at = (fCur > fBegin) ? fCur - 1 : fBegin;
    _RecordPosition(VString("}"), at);
}

// --- values ---

void VJSONImporter::_Share(VJSONContainer* container)
{
    if (!(fOptions & kOption_SharedStorage))
        return;
    if (!fLocker)
        fLocker = VRefPtr<VStorageLocker>::Adopt(new VStorageLocker());
    container->SetStorageLocker(fLocker.Get());
}

bool VJSONImporter::_EnterContainer(uint32_t depth, JsonToken token, VError* error)
{
    if (depth < kMaxDepth && VTaskMgr::Get()->GetCurrentFreeStackSize() >= kMinFreeStack)
        return true;
    *error = _ThrowInvalid(_TokenToString(token), "\" 0-9 null true false");
    return false;
}

void VJSONImporter::_MakeString(VJSONValue& out)
{
    VIndex length = 0;
    const UniChar* units = _TokenText(&length);
    if (length == 0) {
        out = VJSONValue(JSON_string);
        return;
    }
    if (fOptions & (kOption_MarkedDates | kOption_ISODates)) {
        VString text = View(units, length);
        if (fOptions & kOption_MarkedDates) {
            if (fOptions & kOption_NonAmbiguousDates) {
                if (text.IsNonAmbigousDate() && DateFromText(text, out))
                    return;
            } else if (length >= 4 && units[0] == u'!' && units[1] == u'!' && units[length - 2] == u'!' &&
                       units[length - 1] == u'!') {
                if (DateFromText(View(units + 2, length - 4), out))
                    return;
            }
        }
        if ((fOptions & kOption_ISODates) && text.IsISODate() && DateFromText(text, out))
            return;
    }
    // A view: the value takes a counted copy of the units, one block.
    out.SetString(View(units, length));
}

const VString& VJSONImporter::_Name(const UniChar* units, VIndex length)
{
    constexpr VIndex kMaxCachedLength = 32;
    constexpr uint32_t kSlots = 512;
    if (length > kMaxCachedLength) {
        fLongName.FromUniString(units, length);
        return fLongName;
    }
    if (!fNames)
        fNames = std::make_unique<VString[]>(kSlots);
    uint32_t hash = 2166136261u;
    for (VIndex i = 0; i < length; ++i)
        hash = (hash ^ units[i]) * 16777619u;
    VString& slot = fNames[(hash ^ (hash >> 15)) & (kSlots - 1)];
    if (slot.GetLength() != length || std::memcmp(slot.GetCPointer(), units, static_cast<size_t>(length) * 2) != 0)
        slot.FromUniString(units, length);
    return slot;
}

VError VJSONImporter::_ParseWord(VJSONValue& out, const char* expected)
{
    if (fQuoted) {
        _MakeString(out);
        return 0;
    }
    const UniChar* p = fWordBegin;
    const UniChar* end = fWordEnd;
    VIndex n = static_cast<VIndex>(end - p);
    if (SameWord(p, n, "true")) {
        out.SetBool(true);
        return 0;
    }
    if (SameWord(p, n, "false")) {
        out.SetBool(false);
        return 0;
    }
    if (SameWord(p, n, "null")) {
        out.SetNull();
        return 0;
    }
    if (*p == u'-' || IsDigit(*p)) {
        if (!IsNumberWord(p, end))
            return _ThrowInvalid(View(p, n), kExpectedNumber);
        out.SetNumber(NumberValue(p, end));
        return 0;
    }
    if (fOptions & kOption_Strict)
        return _ThrowInvalid(View(p, n), expected);
    _MakeString(out);
    return 0;
}

VError VJSONImporter::_ParseValue(JsonToken token, VJSONValue& out, const char* expected, uint32_t depth)
{
    switch (token) {
        case jsonBeginObject:
            return _ParseObject(out, depth);
        case jsonBeginArray:
            return _ParseArray(out, depth);
        case jsonString:
            return _ParseWord(out, expected);
        default:
            return _ThrowInvalid(_TokenToString(token), kExpectedValue);
    }
}

VError VJSONImporter::_ParseObject(VJSONValue& out, uint32_t depth)
{
    VError err = 0;
    if (!_EnterContainer(depth, jsonBeginObject, &err))
        return err;
    VJSONObject* object = new VJSONObject();
    out.SetObject(object);
    object->Release();
    const bool recording = fPositions != nullptr;
    VString outerPath;
    if (recording)
        outerPath = fPath;
    while (err == 0) {
        JsonToken token = _ReadToken(&err);
        if (err != 0)
            break;
        if (token == jsonEndObject) {
            if (!object->IsEmpty())
                err = _ThrowWithToken(VE_JSON_EXTRA_COMMA, "}");
            break;
        }
        if (token != jsonString) {
            err = _ThrowInvalid(_TokenToString(token), object->IsEmpty() ? "\" }" : "\"");
            break;
        }
        VIndex nameLength = 0;
        const UniChar* nameUnits = _TokenText(&nameLength);
        if (!fQuoted && (fOptions & kOption_Strict)) {
            err = _ThrowInvalid(View(nameUnits, nameLength), "\"");
            break;
        }
        // A name with escapes lives in the scratch, which the value's token
        // reuses: keep a copy. Other names are units of the text itself.
        VString decodedName;
        if (fDecoded) {
            decodedName.FromUniString(nameUnits, nameLength);
            nameUnits = decodedName.GetCPointer();
        }
        if (recording) {
            fPath = outerPath;
            if (!fPath.IsEmpty() && (nameLength == 0 || nameUnits[0] != u'['))
                fPath.AppendUniChar(u'.');
            fPath.AppendUniChars(nameUnits, nameLength);
            _RecordPosition(fPath, fTokenStart);
        }
        token = _ReadToken(&err);
        if (err != 0)
            break;
        if (token != jsonAssigne) {
            VString found;
            _GetStartTokenFirstChar(found);
            err = _ThrowInvalid(found, ":");
            break;
        }
        VJSONValue value;
        token = _ReadToken(&err);
        if (err == 0)
            err = _ParseValue(token, value, kExpectedValue, depth + 1);
        if (!value.IsUndefined())
            object->SetProperty(_Name(nameUnits, nameLength), value);
        if (err != 0)
            break;
        token = _ReadToken(&err);
        if (err != 0 || token == jsonEndObject)
            break;
        if (token != jsonSeparator)
            err = _ThrowInvalid(_TokenToString(token), "} ,");
    }
    if (recording)
        fPath = outerPath;
    _Share(object);
    if (err == 0)
        err = ReviveBinaryObject(out);
    return err;
}

const VString& VJSONImporter::PrivateBinaryObjectName()
{
    static const VString sName("__PRIVATE_BINARY_OBJECT");
    return sName;
}

VError VJSONImporter::ReviveBinaryObject(VJSONValue& value)
{
    VJSONObject* object = value.GetObject();
    if (object == nullptr)
        return 0;
    VJSONValue text = object->GetOwnProperty(PrivateBinaryObjectName());
    if (!text.IsString())
        return 0;
    VString base64;
    text.GetString(base64);
    VJSONValue revived;
    VError err = DecodeBinaryObject(base64, revived);
    if (err == 0)
        value = revived;
    return err;
}

VError VJSONImporter::DecodeBinaryObject(const VString& base64, VJSONValue& out)
{
    VMemoryBuffer<> bytes;
    // The decoder has raised its own error ('bkit' 210 or 100).
    if (!base64.DecodeBase64(bytes))
        return MakeBKitError(210);
    VJSONBinaryImporter importer(bytes.GetDataPtr(), bytes.GetDataSize());
    return importer.GetValue(out);
}

VError VJSONImporter::_ParseArray(VJSONValue& out, uint32_t depth)
{
    VError err = 0;
    if (!_EnterContainer(depth, jsonBeginArray, &err))
        return err;
    VJSONArray* array = new VJSONArray();
    out.SetArray(array);
    array->Release();
    const bool recording = fPositions != nullptr;
    VString savedPath;
    if (recording)
        savedPath = fPath;
    for (uint32_t index = 0; err == 0; ++index) {
        if (recording) {
            fPath = savedPath;
            fPath.AppendUniChar(u'[').AppendULong8(index).AppendUniChar(u']');
        }
        JsonToken token = _ReadToken(&err);
        if (err != 0)
            break;
        if (recording && (token == jsonBeginObject || token == jsonBeginArray || token == jsonString))
            _RecordPosition(fPath, fTokenStart);
        VJSONValue value;
        if (token == jsonEndArray) {
            if (!array->IsEmpty())
                err = _ThrowWithToken(VE_JSON_EXTRA_COMMA, "]");
            break;
        } else if (token == jsonBeginObject) {
            err = _ParseObject(value, depth + 1);
        } else if (token == jsonBeginArray) {
            err = _ParseArray(value, depth + 1);
        } else if (token == jsonString) {
            err = _ParseWord(value, kExpectedElement);
        } else {
            err = _ThrowInvalid(_TokenToString(token), array->IsEmpty() ? kExpectedElement : kExpectedValue);
            break;
        }
        if (!value.IsUndefined())
            array->Push(value);
        if (err != 0)
            break;
        token = _ReadToken(&err);
        if (err != 0 || token == jsonEndArray)
            break;
        if (token != jsonSeparator) {
            VString found;
            _GetStartTokenFirstChar(found);
            err = _ThrowInvalid(found, "] ,");
        }
    }
    if (recording)
        fPath = savedPath;
    _Share(array);
    return err;
}

VError VJSONImporter::Parse(VJSONValue& out)
{
    out.SetUndefined();
    VError err = 0;
    JsonToken token = _ReadToken(&err);
    if (err == 0)
        err = _ParseValue(token, out, kExpectedValue, 0);
    if (err == 0 && out.IsObject())
        SetPathLineForEncompasingObject();
    if (err != 0 && (fOptions & kOption_UndefinedOnError))
        out.SetUndefined();
    return err;
}

VError VJSONImporter::ParseString(const VString& text, VJSONValue& out, uint32_t options)
{
    VJSONImporter importer(text, options);
    return importer.Parse(out);
}

VError VJSONImporter::ParseFile(IFile* file, VJSONValue& out, uint32_t options)
{
    if (file == nullptr) {
        out.SetUndefined();
        return 0;
    }
    VString path;
    file->GetPlatformPath(path, FPS_POSIX);
    VString text;
    VError err = file->GetContentAsString(text, VTC_UTF_8, eCRM_NONE);
    if (err != 0) {
        out.SetUndefined();
        return err;
    }
    VJSONImporter importer(text, options);
    importer.SetSourceName(path);
    return importer.Parse(out);
}

// --- bags ---

VValueSingle* VJSONImporter::_BagScalar(bool asAttribute, VError* error)
{
    VIndex n = 0;
    const UniChar* p = _TokenText(&n);
    const VString text(p, n);
    if (fQuoted) {
        const bool isDate = (fOptions & kOption_NonAmbiguousDates) ? text.IsNonAmbigousDate() : text.IsISODate();
        if (asAttribute && isDate) {
            VTime* time = new VTime();
            time->FromXMLString(text);
            return time;
        }
        return new VString(text);
    }
    if (SameWord(p, n, "null"))
        return new VString(true);
    if (SameWord(p, n, "true") || SameWord(p, n, "false"))
        return new VBoolean(SameWord(p, n, "true"));
    if (n > 0 && IsNumberWord(p, p + n)) {
        bool real = false;
        for (VIndex i = 0; i < n; ++i)
            real = real || p[i] == u'.' || p[i] == u'e' || p[i] == u'E';
        if (real)
            return new VReal(NumberValue(p, p + n));
        return new VLong8(text.GetLong8());
    }
    // Other bare words: text, as the plain reader gives them, unless strict.
    if (fOptions & kOption_Strict) {
        *error = _ThrowInvalid(text, kExpectedValue);
        return nullptr;
    }
    return new VString(text);
}

VError VJSONImporter::_ArrayToBag(VValueBag& bag, const StPackedDictionaryKey& name, uint32_t depth)
{
    VError err = 0;
    if (!_EnterContainer(depth, jsonBeginArray, &err))
        return err;
    bool empty = true;
    while (err == 0) {
        JsonToken token = _ReadToken(&err);
        if (err != 0)
            break;
        if (token == jsonEndArray) {
            if (!empty)
                err = _ThrowWithToken(VE_JSON_EXTRA_COMMA, "]");
            break;
        }
        VRefPtr<VValueBag> child = VRefPtr<VValueBag>::Adopt(new VValueBag());
        if (token == jsonBeginObject) {
            err = _ObjectToBag(*child, depth + 1);
        } else if (token == jsonString) {
            std::unique_ptr<VValueSingle> value(_BagScalar(false, &err));
            if (value)
                child->SetAttribute(VValueBagKeys::FakeArrayElement(), *value);
        } else {
            // An array directly inside an array has no bag form.
            err = _ThrowInvalid(_TokenToString(token), empty ? kExpectedElement : kExpectedValue);
            break;
        }
        bag.AddElement(name, child.Get());
        empty = false;
        if (err != 0)
            break;
        token = _ReadToken(&err);
        if (err != 0 || token == jsonEndArray)
            break;
        if (token != jsonSeparator) {
            VString found;
            _GetStartTokenFirstChar(found);
            err = _ThrowInvalid(found, "] ,");
        }
    }
    return err;
}

VError VJSONImporter::_ObjectToBag(VValueBag& bag, uint32_t depth)
{
    VError err = 0;
    if (!_EnterContainer(depth, jsonBeginObject, &err))
        return err;
    bool empty = true;
    while (err == 0) {
        JsonToken token = _ReadToken(&err);
        if (err != 0 || token == jsonNone)
            break;
        if (token == jsonEndObject) {
            if (!empty)
                err = _ThrowWithToken(VE_JSON_EXTRA_COMMA, "}");
            break;
        }
        if (token != jsonString || (!fQuoted && (fOptions & kOption_Strict))) {
            VIndex n = 0;
            const UniChar* p = _TokenText(&n);
            err = token == jsonString ? _ThrowInvalid(View(p, n), "\"")
                                      : _ThrowInvalid(_TokenToString(token), empty ? "\" }" : "\"");
            break;
        }
        VIndex nameLength = 0;
        const UniChar* nameUnits = _TokenText(&nameLength);
        const VString name(nameUnits, nameLength);
        token = _ReadToken(&err);
        if (err != 0)
            break;
        if (token != jsonAssigne) {
            VString found;
            _GetStartTokenFirstChar(found);
            err = _ThrowInvalid(found, ":");
            break;
        }
        token = _ReadToken(&err);
        if (err != 0)
            break;
        const StPackedDictionaryKey key(name);
        if (token == jsonBeginObject) {
            VRefPtr<VValueBag> child = VRefPtr<VValueBag>::Adopt(new VValueBag());
            child->SetBool(VValueBagKeys::ObjectUnic(), true);
            err = _ObjectToBag(*child, depth + 1);
            bag.AddElement(key, child.Get());
        } else if (token == jsonBeginArray) {
            err = _ArrayToBag(bag, key, depth + 1);
        } else if (token == jsonString && name == PrivateBinaryObjectName()) {
            VIndex n = 0;
            const UniChar* p = _TokenText(&n);
            VJSONValue revived;
            err = DecodeBinaryObject(VString(p, n), revived);
            if (err == 0)
                err = bag.FromJSONValue(revived);
        } else if (token == jsonString) {
            const bool isText = name == VString("__CDATA");
            std::unique_ptr<VValueSingle> value(_BagScalar(!isText, &err));
            if (value)
                bag.SetAttribute(isText ? VValueBag::CDataAttributeName() : key, *value);
        } else {
            err = _ThrowInvalid(_TokenToString(token), kExpectedValue);
        }
        empty = false;
        if (err != 0)
            break;
        token = _ReadToken(&err);
        if (err != 0 || token == jsonEndObject || token == jsonNone)
            break;
        if (token != jsonSeparator)
            err = _ThrowInvalid(_TokenToString(token), "} ,");
    }
    return err;
}

VError VJSONImporter::JSONObjectToBag(VValueBag& bag)
{
    VError err = 0;
    JsonToken token = _ReadToken(&err);
    if (err != 0)
        return err;
    if (token != jsonBeginObject)
        return _ThrowInvalid(_TokenToString(token), "{");
    return _ObjectToBag(bag, 0);
}

}  // namespace bkit
