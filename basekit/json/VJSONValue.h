// VJSONValue.h - the small tagged JSON value and its packed string.
//
// This file defines JSONType, the kind of a JSON value; VInlineString, the
// packed text a value of kind string holds (a share of a VString heap block);
// and VJSONValue, the value every JSON operation passes around.
//
// Contracts:
// - Copying a value is cheap: a string shares its character block (an atomic
//   share count) and an object or array is retained, never copied deeply. Use
//   VJSONCloner (or VJSONObject::Clone) for a deep copy.
// - A value owns one reference to its container and one share of its string
//   block, released when the value changes or is destroyed.
// - Values take no lock; a value shared between tasks is guarded by its owner.
//   The stamp and tag counters are plain counters: unique within one task only.
// - Every constructor with content and every copy takes a new stamp; setters
//   keep the stamp; a move takes the source's stamp. After a move the source
//   keeps its kind with an empty string or a null container: only destroy or
//   assign it.
#pragma once

#include <cstdint>
#include <cstring>
#include <set>

#include "basekit/BKitTypes.h"

namespace bkit {

class IFile;
class VCompareOptions;
class VJSONArray;
class VJSONObject;
class VJSONStamp;
class VString;
class VTime;
class VValueSingle;

enum JSONType : uint32_t {
    JSON_null = 0,
    JSON_false = 1,
    JSON_true = 2,
    JSON_string = 3,
    JSON_number = 4,
    JSON_object = 5,
    JSON_array = 6,
    JSON_undefined = 7,
    JSON_date = 8,
};

// Packed text of a JSON value: length in UTF-16 units, a counted block in the
// string layout of VString (the share count after the units), its capacity in
// units, and a tag from a process-wide counter. A null block is the empty text.
// A plain structure: the owner calls Init... and Dispose explicitly.
struct VInlineString {
    uint32_t fLength;
    UniChar* fString;
    uint32_t fCapacity;
    uint32_t fTag;

    // Empty text, new tag.
    void Init();
    // A share of text's block (or a counted copy of it), new tag.
    void InitWithString(const VString& text);
    // A share of other's block, new tag.
    void InitCopy(const VInlineString& other);
    // Drops the share and leaves the empty text.
    void Dispose();

    VIndex GetLength() const { return static_cast<VIndex>(fLength); }
    const UniChar* GetCPointer() const { return fString; }
    uint32_t GetCapacity() const { return fCapacity; }
    bool IsEmpty() const { return fString == nullptr || fLength == 0; }
};

// Process-wide tag counter of inline strings.
extern uint32_t __VInlineString_tag;

class VJSONValue {
public:
    // Undefined (what a missing property reads as).
    VJSONValue() : fType(JSON_undefined), fStamp(0), fNumber(0) {}

    // The kind with empty content: "" , 0, the zero date, a new empty object or
    // array; null, false, true and undefined as they are.
    explicit VJSONValue(JSONType type);

    // Kind object / array retaining the pointer; null gives null.
    VJSONValue(VJSONObject* object);
    VJSONValue(VJSONArray* array);

    // Kind string sharing the text's block; a null string gives null.
    VJSONValue(const VString& text);
    VJSONValue(const VInlineString& text);

    explicit VJSONValue(double number);

    // Kind date with the UTC day of the time (its time of day dropped); a
    // null time gives null.
    explicit VJSONValue(const VTime& time);

    VJSONValue(const VJSONValue& other);
    // Inline, as values are moved and dropped at every step of building a
    // tree: the payload's bits move whole, whatever the kind.
    VJSONValue(VJSONValue&& other) noexcept : fType(other.fType), fStamp(other.fStamp)
    {
        std::memcpy(static_cast<void*>(&fString), &other.fString, sizeof(fString));
        other._ForgetPayload();
    }
    VJSONValue& operator=(const VJSONValue& other);
    VJSONValue& operator=(VJSONValue&& other) noexcept;
    ~VJSONValue()
    {
        if (_HoldsSomething())
            _Dispose();
    }

