// TextEncoding.cpp - legacy text encodings over ICU converters.
//
// The service's numbers are mapped to ICU converter names once; each call
// resets the ICU converter so that no state leaks from one call to the next.
// Output is cut at character boundaries with ICU's offsets, since ICU keeps
// the part of a character that overflowed the target in its own buffer and
// would otherwise count the character as read.
#include "basekit/platform/TextEncoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace bkit::platform {

struct TextEncodingConverter {
    UConverter* fICU;
};

namespace {

struct EncodingName {
    uint32_t fBase;
    const char* fICUName;
};

// Base encodings of the service and the ICU converter that reads them. Where
// ICU lacks the Mac encoding the closest one stands in (see the header).
constexpr EncodingName kEncodingNames[] = {
    {0x0, "macintosh"},
    {0x1, "Shift_JIS"},          // Mac Japanese
    {0x2, "Big5"},               // Mac Traditional Chinese
    {0x4, "windows-1256"},       // Mac Arabic
    {0x5, "windows-1255"},       // Mac Hebrew
    {0x6, "x-mac-greek"},
    {0x7, "x-mac-cyrillic"},
    {0x19, "GB2312"},            // Mac Simplified Chinese (EUC-CN based)
    {0x1D, "x-mac-centraleurroman"},
    {0x23, "x-mac-turkish"},
    {0x201, "ISO-8859-1"},
    {0x202, "ISO-8859-2"},
    {0x203, "ISO-8859-3"},
    {0x204, "ISO-8859-4"},
    {0x205, "ISO-8859-5"},
    {0x206, "ISO-8859-6"},
    {0x207, "ISO-8859-7"},
    {0x208, "ISO-8859-8"},
    {0x209, "ISO-8859-9"},
    {0x20A, "ISO-8859-10"},
    {0x20D, "ISO-8859-13"},
    {0x20F, "ISO-8859-15"},
    {0x400, "ibm-437"},
    {0x420, "windows-31j"},
    {0x421, "GBK"},
    {0x423, "windows-950"},
    {0x500, "windows-1252"},
    {0x501, "windows-1250"},
    {0x502, "windows-1251"},
    {0x503, "windows-1253"},
    {0x504, "windows-1254"},
    {0x505, "windows-1255"},
    {0x506, "windows-1256"},
    {0x507, "windows-1257"},
    {0x600, "US-ASCII"},
    {0x630, "GB2312"},           // GB 2312-80, read in its EUC form
    {0x820, "ISO-2022-JP"},
    {0x940, "EUC-KR"},
    {0xA01, "Shift_JIS"},
    {0xA02, "KOI8-R"},
    {0xA03, "Big5"},
    {0xC02, "ibm-37"},
};

const char* ICUNameOf(TextEncoding encoding)
{
    uint32_t base = GetTextEncodingBase(encoding);
    if (base == kTextEncodingUnicodeDefault) {
        switch (GetTextEncodingFormat(encoding)) {
            case 0: return "UTF-16LE";
            case 1: return "UTF-7";
            case 2: return "UTF-8";
            case 3: return "UTF-32LE";
            default: return nullptr;
        }
    }
    for (const EncodingName& entry : kEncodingNames) {
        if (entry.fBase == base)
            return entry.fICUName;
    }
    return nullptr;
}

// ICU reports an escape sequence that follows another with nothing between
// them (an empty run) as irregular. Such sequences are legal ISO-2022-JP and
// are what text written in pieces holds, since every piece ends in the
// initial state: the empty run is read as nothing. Everything else is
// replaced as ICU does by default.
void ReadEmptyRunsAsNothing(const void* context, UConverterToUnicodeArgs* args, const char* codeUnits,
                            int32_t length, UConverterCallbackReason reason, UErrorCode* status)
{
    if (reason == UCNV_IRREGULAR && *status == U_ILLEGAL_ESCAPE_SEQUENCE) {
        *status = U_ZERO_ERROR;
        return;
    }
    UCNV_TO_U_CALLBACK_SUBSTITUTE(context, args, codeUnits, length, reason, status);
}

int32_t Open(TextEncoding encoding, bool toText, TextEncodingConverter** out)
{
    *out = nullptr;
    const char* name = ICUNameOf(encoding);
    if (name == nullptr)
        return kTextUnsupportedEncodingErr;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* icu = ucnv_open(name, &status);
    if (U_FAILURE(status) || icu == nullptr)
        return kTextUnsupportedEncodingErr;
    if (toText) {
        // Stop at an unmappable character so that the caller decides what
        // stands in for it.
        ucnv_setFromUCallBack(icu, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    } else {
        ucnv_setToUCallBack(icu, ReadEmptyRunsAsNothing, nullptr, nullptr, nullptr, &status);
    }
    if (U_FAILURE(status)) {
        ucnv_close(icu);
        return kTextUnsupportedEncodingErr;
    }
    *out = new (std::nothrow) TextEncodingConverter{icu};
    if (*out == nullptr) {
        ucnv_close(icu);
        return kTECMemFullErr;
    }
    return kTECNoError;
}

// Output is converted into scratch room a little larger than the caller's,
// so that the character that overflows the caller's room shows its offset:
// the cut then falls after the last whole character that fits.
constexpr size_t kSpill = 16;

// The largest k <= limit at which output unit k starts a new source character
// (offsets[k] differs from offsets[k - 1]), given produced units with their
// source offsets. When everything fits (produced <= limit and the conversion
// is complete), produced itself.
size_t WholeCharacterCut(const int32_t* offsets, size_t produced, size_t limit, bool complete)
{
    if (produced <= limit && complete)
        return produced;
    size_t k = produced < limit ? produced : limit;
    if (k == produced && k > 0)
        --k;  // the last unit's character may go on past the scratch room
    while (k > 0 && offsets[k] == offsets[k - 1])
        --k;
    return k;
}

// Whether the encoding's output may be left in a shifted state (a two-byte
// run of ISO-2022, a base64 run of UTF-7, a double-byte run of stateful
// EBCDIC) that only the end of a conversion closes. Unknown kinds count as
// shifted: closing a run that is not there costs a second pass, not wrong text.
bool WritesShiftedRuns(UConverter* icu)
{
    switch (ucnv_getType(icu)) {
        case UCNV_SBCS:
        case UCNV_DBCS:
        case UCNV_MBCS:
        case UCNV_LATIN_1:
        case UCNV_US_ASCII:
        case UCNV_UTF8:
        case UCNV_CESU8:
        case UCNV_UTF16_BigEndian:
        case UCNV_UTF16_LittleEndian:
        case UCNV_UTF32_BigEndian:
        case UCNV_UTF32_LittleEndian:
            return false;
        default:
            return true;
    }
}

// Bytes of scratch room taken by the Unicode-to-text runs, for tests.
std::atomic<uint64_t> gFromUnicodeScratchBytes{0};

// One Unicode-to-text conversion from the initial state into scratch room.
// The call stops at the first character the encoding cannot hold, which may
// come long before the caller's room is used: the room therefore starts small
// and doubles, up to the most the call may use, whenever a run fills it, and
// the run starts again. A run that did not fill the room gives what a run in
// the largest room gives, and the doubling keeps the cost of the runs in step
// with the output that the call converts.
class FromUnicodeRun {
public:
    FromUnicodeRun(UConverter* icu, const UniChar* source, size_t most)
        : fICU(icu), fSource(source), fMost(most)
    {
    }

    // Converts the first count units of the source, with flush.
    void Convert(size_t count)
    {
        for (;;) {
            if (fRoom == 0)
                Grow(kFirstRoom < fMost ? kFirstRoom : fMost);
            ucnv_resetFromUnicode(fICU);
            const UChar* in = fSource;
            char* out = fBytes.get();
            fStatus = U_ZERO_ERROR;
            ucnv_fromUnicode(fICU, &out, fBytes.get() + fRoom, &in, fSource + count, fOffsets.get(), true, &fStatus);
            fProduced = static_cast<size_t>(out - fBytes.get());
            fRead = static_cast<size_t>(in - fSource);
            if (fStatus != U_BUFFER_OVERFLOW_ERROR || fRoom == fMost)
                return;
            Grow(fRoom > fMost / 2 ? fMost : 2 * fRoom);
        }
    }

    // The room was full at its largest: the output goes on past it.
    bool Overflowed() const { return fStatus == U_BUFFER_OVERFLOW_ERROR; }
    // ICU could not run (other than for a full room or an unmappable character).
    bool Failed() const { return U_FAILURE(fStatus) && !Overflowed(); }
    const char* Bytes() const { return fBytes.get(); }
    const int32_t* Offsets() const { return fOffsets.get(); }

    UErrorCode fStatus = U_ZERO_ERROR;
    size_t fProduced = 0;  // bytes written
    size_t fRead = 0;      // units read

private:
    static constexpr size_t kFirstRoom = 256;

    // Left uninitialised: ICU writes what is read back.
    void Grow(size_t room)
    {
        fBytes.reset(new char[room]);
        fOffsets.reset(new int32_t[room]);
        fRoom = room;
        gFromUnicodeScratchBytes.fetch_add(room * (sizeof(char) + sizeof(int32_t)), std::memory_order_relaxed);
    }

    UConverter* fICU;
    const UniChar* fSource;
    size_t fMost;
    size_t fRoom = 0;
    std::unique_ptr<char[]> fBytes;
    std::unique_ptr<int32_t[]> fOffsets;
};

}  // namespace

int32_t CreateTextToUnicodeConverter(TextEncoding encoding, TextEncodingConverter** out)
{
    return Open(encoding, false, out);
}

int32_t CreateUnicodeToTextConverter(TextEncoding encoding, TextEncodingConverter** out)
{
    return Open(encoding, true, out);
}

void DisposeTextEncodingConverter(TextEncodingConverter* converter)
{
    if (converter == nullptr)
        return;
    ucnv_close(converter->fICU);
    delete converter;
}

int32_t ConvertTextToUnicode(TextEncodingConverter* converter, uint32_t, const void* source, size_t sourceBytes,
                             size_t* bytesRead, UniChar* target, size_t targetBytes, size_t* bytesWritten)
{
    *bytesRead = 0;
    *bytesWritten = 0;
    if (converter == nullptr || (source == nullptr && sourceBytes > 0) || (target == nullptr && targetBytes > 0))
        return kTECParamErr;
    if (sourceBytes == 0)
        return kTECNoError;
    size_t room = targetBytes / sizeof(UniChar);
    if (room == 0)
        return kTECOutputBufferFullStatus;
    if (room > static_cast<size_t>(INT32_MAX) || sourceBytes > static_cast<size_t>(INT32_MAX))
        return kTECParamErr;

    UConverter* icu = converter->fICU;
    ucnv_resetToUnicode(icu);
    size_t scratch = room + kSpill;
    std::vector<UChar> units(scratch);
    std::vector<int32_t> offsets(scratch);
    const char* in = static_cast<const char*>(source);
    UChar* out = units.data();
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(icu, &out, units.data() + scratch, &in, in + sourceBytes, offsets.data(), false, &status);
    size_t produced = static_cast<size_t>(out - units.data());
    bool overflow = status == U_BUFFER_OVERFLOW_ERROR;
    if (U_FAILURE(status) && !overflow) {
        ucnv_resetToUnicode(icu);
        return kTECParamErr;
    }
    int32_t answer = kTECNoError;
    size_t read = sourceBytes;
    size_t cut = WholeCharacterCut(offsets.data(), produced, room, !overflow);
    if (cut < produced || overflow) {
        read = offsets[cut] >= 0 ? static_cast<size_t>(offsets[cut]) : 0;
        answer = kTECOutputBufferFullStatus;
    } else {
        // Bytes held back for a character not yet complete are not read.
        int32_t pending = ucnv_toUCountPending(icu, &status);
        if (U_SUCCESS(status) && pending > 0) {
            read -= static_cast<size_t>(pending);
            answer = kTECPartialCharErr;
        }
    }
    ucnv_resetToUnicode(icu);
    std::memcpy(target, units.data(), cut * sizeof(UniChar));
    *bytesRead = read;
    *bytesWritten = cut * sizeof(UniChar);
    return answer;
}

int32_t ConvertUnicodeToText(TextEncodingConverter* converter, uint32_t, const UniChar* source, size_t sourceBytes,
                             size_t* bytesRead, void* target, size_t targetBytes, size_t* bytesWritten)
{
    *bytesRead = 0;
    *bytesWritten = 0;
    if (converter == nullptr || (source == nullptr && sourceBytes > 0) || (target == nullptr && targetBytes > 0))
        return kTECParamErr;
    size_t units = sourceBytes / sizeof(UniChar);
    // A high surrogate at the end may be completed by the caller's next call.
    if (units > 0 && source[units - 1] >= 0xD800 && source[units - 1] <= 0xDBFF)
        --units;
    if (units == 0)
        return kTECNoError;
    if (targetBytes == 0)
        return kTECOutputBufferFullStatus;
    if (targetBytes > static_cast<size_t>(INT32_MAX) || units > static_cast<size_t>(INT32_MAX))
        return kTECParamErr;

    UConverter* icu = converter->fICU;
    FromUnicodeRun run(icu, source, targetBytes + kSpill);
    run.Convert(units);
    size_t read = run.fRead;
    int32_t answer = kTECNoError;
    if (run.fStatus == U_INVALID_CHAR_FOUND || run.fStatus == U_ILLEGAL_CHAR_FOUND ||
        run.fStatus == U_TRUNCATED_CHAR_FOUND) {
        // ICU has read the offending character: give it back.
        UChar bad[8];
        int8_t badLength = sizeof(bad) / sizeof(bad[0]);
        UErrorCode ignored = U_ZERO_ERROR;
        ucnv_getInvalidUChars(icu, bad, &badLength, &ignored);
        if (U_SUCCESS(ignored) && static_cast<size_t>(badLength) <= read)
            read -= static_cast<size_t>(badLength);
        answer = kTECUnmappableElementErr;
        if (WritesShiftedRuns(icu)) {
            // ICU stops inside the shifted run it was writing, and the caller
            // puts a substitute right after the output: convert again up to
            // the character with flush, so that the output returns to the
            // initial state and the substitute reads as itself.
            run.Convert(read);
            if (run.Failed()) {
                ucnv_resetFromUnicode(icu);
                return kTECParamErr;
            }
        }
    } else if (run.Failed()) {
        ucnv_resetFromUnicode(icu);
        return kTECParamErr;
    }
    size_t cut = WholeCharacterCut(run.Offsets(), run.fProduced, targetBytes, !run.Overflowed());
    while (cut < run.fProduced || run.Overflowed()) {
        // Too long: convert again only the characters before the cut, so that
        // a stateful encoding (UTF-7, ISO-2022-JP) closes its output properly
        // instead of stopping inside a shifted run.
        answer = kTECOutputBufferFullStatus;
        size_t fewer = cut < run.fProduced && run.Offsets()[cut] >= 0 ? static_cast<size_t>(run.Offsets()[cut]) : read;
        if (fewer >= read)
            fewer = read > 0 ? read - 1 : 0;
        read = fewer;
        run.Convert(read);
        if (run.Failed()) {
            ucnv_resetFromUnicode(icu);
            return kTECParamErr;
        }
        cut = WholeCharacterCut(run.Offsets(), run.fProduced, targetBytes, !run.Overflowed());
    }
    ucnv_resetFromUnicode(icu);
    std::memcpy(target, run.Bytes(), cut);
    *bytesRead = read * sizeof(UniChar);
    *bytesWritten = cut;
    return answer;
}

uint64_t FromUnicodeScratchBytes()
{
    return gFromUnicodeScratchBytes.load(std::memory_order_relaxed);
}

}  // namespace bkit::platform
