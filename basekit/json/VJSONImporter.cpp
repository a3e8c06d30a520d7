// VJSONImporter.cpp - the JSON text reader: tokens, error reports, positions.
#include "basekit/json/VJSONImporter.h"

#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONImporterScan.h"
#include "basekit/json/VJSONImporterWords.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/HexDigits.h"

namespace bkit {

using namespace json_reader;

const VString VJSONImporter::sNameOfThePropertyWithPathsAndLines("__symbols");
const VString VJSONImporter::sLineKey("line");
const VString VJSONImporter::sOffsetKey("offset");
const VString VJSONImporter::sFakeArrayElementKey("____FakeArrayElement");

VJSONImporter::VJSONImporter(const VString& text, uint32_t options)
    : fText(text), fOptions(options)
{
    fBegin = fText.GetCPointer();
    fEnd = fBegin + fText.GetLength();
    fCur = fBegin;
    fTokenStart = fBegin;
    fLineStart = fBegin;
    fLineScan = fBegin;
    if (fOptions & kOption_RecordPositions) {
        fPositions = new VJSONObject();
        const size_t length = static_cast<size_t>(fText.GetLength());
        fPositionsCap = length > kPositionsMemoryFloor / kPositionsBytesPerCharacter
                            ? length * kPositionsBytesPerCharacter
                            : kPositionsMemoryFloor;
    }
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
    const UniChar* p = SkipBlanks(fCur, fEnd);
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
    p = FindStringStop(p, end);
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
            p = FindStringStop(p, end);
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
    p = FindWordEnd(p, fEnd);
    fWordEnd = p;
    // A blank that ends the word is read with it.
    fCur = (p < fEnd && *p < 33) ? p + 1 : p;
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

VError VJSONImporter::_RecordPosition(const VString& path, const UniChar* at)
{
    fPositionsBytes += kPositionRecordBytes + static_cast<size_t>(path.GetLength()) * sizeof(UniChar);
    if (fPositionsBytes > fPositionsCap) {
        {
            StThrowError<> err(VE_JSON_POSITIONS_TOO_LARGE);
            VString message("Recording the positions of the text takes more than ");
            message.AppendLong8(static_cast<int64_t>(fPositionsCap));
            message.AppendCString(" bytes of memory");
            err->SetString("message", message);
        }
        return _ThrowPlace();
    }
    _StorePosition(path, at);
    return 0;
}

void VJSONImporter::_StorePosition(const VString& path, const UniChar* at)
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
    _StorePosition(VString("}"), at);
}

}  // namespace bkit
