// VStringFormat.cpp - printf-style formatting into strings, and placeholder filling.
//
// This file implements the formatter engine declared in VStringFormatter.h,
// the formatting members of VString with the free Printf, ToString and
// to_string, and the fillers of {name} and {{path}} placeholders.
//
// The engine never hands vsnprintf a conversion it cannot handle: the format
// is cut into segments at every toolbox conversion (and "%n"), each segment
// runs with the argument list positioned at its own first argument, and the
// list is walked past the segment by reading the same conversions again. The
// texts of toolbox objects are then put in at the recorded byte offsets, so
// literal text or arguments that look like a placeholder are never mistaken
// for one.
#include "basekit/text/VStringFormatter.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <typeinfo>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/text/VString.h"
#include "basekit/values/VValue.h"

namespace bkit {

namespace {

// The C type an argument is read as, after default promotions.
enum class ArgKind : uint8_t { Int, Long, LongLong, IntMax, Size, PtrDiff, WInt, Double, LongDouble, Pointer };

enum class LengthModifier : uint8_t { None, Char, Short, Long, LongLong, IntMax, Size, PtrDiff, LongDouble };

struct ConversionSpec {
    size_t fLength = 0;     // bytes from '%' through the conversion character
    char fConversion = 0;   // 0 when the format ends inside the conversion
    LengthModifier fModifier = LengthModifier::None;
    bool fIsToolbox = false;
    bool fPositional = false;  // "%1$d": takes its argument by number
    int fArgCount = 0;
    ArgKind fArgs[3] = {ArgKind::Int, ArgKind::Int, ArgKind::Int};

