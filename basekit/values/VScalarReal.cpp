// VScalarReal.cpp - the double value, its descriptor and its text forms.
//
// This file implements VReal and VReal::VValueInfo_real: tolerant comparisons,
// the raw and stream forms, and the XML and JSON texts of a double, which are
// written and read with '.' as the decimal point whatever the process locale.
#include <bit>
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
// as the decimal point whatever the locale; returns the length. Every JSON
// and XML real goes through here, so the usual magnitudes get their 14
// correctly rounded digits from exact integer arithmetic on the value's
// binary form; what lies outside those magnitudes takes the shortest
// round-trip form, or the exact formatter (also for subnormal values, which
// carry fewer digits than the shortest-form reasoning needs).
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

constexpr uint64_t kPowersOfTen[] = {1ULL,
                                     10ULL,
                                     100ULL,
                                     1000ULL,
                                     10000ULL,
                                     100000ULL,
                                     1000000ULL,
                                     10000000ULL,
                                     100000000ULL,
                                     1000000000ULL,
                                     10000000000ULL,
                                     100000000000ULL,
                                     1000000000000ULL,
                                     10000000000000ULL,
                                     100000000000000ULL,
                                     1000000000000000ULL,
                                     10000000000000000ULL,
                                     100000000000000000ULL};
constexpr uint64_t kLowest14Digits = 10000000000000ULL;   // 1e13
constexpr uint64_t kBeyond14Digits = 100000000000000ULL;  // 1e14

