// VJSONBinary.cpp - writing and reading the binary form of JSON trees.
#include "basekit/json/VJSONBinary.h"

#include <cstring>

#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONBlob.h"
#include "basekit/json/VJSONClass.h"
#include "basekit/json/VJSONClassStore.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONPointerResolver.h"
#include "basekit/json/VJSONWriter.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VTaskMgr.h"
#include "basekit/values/VTime.h"

namespace bkit {

namespace {

enum : uint8_t {
    kTag_Null = 0,
    kTag_False = 1,
    kTag_True = 2,
    kTag_String = 3,
    kTag_Number = 4,
    kTag_Object = 5,
    kTag_Array = 6,
    kTag_Undefined = 7,
    kTag_Date = 8,
    kTag_Reference = 255,
};

constexpr uint16_t kEnd_Plain = 0xFFFF;
constexpr uint16_t kEnd_Signed = 0xFFFD;
constexpr uint16_t kMarker_Undefined = 0xFFFE;
constexpr uint32_t kCount_Undefined = 0xFFFFFFFE;
constexpr uint32_t kMaxNameLength = 0x7FFF;

// The class block's payload: u16 length and units of the store's name, then
// of the class name.
VError WriteClassBlock(VMemoryBuffer<>& buffer, const VJSONClass* cls)
{
    VMemoryBuffer<> payload;
    VError err = VJSONBinaryWriter::PutShortText(payload, cls->GetStoreName());
    if (err == 0)
        err = VJSONBinaryWriter::PutShortText(payload, cls->GetName());
    if (err == 0)
        err = VJSONBinaryWriter::PutScalar(buffer, kEnd_Signed);
    if (err == 0)
        err = VJSONBinaryWriter::PutScalar(buffer, kJSONClassSignature);
    if (err == 0)
        err = VJSONBinaryWriter::PutScalar(buffer, static_cast<uint64_t>(payload.GetDataSize()));
    if (err == 0)
        err = VJSONBinaryWriter::Put(buffer, payload.GetDataPtr(), payload.GetDataSize());
    return err;
}

// A name inside a class block; a length past the payload leaves it empty.
void ReadClassBlockName(const uint8_t*& at, const uint8_t* end, VString& out)
{
    uint16_t length = 0;
    if (end - at < 2)
        return;
    std::memcpy(&length, at, 2);
    at += 2;
    if (static_cast<size_t>(end - at) / 2 < length) {
        at = end;
        return;
    }
    std::vector<UniChar> units(length);
    if (length > 0)
        std::memcpy(units.data(), at, length * 2u);
    out.FromUniString(units.data(), static_cast<VIndex>(length));
    at += length * 2u;
}

}  // namespace

// --- writer ---

VError VJSONBinaryWriter::Put(VMemoryBuffer<>& buffer, const void* data, size_t size)
{
    if (size == 0 || buffer.AddData(data, size))
        return 0;
    return _ThrowError(VE_MEMORY_FULL);
}

VError VJSONBinaryWriter::PutShortText(VMemoryBuffer<>& buffer, const VString& text)
{
    const VIndex length = text.GetLength();
    if (length < 0 || static_cast<uint32_t>(length) > kMaxNameLength)
        return _ThrowError(VE_INVALID_PARAMETER);
    VError err = PutScalar(buffer, static_cast<uint16_t>(length));
    if (err == 0)
        err = Put(buffer, text.GetCPointer(), static_cast<size_t>(length) * sizeof(UniChar));
    return err;
}

void VJSONBinaryWriter::BuildPathPointerString(const PathPart* part, VString& out)
{
    std::vector<const PathPart*> parts;
    for (; part != nullptr; part = part->parent)
        parts.push_back(part);
    out.FromCString("#");
    for (auto i = parts.rbegin(); i != parts.rend(); ++i) {
        out.AppendUniChar(u'/');
        if ((*i)->name == nullptr) {
            out.AppendLong8(static_cast<int64_t>((*i)->index));
            continue;
        }
        const VString& name = *(*i)->name;
        for (VIndex k = 0; k < name.GetLength(); ++k) {
            const UniChar c = name[k];
            // The reader URL-decodes pointers before it splits them: a '%'
            // of the name itself must reach it escaped.
            if (c == u'~')
                out.AppendCString("~0");
            else if (c == u'/')
                out.AppendCString("~1");
            else if (c == u'%')
                out.AppendCString("%25");
            else
                out.AppendUniChar(c);
        }
    }
}

VError VJSONBinaryWriter::StreamValue(const VJSONValue& value, VMemoryBuffer<>& buffer)
{
    fBuffer = &buffer;
    return _WriteValue(value, nullptr);
}

VError VJSONBinaryWriter::StreamObject(const VJSONObject* object, VMemoryBuffer<>& buffer)
{
    fBuffer = &buffer;
    return _WriteObject(object, nullptr);
}

VError VJSONBinaryWriter::StreamArray(const VJSONArray* array, VMemoryBuffer<>& buffer)
{
    fBuffer = &buffer;
    return _WriteArray(array, nullptr);
}

VError VJSONBinaryWriter::_WriteValue(const VJSONValue& value, const PathPart* where)
{
    VMemoryBuffer<>& buffer = *fBuffer;
    switch (value.GetType()) {
        case JSON_null:
            return PutScalar(buffer, kTag_Null);
        case JSON_false:
            return PutScalar(buffer, kTag_False);
        case JSON_true:
            return PutScalar(buffer, kTag_True);
        case JSON_undefined:
            return PutScalar(buffer, kTag_Undefined);
        case JSON_string: {
            const VInlineString& text = value.GetInlineString();
            VError err = PutScalar(buffer, kTag_String);
            if (err == 0)
                err = PutScalar(buffer, static_cast<uint32_t>(text.GetLength()));
            if (err == 0 && text.GetLength() > 0)
                err = Put(buffer, text.GetCPointer(), static_cast<size_t>(text.GetLength()) * sizeof(UniChar));
            return err;
        }
        case JSON_number: {
            VError err = PutScalar(buffer, kTag_Number);
            return err == 0 ? PutScalar(buffer, value.GetNumber()) : err;
        }
        case JSON_date: {
            VTime time;
            value.GetTime(time);
            VError err = PutScalar(buffer, kTag_Date);
            return err == 0 ? PutScalar(buffer, time.GetMilliseconds()) : err;
        }
        case JSON_object:
            return _WriteObject(value.GetObject(), where);
        case JSON_array:
            return _WriteArray(value.GetArray(), where);
    }
    return PutScalar(buffer, kTag_Undefined);
}

bool VJSONBinaryWriter::_WriteReferenceIfSeen(const void* container, const PathPart* where, VError* err)
{
    auto found = fWritten.find(container);
    if (found == fWritten.end()) {
        VString pointer;
        BuildPathPointerString(where, pointer);
        fWritten.emplace(container, std::move(pointer));
        return false;
    }
    const VString& pointer = found->second;
    *err = PutScalar(*fBuffer, kTag_Reference);
    if (*err == 0)
        *err = PutScalar(*fBuffer, static_cast<uint32_t>(pointer.GetLength()));
    if (*err == 0)
        *err = Put(*fBuffer, pointer.GetCPointer(), static_cast<size_t>(pointer.GetLength()) * sizeof(UniChar));
    return true;
}

VError VJSONBinaryWriter::_WriteArray(const VJSONArray* array, const PathPart* where)
{
    if (array == nullptr)
        return PutScalar(*fBuffer, kTag_Null);
    VError err = 0;
    if (_WriteReferenceIfSeen(array, where, &err))
        return err;
    if (VTaskMgr::Get()->GetCurrentFreeStackSize() < VJSONWriter::kMinFreeStack)
        return _ThrowError(VE_STACK_TOO_SMALL);
    const size_t count = array->GetCount();
    err = PutScalar(*fBuffer, kTag_Array);
    if (err == 0)
        err = PutScalar(*fBuffer, static_cast<uint32_t>(count));
    for (size_t i = 0; i < count && err == 0; ++i) {
        PathPart part{where, nullptr, i};
        err = _WriteValue(array->GetAt(i), &part);
    }
    return err;
}

VError VJSONBinaryWriter::_WriteObject(const VJSONObject* object, const PathPart* where)
{
    if (object == nullptr)
        return PutScalar(*fBuffer, kTag_Null);
    IJSONObject* implementation = object->GetImplementation();
    if (implementation != nullptr) {
        VJSONValue replacement;
        implementation->IJSON_GetValueToWriteToBuffer(object, replacement);
        if (!replacement.IsUndefined() && replacement.GetObject() != object)
            return _WriteValue(replacement, where);
    }
    VError err = 0;
    if (_WriteReferenceIfSeen(object, where, &err))
        return err;
    if (VTaskMgr::Get()->GetCurrentFreeStackSize() < VJSONWriter::kMinFreeStack)
        return _ThrowError(VE_STACK_TOO_SMALL);
    err = PutScalar(*fBuffer, kTag_Object);
    const uint32_t signature = implementation ? implementation->IJSON_GetBinarySignature(object) : 0;
    for (VJSONPropertyConstOrderedIterator i(object, signature != 0 ? 3 : 2); i.IsValid() && err == 0; ++i) {
        err = PutShortText(*fBuffer, i.GetName());
        PathPart part{where, &i.GetName(), 0};
        if (err == 0)
            err = _WriteValue(i.GetValue(), &part);
    }
    if (err == 0)
        err = _WriteEndBlock(object);
    return err;
}

VError VJSONBinaryWriter::_WriteEndBlock(const VJSONObject* object)
{
    VMemoryBuffer<>& buffer = *fBuffer;
    IJSONObject* implementation = object->GetImplementation();
    const uint32_t signature = implementation ? implementation->IJSON_GetBinarySignature(object) : 0;
    if (signature != 0) {
        VError err = PutScalar(buffer, kEnd_Signed);
        if (err == 0)
            err = PutScalar(buffer, signature);
        if (err != 0)
            return err;
        VError written = 0;
        EJSONStatus status = implementation->IJSON_WriteToBuffer(object, &buffer, &written);
        if (status == eJSON_notHandled)
            return PutScalar(buffer, static_cast<uint64_t>(0));
        if (status == eJSON_failed)
            return written != 0 ? written : VE_JSON_CANNOT_WRITE_TO_BUFFER;
        return written;
    }
    const VJSONClass* cls = object->GetClass();
    if (implementation == nullptr && cls != nullptr &&
        !(cls->GetName().EqualToString(VString("Object"), true) && cls->GetClassData() == 0))
        return WriteClassBlock(buffer, cls);
    return PutScalar(buffer, kEnd_Plain);
}

// --- importer ---

VJSONBinaryImporter::VJSONBinaryImporter(const void* data, size_t size, VJSONStamp* stamp)
    : fStamp(RetainRefCountable(stamp)), fData(static_cast<const uint8_t*>(data)), fSize(data ? size : 0)
{
}

VJSONBinaryImporter::~VJSONBinaryImporter()
{
    ReleaseRefCountable(&fResolver);
    ReleaseRefCountable(&fStamp);
}

template <class T>
bool VJSONBinaryImporter::_Read(T& out)
{
    if (_Left() < sizeof(T))
        return false;
    std::memcpy(&out, fData + fPosition, sizeof(T));
    fPosition += sizeof(T);
    return true;
}

bool VJSONBinaryImporter::_ReadUnits(uint32_t count, VString& out)
{
    if (_Left() / sizeof(UniChar) < count)
        return false;
    if (count == 0) {
        out.Clear();
        return true;
    }
    // The bytes may be unaligned: copy them into the string's own block.
    std::vector<UniChar> units(count);
    std::memcpy(units.data(), fData + fPosition, count * sizeof(UniChar));
    out.FromUniString(units.data(), static_cast<VIndex>(count));
    fPosition += count * sizeof(UniChar);
    return true;
}

VError VJSONBinaryImporter::GetValue(VJSONValue& out)
{
    VError err = _GetValue(out);
    if (err == 0 && (out.IsObject() || out.IsArray())) {
        if (fResolver == nullptr)
            fResolver = new VJSONPointerResolver(out, nullptr, nullptr);
        err = _GetContents(out, 1);
    }
    return err;
}

VError VJSONBinaryImporter::_GetValue(VJSONValue& out)
{
    uint8_t tag = 0;
    if (!_Read(tag))
        return _ThrowError(VE_JSON_BINARY_CUT);
    switch (tag) {
        case kTag_Null:
            out.SetNull();
            return 0;
        case kTag_False:
            out.SetBool(false);
            return 0;
        case kTag_True:
            out.SetBool(true);
            return 0;
        case kTag_Undefined:
            out.SetUndefined();
            return 0;
        case kTag_String: {
            uint32_t length = 0;
            VString text;
            if (!_Read(length) || !_ReadUnits(length, text))
                return _ThrowError(VE_JSON_BINARY_CUT);
            out.SetString(text);
            return 0;
        }
        case kTag_Number: {
            double number = 0;
            if (!_Read(number))
                return _ThrowError(VE_JSON_BINARY_CUT);
            out.SetNumber(number);
            return 0;
        }
        case kTag_Date: {
            int64_t ms = 0;
            if (!_Read(ms))
                return _ThrowError(VE_JSON_BINARY_CUT);
            VTime time;
            time.FromMilliseconds(ms);
            out.SetTime(time);
            return 0;
        }
        case kTag_Object: {
            uint16_t marker = 0;
            if (_Left() < sizeof(marker))
                return _ThrowError(VE_JSON_BINARY_CUT);
            std::memcpy(&marker, fData + fPosition, sizeof(marker));
            if (marker == kMarker_Undefined) {
                out.SetUndefined();
                return 0;
            }
            VJSONObject* object = new VJSONObject();
            if (fStamp)
                object->SetJSONStamp(fStamp);
            out.SetObject(object);
            object->Release();
            return 0;
        }
        case kTag_Array: {
            uint32_t count = 0;
            if (!_Read(count))
                return _ThrowError(VE_JSON_BINARY_CUT);
            if (count == kCount_Undefined) {
                out.SetUndefined();
                return 0;
            }
            // Every element takes at least its tag byte: a count beyond the
            // bytes left is a cut (or forged) stream, refused before any
            // allocation.
            if (count > _Left())
                return _ThrowError(VE_JSON_BINARY_CUT);
            VJSONArray* array = new VJSONArray();
            if (fStamp)
                array->SetJSONStamp(fStamp);
            out.SetArray(array);
            array->Release();
            if (!array->Resize(count, JSON_null))
                return _ThrowError(VE_MEMORY_FULL);
            return 0;
        }
        case kTag_Reference: {
            uint32_t length = 0;
            VString pointer;
            if (!_Read(length) || !_ReadUnits(length, pointer))
                return _ThrowError(VE_JSON_BINARY_CUT);
            if (fResolver == nullptr)
                return 0;
            VJSONObject* reference = new VJSONObject();
            reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(pointer));
            VJSONValue target;
            fResolver->ResolveOnePointer(reference, false, target);
            reference->Release();
            out = target;
            return 0;
        }
        default: {
            // Reserved tags carry their size; skip them, leaving out alone.
            const size_t start = fPosition;
            uint32_t size = 0;
            if (!_Read(size) || size > fSize - start || size < sizeof(size))
                return _ThrowError(VE_JSON_BINARY_CUT);
            fPosition = start + size;
            return 0;
        }
    }
}