    void AddArg(ArgKind kind) { fArgs[fArgCount++] = kind; }
};

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

inline bool IsFlag(char c)
{
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\'' || c == 'I';
}

// Skips "123$" at p[i] when present; true when it was a positional reference.
bool SkipPositional(const char* p, size_t& i)
{
    size_t j = i;
    while (IsDigit(p[j]))
        ++j;
    if (j > i && p[j] == '$') {
        i = j + 1;
        return true;
    }
    return false;
}

ArgKind IntegerKind(LengthModifier modifier)
{
    switch (modifier) {
    case LengthModifier::Long: return ArgKind::Long;
    case LengthModifier::LongLong:
    case LengthModifier::LongDouble: return ArgKind::LongLong;  // "%Ld" is read as long long
    case LengthModifier::IntMax: return ArgKind::IntMax;
    case LengthModifier::Size: return ArgKind::Size;
    case LengthModifier::PtrDiff: return ArgKind::PtrDiff;
    default: return ArgKind::Int;
    }
}

ConversionSpec ParseFullSpec(const char* p);

// p points at a '%'.
ConversionSpec ParseSpec(const char* p)
{
    ConversionSpec spec;
    if (p[1] == 'S' || p[1] == 'A' || p[1] == 'V') {
        spec.fLength = 2;
        spec.fConversion = p[1];
        spec.fIsToolbox = true;
        spec.AddArg(ArgKind::Pointer);
        return spec;
    }
    // The common bare conversions, read as the full grammar below reads them.
    switch (p[1]) {
    case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c':
        spec.AddArg(ArgKind::Int);
        break;
    case 's': case 'p':
        spec.AddArg(ArgKind::Pointer);
        break;
    case 'f': case 'g': case 'e': case 'F': case 'G': case 'E':
        spec.AddArg(ArgKind::Double);
        break;
    case '%':
        break;
    default:
        return ParseFullSpec(p);
    }
    spec.fLength = 2;
    spec.fConversion = p[1];
    return spec;
}

ConversionSpec ParseFullSpec(const char* p)
{
    ConversionSpec spec;

    size_t i = 1;
    bool positional = SkipPositional(p, i);
    while (IsFlag(p[i]))
        ++i;
    if (p[i] == '*') {
        ++i;
        positional |= SkipPositional(p, i);
        spec.AddArg(ArgKind::Int);
    } else {
        while (IsDigit(p[i]))
            ++i;
    }
    if (p[i] == '.') {
        ++i;
        if (p[i] == '*') {
            ++i;
            positional |= SkipPositional(p, i);
            spec.AddArg(ArgKind::Int);
        } else {
            while (IsDigit(p[i]))
                ++i;
        }
    }
    switch (p[i]) {
    case 'h':
        ++i;
        spec.fModifier = LengthModifier::Short;
        if (p[i] == 'h') {
            ++i;
            spec.fModifier = LengthModifier::Char;
        }
        break;
    case 'l':
        ++i;
        spec.fModifier = LengthModifier::Long;
        if (p[i] == 'l') {
            ++i;
            spec.fModifier = LengthModifier::LongLong;
        }
        break;
    case 'q': ++i; spec.fModifier = LengthModifier::LongLong; break;
    case 'L': ++i; spec.fModifier = LengthModifier::LongDouble; break;
    case 'j': ++i; spec.fModifier = LengthModifier::IntMax; break;
    case 'z':
    case 'Z': ++i; spec.fModifier = LengthModifier::Size; break;
    case 't': ++i; spec.fModifier = LengthModifier::PtrDiff; break;
    default: break;
    }

    const char conversion = p[i];
    if (conversion == 0) {
        spec.fLength = i;
        spec.fArgCount = 0;
        return spec;
    }
    spec.fLength = i + 1;
    spec.fConversion = conversion;
    switch (conversion) {
    case 'd': case 'i': case 'o': case 'u': case 'x': case 'X':
        spec.AddArg(IntegerKind(spec.fModifier));
        break;
    case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'a': case 'A':
        spec.AddArg(spec.fModifier == LengthModifier::LongDouble ? ArgKind::LongDouble : ArgKind::Double);
        break;
    case 'c':
        spec.AddArg(spec.fModifier == LengthModifier::Long ? ArgKind::WInt : ArgKind::Int);
        break;
    case 'C':
        spec.AddArg(ArgKind::WInt);
        break;
    case 'S':
    case 'V':
        // The toolbox's object conversions with flags, width, precision or a
        // length modifier: vsnprintf would read a VString as wide text, so
        // they stay toolbox conversions and the modifiers are ignored.
        spec.fIsToolbox = true;
        spec.AddArg(ArgKind::Pointer);
        break;
    case 's': case 'p': case 'n':
        spec.AddArg(ArgKind::Pointer);
        break;
    default:  // "%%", "%m" and conversions vsnprintf does not know take nothing
        break;
    }
    if (positional) {
        // Arguments by number cannot be walked in order; such formats only
        // work whole, without toolbox conversions.
        spec.fPositional = true;
        spec.fArgCount = 0;
    }
    return spec;
}

void SkipArg(ArgKind kind, va_list* ap)
{
    switch (kind) {
    case ArgKind::Int: (void)va_arg(*ap, int); break;
    case ArgKind::Long: (void)va_arg(*ap, long); break;
    case ArgKind::LongLong: (void)va_arg(*ap, long long); break;
    case ArgKind::IntMax: (void)va_arg(*ap, intmax_t); break;
    case ArgKind::Size: (void)va_arg(*ap, size_t); break;
    case ArgKind::PtrDiff: (void)va_arg(*ap, ptrdiff_t); break;
    case ArgKind::WInt: (void)va_arg(*ap, wint_t); break;
    case ArgKind::Double: (void)va_arg(*ap, double); break;
    case ArgKind::LongDouble: (void)va_arg(*ap, long double); break;
    case ArgKind::Pointer: (void)va_arg(*ap, void*); break;
    }
}

// Walks ap past the arguments of every conversion of a segment.
void SkipSegmentArgs(const char* segment, va_list* ap)
{
    for (const char* p = segment; *p;) {
        if (*p != '%') {
            ++p;
            continue;
        }
        ConversionSpec spec = ParseSpec(p);
        for (int a = 0; a < spec.fArgCount; ++a)
            SkipArg(spec.fArgs[a], ap);
        if (spec.fConversion == 0)
            break;
        p += spec.fLength;
    }
}

void StoreCount(void* target, LengthModifier modifier, uint64_t count)
{
    if (target == nullptr)
        return;
    switch (modifier) {
    case LengthModifier::Char: *static_cast<signed char*>(target) = static_cast<signed char>(count); break;
    case LengthModifier::Short: *static_cast<short*>(target) = static_cast<short>(count); break;
    case LengthModifier::Long: *static_cast<long*>(target) = static_cast<long>(count); break;
    case LengthModifier::LongLong:
    case LengthModifier::LongDouble: *static_cast<long long*>(target) = static_cast<long long>(count); break;
    case LengthModifier::IntMax: *static_cast<intmax_t*>(target) = static_cast<intmax_t>(count); break;
    case LengthModifier::Size: *static_cast<size_t*>(target) = static_cast<size_t>(count); break;
    case LengthModifier::PtrDiff: *static_cast<ptrdiff_t*>(target) = static_cast<ptrdiff_t>(count); break;
    case LengthModifier::None: *static_cast<int*>(target) = static_cast<int>(count); break;
    }
}

// The first '%' or the terminating zero at or after p. Aligned 16-byte
// loads never reach into a page the text does not touch (the bytes around
// the text that they read are ignored, hence no address checking here).
__attribute__((no_sanitize("address"))) const char* FindPercentOrEnd(const char* p)
{
#if defined(__SSE2__)
    const __m128i percent = _mm_set1_epi8('%');
    const __m128i zero = _mm_setzero_si128();
    const uintptr_t offset = reinterpret_cast<uintptr_t>(p) & 15;
    const char* block = p - offset;
    __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    unsigned mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, percent), _mm_cmpeq_epi8(bytes, zero))));
    mask &= ~0u << offset;
    while (mask == 0) {
        block += 16;
        bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, percent), _mm_cmpeq_epi8(bytes, zero))));
    }
    return block + __builtin_ctz(mask);
