// VString.cpp - storage of the string value: buffers, sharing, flat and stream forms.
//
// This file implements how a VString holds its text: the inline array, heap
// blocks with their growth rule and atomic share count, copy-on-write, buffers
// it does not own, the null state, and the value-kind services (descriptor,
// flat data, stream form). The operations on the text live in VStringOps.cpp,
// comparisons in VStringCompare.cpp, searching and replacing in
// VStringSearch.cpp, byte conversions in VStringConvert.cpp.
#include "basekit/text/VString.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "basekit/files/VStream.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VMemoryMgr.h"
#include "basekit/text/VIntlMgr.h"

namespace bkit {

namespace {

constexpr OsType kStringTag = MakeOsType("str ");
constexpr OsType kStringCopyTag = MakeOsType("strX");

// Largest heap block, in units, a string may take.
constexpr int64_t kMaxBlockUnits = 0x80000002LL;

void* AllocateBlock(size_t bytes, OsType tag)
{
    VCppMemMgr* manager = VObject::sCppMemMgr;
    return manager ? manager->Malloc(bytes, false, tag, -1) : nullptr;
}

// Blocks are left alone once the manager is gone: the process is ending.
void FreeBlock(void* block)
{
    if (VCppMemMgr* manager = VObject::sCppMemMgr)
        manager->Free(block);
}

uint32_t SwapUInt32(uint32_t v) { return __builtin_bswap32(v); }
UniChar SwapUnit(UniChar u) { return static_cast<UniChar>(__builtin_bswap16(static_cast<uint16_t>(u))); }

}  // namespace

// --- construction ---

VString::VString()
    : VValueSingle(false), fBuffer(fOwnInline), fLength(0), fCapacity(0), fInlineCapacity(0),
      fInlineArray(fOwnInline), fBufferFlags(0)
{
    fOwnInline[0] = 0;
}

VString::VString(bool isNull)
    : VValueSingle(isNull), fBuffer(fOwnInline), fLength(0), fCapacity(0), fInlineCapacity(0),
      fInlineArray(fOwnInline), fBufferFlags(0)
{
    fOwnInline[0] = 0;
}

VString::VString(UniChar* inlineArray, VIndex inlineCapacity, InlineRoom)
    : VValueSingle(false), fBuffer(inlineArray), fLength(0), fCapacity(inlineCapacity),
      fInlineCapacity(inlineCapacity), fInlineArray(inlineArray), fBufferFlags(0)
{
    fOwnInline[0] = 0;
    fInlineArray[0] = 0;
}

VString::VString(const VString& source) : VString()
{
    if (source.IsNull())
        SetNull(true);
    else
        _ShareOrCopyFrom(source);
    SetDirty(true);
}

VString::VString(VString&& source) noexcept : VString()
{
    if (source.IsNull()) {
        SetNull(true);
    } else if (!source._IsInline() && !(source.fBufferFlags & kBufferNotOwned)) {
        fBuffer = source.fBuffer;
        fLength = source.fLength;
        fCapacity = source.fCapacity;
        fBufferFlags = source.fBufferFlags;
        source.fBuffer = source.fInlineArray;
        source.fLength = 0;
        source.fCapacity = source.fInlineCapacity;
        source.fBufferFlags = 0;
        source.fBuffer[0] = 0;
    } else {
        _ShareOrCopyFrom(source);
    }
    SetDirty(true);
}

VString& VString::operator=(VString&& source) noexcept
{
    if (this == &source)
        return *this;
    if (!source.IsNull() && !source._IsInline() && !(source.fBufferFlags & kBufferNotOwned)) {
        _ReleaseBuffer();
        fBuffer = source.fBuffer;
        fLength = source.fLength;
        fCapacity = source.fCapacity;
        fBufferFlags = static_cast<uint8_t>(source.fBufferFlags & ~kBufferNotOwned);
        source.fBuffer = source.fInlineArray;
        source.fLength = 0;
        source.fCapacity = source.fInlineCapacity;
        source.fBufferFlags = 0;
        source.fBuffer[0] = 0;
        SetNull(false);
        SetDirty(true);
    } else {
        FromString(source);
    }
    return *this;
}

VString::VString(UniChar* buffer, VIndex length, unsigned long maxBytes) : VString()
{
    if (buffer == nullptr) {
        SetNull(true);
        return;
    }
    if (length < 0)
        length = 0;
    fBuffer = buffer;
    fBufferFlags = kBufferNotOwned | kBufferExclusive;
    if (maxBytes == kConstantText) {
        fLength = length;
        fCapacity = length;
    } else {
        // A room too small for the text given keeps only what fits.
        unsigned long units = maxBytes / 2;
        VIndex capacity = units >= 1 ? static_cast<VIndex>(std::min<unsigned long>(units - 1, INT32_MAX)) : 0;
        if (units == 0) {
            // No room even for a terminator: nothing can live there.
            fBuffer = fInlineArray;
            fBufferFlags = 0;
            return;
        }
        fCapacity = capacity;
        fLength = std::min(length, capacity);
        fBuffer[fLength] = 0;
    }
}

VString::VString(const VInlineString& source) : VString()
{
    FromString(source);
}

VString::VString(const VInlineString& source, bool) : VString()
{
    if (source.fString != nullptr && source.fLength > 0) {
        fBuffer = source.fString;
        fLength = static_cast<VIndex>(source.fLength);
        fCapacity = static_cast<VIndex>(source.fCapacity);
        fBufferFlags = kBufferNotOwned;
    }
}

VString::VString(UniChar c) : VString()
{
    AppendUniChar(c);
}

VString::VString(const UniChar* text) : VString()
{
    FromUniCString(text);
}

VString::VString(const UniChar* text, VIndex n) : VString()
{
    FromUniString(text, n);
}

VString::~VString()
{
    _ReleaseBuffer();
}

VString* VString::NewString(VIndex n)
{
    if (n < 0)
        n = 0;
    size_t bytes = sizeof(VString) + (static_cast<size_t>(n) + 1) * sizeof(UniChar);
    void* memory = VString::operator new(bytes);
    UniChar* inlineArray = reinterpret_cast<UniChar*>(static_cast<char*>(memory) + sizeof(VString));
    return new (memory) VString(inlineArray, n, InlineRoom());
}

// --- buffer services ---

uint32_t VString::ComputeProgressiveResize(VIndex oldLength, VIndex n)
{
    if (n < 0)
        return 0;
    if (n < 6)
        return 8;
    int64_t slack = std::min<int64_t>((static_cast<int64_t>(n) + 1) / 5, 0xA00000);
    int64_t extra = (oldLength != 0 && oldLength != n && slack >= 3) ? slack : 2;
    int64_t size = (static_cast<int64_t>(n) + extra + 8) & ~static_cast<int64_t>(7);
    if (n < 0x7FFFFFFD && size > kMaxBlockUnits) {
        // The count sits at unit (capacity | 1) + 1: an even n needs one unit
        // more than n + 3 for it to stay inside the block.
        size = static_cast<int64_t>(n) + 3 + ((n & 1) ? 0 : 1);
    }
    if (size == 0 || size > kMaxBlockUnits)
        return 0;
    return static_cast<uint32_t>(size);
}

bool VString::_ReallocBuffer(VIndex n, bool keep)
{
    if (n < 0) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    VIndex kept = keep ? std::min(fLength, n) : 0;
    if (n <= fInlineCapacity) {
        if (!_IsInline()) {
            if (kept > 0)
                std::memmove(fInlineArray, fBuffer, static_cast<size_t>(kept) * sizeof(UniChar));
            _ReleaseBuffer();
            fBuffer = fInlineArray;
            fCapacity = fInlineCapacity;
            fBufferFlags = 0;
        }
        fBuffer[kept] = 0;
        return true;
    }

    // A growing text alone on a block of the system allocator: the block is
    // resized where it stands when the allocator can, its text kept by it.
    VCppMemMgr* manager = VObject::sCppMemMgr;
    if (kept > 0 && kept == fLength && manager != nullptr && manager->IsSystemAllocator() && !_IsInline() &&
        fBufferFlags == 0 && std::atomic_ref<uint32_t>(*_CountOf(fBuffer, fCapacity)).load() == 1) {
        uint32_t size = ComputeProgressiveResize(fLength, n);
        void* grown = size != 0 ? std::realloc(fBuffer, static_cast<size_t>(size) * sizeof(UniChar)) : nullptr;
        if (grown == nullptr) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return false;
        }
        fBuffer = static_cast<UniChar*>(grown);
        fCapacity = static_cast<VIndex>(size - 3);
        *_CountOf(fBuffer, fCapacity) = 1;
        fBuffer[kept] = 0;
        return true;
    }