    // Releases what the value holds; the kind is left as is.
    void _Dispose();

    JSONType GetType() const { return fType; }
    uint32_t GetStamp() const { return fStamp; }

    bool IsNull() const { return fType == JSON_null; }
    bool IsUndefined() const { return fType == JSON_undefined; }
    bool IsBool() const { return fType == JSON_false || fType == JSON_true; }
    bool IsTrue() const { return fType == JSON_true; }
    bool IsFalse() const { return fType == JSON_false; }
    bool IsString() const { return fType == JSON_string; }
    bool IsNumber() const { return fType == JSON_number; }
    bool IsObject() const { return fType == JSON_object; }
    bool IsArray() const { return fType == JSON_array; }
    bool IsDate() const { return fType == JSON_date; }

    // --- setters: each releases what the value held first; stamp kept ---
    void SetNull();
    void SetUndefined();
    void SetBool(bool value);
    void SetNumber(double number);
    // A null string gives null.
    void SetString(const VString& text);
    void SetString(const VInlineString& text);
    // Null gives null; the same pointer changes nothing.
    void SetObject(VJSONObject* object);
    void SetArray(VJSONArray* array);
    // Kind date: (year << 16) + (month << 8) + day of a UTC day.
    void SetDate(int16_t year, int16_t month, int16_t day);
    // Kind date with the time's UTC day; a null time gives null.
    void SetTime(const VTime& time);

    // Empties the content, keeping the kind: true becomes false, a string "",
    // a number 0, a date the zero date; an object or array is released and the
    // value becomes null; null, false and undefined stay.
    void Clear();

    // --- readers ---

    // The container without a reference, null for other kinds.
    VJSONObject* GetObject() const { return (fType == JSON_object) ? fObject : nullptr; }
    VJSONArray* GetArray() const { return (fType == JSON_array) ? fArray : nullptr; }
    // The container with a new reference for the caller, null for other kinds.
    VJSONObject* RetainObject() const;
    VJSONArray* RetainArray() const;

    // An object's property (undefined when absent or for any other kind).
    VJSONValue GetProperty(const VString& name) const;
    // Sets an object's property; nothing for other kinds.
    void SetProperty(const VString& name, const VJSONValue& value) const;

    // number as is; true 1; a string read as a hexadecimal integer when it
    // starts with "0x" or "0X", else as a real; every other kind 0.
    double GetNumber() const;

    // True for true, objects, arrays, a non-empty string, a non-zero number or
    // date; false otherwise.
    bool GetBool() const;

    // The text reading of any kind: "" for null and undefined, "false",
    // "true", the string, the number's JSON text, "[object Object]", the
    // elements of an array joined with "," (an array inside itself fails with
    // 'bkit' 900), a date as "YYYY-MM-DD".
    VError GetString(VString& out, std::set<const VJSONArray*>* visited = nullptr) const;

    // For a date: its fields and true; otherwise zeros and false.
    bool GetDate(int16_t* year, int16_t* month, int16_t* day) const;

    // A date gives that day at midnight UTC; a string is read by the time's
    // own FromString; any other kind clears out and makes it null.
    void GetTime(VTime& out) const;

    // A new toolbox value the caller owns: a boolean, string, real or time; an
    // object asks its implementation first; otherwise an object or array gives,
    // with markContainers, a non-null string of four control characters
    // (U+0001 U+0002 U+0003 then U+0001 for an object, U+0002 for an array),
    // and without it a null string, as do null and undefined.
    VValueSingle* CreateVValue(bool markContainers) const;

    // -1, 0 or 1. Same kinds: strings and numbers compare with options, two
    // containers are equal only when they are the same one (else ordered by
    // address), dates by their packed value. Different kinds: undefined and
    // null are equal, otherwise the lower kind sorts first.
    int CompareTo(const VJSONValue& other, const VCompareOptions& options) const;

