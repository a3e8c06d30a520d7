// VScalarReal.cpp - the double value, its descriptor and its text forms.
//
// This file implements VReal and VReal::VValueInfo_real: tolerant comparisons,
// the raw and stream forms, and the XML and JSON texts of a double, which are
// written and read with '.' as the decimal point whatever the process locale.
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "basekit/files/VStream.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/text/VString.h"
#include "basekit/values/VDuration.h"
#include "basekit/values/VScalarCLocale.h"
#include "basekit/values/VScalars.h"

namespace bkit {

namespace {

constexpr double kRealEpsilon = 1e-6;
// Integers up to this magnitude are exact in a double and printed as integers.
constexpr double kMaxExactInteger = 9007199254740991.0;  // 2^53 - 1
constexpr size_t kRealTextRoom = VReal::kRealTextRoom;

bool IsPrintedAsInteger(double value)
{
    return std::fabs(value) <= kMaxExactInteger && value == std::trunc(value);
}

// "%.14G" of a finite value into out (room for kRealTextRoom chars), with '.'
// as the decimal point whatever the locale; returns the length. The 14
// digits come, by the first way that is sure to give the correctly rounded
// ones:
// - scaling: value times an exact power of ten is off the exact product by
//   less than 1/64 below 2^47, so unless its fraction lies near one half its
//   rounding is that of the exact product;
// - the shortest round-trip form: with 14 digits or fewer they are the
//   rounded digits too; with more, rounding its digits gives the same result
//   as rounding the exact value, except when the dropped digits are exactly
//   one half;
// - else the exact formatter (also for subnormal values, which carry fewer
//   digits than that reasoning needs).
constexpr int kG14Precision = 14;

size_t FormatG14Exact(double value, char* out)
{
    auto exact = std::to_chars(out, out + kRealTextRoom, value, std::chars_format::general, kG14Precision);
    for (char* c = out; c < exact.ptr; ++c) {
        if (*c == 'e')
            *c = 'E';
    }
    return static_cast<size_t>(exact.ptr - out);
}

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The 14 digits of |value| and the exponent of the first, by scaling; false
// when scaling cannot be sure of them.
bool ScaledDigits(double magnitude, char* digits, int* exponent)
{
    if (!(magnitude >= 1e-4 && magnitude < 1e15))
        return false;
    int e = 0;
    if (magnitude >= 1.0) {
        while (e < 14 && magnitude >= kPowersOfTen[e + 1])
            ++e;
    } else {
        while (e > -4 && magnitude * kPowersOfTen[-(e - 1)] < 1.0)
            --e;
        --e;
    }
    const int k = kG14Precision - 1 - e;
    const double scaled = k >= 0 ? magnitude * kPowersOfTen[k] : magnitude / kPowersOfTen[-k];
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) < 0.03)
        return false;
    uint64_t n = static_cast<uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
    if (n == 100000000000000ULL) {
        n = 10000000000000ULL;
        ++e;
    }
    if (n < 10000000000000ULL || n >= 100000000000000ULL)
        return false;
    // Two independent halves of seven digits: half the length of one chain
    // of divisions.
    uint32_t high = static_cast<uint32_t>(n / 10000000);
    uint32_t low = static_cast<uint32_t>(n % 10000000);
    for (int i = 6; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + high % 10);
        high /= 10;
        digits[7 + i] = static_cast<char>('0' + low % 10);
        low /= 10;
    }
    *exponent = e;
    return true;
}

// The rounded digits of |value| from its shortest form: their count, or 0
// when the exact formatter must decide.
int ShortestDigits(double value, char* digits, int* exponent)
{
    char shortest[40];
    auto written = std::to_chars(shortest, shortest + sizeof(shortest), value, std::chars_format::scientific);
    const char* p = shortest;
    const char* end = written.ptr;
    if (*p == '-')
        ++p;
    int count = 0;
    while (p < end && *p != 'e') {
        if (*p != '.')
            digits[count++] = *p;
        ++p;
    }
    std::from_chars(p + 1 + (p[1] == '+'), end, *exponent);
    if (count <= kG14Precision)
        return count;
    bool tail = false;
    for (int i = kG14Precision + 1; i < count; ++i)
        tail = tail || digits[i] != '0';
    if (digits[kG14Precision] == '5' && !tail)
        return 0;
    if (digits[kG14Precision] >= '5') {
        int i = kG14Precision - 1;
        while (i >= 0 && digits[i] == '9')
            digits[i--] = '0';
        if (i >= 0) {
            ++digits[i];
        } else {
            digits[0] = '1';
            ++*exponent;
        }
    }
    return kG14Precision;
}