    UniChar* block = nullptr;
    VIndex capacity = 0;
    uint8_t flags = 0;
    if (manager != nullptr) {
        uint32_t size = ComputeProgressiveResize(fLength, n);
        if (size != 0)
            block = static_cast<UniChar*>(AllocateBlock(static_cast<size_t>(size) * sizeof(UniChar), kStringTag));
        if (block != nullptr) {
            capacity = static_cast<VIndex>(size - 3);
            *_CountOf(block, capacity) = 1;
        }
    } else {
        // Before the memory manager exists: a block that is never shared or freed.
        block = static_cast<UniChar*>(std::malloc((static_cast<size_t>(n) + 1) * sizeof(UniChar)));
        capacity = n;
        flags = kBufferNotOwned | kBufferExclusive;
    }
    if (block == nullptr) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    if (kept > 0)
        std::memcpy(block, fBuffer, static_cast<size_t>(kept) * sizeof(UniChar));
    block[kept] = 0;
    _ReleaseBuffer();
    fBuffer = block;
    fCapacity = capacity;
    fBufferFlags = flags;
    return true;
}

void VString::ReleaseSharedBuffer(UniChar* buffer, VIndex capacity)
{
    if (buffer == nullptr)
        return;
    std::atomic_ref<uint32_t> count(*_CountOf(buffer, capacity));
    // The last holder is alone with the block: nobody else can take a share
    // of it any more, so it needs no atomic decrement.
    if (count.load(std::memory_order_acquire) == 1 || count.fetch_sub(1, std::memory_order_acq_rel) == 1)
        FreeBlock(buffer);
}

