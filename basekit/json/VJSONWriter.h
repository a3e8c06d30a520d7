// VJSONWriter.h - the JSON text writer.
//
// This file defines VJSONWriter, which turns a JSON value into JSON text,
// compact or indented, and writes a value to a file as UTF-8.
//
// Contracts:
// - The text is built in one growing buffer; a failure discards it (the
//   output string is left empty) and leaves its error on the calling task's
//   error stack: 'bkit' 900 cycle, 911 binary object refused, 914 non-generic
//   object refused, 916 object met twice, 108 too little free stack to go
//   one level deeper.
// - Flags are fixed at construction and also passed on unchanged to the
//   string and date writers (0x1 puts strings between double quotes, so
//   callers pass 1 for compact and 9 for indented text).
// - Level, path, written objects, character count and the "..." mark last as
//   long as the writer: a second StringifyValue on the same writer still sees
//   the objects written by the first (flag kFlag_RefuseRepeated).
// - An object's members are the names its implementation lists (else those
//   its class reads through getters, with the getters' values), then its
//   stored properties; on a shared object the stored ones come first.
// - A writer is a short-lived object of one task; it takes no lock of its own.
// - StringifyValueToFile replaces a file's content only with complete text.
#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class IFile;
class VDBLanguageContext;
class VJSONArray;
class VJSONObject;

constexpr VError VE_JSON_BINARY_OBJECT_REFUSED = MakeBKitError(911);
constexpr VError VE_JSON_NOT_GENERIC_OBJECT = MakeBKitError(914);
constexpr VError VE_JSON_OBJECT_WRITTEN_TWICE = MakeBKitError(916);

class VJSONWriter : public VObject {
public:
    enum : uint32_t {
        kFlag_Quoted = 0x1,                 // strings between double quotes (string writer)
        kFlag_Indented = 0x8,               // one member or element per line, tabs
        kFlag_LocalDates = 0x80,            // dates at local midnight, else UTC
        kFlag_RefuseBinaryObjects = 0x100,  // implemented objects with a binary signature: 911
        kFlag_CircularText = 0x2000,        // an object inside itself becomes "[circular]"
        kFlag_ShortForm = 0x4000,           // stop containers past 512 characters, "..."
        kFlag_OnlyGenericObjects = 0x8000,  // objects of another class: 914
        kFlag_RefuseRepeated = 0x10000,     // an object met a second time: 916
    };

    // Free stack below which the writer refuses to enter a container.
    static constexpr size_t kMinFreeStack = 10240;

    VJSONWriter(VDBLanguageContext* languageContext, uint32_t flags);
    explicit VJSONWriter(uint32_t flags = 0);
    ~VJSONWriter() override;

    VJSONWriter(const VJSONWriter&) = delete;
    VJSONWriter& operator=(const VJSONWriter&) = delete;

    // out is replaced by the value's text; returns 0 or the error.
    VError StringifyValue(const VJSONValue& value, VString& out);
    // A null container writes "undefined".
    VError StringifyObject(const VJSONObject* object, VString& out);
    VError StringifyArray(const VJSONArray* array, VString& out);

    // Nesting level and, when indenting, the indent that follows it.
    void IncrementLevel();
    void DecrementLevel();
    // When indenting: the current indent (a line feed and one tab per level)
    // inserted at the start of / appended to text; nothing otherwise.
    void InsertIndentString(VString& text) const;
    void AppendIndentString(VString& text) const;

    uint32_t GetFlags() const { return fFlags; }
    uint32_t GetLevel() const { return fLevel; }
    VDBLanguageContext* GetLanguageContext() const { return fLanguageContext; }

    // The value's text with flags becomes the file's whole content in UTF-8,
    // line ends as written. A null file writes nothing and gives 0; when the
    // writer fails the file is not touched and the writer's error is returned.
    static VError StringifyValueToFile(IFile* file, const VJSONValue& value, uint32_t flags);

private:
    // The output buffer: units written so far in fText's block.
    struct Output {
        VString text;
        UniChar* units = nullptr;
        VIndex length = 0;
        VIndex capacity = 0;
    };

    template <class Container>
    VError _Stringify(const Container* container, VString& out);
    VError _WriteValue(const VJSONValue& value);
    VError _WriteObject(const VJSONObject* object);
    VError _WriteObjectOnPath(const VJSONObject* object);
    VError _WriteMember(bool first, const VString& name, const VJSONValue& value, bool* stopped);
    VError _WriteArray(const VJSONArray* array);
    VError _WriteDate(const VJSONValue& value);
    VError _WriteString(const UniChar* units, VIndex length);
    VError _CheckStack();
    bool _OnPath(const void* container) const;
    // Closes a container: outer indent, then the bracket unless the short form
    // stopped it, in which case "..." follows once per writer.
    void _Close(char bracket, bool stopped);

    bool _Reserve(VIndex extra);
    void _Append(char c) { fOut.units[fOut.length++] = static_cast<UniChar>(c); }
    bool _AppendASCII(const char* text, VIndex length);
    bool _AppendNumber(double number);
    bool _AppendUnits(const UniChar* units, VIndex n);
    bool _AppendIndent();
    // Takes the finished text into out.
    void _Finish(VString& out);

    VDBLanguageContext* fLanguageContext;
    const uint32_t fFlags;
    uint32_t fLevel = 0;
    VString fIndentUnit;
    VString fIndent;
    std::vector<const void*> fPath;
    std::unordered_set<const VJSONObject*> fWritten;
    uint32_t fCount = 0;
    bool fEllipsisWritten = false;
    Output fOut;
};

}  // namespace bkit
