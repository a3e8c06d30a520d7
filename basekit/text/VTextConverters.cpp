// VTextConverters.cpp - the converter registry, byte-order marks, guessing and names.
#include "basekit/text/VTextConverters.h"

#include <algorithm>
#include <array>
#include <climits>

#include "basekit/text/VCharSetTable.h"
#include "basekit/text/VString.h"
#include "basekit/text/VTextConverter.h"
#include "basekit/text/mac/XMacIntlMgr.h"

namespace bkit {

VTextConverters* VTextConverters::sInstance = nullptr;

VTextConverters* VTextConverters::Get()
{
    // The first conversions of a program may start on several threads at
    // once: a function-local static is created exactly once, the others wait.
    static VTextConverters* const sCreated = sInstance = new VTextConverters();
    return sCreated;
}

VTextConverters::VTextConverters()
{
    fToDefault = XMacIntlMgr::NewToUnicodeConverter(VTC_DefaultTextExport);
    if (fToDefault == nullptr)
        fToDefault = new VToUnicodeConverter_Void();
    fFromDefault = XMacIntlMgr::NewFromUnicodeConverter(VTC_DefaultTextExport);
    if (fFromDefault == nullptr)
        fFromDefault = new VFromUnicodeConverter_Void();
    fToNull = new VToUnicodeConverter_Null();
    fFromNull = new VFromUnicodeConverter_Null();
    fToSwap = new VToUnicodeConverter_Swap();
    fFromSwap = new VFromUnicodeConverter_Swap();
    fToUTF32Raw = new VToUnicodeConverter_UTF32_Raw(false);
    fFromUTF32Raw = new VFromUnicodeConverter_UTF32_Raw(false);
    fToUTF32 = new VToUnicodeConverter_UTF32(false);
    fFromUTF32 = new VFromUnicodeConverter_UTF32(false);
    fToUTF8 = new VToUnicodeConverter_UTF8();
    fFromUTF8 = new VFromUnicodeConverter_UTF8();
}

VTextConverters::~VTextConverters()
{
    for (VToUnicodeConverter* c : {fToDefault, fToNull, fToSwap, fToUTF32Raw, fToUTF32, fToUTF8})
        c->Release();
    for (VFromUnicodeConverter* c : {fFromDefault, fFromNull, fFromSwap, fFromUTF32Raw, fFromUTF32, fFromUTF8})
        c->Release();
    if (sInstance == this)
        sInstance = nullptr;
}

namespace {

template <class T>
T* Retained(T* converter)
{
    converter->Retain();
    return converter;
}

}  // namespace

VToUnicodeConverter* VTextConverters::RetainToUnicodeConverter(CharSet charSet)
{
    switch (charSet) {
        case VTC_DefaultTextExport: return Retained(fToDefault);
        case VTC_UNKNOWN: return new VToUnicodeConverter_Void();
        case VTC_UTF_16_BIGENDIAN: return Retained(fToSwap);
        case VTC_UTF_16_SMALLENDIAN: return Retained(fToNull);
        case VTC_UTF_32_BIGENDIAN: return new VToUnicodeConverter_UTF32(true);
        case VTC_UTF_32_SMALLENDIAN: return Retained(fToUTF32);
        case VTC_UTF_32_RAW_BIGENDIAN: return new VToUnicodeConverter_UTF32_Raw(true);
        case VTC_UTF_32_RAW_SMALLENDIAN: return Retained(fToUTF32Raw);
        case VTC_UTF_8: return Retained(fToUTF8);
        default: {
            VToUnicodeConverter* converter = XMacIntlMgr::NewToUnicodeConverter(charSet);
            return converter ? converter : new VToUnicodeConverter_Void();
        }
    }
}

VFromUnicodeConverter* VTextConverters::RetainFromUnicodeConverter(CharSet charSet)
{
    switch (charSet) {
        case VTC_DefaultTextExport: return Retained(fFromDefault);
        case VTC_UNKNOWN: return new VFromUnicodeConverter_Void();
        case VTC_UTF_16_BIGENDIAN: return Retained(fFromSwap);
        case VTC_UTF_16_SMALLENDIAN: return Retained(fFromNull);
        case VTC_UTF_32_BIGENDIAN: return new VFromUnicodeConverter_UTF32(true);
        case VTC_UTF_32_SMALLENDIAN: return Retained(fFromUTF32);
        case VTC_UTF_32_RAW_BIGENDIAN: return new VFromUnicodeConverter_UTF32_Raw(true);
        case VTC_UTF_32_RAW_SMALLENDIAN: return Retained(fFromUTF32Raw);
        case VTC_UTF_8: return Retained(fFromUTF8);
        default: {
            VFromUnicodeConverter* converter = XMacIntlMgr::NewFromUnicodeConverter(charSet);
            return converter ? converter : new VFromUnicodeConverter_Void();
        }
    }
}

bool VTextConverters::ConvertToVString(const void* bytes, size_t size, CharSet charSet, VString& out)
{
    out.Clear();
    switch (charSet) {
        case VTC_UTF_16_SMALLENDIAN:
            out.AppendBlock(bytes, size, VTC_UTF_16_SMALLENDIAN);
            return true;
        case VTC_DefaultTextExport: return fToDefault->ConvertString(bytes, size, nullptr, out);
        case VTC_UTF_16_BIGENDIAN: return fToSwap->ConvertString(bytes, size, nullptr, out);
        case VTC_UTF_32_SMALLENDIAN: return fToUTF32->ConvertString(bytes, size, nullptr, out);
        case VTC_UTF_32_RAW_SMALLENDIAN: return fToUTF32Raw->ConvertString(bytes, size, nullptr, out);
        case VTC_UTF_8: return fToUTF8->ConvertString(bytes, size, nullptr, out);
        default: {
            VToUnicodeConverter* converter = RetainToUnicodeConverter(charSet);
            bool ok = converter->ConvertString(bytes, size, nullptr, out);
            converter->Release();
            return ok;
        }
    }
}

bool VTextConverters::ConvertFromVString(const VString& text, int* unitsConsumed, void* target, size_t targetBytes,
                                         size_t* bytesProduced, CharSet charSet)
{
    const UniChar* units = text.GetCPointer();
    int n = text.GetLength();
    switch (charSet) {
        case VTC_DefaultTextExport:
            return fFromDefault->Convert(units, n, unitsConsumed, target, targetBytes, bytesProduced);
        case VTC_UTF_16_BIGENDIAN:
            return fFromSwap->Convert(units, n, unitsConsumed, target, targetBytes, bytesProduced);
        case VTC_UTF_16_SMALLENDIAN:
            return fFromNull->Convert(units, n, unitsConsumed, target, targetBytes, bytesProduced);
        case VTC_UTF_32_RAW_SMALLENDIAN:
            return fFromUTF32Raw->Convert(units, n, unitsConsumed, target, targetBytes, bytesProduced);
        case VTC_UTF_8:
            return fFromUTF8->Convert(units, n, unitsConsumed, target, targetBytes, bytesProduced);
        default: {
            VFromUnicodeConverter* converter = RetainFromUnicodeConverter(charSet);
            bool ok = converter->Convert(units, n, unitsConsumed, target, targetBytes, bytesProduced);
            converter->Release();
            return ok;
        }
    }
}

// --- byte-order marks ---

bool VTextConverters::ParseBOM(const void* bytes, size_t size, size_t* bomBytes, CharSet* charSet)
{
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    size_t length = 0;
    CharSet found = VTC_UNKNOWN;
    if (b != nullptr) {
        if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
            found = VTC_UTF_8;
            length = 3;
        } else if (size >= 4 && b[0] == 0x00 && b[1] == 0x00 && b[2] == 0xFE && b[3] == 0xFF) {
            found = VTC_UTF_32_BIGENDIAN;
            length = 4;
        } else if (size >= 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0x00 && b[3] == 0x00) {
            found = VTC_UTF_32_SMALLENDIAN;
            length = 4;
        } else if (size >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
            found = VTC_UTF_16_BIGENDIAN;
            length = 2;
        } else if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
            found = VTC_UTF_16_SMALLENDIAN;
            length = 2;
        }
    }
    if (bomBytes)
        *bomBytes = length;
    if (charSet)
        *charSet = found;
    return length > 0;
}

