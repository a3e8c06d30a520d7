// VJSONTextBuilders.h - flat JSON text made and read without building a graph.
//
// This file defines VJSONArrayWriter and VJSONSingleObjectWriter, which append
// values to the text of one array or one object, and VJSONArrayReader, which
// reads the values of one array text as strings (nested arrays skipped).
//
// Contracts: writers are open until closed; any "Add" reopens a closed
// writer. The object writer puts names between quotes as they are (no
// escaping): callers pass plain names. Short-lived objects of one task.
#pragma once

#include <cstdint>
#include <vector>

#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VValueSingle;

constexpr VError VE_JSON_ARRAY_TEXT_INVALID = MakeBKitError(550);

class VJSONArrayWriter {
public:
    VJSONArrayWriter();

    void Add(const VValueSingle& value, uint32_t flags = 0);
    void AddString(const char* text, uint32_t flags = 0);
    void AddString(const VString& text, uint32_t flags = 0);
    void AddBool(bool value);
    void AddLong(int32_t value);
    void AddReal(double value);
    void AddLongs(const int* values, int count);
    void AddWords(const short* values, int count);
    void AddReals(const double* values, int count);
    void AddBools(const char* values, int count);
    void AddStrings(const std::vector<VString>& values, uint32_t flags = 0);
    // Closes other, appends its text as one element and resets it to "[]".
    void AddJSONArray(VJSONArrayWriter& other);

    void Close();
    // Closes and copies the text; unless keep, the writer becomes "[]" closed.
    void GetArray(VString& out, bool keep = false);
    const VString& GetText() const { return fText; }

private:
    void _Reopen();
    void _AppendElement(const VString& text);

    VString fText;
    bool fClosed = false;
};

class VJSONArrayReader : public VObject {
public:
    VJSONArrayReader() = default;
    explicit VJSONArrayReader(const VString& text) { FromJSONString(text); }

    void FromJSONString(const VString& text);
    int64_t GetCountOfElements(VError* error = nullptr) const;
    VError ToArrayShort(short* out) const;
    VError ToArrayLong(int* out) const;
    VError ToArrayReal(double* out) const;
    VError ToArrayBool(char* out) const;
    VError ToArrayString(std::vector<VString>& out, bool append) const;

private:
    // Fills out with one converted value per element; the parse error, if any.
    template <class T, class Convert>
    VError _Fill(T* out, Convert convert) const;

    VError fError = 0;
    std::vector<VString> fValues;
    int64_t fCount = 0;
};

class VJSONSingleObjectWriter : public VObject {
public:
    VJSONSingleObjectWriter() : fText("{") {}

    // False, adding nothing, for an empty name or a value without JSON text.
    bool AddMember(const VString& name, const VValueSingle& value, uint32_t flags = 0);
    // Closes once and copies the text.
    void GetObject(VString& out);

private:
    VString fText;
    bool fClosed = false;
    uint32_t fCount = 0;
};

}  // namespace bkit