void VString::_ReleaseBuffer()
{
    if (_IsInline() || (fBufferFlags & kBufferNotOwned))
        return;
    if (fBufferFlags & kBufferExclusive)
        FreeBlock(fBuffer);
    else
        ReleaseSharedBuffer(fBuffer, fCapacity);
}

UniChar* VString::_RetainBuffer() const
{
    if (_IsInline() || IsNull() || (fBufferFlags & kBufferExclusive))
        return nullptr;
    std::atomic_ref<uint32_t>(*_CountOf(fBuffer, fCapacity)).fetch_add(1);
    return fBuffer;
}

UniChar* VString::RetainBuffer(VIndex* length, VIndex* capacity) const
{
    *length = 0;
    *capacity = 0;
    if (IsNull() || fLength == 0)
        return nullptr;
    if (UniChar* shared = _RetainBuffer()) {
        *length = fLength;
        *capacity = fCapacity;
        return shared;
    }
    size_t units = static_cast<size_t>((fLength | 1) + 1) + 2;
    UniChar* block = static_cast<UniChar*>(AllocateBlock(units * sizeof(UniChar), kStringCopyTag));
    if (block == nullptr)
        return nullptr;
    std::memcpy(block, fBuffer, static_cast<size_t>(fLength) * sizeof(UniChar));
    block[fLength] = 0;
    *_CountOf(block, fLength) = 1;
    *length = fLength;
    *capacity = fLength;
    return block;
}