const uint8_t* VTextConverters::GetBOMForCharSet(CharSet charSet, size_t* length)
{
    static const uint8_t kUTF16BE[] = {0xFE, 0xFF};
    static const uint8_t kUTF16LE[] = {0xFF, 0xFE};
    static const uint8_t kUTF32BE[] = {0x00, 0x00, 0xFE, 0xFF};
    static const uint8_t kUTF32LE[] = {0xFF, 0xFE, 0x00, 0x00};
    static const uint8_t kUTF8[] = {0xEF, 0xBB, 0xBF};
    const uint8_t* mark = nullptr;
    size_t size = 0;
    switch (charSet) {
        case VTC_UTF_16_BIGENDIAN: mark = kUTF16BE; size = sizeof(kUTF16BE); break;
        case VTC_UTF_16_SMALLENDIAN: mark = kUTF16LE; size = sizeof(kUTF16LE); break;
        case VTC_UTF_32_BIGENDIAN: mark = kUTF32BE; size = sizeof(kUTF32BE); break;
        case VTC_UTF_32_SMALLENDIAN: mark = kUTF32LE; size = sizeof(kUTF32LE); break;
        case VTC_UTF_8: mark = kUTF8; size = sizeof(kUTF8); break;
        default: break;
    }
    if (length)
        *length = size;
    return mark;
}

