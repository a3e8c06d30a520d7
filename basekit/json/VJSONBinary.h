// VJSONBinary.h - the binary form of JSON value trees.
//
// This file defines VJSONBinaryWriter, which appends one value to a memory
// buffer; VJSONBinaryImporter, which reads it back from bytes it does not own
// or copy; and VJSONObjectFactory, the process-wide registry that turns a
// signed payload back into a native object implementation.
//
// Stream: one value, no header. Tag byte, then native-order (little-endian)
// numbers and UTF-16 texts counted in units. 0 null, 1 false, 2 true,
// 3 string (u32 L, units), 4 number (f64), 5 object (u16 name length, name,
// value ... then an end block), 6 array (u32 count, values), 7 undefined,
// 8 date (i64 ms), 9-254 skipped (u32 size from that u32), 255 back-reference
// (u32 L, a JSON Pointer text). End blocks: u16 0xFFFF plain; u16 0xFFFD,
// u32 signature, u64 payload length, payload: '****' names a class store and
// class, other signatures are native implementations.
//
// Contracts:
// - An object or array met again in one stream is written as a reference to
//   its first place, so shared parts and cycles keep their shape.
// - The importer trusts nothing: every length is checked against the bytes
//   left before it is used, nesting is bounded, and a cut-off stream is
//   'bkit' 200; what was read before an error stays in the output.
// - Writers and importers are short-lived objects of one task. The factory
//   is thread-safe; creators are called outside its lock.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/json/IJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VMemoryBuffer.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VJSONPointerResolver;

constexpr VError VE_JSON_BINARY_CUT = MakeBKitError(200);

// Signature of class-instance end blocks.
constexpr uint32_t kJSONClassSignature = 0x2A2A2A2A;  // '****'

class VJSONBinaryWriter : public VObject {
public:
    // Where a container was written: its parent place and its name (object
    // member) or index (array element).
    struct PathPart {
        const PathPart* parent;
        const VString* name;  // null for an array element
        size_t index;
    };

    explicit VJSONBinaryWriter(uint32_t flags = 0) : fFlags(flags) {}

    // Appends the value. 'bkit' 100 when the buffer cannot grow, 108 when the
    // stack is too small for one more object, 'bkit' 3 for a property name of
    // 32768 units or more, or an implementation's own error.
    VError StreamValue(const VJSONValue& value, VMemoryBuffer<>& buffer);
    VError StreamObject(const VJSONObject* object, VMemoryBuffer<>& buffer);
    VError StreamArray(const VJSONArray* array, VMemoryBuffer<>& buffer);

    // "#" then "/" and each part from the root down ("~" as "~0", "/" as "~1",
    // "%" as "%25", since back-references are URL-decoded when read).
    static void BuildPathPointerString(const PathPart* part, VString& out);

    uint32_t GetFlags() const { return fFlags; }

    // Little writers shared with payload writers (blob): 'bkit' 100 when the
    // buffer cannot grow.
    static VError Put(VMemoryBuffer<>& buffer, const void* data, size_t size);
    template <class T>
    static VError PutScalar(VMemoryBuffer<>& buffer, T value)
    {
        return Put(buffer, &value, sizeof(T));
    }
    // u16 length and units; 'bkit' 3 when the text has 32768 units or more.
    static VError PutShortText(VMemoryBuffer<>& buffer, const VString& text);

private:
    VError _WriteValue(const VJSONValue& value, const PathPart* where);
    VError _WriteObject(const VJSONObject* object, const PathPart* where);
    VError _WriteArray(const VJSONArray* array, const PathPart* where);
    // True when the container was written already (a reference was written,
    // *err tells how); else records where it is written now.
    bool _WriteReferenceIfSeen(const void* container, const PathPart* where, VError* err);
    VError _WriteEndBlock(const VJSONObject* object);

    const uint32_t fFlags;
    VMemoryBuffer<>* fBuffer = nullptr;
    std::unordered_map<const void*, VString> fWritten;
};

class VJSONBinaryImporter : public VObject {
public:
    // Nesting deeper than this, or too little free stack for one more level,
    // is refused with 'bkit' 108.
    static constexpr uint32_t kMaxDepth = 1000;

    VJSONBinaryImporter(const void* data, size_t size, VJSONStamp* stamp = nullptr);
    ~VJSONBinaryImporter() override;

    VJSONBinaryImporter(const VJSONBinaryImporter&) = delete;
    VJSONBinaryImporter& operator=(const VJSONBinaryImporter&) = delete;

    // Reads one value into out; 0 or the first error.
    VError GetValue(VJSONValue& out);

    size_t GetPosition() const { return fPosition; }

private:
    VError _GetValue(VJSONValue& out);
    VError _GetContents(VJSONValue& value, uint32_t depth);
    VError _GetArrayContents(VJSONArray* array, uint32_t depth);
    VError _GetObjectContents(VJSONObject* object, uint32_t depth);
    VError _GetEndBlock(VJSONObject* object);

    size_t _Left() const { return fSize - fPosition; }
    template <class T>
    bool _Read(T& out);
    bool _ReadUnits(uint32_t count, VString& out);

    VJSONStamp* fStamp;
    size_t fPosition = 0;
    const uint8_t* fData;
    size_t fSize;
    VJSONPointerResolver* fResolver = nullptr;
};

class VJSONObjectFactory : public VObject {
public:
    // Makes the implementation of object from payload; may give a class
    // object (not retained) through classRef; error set on failure.
    using Creator = IJSONObject* (*)(VJSONObject* object, uint32_t signature, const void* payload, size_t length,
                                     VJSONObject*& classRef, VError* error);

    static VJSONObjectFactory* Get();

    void RegisterSignature(uint32_t signature, Creator creator);
    void UnRegisterSignature(uint32_t signature);
    bool IsSignatureSupported(uint32_t signature) const;
    // Null when no creator is registered.
    IJSONObject* CreateForSignature(VJSONObject* object, uint32_t signature, const void* payload, size_t length,
                                    VJSONObject*& classRef, VError* error) const;

private:
    VJSONObjectFactory();

    mutable VCriticalSection fLock;
    std::map<uint32_t, Creator> fCreators;
};

}  // namespace bkit