void VString::_Clear()
{
    _ReleaseBuffer();
    fBuffer = fInlineArray;
    fLength = 0;
    fCapacity = fInlineCapacity;
    fBufferFlags = 0;
    fBuffer[0] = 0;
}

void VString::Clear()
{
    _Clear();
    SetNull(false);
    SetDirty(true);
}

void VString::DoNullChanged()
{
    if (IsNull())
        _Clear();
}

void VString::_SetLengthAndTerminate(VIndex n)
{
    fLength = n;
    fBuffer[n] = 0;
    _MarkChanged();
}

void VString::_MarkChanged()
{
    SetNull(false);
    SetDirty(true);
}

bool VString::Validate(VIndex n)
{
    if (n < 0 || n > fCapacity)
        return false;
    _SetLengthAndTerminate(n);
    return true;
}

bool VString::IsStringValid() const
{
    if (!_IsInline() && VObject::sCppMemMgr != nullptr && !(fBufferFlags & kBufferNotOwned) &&
        !VObject::sCppMemMgr->CheckPtr(fBuffer))
        return false;
    if (fLength > 0 && fBuffer[fLength] != 0)
        return false;
    return true;
}

void VString::_ShareOrCopyFrom(const VString& source)
{
    if (source.fBuffer == fBuffer) {
        fLength = source.fLength;
        return;
    }
    bool shareable = !source._IsInline() && !source.IsNull() && !(source.fBufferFlags & kBufferExclusive);
    if (shareable) {
        std::atomic_ref<uint32_t>(*_CountOf(source.fBuffer, source.fCapacity)).fetch_add(1);
        _ReleaseBuffer();
        fBuffer = source.fBuffer;
        fLength = source.fLength;
        fCapacity = source.fCapacity;
        fBufferFlags = 0;
        return;
    }
    VIndex n = source.fLength;
    if (!_CanWriteInPlace(n) && !_ReallocBuffer(n, false))
        return;
    if (n > 0)
        std::memmove(fBuffer, source.fBuffer, static_cast<size_t>(n) * sizeof(UniChar));
    fLength = n;
    fBuffer[n] = 0;
}

void VString::FromString(const VString& source)
{
    if (source.IsNull()) {
        SetNull(true);
        SetDirty(true);
        return;
    }
    _ShareOrCopyFrom(source);
    SetNull(false);
    SetDirty(true);
}

void VString::FromString(const VInlineString& source)
{
    if (source.fString == nullptr || source.fLength == 0) {
        Clear();
        return;
    }
    if (source.fString != fBuffer) {
        VIndex capacity = static_cast<VIndex>(source.fCapacity);
        std::atomic_ref<uint32_t>(*_CountOf(source.fString, capacity)).fetch_add(1);
        _ReleaseBuffer();
        fBuffer = source.fString;
        fCapacity = capacity;
        fBufferFlags = 0;
    }
    fLength = static_cast<VIndex>(source.fLength);
    SetNull(false);
    SetDirty(true);
}

bool VString::FromValueSameKind(const VValue* other)
{
    if (other == nullptr)
        return false;
    FromString(*static_cast<const VString*>(other));
    return true;
}

void VString::Truncate(VIndex n, bool keepPairs)
{
    if (n < 0)
        n = 0;
    if (keepPairs && n >= 1 && n <= fLength && fBuffer[n - 1] >= 0xD800 && fBuffer[n - 1] <= 0xDBFF)
        --n;
    if (n >= fLength)
        return;
    VIndex oldLength = fLength;
    if (_IsInline() || (fBufferFlags & kBufferExclusive)) {
        fLength = n;
    } else if (!(fBufferFlags & kBufferNotOwned) && _CanWriteInPlace(fLength)) {
        fLength = n;
        if (fCapacity > n + n / 8 + 32 && !_ReallocBuffer(n, true))
            fLength = oldLength;
    } else {
        // Shared: a private copy of the units kept.
        fLength = n;
        if (!_ReallocBuffer(n, true))
            fLength = oldLength;
    }
    fBuffer[fLength] = 0;
    if (fLength != oldLength)
        SetDirty(true);
}