#else
    while (*p && *p != '%')
        ++p;
    return p;
#endif
}

// Pointers that cannot be a live object whatever the memory manager says:
// null, the zero page, or misaligned for an object with a virtual table.
bool CanBeObject(const void* pointer)
{
    const uintptr_t address = reinterpret_cast<uintptr_t>(pointer);
    return address >= 4096 && address % alignof(void*) == 0;
}

// The string a "%S" argument points at, or null when it is no string.
const VString* StringObject(const void* pointer)
{
    const void* checked = VCppMemMgr::CheckVObject(pointer);
    if (!CanBeObject(checked))
        return nullptr;
    // The caller passed a pointer to an object whose primary base is VObject.
    const VObject* object = static_cast<const VObject*>(checked);
    // A plain string needs no walk of the class tree.
    if (typeid(*object) == typeid(VString))
        return static_cast<const VString*>(object);
    return dynamic_cast<const VString*>(object);
}

}  // namespace

size_t VStringFormatter::Utf8PrefixLength(const char* text, size_t length)
{
    // Step back over the continuation bytes of the last sequence to its lead byte.
    size_t lead = length;
    size_t continuations = 0;
    while (lead > 0 && continuations < 4 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) {
        --lead;
        ++continuations;
    }
    if (lead == 0)
        return length;
    const unsigned char c = static_cast<unsigned char>(text[lead - 1]);
    size_t needed = 0;
    if (c < 0x80)
        needed = 1;
    else if ((c & 0xE0) == 0xC0)
        needed = 2;
    else if ((c & 0xF0) == 0xE0)
        needed = 3;
    else if ((c & 0xF8) == 0xF0)
        needed = 4;
    if (needed == 0 || continuations + 1 >= needed)
        return length;
    return lead - 1;
}

void VStringFormatter::_AddObject(char conversion, const void* object)
{
    ObjectSlot slot{fLength, conversion, object};
    if (fObjectCount < kInlineObjects)
        fInlineObjects[fObjectCount] = slot;
    else
        fMoreObjects.push_back(slot);
    ++fObjectCount;
}

