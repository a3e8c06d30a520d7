// VJSONImporterValues.cpp - the JSON text reader: values, objects, arrays,
// dates, and the entry points over strings and files.
#include <charconv>
#include <cstring>
#include <optional>
#include <string>

#include "basekit/files/IFile.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONBinary.h"
#include "basekit/json/VJSONImporter.h"
#include "basekit/json/VJSONImporterScan.h"
#include "basekit/json/VJSONImporterWords.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VStorageLocker.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/values/VTime.h"

namespace bkit {

namespace json_reader {

// Plain decimals need no general conversion: an integer of up to 19 digits
// converts exactly rounded from 64 bits, and digits that fit in 53 bits over
// at most 22 decimals divide by an exact power of ten with one rounding, as a
// correctly rounded reader gives them. Other words are read here without
// building a string; one that the conversion cannot take whole (out of range,
// "-") gets the string reader's value.
double NumberValue(const UniChar* p, const UniChar* end, const NumberParts& parts)
{
    static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                              1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                              1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (parts.plain && parts.digits <= 19) {
        const bool negative = (*p == u'-');
        double value = static_cast<double>(parts.mantissa);
        if (parts.decimals == 0)
            return negative ? -value : value;
        if (parts.mantissa <= (uint64_t{1} << 53) && parts.decimals <= 22) {
            value /= kPowersOfTen[parts.decimals];
            return negative ? -value : value;
        }
    }
    // The grammar lets only ASCII and the exponent's U+2212 minus through,
    // and the string reader does not know that minus: it would drop the
    // exponent and read 1e\u22125 as 1. So the word goes to the conversion
    // as bytes with that minus made plain.
    const size_t n = static_cast<size_t>(end - p);
    char small[64];
    std::string large;
    char* bytes = small;
    if (n > sizeof(small)) {
        large.resize(n);
        bytes = large.data();
    }
    if (!NarrowASCII(p, n, bytes)) {
        for (size_t i = 0; i < n; ++i)
            bytes[i] = p[i] == kUnicodeMinus ? '-' : static_cast<char>(p[i]);
    }
    double value = 0;
    auto result = std::from_chars(bytes, bytes + n, value);
    if (result.ec == std::errc() && result.ptr == bytes + n)
        return value;
    // Out of range, or a word such as "-" that the grammar passes: the
    // string reader's value, of the plain bytes.
    const std::string plain(bytes, n);
    VString text;
    text.FromCString(plain.c_str());
    return text.GetReal();
}

}  // namespace json_reader

using namespace json_reader;

namespace {

// Below this much free stack the reader refuses to go one level deeper, so
// that a thread with a small stack fails cleanly before kMaxDepth.
constexpr size_t kMinFreeStack = 32 * 1024;

// out becomes the UTC day of the time a text names, null when it names none.
void DateFromText(const VString& text, VJSONValue& out)
{
    VTime time;
    time.FromXMLString(text);
    if (time.IsNull())
        out.SetNull();
    else
        out.SetDate(time.GetYear(), time.GetMonth(), time.GetDay());
}

}  // namespace

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
                if (text.IsNonAmbigousDate()) {
                    DateFromText(text, out);
                    return;
                }
            } else if (length >= 4 && units[0] == u'!' && units[1] == u'!' && units[length - 2] == u'!' &&
                       units[length - 1] == u'!') {
                DateFromText(View(units + 2, length - 4), out);
                return;
            }
        }
        if ((fOptions & kOption_ISODates) && text.IsISODate()) {
            DateFromText(text, out);
            return;
        }
    }
    constexpr VIndex kMaxSharedLength = 32;
    constexpr uint32_t kSlots = 1024;
    if (length > kMaxSharedLength) {
        // A view: the value takes a counted copy of the units, one block.
        out.SetString(View(units, length));
        return;
    }
    if (!fShortTexts)
        fShortTexts = std::make_unique<VJSONValue[]>(kSlots);
    VJSONValue& slot = fShortTexts[VJSONObject::HashName(units, static_cast<size_t>(length)) & (kSlots - 1)];
    if (slot.IsString()) {
        const VInlineString& known = slot.GetInlineString();
        if (known.GetLength() == length &&
            std::memcmp(known.GetCPointer(), units, static_cast<size_t>(length) * sizeof(UniChar)) == 0) {
            out.SetString(known);
            return;
        }
    }
    out.SetString(View(units, length));
    if (out.IsString())
        slot.SetString(out.GetInlineString());
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
    if (*p == u'-' || IsDigit(*p)) {
        NumberParts parts;
        if (!ScanNumberWord(p, end, parts))
            return _ThrowInvalid(View(p, n), kExpectedNumber);
        out.SetNumber(NumberValue(p, end, parts));
        return 0;
    }
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
    if (fOptions & kOption_Strict)
        return _ThrowInvalid(View(p, n), expected);
    _MakeString(out);
    return 0;
}