void VString::Swap(VString& other)
{
    if (this == &other)
        return;
    bool thisInline = _IsInline();
    bool otherInline = other._IsInline();
    if (!thisInline && !otherInline) {
        std::swap(fBuffer, other.fBuffer);
        std::swap(fLength, other.fLength);
        std::swap(fCapacity, other.fCapacity);
        std::swap(fBufferFlags, other.fBufferFlags);
        SetNull(false);
        other.SetNull(false);
        SetDirty(true);
        other.SetDirty(true);
        return;
    }
    if (thisInline != otherInline) {
        VString& inlineOne = thisInline ? *this : other;
        VString& heapOne = thisInline ? other : *this;
        UniChar* buffer = heapOne.fBuffer;
        VIndex length = heapOne.fLength;
        VIndex capacity = heapOne.fCapacity;
        uint8_t flags = heapOne.fBufferFlags;
        // Detach the heap block without dropping it: it moves to the other string.
        heapOne.fBuffer = heapOne.fInlineArray;
        heapOne.fLength = 0;
        heapOne.fCapacity = heapOne.fInlineCapacity;
        heapOne.fBufferFlags = 0;
        heapOne.fBuffer[0] = 0;
        heapOne.FromString(inlineOne);
        inlineOne.fBuffer = buffer;
        inlineOne.fLength = length;
        inlineOne.fCapacity = capacity;
        inlineOne.fBufferFlags = flags;
        inlineOne.SetNull(false);
        inlineOne.SetDirty(true);
        return;
    }
    // Both inline: exchange the units; the null flags stay as they are.
    std::u16string mine(fBuffer, static_cast<size_t>(fLength));
    VIndex otherLength = other.fLength;
    if (!_CanWriteInPlace(otherLength) && !_ReallocBuffer(otherLength, false))
        return;
    if (!other._CanWriteInPlace(fLength) && !other._ReallocBuffer(fLength, true))
        return;
    if (otherLength > 0)
        std::memmove(fBuffer, other.fBuffer, static_cast<size_t>(otherLength) * sizeof(UniChar));
    if (!mine.empty())
        std::memcpy(other.fBuffer, mine.data(), mine.size() * sizeof(UniChar));
    other.fLength = static_cast<VIndex>(mine.size());
    other.fBuffer[other.fLength] = 0;
    fLength = otherLength;
    fBuffer[fLength] = 0;
    SetDirty(true);
    other.SetDirty(true);
}

// --- value services ---

VValue* VString::Clone() const
{
    return new VString(*this);
}

const VValueInfo* VString::GetValueInfo() const
{
    return &sInfo;
}

CharSet VString::DebugDump(char* buffer, int& size)
{
    int room = size - 2;
    int bytes = std::min(room, static_cast<int>(std::min<int64_t>(static_cast<int64_t>(fLength) * 2, INT32_MAX)));
    bytes &= ~1;
    if (bytes < 0)
        bytes = 0;
    if (bytes > 0)
        std::memcpy(buffer, fBuffer, static_cast<size_t>(bytes));
    size = bytes;
    return VTC_UTF_16_SMALLENDIAN;
}

VSize VString::GetSpace(VSize max) const
{
    VSize size = 4 + 2 * static_cast<VSize>(fLength);
    if (max != 0 && size >= max)
        return max;
    return size;
}