void VStringFormatter::_FlushSegment(va_list* ap, bool last, const char* text)
{
    if (text == nullptr) {
        if (fSegmentLength == 0)
            return;
        fSegment[fSegmentLength] = 0;
        fSegmentLength = 0;
        text = fSegment;
    }

    const size_t room = kMaxOutputBytes + 1 - fLength;
    va_list copy;
    va_copy(copy, *ap);
    const int printed = vsnprintf(fOutput + fLength, room, text, copy);
    va_end(copy);
    if (!last)
        SkipSegmentArgs(text, ap);

    if (printed < 0) {
        // An encoding failure of wide text: the segment gives nothing.
        fSegmentFailed = true;
        fOutput[fLength] = 0;
        return;
    }
    const size_t written = static_cast<size_t>(printed) < room ? static_cast<size_t>(printed) : room - 1;
    if (written < static_cast<size_t>(printed))
        fOutputCut = true;
    fLength += written;
    fWouldBe += static_cast<uint64_t>(printed);
}

bool VStringFormatter::_SpliceString(const void* object, size_t& room)
{
    const VString* string = StringObject(object);
    if (string == nullptr)
        return false;
    // "%.0s" takes the pointer from the list and prints nothing; the text
    // follows as literal text. Only plain ASCII reads back as it was.
    static constexpr char kTakePointer[] = "%.0s";
    const size_t start = fSegmentLength;
    const size_t end = start + room;
    size_t at = start;
    if (at + sizeof(kTakePointer) - 1 > end)
        return false;
    std::memcpy(fSegment + at, kTakePointer, sizeof(kTakePointer) - 1);
    at += sizeof(kTakePointer) - 1;
    const UniChar* units = string->GetCPointer();
    const VIndex length = string->GetLength();
    for (VIndex i = 0; i < length; ++i) {
        const UniChar u = units[i];
        if (u == 0 || u >= 0x80 || at + (u == '%' ? 2 : 1) > end)
            return false;
        fSegment[at++] = static_cast<char>(u);
        if (u == '%')
            fSegment[at++] = '%';
    }
    fSegmentLength = at;
    room -= at - start;
    return true;
}

void VStringFormatter::Run(const char* format, va_list args)
{
    _Run(format, args, false);
}

void VStringFormatter::RunSplicingStrings(const char* format, va_list args)
{
    if (!_Run(format, args, true))
        _Run(format, args, false);
}

