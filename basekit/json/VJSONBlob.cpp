// VJSONBlob.cpp - the class "Blob": shared buffers, slices, and the binary payload.
#include "basekit/json/VJSONBlob.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "basekit/json/VJSONBinary.h"
#include "basekit/json/VJSONClass.h"
#include "basekit/json/VJSONClassStore.h"
#include "basekit/json/VJSONFunctionContext.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/runtime/VErrorBase.h"

namespace bkit {

// --- shared buffer ---

SharedBuffer* SharedBuffer::Create(uint64_t size)
{
    // 15 spare bytes past the data, as the block has always had.
    if (size > SIZE_MAX - sizeof(SharedBuffer) - 15)
        return nullptr;
    void* block = std::malloc(sizeof(SharedBuffer) + static_cast<size_t>(size) + 15);
    return block ? new (block) SharedBuffer(size) : nullptr;
}

SharedBuffer* SharedBuffer::Create(const void* data, uint64_t size)
{
    SharedBuffer* buffer = Create(size);
    if (buffer && size > 0)
        std::memcpy(buffer->GetData(), data, static_cast<size_t>(size));
    return buffer;
}

void SharedBuffer::Release()
{
    if (fRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        this->~SharedBuffer();
        std::free(this);
    }
}

// --- blob ---

VJSONBlob::VJSONBlob(SharedBuffer* buffer, uint64_t start, uint64_t end) : fBuffer(buffer), fStart(start), fEnd(end)
{
}

VJSONBlob::~VJSONBlob()
{
    if (fBuffer)
        fBuffer->Release();
}

VJSONObject* VJSONBlob::GetClass()
{
    VJSONClassStore* store = VJSONClassStore::GetProcessStore();
    if (store == nullptr)
        return nullptr;
    // Looked up in the current store every time: a store that ends takes its
    // classes with it, and a cached pointer would outlive them.
    static VCriticalSection sLock;
    StLocker<VCriticalSection> lock(sLock);
    VJSONObject* classObject = store->GetClassObject(VString("Blob"), false);
    if (classObject == nullptr)
        classObject = store->AddClass(VString("Blob"), {{VString("slice"), &do_slice, 0}}, nullptr, nullptr,
                                      &do_instantiate, 0);
    // The store holds the class; the caller gets no reference.
    if (classObject)
        classObject->Release();
    return classObject;
}

VJSONObject* VJSONBlob::_Wrap(VJSONBlob* blob)
{
    VJSONObject* object = new VJSONObject(GetClass(), blob, nullptr, false);
    blob->Release();
    return object;
}

VJSONObject* VJSONBlob::Create(const void* data, uint64_t size)
{
    SharedBuffer* buffer = nullptr;
    if (size > 0) {
        buffer = SharedBuffer::Create(data, size);
        if (buffer == nullptr) {
            _ThrowError(VE_MEMORY_FULL);
            return nullptr;
        }
    }
    return _Wrap(new VJSONBlob(buffer, 0, size));
}

VJSONObject* VJSONBlob::CreateSlice(int64_t start, int64_t end) const
{
    const int64_t n = static_cast<int64_t>(GetSize());
    const int64_t s = start < 0 ? std::max<int64_t>(n + start, 0) : std::min(start, n);
    const int64_t e = end < 0 ? std::max<int64_t>(n + end, 0) : std::min(end, n);
    if (e <= s)
        return _Wrap(new VJSONBlob(nullptr, 0, 0));
    fBuffer->Retain();
    return _Wrap(new VJSONBlob(fBuffer, fStart + static_cast<uint64_t>(s), fStart + static_cast<uint64_t>(e)));
}

VJSONBlob* VJSONBlob::CastJSONObject(const VJSONObject* object)
{
    return object ? dynamic_cast<VJSONBlob*>(object->GetImplementation()) : nullptr;
}

VJSONBlob* VJSONBlob::GetThis(IJSONFunctionContext* context)
{
    return context ? CastJSONObject(context->GetThisObject()) : nullptr;
}

VJSONObject* VJSONBlob::do_instantiate(VJSONObject*, IJSONFunctionContext* context)
{
    const size_t count = context ? context->GetParamCount() : 0;
    if (count > 1) {
        _ThrowError(VE_JSON_TOO_MANY_PARAMETERS);
        return nullptr;
    }
    if (count == 0)
        return Create(nullptr, 0);
    VJSONBlobParam param = context->GetBlobParam(1, false);
    return Create(param.data, param.found ? param.length : 0);
}

EJSONStatus VJSONBlob::do_slice(const VJSONObject*, IJSONFunctionContext* context)
{
    VJSONBlob* blob = GetThis(context);
    if (blob == nullptr)
        return eJSON_failed;
    VJSONValue first = context->GetParam(1);
    VJSONValue second = context->GetParam(2);
    const int64_t start = first.IsNumber() ? IJSONFunctionContext::ToLong8(first.GetNumber()) : 0;
    const int64_t end = second.IsNumber() ? IJSONFunctionContext::ToLong8(second.GetNumber())
                                          : static_cast<int64_t>(blob->GetSize());
    VJSONObject* slice = blob->CreateSlice(start, end);
    context->SetResult(VJSONValue(slice), 5);
    slice->Release();
    return eJSON_done;
}

IJSONObject* VJSONBlob::CreateIJSONObject(VJSONObject*, uint32_t, const void* data, size_t size,
                                          VJSONObject*& classObject, VError* error)
{
    // The payload is the blob's bytes: the reader has checked that the length
    // before it lies inside the stream.
    SharedBuffer* buffer = SharedBuffer::Create(data, size);
    if (buffer == nullptr) {
        if (error)
            *error = _ThrowError(VE_MEMORY_FULL);
        return nullptr;
    }
    classObject = GetClass();
    return new VJSONBlob(buffer, 0, size);
}

bool VJSONBlob::IJSON_IsSharable(const VJSONObject*, bool* flag)
{
    if (flag)
        *flag = false;
    return false;
}

EJSONStatus VJSONBlob::IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                         VDBLanguageContext*)
{
    if (!name.EqualToStringRaw(key_size))
        return eJSON_notHandled;
    out.SetNumber(static_cast<double>(GetSize()));
    return eJSON_done;
}

