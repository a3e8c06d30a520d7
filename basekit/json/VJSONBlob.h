// VJSONBlob.h - immutable binary data inside JSON graphs: the class "Blob".
//
// This file defines SharedBuffer, a reference-counted block of bytes, and
// VJSONBlob, the implementation of objects of the JSON class "Blob": a byte
// range over a shared buffer, so that slices share bytes without copying.
// Binary record (signature 'JBlb'): the end block's u64 payload length is
// the blob's size (little-endian) and the payload is its bytes, nothing else.
//
// Contracts: a blob never changes after construction, so it takes no lock;
// buffers are shared between tasks through their atomic count. Blobs are not
// sharable (never under a storage locker). The class "Blob" is added to the
// process store on first use.
#pragma once

#include <atomic>
#include <cstdint>

#include "basekit/json/IJSONObject.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

constexpr uint32_t kJSONBlobSignature = 0x4A426C62;  // 'JBlb'

class SharedBuffer {
public:
    // Null when the block cannot be had; the bytes are uninitialised / copied.
    static SharedBuffer* Create(uint64_t size);
    static SharedBuffer* Create(const void* data, uint64_t size);

    void Retain() { fRefCount.fetch_add(1, std::memory_order_relaxed); }
    void Release();

    uint64_t GetSize() const { return fSize; }
    uint8_t* GetData() { return reinterpret_cast<uint8_t*>(this + 1); }
    const uint8_t* GetData() const { return reinterpret_cast<const uint8_t*>(this + 1); }

private:
    explicit SharedBuffer(uint64_t size) : fSize(size) {}

    uint64_t fSize;
    std::atomic<uint32_t> fRefCount{1};
};

class VJSONBlob : public VObject, public IJSONObject {
public:
    // Takes over one reference to buffer (may be null).
    VJSONBlob(SharedBuffer* buffer, uint64_t start, uint64_t end);
    ~VJSONBlob() override;

    // The name of the one property a blob answers.
    inline static const VString key_size{"size"};

    // The "Blob" class object (no reference), added to the process store on
    // first need; null without a process store.
    static VJSONObject* GetClass();
    // A blob object (one reference) with a copy of the bytes; null and
    // 'bkit' 100 when they cannot be had.
    static VJSONObject* Create(const void* data, uint64_t size);
    // A blob object over [start, end) of this blob, bounds as in slice.
    VJSONObject* CreateSlice(int64_t start, int64_t end) const;
    static VJSONBlob* CastJSONObject(const VJSONObject* object);
    static VJSONBlob* GetThis(IJSONFunctionContext* context);

    uint64_t GetSize() const { return fEnd - fStart; }
    const void* GetData() const { return fBuffer ? fBuffer->GetData() + fStart : nullptr; }

    static VJSONObject* do_instantiate(VJSONObject* classObject, IJSONFunctionContext* context);
    static EJSONStatus do_slice(const VJSONObject* thisFunction, IJSONFunctionContext* context);
    static IJSONObject* CreateIJSONObject(VJSONObject* object, uint32_t signature, const void* data, size_t size,
                                          VJSONObject*& classObject, VError* error);

    bool IJSON_IsSharable(const VJSONObject* object, bool* flag) override;
    EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
                                  VDBLanguageContext* languageContext) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
                                  VDBLanguageContext* languageContext) override;
    EJSONStatus IJSON_GetPropertyNames(const VJSONObject* object, std::vector<VString>& names) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out, bool shortForm) override;
    EJSONStatus IJSON_WriteToBuffer(const VJSONObject* object, VMemoryBuffer<>* buffer, VError* error) override;
    uint32_t IJSON_GetBinarySignature(const VJSONObject* object) override;
    EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject* object, int64_t index, VJSONValue& out) override;
    EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject* object, int64_t* count) override;
    EJSONStatus IJSON_Clone(const VJSONObject* object, VJSONCloner& cloner, VJSONValue& out, VError* error) override;

private:
    // Wraps a blob (reference taken over) in a new object of class "Blob".
    static VJSONObject* _Wrap(VJSONBlob* blob);

    SharedBuffer* fBuffer;
    uint64_t fStart;
    uint64_t fEnd;
};

}  // namespace bkit