bool VStringFormatter::_Run(const char* format, va_list args, bool splice)
{
    fOutput[0] = 0;
    fLength = 0;
    fWouldBe = 0;
    fCut = false;
    fOutputCut = false;
    fSegmentLength = 0;
    fObjectCount = 0;
    fMoreObjects.clear();
    fSegmentFailed = false;
    bool spliced = false;
    if (format == nullptr)
        return true;

    va_list ap;
    va_copy(ap, args);
    va_list walk;
    va_copy(walk, args);
    size_t walked = 0;
    size_t budget = kMaxFormatBytes;
    // Text of the format that goes into the segment as it stands is only
    // marked (from pending to p) and copied when something else must follow
    // it; a format that is run as it stands is never copied at all.
    const char* pending = format;
    auto takePending = [&](const char* to) {
        const size_t n = static_cast<size_t>(to - pending);
        std::memcpy(fSegment + fSegmentLength, pending, n);
        fSegmentLength += n;
    };
    auto giveUp = [&] {
        va_end(walk);
        va_end(ap);
        return false;
    };
    const char* p = format;
    while (*p) {
        if (*p != '%') {
            const char* end = FindPercentOrEnd(p);
            size_t n = static_cast<size_t>(end - p);
            if (n > budget) {
                if (splice)
                    return giveUp();
                n = Utf8PrefixLength(p, budget);
                p += n;
                fCut = true;
                break;
            }
            budget -= n;
            p = end;
            continue;
        }

        const ConversionSpec spec = ParseSpec(p);
        if (spec.fConversion == 0)
            break;  // the format ends inside a conversion: it is dropped
        const size_t weight = spec.fIsToolbox ? kObjectPlaceholderBytes : spec.fLength;
        if (weight > budget) {
            if (splice)
                return giveUp();
            fCut = true;
            break;
        }
        budget -= weight;

        if (splice && (spec.fIsToolbox || spec.fConversion == 'n' || spec.fPositional)) {
            // Positional arguments only work without toolbox conversions, and
            // the text before a "%n" must not hold spliced texts.
            if (spec.fConversion != 'S' || spec.fArgCount != 1 || spec.fPositional)
                return giveUp();
            // The whole format runs as one segment: walk catches up with the
            // arguments of the segment since the last splice to reach the
            // string's pointer.
            takePending(p);
            fSegment[fSegmentLength] = 0;
            SkipSegmentArgs(fSegment + walked, &walk);
            // The text takes the placeholder's room in the format, so the
            // rest of the format still fits behind it.
            size_t room = budget + weight;
            if (!_SpliceString(va_arg(walk, void*), room))
                return giveUp();
            budget = room;
            walked = fSegmentLength;
            pending = p + spec.fLength;
            spliced = true;
        } else if (spec.fIsToolbox || spec.fConversion == 'n') {
            takePending(p);
            _FlushSegment(&ap, false, nullptr);
            // '*' widths and precisions of these conversions are read and ignored.
            for (int a = 0; a + 1 < spec.fArgCount; ++a)
                SkipArg(spec.fArgs[a], &ap);
            void* object = spec.fArgCount > 0 ? va_arg(ap, void*) : nullptr;
            if (spec.fConversion == 'n')
                StoreCount(object, spec.fModifier, fWouldBe);
            else if (fLength < kMaxOutputBytes)
                _AddObject(spec.fConversion, object);
            pending = p + spec.fLength;
        }
        p += spec.fLength;
    }
    if (pending == format && *p == 0) {
        _FlushSegment(&ap, true, format);
    } else {
        takePending(p);
        _FlushSegment(&ap, true, nullptr);
    }
    va_end(ap);
    va_end(walk);

    // Spliced texts count in the output, and a zero byte or a failed segment
    // would take them along: then the texts go back to their own places.
    if (spliced && (fOutputCut || fSegmentFailed || std::strlen(fOutput) != fLength))
        return false;
    if (fOutputCut) {
        fCut = true;
        fLength = Utf8PrefixLength(fOutput, fLength);
        fOutput[fLength] = 0;
        for (size_t i = 0; i < fObjectCount; ++i) {
            ObjectSlot& slot = i < kInlineObjects ? fInlineObjects[i] : fMoreObjects[i - kInlineObjects];
            if (slot.fOffset > fLength)
                slot.fOffset = fLength;
        }
    }
    return true;
}

// --- strings ---

