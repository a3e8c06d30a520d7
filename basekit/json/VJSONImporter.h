// VJSONImporter.h - the JSON text reader.
//
// This file defines VJSONImporter, which turns JSON text (UTF-16) into a tree
// of JSON values. It is the one reader of JSON text in the toolbox: settings
// files, client files and every JSON string go through it.
//
// Contracts:
// - The reader is lenient by default (unquoted names and words read as text,
//   an unterminated string ends the text) and strict on request. Text after
//   the first complete value is ignored.
// - Every failure ends the parse with 'bkit' 550, pushed on the calling task's
//   error stack above the specific error (551 invalid token, 552 unterminated
//   string, 553 extra comma, 554 invalid token at end of text). 550 carries
//   "source", "line" and "position" of the token where reading stopped; line
//   and position are computed only then.
// - Nesting deeper than kMaxDepth containers, or too little free stack to go
//   deeper, is refused with 551 ("found" the opening bracket) and 550.
// - Recorded positions (kOption_RecordPositions) take a record for every
//   member and element, each naming its whole path, so a deep text would take
//   memory growing with the square of its size: they may take
//   kPositionsBytesPerCharacter bytes a character of the text (or
//   kPositionsMemoryFloor when that is more), counting kPositionRecordBytes and
//   the path's units for each; past that the parse fails with 555 and 550.
// - The result holds what was built before an error, or undefined with
//   kOption_UndefinedOnError.
// - An object read as a value on its own (the whole text or a member's
//   value, not an array element) that holds "__PRIVATE_BINARY_OBJECT" as a
//   string is replaced by the value its Base64 binary form decodes to.
// - The importer shares the caller's text (no copy of the characters) and is
//   used once, by one task. GetPathsLines hands out no reference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/json/VJSONImporterNames.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"
#include "basekit/values/VObject.h"

namespace bkit {

class IFile;
class VJSONContainer;
class VJSONObject;
class StPackedDictionaryKey;
class VStorageLocker;
class VValueBag;
class VValueSingle;

constexpr VError VE_JSON_MALFORMED = MakeBKitError(550);
constexpr VError VE_JSON_INVALID_TOKEN = MakeBKitError(551);
constexpr VError VE_JSON_UNTERMINATED_STRING = MakeBKitError(552);
constexpr VError VE_JSON_EXTRA_COMMA = MakeBKitError(553);
constexpr VError VE_JSON_INVALID_TOKEN_AT_END = MakeBKitError(554);
constexpr VError VE_JSON_POSITIONS_TOO_LARGE = MakeBKitError(555);

class VJSONImporter : public VObject {
public:
    // Option bits, fixed at construction.
    enum : uint32_t {
        kOption_UndefinedOnError = 1,      // on error the result is undefined
        kOption_Strict = 2,                // unquoted names, bare words, open strings fail
        kOption_NoInvalidTokenErrors = 4,  // 551/554 push nothing (the parse still fails)
        kOption_RecordPositions = 8,       // line and offset of every member and element
        kOption_MarkedDates = 64,          // "!!...!!" strings read as dates
        kOption_ISODates = 128,            // "YYYY-MM-DD" strings read as dates
        kOption_SharedStorage = 256,       // containers under one storage locker
        kOption_NonAmbiguousDates = 512,   // with 64: only "!!YYYY-MM-DD!!" is a date
    };

    enum JsonToken : uint32_t {
        jsonNone = 0,         // end of text
        jsonBeginObject = 1,  // {
        jsonEndObject = 2,    // }
        jsonBeginArray = 3,   // [
        jsonEndArray = 4,     // ]
        jsonSeparator = 5,    // ,
        jsonAssigne = 6,      // :
        jsonString = 7,       // a quoted string or a bare word
        jsonUnknown = 8,      // never produced
    };

    // Deepest nesting of objects and arrays the reader accepts.
    static constexpr uint32_t kMaxDepth = 1000;

    // The bound of recorded positions (see the contracts above).
    static constexpr size_t kPositionRecordBytes = 768;
    static constexpr size_t kPositionsBytesPerCharacter = 512;
    static constexpr size_t kPositionsMemoryFloor = 64 * 1024 * 1024;

    // Name under which a caller keeps the positions object beside a document,
    // and the two keys of each recorded position.
    static const VString sNameOfThePropertyWithPathsAndLines;  // "__symbols"
    static const VString sLineKey;                             // "line"
    static const VString sOffsetKey;                           // "offset"
    static const VString sFakeArrayElementKey;                 // "____FakeArrayElement"

    VJSONImporter(const VString& text, uint32_t options = 0);
    ~VJSONImporter() override;

    VJSONImporter(const VJSONImporter&) = delete;
    VJSONImporter& operator=(const VJSONImporter&) = delete;

    // Reads one value from the start of the text. 0 or 'bkit' 550.
    VError Parse(VJSONValue& out);

    static VError ParseString(const VString& text, VJSONValue& out, uint32_t options = 0);

    // Reads an object straight into bag: object members become child bags
    // marked "____objectunic", array elements child bags under the member's
    // name (scalars as a bag holding "____FakeArrayElement"), "__CDATA" the
    // bag's text, other scalars attributes (ISO dates as times). An array
    // directly inside an array is refused. 0 or 'bkit' 550.
    VError JSONObjectToBag(VValueBag& bag);
    // The file's text as UTF-8 (line ends kept), its POSIX path naming the
    // source in error reports. A null file gives undefined and 0; a read error
    // is returned as it is.
    static VError ParseFile(IFile* file, VJSONValue& out, uint32_t options = 0);

