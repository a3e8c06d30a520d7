// VJSONTextBuilders.cpp - array and object texts appended to, and array texts read.
#include "basekit/json/VJSONTextBuilders.h"

#include "basekit/json/VJSONImporter.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/values/VScalars.h"

namespace bkit {

// --- array writer ---

VJSONArrayWriter::VJSONArrayWriter() : fText("[") {}

void VJSONArrayWriter::_Reopen()
{
    if (!fClosed)
        return;
    if (fText.GetLength() > 0 && fText[fText.GetLength() - 1] == u']')
        fText.Truncate(fText.GetLength() - 1);
    // A writer closed empty was "[]": it is "[" again.
    fClosed = false;
    if (fText.GetLength() > 1)
        fText.AppendUniChar(u',');
}

void VJSONArrayWriter::_AppendElement(const VString& text)
{
    _Reopen();
    fText.AppendString(text);
    fText.AppendUniChar(u',');
}

void VJSONArrayWriter::Add(const VValueSingle& value, uint32_t flags)
{
    VString text;
    if (value.GetJSONString(text, flags) == 0)
        _AppendElement(text);
}

void VJSONArrayWriter::AddString(const char* text, uint32_t flags)
{
    if (text != nullptr)
        AddString(VString(text), flags);
}

void VJSONArrayWriter::AddString(const VString& text, uint32_t flags)
{
    VString json;
    text.GetJSONString(json, flags);
    _AppendElement(json);
}

void VJSONArrayWriter::AddBool(bool value) { _AppendElement(VString(value ? "true" : "false")); }

void VJSONArrayWriter::AddLong(int32_t value)
{
    VString text;
    text.AppendLong8(value);
    _AppendElement(text);
}

void VJSONArrayWriter::AddReal(double value)
{
    VString text;
    VReal::RealToXMLString(value, text);
    _AppendElement(text);
}

void VJSONArrayWriter::AddLongs(const int* values, int count)
{
    for (int i = 0; values != nullptr && i < count; ++i)
        AddLong(values[i]);
}

void VJSONArrayWriter::AddWords(const short* values, int count)
{
    for (int i = 0; values != nullptr && i < count; ++i)
        AddLong(values[i]);
}

void VJSONArrayWriter::AddReals(const double* values, int count)
{
    for (int i = 0; values != nullptr && i < count; ++i)
        AddReal(values[i]);
}

void VJSONArrayWriter::AddBools(const char* values, int count)
{
    for (int i = 0; values != nullptr && i < count; ++i)
        AddBool(values[i] != 0);
}

void VJSONArrayWriter::AddStrings(const std::vector<VString>& values, uint32_t flags)
{
    for (const VString& value : values)
        AddString(value, flags);
}

void VJSONArrayWriter::AddJSONArray(VJSONArrayWriter& other)
{
    other.Close();
    _AppendElement(other.fText);
    other.fText.FromCString("[]");
    other.fClosed = true;
}

void VJSONArrayWriter::Close()
{
    if (fClosed)
        return;
    if (fText.IsEmpty())
        fText.FromCString("[");
    if (fText.GetLength() > 1)
        fText.Truncate(fText.GetLength() - 1);  // the trailing ","
    fText.AppendUniChar(u']');
    fClosed = true;
}

void VJSONArrayWriter::GetArray(VString& out, bool keep)
{
    Close();
    out = fText;
    if (!keep)
        fText.FromCString("[]");
}

// --- array reader ---

void VJSONArrayReader::FromJSONString(const VString& text)
{
    fValues.clear();
    fCount = 0;
    fError = 0;
    if (text.IsEmpty()) {
        fError = VE_JSON_ARRAY_TEXT_INVALID;
        return;
    }
    VJSONImporter tokens(text);
    VError err = 0;
    VString word;
    using T = VJSONImporter::JsonToken;
    T token;
    do {
        token = tokens.GetNextJSONToken(word, nullptr, &err);
    } while (token != VJSONImporter::jsonBeginArray && token != VJSONImporter::jsonNone);
    bool ended = false;
    while (token != VJSONImporter::jsonNone && !ended) {
        token = tokens.GetNextJSONToken(word, nullptr, &err);
        switch (token) {
            case VJSONImporter::jsonBeginArray: {
                // A nested array is skipped whole.
                int depth = 1;
                while (depth > 0) {
                    T inner = tokens.GetNextJSONToken(word, nullptr, &err);
                    if (inner == VJSONImporter::jsonNone)
                        break;
                    depth += (inner == VJSONImporter::jsonBeginArray) - (inner == VJSONImporter::jsonEndArray);
                }
                if (depth > 0)
                    token = VJSONImporter::jsonNone;
                break;
            }
            case VJSONImporter::jsonString:
                fValues.push_back(word);
                break;
            case VJSONImporter::jsonEndArray:
                ended = true;
                break;
            default:
                break;
        }
    }
    if (!ended) {
        fError = VE_JSON_ARRAY_TEXT_INVALID;
        fValues.clear();
    }
    fCount = static_cast<int64_t>(fValues.size());
}

int64_t VJSONArrayReader::GetCountOfElements(VError* error) const
{
    if (error)
        *error = fError;
    return fCount;
}

template <class T, class Convert>
VError VJSONArrayReader::_Fill(T* out, Convert convert) const
{
    if (out == nullptr || fError != 0)
        return fError;
    for (size_t i = 0; i < fValues.size(); ++i)
        out[i] = convert(fValues[i]);
    return 0;
}

VError VJSONArrayReader::ToArrayShort(short* out) const
{
    return _Fill(out, [](const VString& v) { return v.GetWord(); });
}

VError VJSONArrayReader::ToArrayLong(int* out) const
{
    return _Fill(out, [](const VString& v) { return v.GetLong(); });
}

VError VJSONArrayReader::ToArrayReal(double* out) const
{
    return _Fill(out, [](const VString& v) { return v.GetReal(); });
}

VError VJSONArrayReader::ToArrayBool(char* out) const
{
    return _Fill(out, [](const VString& v) { return static_cast<char>(v.EqualToString(VString("true"), false)); });
}

VError VJSONArrayReader::ToArrayString(std::vector<VString>& out, bool append) const
{
    if (!append)
        out.clear();
    if (fError == 0)
        out.insert(out.end(), fValues.begin(), fValues.end());
    return fError;
}

// --- single object writer ---

bool VJSONSingleObjectWriter::AddMember(const VString& name, const VValueSingle& value, uint32_t flags)
{
    VString text;
    if (value.GetJSONString(text, flags) != 0 || name.IsEmpty())
        return false;
    if (fClosed) {
        fText.Truncate(fText.GetLength() - 1);
        fClosed = false;
    }
    if (fCount > 0)
        fText.AppendUniChar(u',');
    fText.AppendUniChar(u'"');
    fText.AppendString(name);
    fText.AppendCString("\":");
    fText.AppendString(text);
    ++fCount;
    return true;
}

void VJSONSingleObjectWriter::GetObject(VString& out)
{
    if (!fClosed) {
        fText.AppendUniChar(u'}');
        fClosed = true;
    }
    out = fText;
}

}  // namespace bkit