void* VString::WriteToPtr(void* dest, bool swap, VSize max) const
{
    VIndex n = fLength;
    if (max != 0 && 4 + 2 * static_cast<VSize>(n) > max)
        n = max >= 4 ? static_cast<VIndex>((max - 4) / 2) : 0;
    char* out = static_cast<char*>(dest);
    uint32_t count = static_cast<uint32_t>(n);
    if (swap)
        count = SwapUInt32(count);
    std::memcpy(out, &count, 4);
    UniChar* units = reinterpret_cast<UniChar*>(out + 4);
    if (swap) {
        for (VIndex i = 0; i < n; ++i) {
            UniChar u = SwapUnit(fBuffer[i]);
            std::memcpy(units + i, &u, sizeof(UniChar));
        }
    } else if (n > 0) {
        std::memcpy(units, fBuffer, static_cast<size_t>(n) * sizeof(UniChar));
    }
    return out + 4 + 2 * static_cast<size_t>(n);
}

const void* VString::LoadFromPtr(const void* src, bool swap)
{
    const char* in = static_cast<const char*>(src);
    uint32_t raw;
    std::memcpy(&raw, in, 4);
    if (swap)
        raw = SwapUInt32(raw);
    VIndex n = static_cast<int32_t>(raw);
    if (n < 0)
        n = 0;
    const char* after = in + 4 + 2 * static_cast<size_t>(n);
    if (!_CanWriteInPlace(n) && !_ReallocBuffer(n, false))
        return after;
    std::memcpy(fBuffer, in + 4, static_cast<size_t>(n) * sizeof(UniChar));
    if (swap) {
        for (VIndex i = 0; i < n; ++i)
            fBuffer[i] = SwapUnit(fBuffer[i]);
    }
    _SetLengthAndTerminate(n);
    return after;
}

void* VString::ByteSwapPtr(void* ptr, bool fromNative)
{
    char* p = static_cast<char*>(ptr);
    uint32_t raw;
    std::memcpy(&raw, p, 4);
    uint32_t swapped = SwapUInt32(raw);
    int32_t n = static_cast<int32_t>(fromNative ? raw : swapped);
    if (n < 0)
        n = 0;
    std::memcpy(p, &swapped, 4);
    for (int32_t i = 0; i < n; ++i) {
        UniChar u;
        std::memcpy(&u, p + 4 + 2 * static_cast<size_t>(i), 2);
        u = SwapUnit(u);
        std::memcpy(p + 4 + 2 * static_cast<size_t>(i), &u, 2);
    }
    return p + 4 + 2 * static_cast<size_t>(n);
}

VError VString::WriteToStream(VStream* stream, int32_t) const
{
    if (fLength == 0)
        return stream->PutLong(0);
    VError err = stream->PutLong(-fLength);
    if (err == VE_OK)
        err = stream->PutWords(reinterpret_cast<const int16_t*>(fBuffer), fLength);
    return err;
}

VError VString::ReadFromStream(VStream* stream, int32_t)
{
    int32_t count = 0;
    if (stream->GetLong(count) != VE_OK)
        return stream->GetLastError();
    if (count < 0) {
        if (count == INT32_MIN) {
            Clear();
            return stream->GetLastError();
        }
        VIndex n = -count;
        if (!_CanWriteInPlace(n) && !_ReallocBuffer(n, false)) {
            Clear();
            return stream->GetLastError();
        }
        VIndex read = n;
        stream->GetWords(reinterpret_cast<int16_t*>(fBuffer), &read);
        _SetLengthAndTerminate(std::clamp<VIndex>(read, 0, n));
    } else if (count > 0) {
        VIndex n = count;
        int32_t charset = 0;
        if (stream->GetLong(charset) != VE_OK)
            return stream->GetLastError();
        if (charset == VTC_UTF_16_BIGENDIAN || charset == VTC_UTF_16_SMALLENDIAN) {
            // The text and its terminator: n + 1 units must fit the room.
            if (n == INT32_MAX || (!_CanWriteInPlace(n) && !_ReallocBuffer(n, false))) {
                stream->SetPosByOffset(2 * static_cast<int64_t>(n) + 2);
                return stream->GetLastError();
            }
            VIndex read = n + 1;
            stream->GetWords(reinterpret_cast<int16_t*>(fBuffer), &read);
            _SetLengthAndTerminate(std::clamp<VIndex>(read, 0, n));
        } else {
            stream->SetPosByOffset(static_cast<int64_t>(n) + 1);
        }
    } else {
        Clear();
    }
    return stream->GetLastError();
}