    // The property that carries a value's binary form as Base64 inside text.
    static const VString& PrivateBinaryObjectName();
    // When value is an object holding that property as a string, replaces it
    // by the value its bytes decode to; 0, or the decoding error (value then
    // left alone).
    static VError ReviveBinaryObject(VJSONValue& value);
    // The value whose binary form base64 holds; 0 or the decoding error.
    static VError DecodeBinaryObject(const VString& base64, VJSONValue& out);

    // The positions recorded under kOption_RecordPositions: path -> {line,
    // offset}; null without the option. Borrowed.
    VJSONObject* GetPathsLines() const { return fPositions; }

    // With kOption_RecordPositions, records under "}" the position of the
    // character just read (the closing brace of the top-level object).
    void SetPathLineForEncompasingObject();

    // The next token and, for jsonString, its text (escapes undone) and
    // whether it was quoted. An error (with the strict unterminated string)
    // goes to *error when given.
    JsonToken GetNextJSONToken(VString& text, bool* isQuoted, VError* error);
    JsonToken GetNextJSONToken(VError* error);

    // The name error reports give a token.
    static const char* _TokenToString(JsonToken token);

    // Sets the name of the text's origin (a file path) shown in error reports.
    void SetSourceName(const VString& name) { fSourceName = name; }

private:
    JsonToken _ReadToken(VError* error);
    JsonToken _ReadQuoted(const UniChar* p, VError* error);
    JsonToken _ReadWord(const UniChar* p);

    VError _ParseValue(JsonToken token, VJSONValue& out, const char* expected, uint32_t depth);
    // With revive (a value read on its own, not an array element), an object
    // holding the binary-form property becomes the value it carries.
    VError _ParseObject(VJSONValue& out, uint32_t depth, bool revive);
    VError _ParseArray(VJSONValue& out, uint32_t depth);
    VError _ParseWord(VJSONValue& out, const char* expected);
    VError _ObjectToBag(VValueBag& bag, uint32_t depth);
    VError _ArrayToBag(VValueBag& bag, const StPackedDictionaryKey& name, uint32_t depth);
    // The current jsonString token as a new bag value, or null with *error.
    VValueSingle* _BagScalar(bool asAttribute, VError* error);
    void _MakeString(VJSONValue& out);
    // The ':' after a member name; false with *error otherwise.
    bool _ReadColon(VError* error);
    // The token after an element: true for ',', false for ']' or an error.
    bool _NextElement(VError* error);
    bool _EnterContainer(uint32_t depth, JsonToken token, VError* error);

    // The current token's text (a view of the source when it has no escapes).
    const UniChar* _TokenText(VIndex* length) const;
    // The first non-blank character at the last token, or empty at end of text.
    void _GetStartTokenFirstChar(VString& out) const;

    VError _ThrowInvalid(const VString& found, const char* expected);
    VError _ThrowInvalid(const char* found, const char* expected);
    VError _ThrowWithToken(VError code, const char* token);
    VError _ThrowPlace();

    // Records a position against the bound; 0, or 555 and 550 past it.
    VError _RecordPosition(const VString& path, const UniChar* at);
    void _StorePosition(const VString& path, const UniChar* at);
    // With kOption_SharedStorage, puts the importer's locker on container.
    void _Share(VJSONContainer* container);
    void _AdvanceLines(const UniChar* upTo);

    VString fText;
    const UniChar* fBegin;
    const UniChar* fEnd;
    const UniChar* fCur;
    const UniChar* fTokenStart;
    uint32_t fOptions;
    VString fSourceName;

    // Current jsonString token: a range of the source, or fScratch when its
    // text differs from the source (escapes, dropped NULs).
    const UniChar* fWordBegin = nullptr;
    const UniChar* fWordEnd = nullptr;
    bool fQuoted = false;
    bool fDecoded = false;
    std::u16string fScratch;

    // Every member name of the document, made once, so that the objects
    // share their names' blocks.
    json_reader::NameTable fNames;
    // Recent short string values by hash (languages, kinds, sources): a
    // repeated text shares the block of the first (made at the first value).
    std::unique_ptr<VJSONValue[]> fShortTexts;
    // The members of the objects being read, one list per depth, reused from
    // object to object so that each object's table is sized once.
    std::vector<std::unique_ptr<std::vector<VJSONObject::ParsedMember>>> fMembers;
    // The same for the elements of the arrays being read.
    std::vector<std::unique_ptr<std::vector<VJSONValue>>> fElements;

    // The one locker of every container of a shared parse, made at first need.
    VRefPtr<VStorageLocker> fLocker;

    // Positions (option 8): the object, the current path, and the line count
    // advanced lazily up to fLineScan.
    VJSONObject* fPositions = nullptr;
    VString fPath;
    // What the positions take by estimate, and the most they may.
    size_t fPositionsBytes = 0;
    size_t fPositionsCap = 0;
    uint32_t fLine = 1;
    const UniChar* fLineStart;
    const UniChar* fLineScan;
};

}  // namespace bkit