// 1e-4 to 1e15 as doubles.
constexpr double kDecades[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0,  1e1,  1e2,  1e3,  1e4,  1e5,
                               1e6,  1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// m * 10^k / 2^s rounded half to even (k in -1..17, s in 3..66), with the
// truncated quotient in *truncated so that the caller can tell a wrong
// decimal exponent from a carry into the 15th digit.
uint64_t RoundedScaled(uint64_t m, int s, int k, uint64_t* truncated)
{
    if (k < 0) {
        // Only 1e14 <= value < 1e15 lands here, where s is small.
        const uint64_t divisor = 10ULL << s;
        const uint64_t quotient = m / divisor;
        const uint64_t twice = 2 * (m % divisor);
        *truncated = quotient;
        return quotient + (twice > divisor || (twice == divisor && (quotient & 1)) ? 1 : 0);
    }
    const unsigned __int128 product = static_cast<unsigned __int128>(m) * kPowersOfTen[k];
    const uint64_t quotient = static_cast<uint64_t>(product >> s);
    const unsigned __int128 remainder = product & ((static_cast<unsigned __int128>(1) << s) - 1);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (s - 1);
    *truncated = quotient;
    return quotient + (remainder > half || (remainder == half && (quotient & 1)) ? 1 : 0);
}

// "00" to "99": two digits per step instead of one division each.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

void WriteFourDigits(uint32_t group, char* out)
{
    std::memcpy(out, kDigitPairs + 2 * (group / 100), 2);
    std::memcpy(out + 2, kDigitPairs + 2 * (group % 100), 2);
}

// n < 1e14 as exactly 14 digits, leading zeros included.
void WriteFourteenDigits(uint64_t n, char* out)
{
    const uint32_t high = static_cast<uint32_t>(n / 100000000);  // six digits
    const uint32_t low = static_cast<uint32_t>(n % 100000000);
    std::memcpy(out, kDigitPairs + 2 * (high / 10000), 2);
    WriteFourDigits(high % 10000, out + 2);
    WriteFourDigits(low / 10000, out + 6);
    WriteFourDigits(low % 10000, out + 10);
}

// The 14 digits of a normal |value| in [1e-4, 1e15) and the exponent of the
// first; false for other magnitudes. The value is m * 2^-s exactly, and
// m * 10^(13 - e) fits in 128 bits, so the rounding is that of the exact
// product, ties included.
bool ScaledDigits(double magnitude, char* digits, int* exponent)
{
    if (!(magnitude >= 1e-4 && magnitude < 1e15))
        return false;
    uint64_t bits = 0;
    std::memcpy(&bits, &magnitude, sizeof(bits));
    const uint64_t m = (bits & ((1ULL << 52) - 1)) | (1ULL << 52);
    const int s = 1075 - static_cast<int>(bits >> 52);
    // The decimal exponent from the binary one (log10(2) ~ 77/256), settled
    // against the nearest doubles of the powers of ten; the exact check below
    // fixes the rare value that lies between such a double and its power.
    int e = ((52 - s) * 77) >> 8;
    e = e < -4 ? -4 : (e > 14 ? 14 : e);
    while (e < 14 && magnitude >= kDecades[e + 5])
        ++e;
    while (e > -4 && magnitude < kDecades[e + 4])
        --e;
    uint64_t truncated = 0;
    uint64_t n = 0;
    for (;;) {
        n = RoundedScaled(m, s, kG14Precision - 1 - e, &truncated);
        if (truncated < kLowest14Digits && e > -4)
            --e;
        else if (truncated >= kBeyond14Digits && e < 14)
            ++e;
        else
            break;
    }
    if (n == kBeyond14Digits) {
        n = kLowest14Digits;
        ++e;
    }
    if (n < kLowest14Digits || n >= kBeyond14Digits)
        return false;
    WriteFourteenDigits(n, digits);
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

// The count of the first 16 digits once trailing zeros are dropped; the
// first digit is never '0'. Two words of eight digits each instead of a
// loop over characters.
int SignificantCount(const char* digits)
{
    constexpr uint64_t kZeros = 0x3030303030303030ULL;
    uint64_t front = 0;
    uint64_t back = 0;
    std::memcpy(&front, digits, 8);
    std::memcpy(&back, digits + 8, 8);
    if constexpr (std::endian::native == std::endian::little) {
        if ((back ^ kZeros) != 0)
            return 8 + (71 - std::countl_zero(back ^ kZeros)) / 8;
        return (71 - std::countl_zero(front ^ kZeros)) / 8;
    } else {
        int count = 16;
        while (count > 1 && digits[count - 1] == '0')
            --count;
        return count;
    }
}

size_t FormatG14Chars(double value, char* out)
{
    const double magnitude = std::fabs(value);
    if (magnitude < std::numeric_limits<double>::min())
        return FormatG14Exact(value, out);
    // Room for a 16-byte copy from any digit position: the fixed layouts
    // below copy whole blocks and let the length decide what counts.
    char digits[kG14Precision + 18];
    std::memset(digits, '0', sizeof(digits));
    int exponent = 0;
    int count = kG14Precision;
    if (!ScaledDigits(magnitude, digits, &exponent)) {
        count = ShortestDigits(value, digits, &exponent);
        if (count == 0)
            return FormatG14Exact(value, out);
        std::memset(digits + count, '0', sizeof(digits) - static_cast<size_t>(count));
    }
    count = SignificantCount(digits);
    char* w = out;
    if (value < 0)
        *w++ = '-';
    if (exponent >= 0 && exponent < kG14Precision) {
        // ddd or ddd.ddd: both copies are at most 16 bytes and end within
        // the sign, 14 digits, the point and the 16-byte tail of out.
        const int whole = exponent + 1;
        std::memcpy(w, digits, 16);
        if (count <= whole)
            return static_cast<size_t>(w + whole - out);
        w[whole] = '.';
        std::memcpy(w + whole + 1, digits + whole, 16);
        return static_cast<size_t>(w + count + 1 - out);
    }
    if (exponent < 0 && exponent >= -4) {
        // 0.ddd with up to three zeros after the point.
        const int zeros = -exponent - 1;
        std::memcpy(w, "0.000", 5);
        std::memcpy(w + 2 + zeros, digits, 16);
        return static_cast<size_t>(w + 2 + zeros + count - out);
    }
    *w++ = digits[0];
    if (count > 1) {
        *w++ = '.';
        std::memcpy(w, digits + 1, static_cast<size_t>(count - 1));
        w += count - 1;
    }
    *w++ = 'E';
    *w++ = exponent < 0 ? '-' : '+';
    int power = exponent < 0 ? -exponent : exponent;
    if (power < 10)
        *w++ = '0';
    w = std::to_chars(w, out + kRealTextRoom, power).ptr;
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