VError VJSONBinaryImporter::_GetContents(VJSONValue& value, uint32_t depth)
{
    if (depth > kMaxDepth || VTaskMgr::Get()->GetCurrentFreeStackSize() < VJSONWriter::kMinFreeStack)
        return _ThrowError(VE_STACK_TOO_SMALL);
    if (VJSONArray* array = value.GetArray())
        return _GetArrayContents(array, depth);
    if (VJSONObject* object = value.GetObject())
        return _GetObjectContents(object, depth);
    return 0;
}

VError VJSONBinaryImporter::_GetArrayContents(VJSONArray* array, uint32_t depth)
{
    const size_t count = array->GetCount();
    VError err = 0;
    for (size_t i = 0; i < count && err == 0; ++i) {
        VJSONValue element;
        const size_t before = fPosition;
        err = _GetValue(element);
        if (err != 0)
            break;
        array->SetAt(i, element);
        // A back-reference is a container read already: its contents are not
        // in the stream again.
        if (fData[before] != kTag_Reference)
            err = _GetContents(element, depth + 1);
    }
    return err;
}

VError VJSONBinaryImporter::_GetObjectContents(VJSONObject* object, uint32_t depth)
{
    for (;;) {
        uint16_t word = 0;
        if (!_Read(word))
            return _ThrowError(VE_JSON_BINARY_CUT);
        if (word == kEnd_Plain)
            return 0;
        if (word == kEnd_Signed)
            return _GetEndBlock(object);
        if (word & 0x8000)
            continue;
        VString name;
        if (!_ReadUnits(word, name))
            return _ThrowError(VE_JSON_BINARY_CUT);
        VJSONValue value;
        const size_t before = fPosition;
        VError err = _GetValue(value);
        if (err != 0)
            return err;
        object->SetProperty(name, value);
        if (fData[before] != kTag_Reference) {
            err = _GetContents(value, depth + 1);
            if (err != 0)
                return err;
        }
    }
}