    // Same kinds and: objects with the same own properties holding deeply
    // equal values (order aside), arrays with deeply equal elements position
    // by position, other kinds equal by CompareTo. A pair of containers met
    // again while it is being compared counts as equal, so cycles end.
    bool DeepEqualTo(const VJSONValue& other, const VCompareOptions& options) const;

    // Counts one change on stamp (when not null) and, when value is a
    // container with another stamp object, hands stamp to every container of
    // its tree.
    static void CheckAndUpdateJsonStamp(const VJSONValue& value, VJSONStamp* stamp);

    // --- paths (a.b[2].c) from an object root ---
    // True only when the value at path is true.
    static bool GetBoolByPath(const VJSONValue& root, const VString& path);
    // The number at path truncated to 32 bits (saturating; NaN gives 0), else 0.
    static int32_t GetLongByPath(const VJSONValue& root, const VString& path);
    // The text at path into out and true when it is a string; else false and
    // out is left alone.
    static bool GetStringByPath(const VJSONValue& root, const VString& path, VString& out);

    // --- JSON text (VJSONValueText.cpp) ---

    // The value as JSON text written with the writer's flags (1 compact, 9
    // indented). With 0x800, what text cannot carry is refused instead of
    // written.
    VError Stringify(VString& out, uint32_t flags) const;
    // Parses text into this value: no date strings; with dates, "!!"-marked
    // and ISO dates; with nonAmbiguousDates, only "!!YYYY-MM-DD!!".
    VError ParseFromString(const VString& text, bool dates = false, bool nonAmbiguousDates = false);
    // Parses the file's UTF-8 text, with "!!"-marked and ISO dates when asked.
    VError LoadFromFile(IFile* file, bool dates = false);
    // Replaces the file's content with the value's text (writer flags); a
    // failed write leaves the file as it was.
    VError SaveToFile(IFile* file, uint32_t flags) const;

    // The raw packed string of kind string (empty otherwise).
    const VInlineString& GetInlineString() const { return fString; }

    // Process-wide constants and the stamp counter.
    static const VJSONValue sUndefined;
    static const VJSONValue sNull;
    static const VJSONValue sTrue;
    static const VJSONValue sFalse;
    static const VJSONValue sLastType;
    static uint32_t sStamp;

    // "undefined", "null", "true", "false", "[object Object]".
    static const VString sUndefinedString;
    static const VString sNullString;
    static const VString sTrueString;
    static const VString sFalseString;
    static const VString sObjectString;

    // The next value of the stamp counter.
    static uint32_t NextStamp();
    // Gives the value a stamp (the containers' stamp touching).
    void _SetStamp(uint32_t stamp) { fStamp = stamp; }

private:
    // The constants: fixed kinds with fixed stamps, built before any dynamic
    // initialiser runs so that other statics may read them.
    constexpr VJSONValue(JSONType type, uint32_t stamp, int) : fType(type), fStamp(stamp), fNumber(0) {}

    void _CopyPayload(const VJSONValue& other);
    void _TakePayload(VJSONValue& other);
    // After the payload was moved out: an empty string or a null container.
    void _ForgetPayload()
    {
        switch (fType) {
            case JSON_string:
                fString.fString = nullptr;
                fString.fLength = 0;
                fString.fCapacity = 0;
                break;
            case JSON_object:
                fObject = nullptr;
                break;
            case JSON_array:
                fArray = nullptr;
                break;
            default:
                break;
        }
    }
    // A string block or a container to release.
    bool _HoldsSomething() const
    {
        return (fType == JSON_string && fString.fString != nullptr) || (fType == JSON_object && fObject != nullptr) ||
               (fType == JSON_array && fArray != nullptr);
    }

    JSONType fType;
    uint32_t fStamp;
    union {
        double fNumber;
        uint32_t fDate;
        VJSONObject* fObject;
        VJSONArray* fArray;
        VInlineString fString;
    };
};

}  // namespace bkit