EJSONStatus VJSONBlob::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*)
{
    _ThrowError(VE_JSON_READ_ONLY_PROPERTY);
    return eJSON_failed;
}

EJSONStatus VJSONBlob::IJSON_GetPropertyNames(const VJSONObject*, std::vector<VString>& names)
{
    names.push_back(key_size);
    return eJSON_done;
}

EJSONStatus VJSONBlob::IJSON_GetDescription(const VJSONObject*, VString& out, bool)
{
    out.FromCString(std::to_string(GetSize()).append(" bytes").c_str());
    return eJSON_done;
}

EJSONStatus VJSONBlob::IJSON_WriteToBuffer(const VJSONObject*, VMemoryBuffer<>* buffer, VError* error)
{
    // The end block's payload length, then the payload: the size, the bytes.
    const uint64_t size = GetSize();
    VError err = VJSONBinaryWriter::PutScalar(*buffer, size);
    if (err == 0)
        err = VJSONBinaryWriter::Put(*buffer, GetData(), static_cast<size_t>(size));
    if (error)
        *error = err;
    return err == 0 ? eJSON_done : eJSON_failed;
}

uint32_t VJSONBlob::IJSON_GetBinarySignature(const VJSONObject*) { return kJSONBlobSignature; }

EJSONStatus VJSONBlob::IJSON_GetPropertyByIndex(const VJSONObject*, int64_t index, VJSONValue& out)
{
    if (index < 0 || static_cast<uint64_t>(index) >= GetSize()) {
        _ThrowError(VE_JSON_INDEX_OUT_OF_RANGE);
        return eJSON_failed;
    }
    out.SetNumber(static_cast<const uint8_t*>(GetData())[index]);
    return eJSON_done;
}

EJSONStatus VJSONBlob::IJSON_GetCountPropertiesByIndex(const VJSONObject*, int64_t* count)
{
    *count = static_cast<int64_t>(GetSize());
    return eJSON_done;
}

EJSONStatus VJSONBlob::IJSON_Clone(const VJSONObject* object, VJSONCloner&, VJSONValue& out, VError*)
{
    out.SetObject(const_cast<VJSONObject*>(object));
    return eJSON_done;
}

}  // namespace bkit