size_t FormatG14Chars(double value, char* out)
{
    const double magnitude = std::fabs(value);
    if (magnitude < std::numeric_limits<double>::min())
        return FormatG14Exact(value, out);
    char digits[24];
    int exponent = 0;
    int count = kG14Precision;
    if (!ScaledDigits(magnitude, digits, &exponent)) {
        count = ShortestDigits(value, digits, &exponent);
        if (count == 0)
            return FormatG14Exact(value, out);
    }
    while (count > 1 && digits[count - 1] == '0')
        --count;
    char* w = out;
    if (value < 0)
        *w++ = '-';
    if (exponent < -4 || exponent >= kG14Precision) {
        *w++ = digits[0];
        if (count > 1) {
            *w++ = '.';
            for (int i = 1; i < count; ++i)
                *w++ = digits[i];
        }
        *w++ = 'E';
        *w++ = exponent < 0 ? '-' : '+';
        int power = exponent < 0 ? -exponent : exponent;
        if (power < 10)
            *w++ = '0';
        w = std::to_chars(w, out + kRealTextRoom, power).ptr;
    } else if (exponent >= 0) {
        for (int i = 0; i <= exponent; ++i)
            *w++ = i < count ? digits[i] : '0';
        if (count > exponent + 1) {
            *w++ = '.';
            for (int i = exponent + 1; i < count; ++i)
                *w++ = digits[i];
        }
    } else {
        *w++ = '0';
        *w++ = '.';
        for (int i = -1; i > exponent; --i)
            *w++ = '0';
        for (int i = 0; i < count; ++i)
            *w++ = digits[i];
    }
    return static_cast<size_t>(w - out);
}

void FormatG14(double value, VString& out)
{
    char buffer[kRealTextRoom + 1];
    buffer[FormatG14Chars(value, buffer)] = 0;
    out.FromCString(buffer);
}

// Reads text holding one decimal number and nothing else (',' counts as '.');
// an empty text is 0.0. False for anything else, with out untouched.
bool ReadRealText(const VString& text, double& out)
{
    constexpr VIndex kMaxBytes = 254;
    VIndex length = text.GetLength();
    if (length > kMaxBytes)
        return false;
    char buffer[kMaxBytes + 1];
    const UniChar* units = text.GetCPointer();
    for (VIndex i = 0; i < length; ++i) {
        UniChar c = units[i];
        // No non-ASCII character is part of a number (its UTF-8 bytes would
        // stop the reader), nor is an embedded NUL.
        if (c == 0 || c >= 0x80)
            return false;
        buffer[i] = (c == u',') ? '.' : static_cast<char>(c);
    }
    buffer[length] = 0;
    if (length == 0) {
        out = 0.0;
        return true;
    }
    char* end = nullptr;
    double value = scalar::ReadCDouble(buffer, &end);
    if (end != buffer + length)
        return false;
    out = value;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Descriptor

CompareResult VReal::VValueInfo_real::CompareTwoPtrToData(const void* a, const void* b, bool diacritical) const
{
    return scalar::CompareReals(scalar::LoadRaw<double>(a), scalar::LoadRaw<double>(b), diacritical ? 0.0 : kRealEpsilon);
}

CompareResult VReal::VValueInfo_real::CompareTwoPtrToDataBegining(const void* a, const void* b, bool diacritical) const
{
    return VValueInfo_real::CompareTwoPtrToData(a, b, diacritical);
}

CompareResult VReal::VValueInfo_real::CompareTwoPtrToDataWithOptions(const void* a, const void* b,
                                                                     const VCompareOptions& options) const
{
    return scalar::CompareRealsForSort(scalar::LoadRaw<double>(a), scalar::LoadRaw<double>(b), options.GetEpsilon(),
                                       options.IsDiacritical());
}

// ---------------------------------------------------------------------------
// Value

void VReal::_Set(double value)
{
    fValue = value;
    SetNull(false);
    SetDirty(true);
}

const VValueInfo* VReal::GetValueInfo() const { return &sInfo; }

void VReal::Clear()
{
    _Set(0.0);
}

VValue* VReal::Clone() const { return new VReal(*this); }

VError VReal::GetJSONString(VString& json, uint32_t options) const
{
    (void)options;
    RealToJSONString(fValue, json);
    return VE_OK;
}

VError VReal::FromJSONString(const VString& json, uint32_t options)
{
    (void)options;
    if (!FromXMLString(json))
        _Set(0.0);
    return VE_OK;
}

VError VReal::FromJSONValue(const VJSONValue& json)
{
    if (json.IsNull()) {
        SetNull(true);
        SetDirty(true);
    } else {
        _Set(json.GetNumber());
    }
    return VE_OK;
}

VError VReal::GetJSONValue(VJSONValue& json, uint32_t options) const
{
    (void)options;
    if (IsNull())
        json.SetNull();
    else
        json.SetNumber(fValue);
    return VE_OK;
}

CompareResult VReal::CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    return scalar::CompareReals(fValue, static_cast<const VReal*>(other)->fValue, options.GetEpsilon());
}