VError VJSONBinaryImporter::_GetEndBlock(VJSONObject* object)
{
    uint32_t signature = 0;
    uint64_t length = 0;
    if (!_Read(signature) || !_Read(length) || length > _Left())
        return _ThrowError(VE_JSON_BINARY_CUT);
    const uint8_t* payload = fData + fPosition;
    fPosition += static_cast<size_t>(length);
    if (signature == kJSONClassSignature) {
        const uint8_t* at = payload;
        const uint8_t* end = payload + length;
        VString storeName, className;
        ReadClassBlockName(at, end, storeName);
        ReadClassBlockName(at, end, className);
        VRefPtr<VJSONObject> classObject =
            VRefPtr<VJSONObject>::Adopt(VJSONClassStore::RetainProcessClassObject(storeName, className));
        if (VJSONClass* cls = VJSONClass::FromClassObject(classObject.Get())) {
            object->_SetClass(cls);
            object->SetClassData(cls->GetClassData());
        }
        return 0;
    }
    VJSONObject* classRef = nullptr;
    VError err = 0;
    IJSONObject* implementation = VJSONObjectFactory::Get()->CreateForSignature(
        object, signature, payload, static_cast<size_t>(length), classRef, &err);
    if (implementation != nullptr) {
        object->_SetImplementation(implementation);
        implementation->Release();
    }
    if (VJSONClass* cls = VJSONClass::FromClassObject(classRef))
        object->_SetClass(cls);
    return err;
}