namespace {

// The text of one toolbox conversion.
void MakeObjectText(char conversion, const void* pointer, VString& text)
{
    const void* checked = VCppMemMgr::CheckVObject(pointer);
    if (!CanBeObject(checked)) {
        text.FromCString("@@invalid VObject@@");
        return;
    }
    // The caller passed a pointer to an object whose primary base is VObject.
    VObject* object = static_cast<VObject*>(const_cast<void*>(checked));
    switch (conversion) {
    case 'S':
        if (const VString* string = dynamic_cast<const VString*>(object))
            text.FromString(*string);
        else
            text.FromCString("@@invalid VString@@");
        break;
    case 'A':
        if (const VValueSingle* value = dynamic_cast<const VValueSingle*>(object))
            value->GetString(text);
        else
            text.FromCString("@@invalid VValueSingle@@");
        break;
    default:
        object->DebugDump(text);
        break;
    }
}

// The string of a "%S" that can be read where it stands: a valid string
// object other than the target (whose text changes as it is appended to);
// null when the text must be made with MakeObjectText.
const VString* StringReadInPlace(char conversion, const void* pointer, const VString& target)
{
    const VString* string = conversion == 'S' ? StringObject(pointer) : nullptr;
    return string != &target ? string : nullptr;
}

// Appends what the engine produced, the objects' texts at their places.
void AppendFormatted(VString& target, VStringFormatter& engine)
{
    const size_t count = engine.GetObjectCount();
    if (count == 0) {
        target.AppendCString(engine.GetOutput());
        return;
    }
    // Every text is made before anything is appended, so that "%S" of the
    // target itself reads its text as it stood.
    // Strings are read where they stand; the other texts are made here.
    constexpr size_t kInlineTexts = 8;
    std::optional<VString> madeTexts[kInlineTexts];
    const VString* inlineTexts[kInlineTexts];
    std::vector<VString> moreMade(count > kInlineTexts ? count - kInlineTexts : 0);
    std::vector<const VString*> moreTexts(moreMade.size());
    auto textAt = [&](size_t i) -> const VString& {
        return i < kInlineTexts ? *inlineTexts[i] : *moreTexts[i - kInlineTexts];
    };
    int64_t units = 0;
    for (size_t i = 0; i < count; ++i) {
        const VStringFormatter::ObjectSlot& slot = engine.GetObject(i);
        const VString* text = StringReadInPlace(slot.fConversion, slot.fObject, target);
        if (text == nullptr) {
            VString* made = i < kInlineTexts ? &madeTexts[i].emplace() : &moreMade[i - kInlineTexts];
            MakeObjectText(slot.fConversion, slot.fObject, *made);
            text = made;
        }
        (i < kInlineTexts ? inlineTexts[i] : moreTexts[i - kInlineTexts]) = text;
        units += text->GetLength();
    }

    // The byte pieces between the texts, each read up to its first zero as a
    // C string is. When all are plain ASCII the whole result is written at
    // once into room made for it.
    char* output = engine.GetMutableOutput();
    const size_t outputLength = engine.GetOutputLength();
    auto pieceLength = [&](size_t from, size_t to) { return strnlen(output + from, to - from); };
    bool ascii = true;
    for (size_t i = 0; i < outputLength; ++i)
        ascii &= static_cast<unsigned char>(output[i]) < 0x80;
    if (ascii) {
        size_t from = 0;
        for (size_t i = 0; i < count; ++i) {
            units += static_cast<int64_t>(pieceLength(from, engine.GetObject(i).fOffset));
            from = std::max(from, engine.GetObject(i).fOffset);
        }
        units += static_cast<int64_t>(pieceLength(from, outputLength));
        const VIndex start = target.GetLength();
        if (units == 0)
            return;
        if (units + start <= INT32_MAX && target._MakeRoomToAppend(static_cast<VIndex>(units))) {
            UniChar* out = target.GetCPointerForWrite() + start;
            auto putBytes = [&](size_t at, size_t n) {
                for (size_t k = 0; k < n; ++k)
                    *out++ = static_cast<UniChar>(static_cast<unsigned char>(output[at + k]));
            };
            from = 0;
            for (size_t i = 0; i < count; ++i) {
                const size_t at = engine.GetObject(i).fOffset;
                if (at > from) {
                    putBytes(from, pieceLength(from, at));
                    from = at;
                }
                const VString& text = textAt(i);
                std::memcpy(out, text.GetCPointer(), static_cast<size_t>(text.GetLength()) * sizeof(UniChar));
                out += text.GetLength();
            }
            if (from < outputLength)
                putBytes(from, pieceLength(from, outputLength));
            target.Validate(start + static_cast<VIndex>(units));
        }
        return;
    }

    size_t from = 0;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = engine.GetObject(i).fOffset;
        if (at > from) {
            const char saved = output[at];
            output[at] = 0;
            target.AppendCString(output + from);
            output[at] = saved;
            from = at;
        }
        target.AppendString(textAt(i));
    }
    if (from < outputLength)
        target.AppendCString(output + from);
}

// Fills {name} placeholders of text; lookup(name, out) answers whether the
// name is known and sets its text.
template <class Lookup>
void FillPlaceholders(VString& text, bool removeUnknown, Lookup lookup)
{
    if (text.GetLength() < 2)
        return;
    VString name;
    VString value;
    VIndex pos = 1;
    while (pos <= text.GetLength()) {
        const VIndex open = text.FindUniChar(u'{', pos);
        if (open == 0)
            break;
        if (text.GetUniChar(open + 1) == u'{') {
            pos = open + 2;
            continue;
        }
        const VIndex close = text.FindUniChar(u'}', open + 1);
        if (close == 0)
            break;
        if (text.GetUniChar(close + 1) == u'}') {
            pos = close + 2;
            continue;
        }
        const VIndex nameLength = close - open - 1;
        if (nameLength > 0)
            text.GetSubString(open + 1, nameLength, name);
        if (nameLength == 0 || name.FindUniChar(u' ') != 0) {
            pos = open + 1;
            continue;
        }
        value.Clear();
        if (lookup(name, value)) {
            text.Replace(value, open, nameLength + 2);
            pos = open + value.GetLength();
        } else if (removeUnknown) {
            text.Remove(open, nameLength + 2);
            pos = open;
        } else {
            pos = open + 1;
        }
    }
}