VError VJSONImporter::_ParseValue(JsonToken token, VJSONValue& out, const char* expected, uint32_t depth)
{
    switch (token) {
        case jsonBeginObject:
            return _ParseObject(out, depth, true);
        case jsonBeginArray:
            return _ParseArray(out, depth);
        case jsonString:
            return _ParseWord(out, expected);
        default:
            return _ThrowInvalid(_TokenToString(token), kExpectedValue);
    }
}

bool VJSONImporter::_ReadColon(VError* error)
{
    JsonToken token = _ReadToken(error);
    if (*error != 0)
        return false;
    if (token == jsonAssigne)
        return true;
    VString found;
    _GetStartTokenFirstChar(found);
    *error = _ThrowInvalid(found, ":");
    return false;
}

bool VJSONImporter::_NextElement(VError* error)
{
    JsonToken token = _ReadToken(error);
    if (*error != 0 || token == jsonEndArray)
        return false;
    if (token == jsonSeparator)
        return true;
    VString found;
    _GetStartTokenFirstChar(found);
    *error = _ThrowInvalid(found, "] ,");
    return false;
}

VError VJSONImporter::_ParseObject(VJSONValue& out, uint32_t depth, bool revive)
{
    VError err = 0;
    if (!_EnterContainer(depth, jsonBeginObject, &err))
        return err;
    VJSONObject* object = new VJSONObject();
    out.SetObject(object);
    object->Release();
    // Values are linked in bulk (not at all) unless shared storage needs the
    // graph bookkeeping of every store.
    const bool shared = (fOptions & kOption_SharedStorage) != 0;
    if (fMembers.size() <= depth)
        fMembers.resize(depth + 1);
    if (!fMembers[depth])
        fMembers[depth] = std::make_unique<std::vector<VJSONObject::ParsedMember>>();
    std::vector<VJSONObject::ParsedMember>* members = fMembers[depth].get();
    members->clear();  // an earlier read may have stopped on an exception
    auto nothingRead = [&] { return shared ? object->IsEmpty() : members->empty(); };
    const bool recording = fPositions != nullptr;
    // Made only when recording: most reads never need it.
    std::optional<VString> outerPath;
    if (recording)
        outerPath.emplace(fPath);
    // Only an object with a member of that name can stand for a binary value.
    const VString& binaryName = PrivateBinaryObjectName();
    bool mayBeBinary = false;
    while (err == 0) {
        JsonToken token = _ReadToken(&err);
        if (err != 0)
            break;
        if (token == jsonEndObject) {
            if (!nothingRead())
                err = _ThrowWithToken(VE_JSON_EXTRA_COMMA, "}");
            break;
        }
        if (token != jsonString) {
            err = _ThrowInvalid(_TokenToString(token), nothingRead() ? "\" }" : "\"");
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
        std::u16string decodedName;
        if (fDecoded) {
            decodedName.assign(nameUnits, static_cast<size_t>(nameLength));
            nameUnits = decodedName.data();
        }
        if (recording) {
            fPath = *outerPath;
            if (!fPath.IsEmpty() && (nameLength == 0 || nameUnits[0] != u'['))
                fPath.AppendUniChar(u'.');
            fPath.AppendUniChars(nameUnits, nameLength);
            err = _RecordPosition(fPath, fTokenStart);
            if (err != 0)
                break;
        }
        if (!_ReadColon(&err))
            break;
        VJSONValue value;
        token = _ReadToken(&err);
        if (err == 0)
            err = _ParseValue(token, value, kExpectedValue, depth + 1);
        if (!value.IsUndefined()) {
            uint32_t hash = 0;
            const VString& name = fNames.Get(nameUnits, nameLength, &hash);
            if (revive && nameLength == binaryName.GetLength() &&
                std::memcmp(nameUnits, binaryName.GetCPointer(), static_cast<size_t>(nameLength) * sizeof(UniChar)) == 0)
                mayBeBinary = true;
            if (!shared) {
                members->emplace_back(&name, hash, std::move(value));
            } else {
                object->SetProperty(name, value);
            }
        }
        if (err != 0)
            break;
        token = _ReadToken(&err);
        if (err != 0 || token == jsonEndObject)
            break;
        if (token != jsonSeparator)
            err = _ThrowInvalid(_TokenToString(token), "} ,");
    }
    if (recording)
        fPath = *outerPath;
    // Partial results keep what was read before an error.
    if (!object->_SetParsedMembers(*members) && err == 0)
        err = VE_MEMORY_FULL;
    _Share(object);
    if (err == 0 && mayBeBinary)
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
    const bool shared = (fOptions & kOption_SharedStorage) != 0;
    if (fElements.size() <= depth)
        fElements.resize(depth + 1);
    if (!fElements[depth])
        fElements[depth] = std::make_unique<std::vector<VJSONValue>>();
    std::vector<VJSONValue>* elements = fElements[depth].get();
    elements->clear();  // an earlier read may have stopped on an exception
    auto nothingRead = [&] { return shared ? array->IsEmpty() : elements->empty(); };
    const bool recording = fPositions != nullptr;
    std::optional<VString> savedPath;
    if (recording)
        savedPath.emplace(fPath);
    for (uint32_t index = 0; err == 0; ++index) {
        if (recording) {
            fPath = *savedPath;
            fPath.AppendUniChar(u'[').AppendULong8(index).AppendUniChar(u']');
        }
        JsonToken token = _ReadToken(&err);
        if (err != 0)
            break;
        if (recording && (token == jsonBeginObject || token == jsonBeginArray || token == jsonString)) {
            err = _RecordPosition(fPath, fTokenStart);
            if (err != 0)
                break;
        }
        VJSONValue value;
        if (token == jsonEndArray) {
            if (!nothingRead())
                err = _ThrowWithToken(VE_JSON_EXTRA_COMMA, "]");
            break;
        } else if (token == jsonBeginObject) {
            err = _ParseObject(value, depth + 1, false);
        } else if (token == jsonBeginArray) {
            err = _ParseArray(value, depth + 1);
        } else if (token == jsonString) {
            err = _ParseWord(value, kExpectedElement);
        } else {
            err = _ThrowInvalid(_TokenToString(token), nothingRead() ? kExpectedElement : kExpectedValue);
            break;
        }
        if (!value.IsUndefined()) {
            if (!shared) {
                elements->push_back(std::move(value));
            } else {
                array->Push(value);
            }
        }
        if (err != 0)
            break;
        if (!_NextElement(&err))
            break;
    }
    if (recording)
        fPath = *savedPath;
    if (!array->_PushParsedValues(*elements) && err == 0)
        err = VE_MEMORY_FULL;
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

}  // namespace bkit