// --- UTF-8 detection ---

namespace {

// Byte classes: 0 ASCII; 1 80..8F; 9 90..9F; 7 A0..BF; 8 never valid; 2 lead of
// two; 10 E0; 3 other leads of three; 4 ED; 11 F0; 6 F1..F3; 5 F4.
constexpr std::array<uint8_t, 256> MakeClasses()
{
    std::array<uint8_t, 256> c{};
    for (int b = 0; b < 256; ++b) {
        uint8_t k;
        if (b < 0x80) k = 0;
        else if (b < 0x90) k = 1;
        else if (b < 0xA0) k = 9;
        else if (b < 0xC0) k = 7;
        else if (b < 0xC2) k = 8;
        else if (b < 0xE0) k = 2;
        else if (b == 0xE0) k = 10;
        else if (b == 0xED) k = 4;
        else if (b < 0xF0) k = 3;
        else if (b == 0xF0) k = 11;
        else if (b < 0xF4) k = 6;
        else if (b == 0xF4) k = 5;
        else k = 8;
        c[static_cast<size_t>(b)] = k;
    }
    return c;
}

// States: 0 accept, 1 reject, 2 one continuation left, 3 two left, 4 after E0
// (A0..BF next), 5 after ED (80..9F), 6 after F0 (90..BF), 7 three left, 8
// after F4 (80..8F). Indexed by state * 16 + class.
constexpr std::array<uint8_t, 9 * 16> MakeTransitions()
{
    std::array<uint8_t, 9 * 16> t{};
    for (auto& v : t)
        v = 1;
    auto set = [&t](int state, std::initializer_list<int> classes, int next) {
        for (int k : classes)
            t[static_cast<size_t>(state * 16 + k)] = static_cast<uint8_t>(next);
    };
    set(0, {0}, 0);
    set(0, {2}, 2);
    set(0, {3}, 3);
    set(0, {10}, 4);
    set(0, {4}, 5);
    set(0, {11}, 6);
    set(0, {6}, 7);
    set(0, {5}, 8);
    set(2, {1, 9, 7}, 0);
    set(3, {1, 9, 7}, 2);
    set(4, {7}, 2);
    set(5, {1, 9}, 2);
    set(6, {9, 7}, 3);
    set(7, {1, 9, 7}, 3);
    set(8, {1}, 3);
    return t;
}

constexpr std::array<uint8_t, 256> kUTF8Classes = MakeClasses();
constexpr std::array<uint8_t, 9 * 16> kUTF8Transitions = MakeTransitions();

}  // namespace

bool VTextConverters::DetectUTF8(const uint8_t* bytes, int size)
{
    uint8_t state = 0;
    for (int i = 0; i < size; ++i) {
        state = kUTF8Transitions[static_cast<size_t>(state) * 16 + kUTF8Classes[bytes[i]]];
        if (state == 1)
            return false;
    }
    return state == 0;
}