bool IsAbsent(const VJSONValue& value)
{
    return value.GetType() == JSON_null || value.GetType() == JSON_undefined;
}


}  // namespace

VString& VString::Printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    VPrintf(format, args);
    va_end(args);
    return *this;
}

VString& VString::VPrintf(const char* format, va_list args)
{
    // A private block that the formatted text can fill is kept: formatting
    // again into the same string then takes no new block each time.
    _EmptyKeepingRoom(static_cast<VIndex>(VStringFormatter::kMaxOutputBytes) + 1);
    VStringFormatter engine;
    engine.RunSplicingStrings(format, args);
    AppendFormatted(*this, engine);
    SetNull(false);
    SetDirty(true);
    return *this;
}

VString& VString::AppendPrintf(const char* format, ...)
{
    VStringFormatter engine;
    va_list args;
    va_start(args, format);
    engine.RunSplicingStrings(format, args);
    va_end(args);
    AppendFormatted(*this, engine);
    return *this;
}

VString Printf(const char* format, ...)
{
    VString result;
    va_list args;
    va_start(args, format);
    result.VPrintf(format, args);
    va_end(args);
    return result;
}

VString ToString(int value)
{
    VString result;
    result.AppendLong(value);
    return result;
}

VString ToString(long long value)
{
    VString result;
    result.AppendLong8(value);
    return result;
}

VString ToString(unsigned long long value)
{
    VString result;
    result.AppendULong8(value);
    return result;
}

VString ToString(unsigned long value)
{
    VString result;
    result.AppendULong8(value);
    return result;
}

std::string to_string(const VString& text)
{
    if (text.IsEmpty())
        return std::string();
    StStringConverter<char> converter(text, VTC_UTF_8);
    const char* bytes = converter.GetCPointer();
    return bytes != nullptr ? std::string(bytes, static_cast<size_t>(converter.GetSize())) : std::string();
}

void VString::Format(const VValueBag* bag, bool removeUnknown)
{
    if (bag == nullptr || bag->IsEmpty())
        return;
    FillPlaceholders(*this, removeUnknown, [bag](const VString& name, VString& text) {
        const VValueSingle* value = bag->GetAttributeValue(StPackedDictionaryKey(name));
        if (value == nullptr)
            return false;
        value->GetString(text);
        return true;
    });
}

void VString::Format(const VJSONObject* object, bool removeUnknown)
{
    if (object == nullptr || object->IsEmpty())
        return;
    FillPlaceholders(*this, removeUnknown, [object](const VString& name, VString& text) {
        const VJSONValue value = object->GetProperty(name);
        if (IsAbsent(value))
            return false;
        value.GetString(text);
        return true;
    });
}

void VString::FormatWithTemplate(const VJSONObject* object, VString& out) const
{
    out.Clear();
    const VString open("{{");
    const VString close("}}");
    std::vector<VString> pieces;
    GetSubStrings(open, pieces, true, false, true);
    std::vector<VString> parts;
    VString text;
    for (size_t i = 0; i < pieces.size(); ++i) {
        // The text before the first "{{" is never a placeholder, even when it
        // holds a "}}".
        if (i == 0) {
            out.AppendString(pieces[i]);
            continue;
        }
        pieces[i].GetSubStrings(close, parts, true, false, true);
        if (parts.size() < 2) {
            // An unclosed "{{" is text: it stays in the output.
            out.AppendString(open);
            out.AppendString(pieces[i]);
            continue;
        }
        text.Clear();
        if (object != nullptr) {
            const VJSONValue value = object->GetPropertyWithPath(parts[0]);
            if (!IsAbsent(value))
                value.GetString(text);
        }
        out.AppendString(text);
        for (size_t k = 1; k < parts.size(); ++k)
            out.AppendString(parts[k]);
    }
}

}  // namespace bkit