VSize VString::GetSizeInStream() const
{
    return fLength == 0 ? 4 : 2 * static_cast<VSize>(fLength) + 10;
}

// --- descriptor ---

namespace {

// Reads the length and the units of flat data.
void ReadFlat(const void* data, const UniChar*& units, VIndex& length)
{
    int32_t n;
    std::memcpy(&n, data, 4);
    length = n < 0 ? 0 : n;
    units = reinterpret_cast<const UniChar*>(static_cast<const char*>(data) + 4);
}

}  // namespace

VString_info::VString_info() : VValueInfo(VK_STRING) {}

VValue* VString_info::Generate() const
{
    return new VString();
}

VValue* VString_info::Generate(VBlob*) const
{
    return new VString();
}

VValue* VString_info::LoadFromPtr(const void* data, bool swap) const
{
    VString* s = new VString();
    s->LoadFromPtr(data, swap);
    return s;
}

void* VString_info::ByteSwapPtr(void* data, bool fromNative) const
{
    return VString::ByteSwapPtr(data, fromNative);
}

CompareResult VString_info::CompareTwoPtrToData(const void* a, const void* b, bool withDiacritics) const
{
    const UniChar *ua, *ub;
    VIndex la, lb;
    ReadFlat(a, ua, la);
    ReadFlat(b, ub, lb);
    return VIntlMgr::GetCurrentOrDefault()->CompareString(ua, la, ub, lb, withDiacritics);
}

CompareResult VString_info::CompareTwoPtrToDataBegining(const void* a, const void* b, bool withDiacritics) const
{
    const UniChar *ua, *ub;
    VIndex la, lb;
    ReadFlat(a, ua, la);
    ReadFlat(b, ub, lb);
    return VIntlMgr::GetCurrentOrDefault()->CompareString(ua, std::min(la, lb), ub, lb, withDiacritics);
}

CompareResult VString_info::CompareTwoPtrToData_Like(const void* a, const void* b, bool withDiacritics) const
{
    const UniChar *ua, *ub;
    VIndex la, lb;
    ReadFlat(a, ua, la);
    ReadFlat(b, ub, lb);
    return VIntlMgr::GetCurrentOrDefault()->CompareString_Like(ua, la, ub, lb, withDiacritics);
}

CompareResult VString_info::CompareTwoPtrToDataBegining_Like(const void* a, const void* b,
                                                             bool withDiacritics) const
{
    const UniChar *ua, *ub;
    VIndex la, lb;
    ReadFlat(a, ua, la);
    ReadFlat(b, ub, lb);
    return VIntlMgr::GetCurrentOrDefault()->CompareString_Like(ua, std::min(la, lb), ub, lb, withDiacritics);
}

CompareResult VString_info::CompareTwoPtrToDataWithOptions(const void* a, const void* b,
                                                           const VCompareOptions& options) const
{
    const UniChar *ua, *ub;
    VIndex la, lb;
    ReadFlat(a, ua, la);
    ReadFlat(b, ub, lb);
    if (options.IsBeginOnly()) {
        VIndex n = std::min(la, lb);
        la = n;
        lb = n;
    }
    VIntlMgr* manager = options.GetIntlManager() ? options.GetIntlManager() : VIntlMgr::GetCurrentOrDefault();
    return manager->CompareString(ua, la, ub, lb, options);
}

VSize VString_info::GetSizeOfValueDataPtr(const void* data) const
{
    const UniChar* units;
    VIndex length;
    ReadFlat(data, units, length);
    return 4 + 2 * static_cast<VSize>(length);
}

VSize VString_info::GetAvgSpace() const
{
    return 64;
}

// The descriptor first, then the empty string; both live until exit.
const VString_info VString::sInfo;
const VString VString::sEmpty;

}  // namespace bkit