bool VTextConverters::GuessCharsetWithNoBom(const void* bytes, int size, CharSet* charSet, bool detectUTF8)
{
    if (size < 1 || bytes == nullptr || charSet == nullptr)
        return false;
    const uint8_t* b = static_cast<const uint8_t*>(bytes);
    bool guessed = false;
    CharSet guess = *charSet;
    if (size >= 4) {
        if (b[0] != 0 && b[1] == 0 && b[2] != 0 && b[3] == 0) {
            guess = VTC_UTF_16_SMALLENDIAN;
            guessed = true;
        } else if (b[0] == 0 && b[1] != 0 && b[2] == 0 && b[3] != 0) {
            guess = VTC_UTF_16_BIGENDIAN;
            guessed = true;
        } else if ((*charSet == VTC_UTF_16_BIGENDIAN || *charSet == VTC_UTF_16_SMALLENDIAN) &&
                   std::all_of(b, b + 4, [](uint8_t c) { return c >= 0x01 && c <= 0x7F; })) {
            guess = VTC_UTF_8;
            guessed = true;
        }
    }
    if (detectUTF8 && DetectUTF8(b, std::min(size, 2048))) {
        guess = VTC_UTF_8;
        guessed = true;
    }
    if (guessed)
        *charSet = guess;
    return guessed;
}

// --- names ---

namespace {

VString RowName(const VCharSetNameRow& row)
{
    return VString(row.fUniName);
}

}  // namespace

void VTextConverters::GetNameFromCharSet(CharSet charSet, VString& name)
{
    name.Clear();
    for (const VCharSetNameRow* row = sCharSetNameTable; row->fUniName != nullptr; ++row) {
        if (row->fCharSet == charSet) {
            name.FromUniCString(row->fUniName);
            return;
        }
    }
}

CharSet VTextConverters::GetCharSetFromName(const VString& name)
{
    for (const VCharSetNameRow* row = sCharSetNameTable; row->fUniName != nullptr; ++row) {
        if (name.EqualToString(RowName(*row), false))
            return row->fCharSet;
    }
    return VTC_UNKNOWN;
}

int VTextConverters::GetMIBEnumFromCharSet(CharSet charSet)
{
    for (const VCharSetNameRow* row = sCharSetNameTable; row->fUniName != nullptr; ++row) {
        if (row->fCharSet == charSet)
            return row->fMIBEnum;
    }
    return 0;
}

int VTextConverters::GetMIBEnumFromName(const VString& name)
{
    for (const VCharSetNameRow* row = sCharSetNameTable; row->fUniName != nullptr; ++row) {
        if (name.EqualToString(RowName(*row), false))
            return row->fMIBEnum;
    }
    return 0;
}

CharSet VTextConverters::GetCharSetFromMIBEnum(int mibEnum)
{
    for (const VCharSetNameRow* row = sCharSetNameTable; row->fUniName != nullptr; ++row) {
        if (row->fMIBEnum == mibEnum)
            return row->fCharSet;
    }
    return VTC_UNKNOWN;
}

void VTextConverters::GetNameFromMIBEnum(int mibEnum, VString& name)
{
    name.Clear();
    for (const VCharSetNameRow* row = sCharSetNameTable; row->fUniName != nullptr; ++row) {
        if (row->fMIBEnum == mibEnum) {
            name.FromUniCString(row->fUniName);
            return;
        }
    }
}

void VTextConverters::EnumWebCharsets(std::vector<VString>& names, std::vector<CharSet>& charSets)
{
    names.clear();
    charSets.clear();
    for (const VCharSetNameRow* row = sCharSetNameTable; row->fUniName != nullptr; ++row) {
        if (row->fWeb == 1) {
            names.push_back(RowName(*row));
            charSets.push_back(row->fCharSet);
        }
    }
}

void VTextConverters::EnumCharsets(std::vector<VString>& names, std::vector<CharSet>& charSets)
{
    std::vector<VString> sortedNames;
    std::vector<CharSet> sortedCharSets;
    bool any = false;
    int32_t lastAdded = 0;
    for (const VCharSetNameRow* row = sCharSetNameTable; row->fUniName != nullptr; ++row) {
        if (any && row->fCharSet == lastAdded)
            continue;
        VString name = RowName(*row);
        auto at = std::lower_bound(sortedNames.begin(), sortedNames.end(), name,
                                   [](const VString& a, const VString& b) { return a.CompareToString(b, false) < 0; });
        size_t index = static_cast<size_t>(at - sortedNames.begin());
        sortedNames.insert(at, name);
        sortedCharSets.insert(sortedCharSets.begin() + static_cast<std::ptrdiff_t>(index),
                              row->fCharSet);
        lastAdded = row->fCharSet;
        any = true;
    }
    names.swap(sortedNames);
    charSets.swap(sortedCharSets);
}

}  // namespace bkit