// --- factory ---

VJSONObjectFactory* VJSONObjectFactory::Get()
{
    static VJSONObjectFactory* sFactory = new VJSONObjectFactory();
    return sFactory;
}

VJSONObjectFactory::VJSONObjectFactory()
{
    fCreators[kJSONBlobSignature] = &VJSONBlob::CreateIJSONObject;
}

void VJSONObjectFactory::RegisterSignature(uint32_t signature, Creator creator)
{
    StLocker<VCriticalSection> lock(&fLock);
    fCreators[signature] = creator;
}

void VJSONObjectFactory::UnRegisterSignature(uint32_t signature)
{
    StLocker<VCriticalSection> lock(&fLock);
    fCreators.erase(signature);
}

bool VJSONObjectFactory::IsSignatureSupported(uint32_t signature) const
{
    StLocker<VCriticalSection> lock(&fLock);
    return fCreators.count(signature) != 0;
}

IJSONObject* VJSONObjectFactory::CreateForSignature(VJSONObject* object, uint32_t signature, const void* payload,
                                                    size_t length, VJSONObject*& classRef, VError* error) const
{
    Creator creator = nullptr;
    {
        StLocker<VCriticalSection> lock(&fLock);
        auto found = fCreators.find(signature);
        if (found != fCreators.end())
            creator = found->second;
    }
    return creator ? creator(object, signature, payload, length, classRef, error) : nullptr;
}

}  // namespace bkit
