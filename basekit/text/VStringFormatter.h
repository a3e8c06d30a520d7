// VStringFormatter.h - the printf engine behind the toolbox's string formatting.
//
// This file defines VStringFormatter, the worker shared by VString::Printf,
// VPrintf, AppendPrintf and the free Printf. It runs a printf format (UTF-8
// bytes) with its argument list through vsnprintf and sets aside the three
// toolbox conversions, which vsnprintf knows nothing of: "%S" (a VString*),
// "%A" (a VValueSingle*) and "%V" (any VObject*). They take no flags, width or
// precision; each receives the pointer at its own place in the argument list,
// however many '*' widths and precisions or "%%" stand before it. The engine
// only records where each object's text goes in the byte output; the caller
// (VStringFormat.cpp) makes the texts and joins everything into a string.
//
// Limits, kept from the toolbox's historical formatter: the format that is run
// holds at most 1023 bytes (a toolbox conversion counts as the 8 bytes of the
// placeholder it used to be), pieces beyond are dropped; the byte output holds
// at most 1023 bytes, the texts of toolbox conversions not counted, and a
// toolbox conversion that falls at or beyond that cut is dropped. Neither cut
// ever splits a conversion or a UTF-8 sequence.
//
// Positional arguments ("%1$d") work only in formats without toolbox
// conversions. "%n" stores the number of bytes the standard conversions and
// literal text produced so far (what vsnprintf would count), cut or not.
//
// With RunSplicingStrings, a "%S" of a string of plain ASCII text is, where
// that gives the same result, copied into the format as literal text, and the
// format runs whole; Run never reads the objects.
//
// A formatter is a plain stack object used by one thread; it owns no heap
// memory unless a format holds more than eight toolbox conversions.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bkit {

class VStringFormatter {
public:
    static constexpr size_t kMaxFormatBytes = 1023;
    static constexpr size_t kMaxOutputBytes = 1023;
    // What a toolbox conversion weighed in the rebuilt format (";;;%p;;;").
    static constexpr size_t kObjectPlaceholderBytes = 8;

    // One toolbox conversion: its text goes into the byte output at fOffset.
    struct ObjectSlot {
        size_t fOffset;
        char fConversion;  // 'S', 'A' or 'V'
        const void* fObject;
    };

    VStringFormatter() { fOutput[0] = 0; }
    VStringFormatter(const VStringFormatter&) = delete;
    VStringFormatter& operator=(const VStringFormatter&) = delete;

    // Formats; a null format gives empty output. args is not consumed (the
    // engine works on its own copy), so the caller still va_ends it.
    void Run(const char* format, va_list args);
    // The same for a caller whose toolbox arguments are live objects: the
    // engine may then read the strings of "%S" itself and splice them.
    void RunSplicingStrings(const char* format, va_list args);

    // The byte output, NUL-terminated, at most kMaxOutputBytes long.
    const char* GetOutput() const { return fOutput; }
    char* GetMutableOutput() { return fOutput; }
    size_t GetOutputLength() const { return fLength; }

    // True when output or format had to be cut.
    bool WasCut() const { return fCut; }

    // Length of the longest prefix of the first length bytes of text that does
    // not end inside a UTF-8 sequence (bytes that are no UTF-8 at all are kept).
    static size_t Utf8PrefixLength(const char* text, size_t length);

    size_t GetObjectCount() const { return fObjectCount; }
    const ObjectSlot& GetObject(size_t index) const
    {
        return index < kInlineObjects ? fInlineObjects[index] : fMoreObjects[index - kInlineObjects];
    }

private:
    static constexpr size_t kInlineObjects = 8;

    // One run; with splice, each "%S" of a plain ASCII string is copied into
    // the format as literal text, so that the whole format runs in one
    // vsnprintf. A spliced run gives up (false) whenever splicing could change
    // the result: another toolbox conversion, "%n", any cut.
    bool _Run(const char* format, va_list args, bool splice);
    // Splices the string of a "%S" into the pending segment, taking its bytes
    // from room; false when it cannot be spliced or does not fit.
    bool _SpliceString(const void* object, size_t& room);

    // Runs the pending segment, or the given text instead when not null;
    // unless it is the last, walks ap past its arguments.
    void _FlushSegment(va_list* ap, bool last, const char* text);
    void _AddObject(char conversion, const void* object);

    // Left uninitialised: Run writes what it uses, and formatting is hot.
    char fOutput[kMaxOutputBytes + 1];
    size_t fLength = 0;
    // Bytes vsnprintf reported, cut or not: what "%n" stores.
    uint64_t fWouldBe = 0;
    bool fCut = false;
    bool fOutputCut = false;
    // A segment's vsnprintf failed (and gave nothing).
    bool fSegmentFailed = false;

    // The current segment of the rebuilt format: standard text between two
    // toolbox conversions (or "%n"), run by one vsnprintf.
    char fSegment[kMaxFormatBytes + 1];
    size_t fSegmentLength = 0;

    ObjectSlot fInlineObjects[kInlineObjects];
    std::vector<ObjectSlot> fMoreObjects;
    size_t fObjectCount = 0;
};

}  // namespace bkit