bool VReal::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const
{
    return CompareToSameKindWithOptions(other, options) == CR_EQUAL;
}

CompareResult VReal::CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    return scalar::CompareReals(fValue, scalar::LoadRaw<double>(data), options.GetEpsilon());
}

bool VReal::EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const
{
    return CompareToSameKindPtrWithOptions(data, options) == CR_EQUAL;
}

CompareResult VReal::CompareToSameKind(const VValue* other, bool diacritical) const
{
    (void)diacritical;
    return scalar::CompareReals(fValue, static_cast<const VReal*>(other)->fValue, kRealEpsilon);
}

bool VReal::EqualToSameKind(const VValue* other, bool diacritical) const
{
    return VReal::CompareToSameKind(other, diacritical) == CR_EQUAL;
}

bool VReal::FromValueSameKind(const VValue* other)
{
    const auto* source = static_cast<const VReal*>(other);
    fValue = source->fValue;
    SetNull(source->IsNull());
    SetDirty(true);
    return true;
}

CompareResult VReal::CompareToSameKindPtr(const void* data, bool diacritical) const
{
    (void)diacritical;
    return scalar::CompareReals(fValue, scalar::LoadRaw<double>(data), kRealEpsilon);
}

bool VReal::EqualToSameKindPtr(const void* data, bool diacritical) const
{
    return VReal::CompareToSameKindPtr(data, diacritical) == CR_EQUAL;
}

const void* VReal::LoadFromPtr(const void* data, bool swap)
{
    (void)swap;
    _Set(scalar::LoadRaw<double>(data));
    return static_cast<const char*>(data) + sizeof(double);
}

void* VReal::WriteToPtr(void* data, bool swap, VSize max) const
{
    (void)swap;
    (void)max;
    scalar::StoreRaw<double>(data, fValue);
    return static_cast<char*>(data) + sizeof(double);
}

VError VReal::ReadFromStream(VStream* stream, int32_t param)
{
    (void)param;
    double value = 0.0;
    if (stream->GetReal(value) == VE_OK)
        fValue = value;
    return stream->GetLastError();
}

VError VReal::WriteToStream(VStream* stream, int32_t param) const
{
    (void)param;
    stream->PutReal(fValue);
    return stream->GetLastError();
}

void VReal::GetDuration(VDuration& duration) const { duration.FromReal(fValue); }
void VReal::GetString(VString& string) const { string.FromReal(fValue); }
void VReal::GetValue(VValueSingle& value) const { value.FromReal(fValue); }

void VReal::FromDuration(const VDuration& duration)
{
    fValue = duration.GetReal();
    SetNull(duration.IsNull());
    SetDirty(true);
}

void VReal::FromString(const VString& string)
{
    if (!string.IsNull())
        fValue = string.GetReal();
    SetNull(string.IsNull());
    SetDirty(true);
}

void VReal::FromValue(const VValueSingle& value)
{
    fValue = value.GetReal();
    SetNull(value.IsNull());
    SetDirty(true);
}

void VReal::GetXMLString(VString& string, uint32_t options) const
{
    (void)options;
    RealToXMLString(fValue, string);
}

bool VReal::FromXMLString(const VString& string)
{
    double value = 0.0;
    if (!ReadRealText(string, value))
        return false;
    _Set(value);
    return true;
}

CompareResult VReal::CompareTo(const VValueSingle& other, bool diacritical) const
{
    (void)diacritical;
    return scalar::CompareReals(fValue, other.GetReal(), kRealEpsilon);
}

void VReal::RealToXMLString(double value, VString& out)
{
    if (IsPrintedAsInteger(value))
        out.FromLong8(static_cast<int64_t>(value));
    else if (std::isnan(value))
        out.FromCString("NaN");
    else if (std::isinf(value))
        out.FromCString(value > 0 ? "INF" : "-INF");
    else
        FormatG14(value, out);
}

size_t VReal::RealToJSONChars(double value, char* out)
{
    if (IsPrintedAsInteger(value))
        return static_cast<size_t>(std::to_chars(out, out + kRealTextRoom, static_cast<int64_t>(value)).ptr - out);
    if (!std::isfinite(value)) {
        std::memcpy(out, "null", 4);
        return 4;
    }
    return FormatG14Chars(value, out);
}

void VReal::RealToJSONString(double value, VString& out)
{
    char buffer[kRealTextRoom];
    size_t length = RealToJSONChars(value, buffer);
    UniChar units[kRealTextRoom];
    for (size_t i = 0; i < length; ++i)
        units[i] = static_cast<UniChar>(buffer[i]);
    out.FromUniString(units, static_cast<VIndex>(length));
}

}  // namespace bkit
