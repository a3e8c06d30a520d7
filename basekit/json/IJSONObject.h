// IJSONObject.h - the behaviour of a JSON object implemented in native code.
//
// This file defines EJSONStatus, the answer of every implementation operation
// and native JSON function, and IJSONObject, the interface through which an
// object's implementation takes over its operations. Each operation receives
// the object it serves. The defaults leave everything to the object itself
// (status 1, "not handled"), so an implementation overrides only what it
// changes. An implementation is reference counted; the object holds one
// reference. Implementations are called with the object's locks held when the
// object is shared: they must not wait for another task.
#pragma once

#include <cstdint>
#include <vector>

#include "basekit/BKitTypes.h"
#include "basekit/runtime/VMemoryBuffer.h"
#include "basekit/values/IRefCountable.h"

namespace bkit {

class CDBZanthBaseContext;
class IJSONFunctionContext;
class VDBLanguageContext;
class VJSONArray;
class VJSONClass;
class VJSONCloner;
class VJSONObject;
class VJSONStamp;
class VJSONValue;
class VJSONWriter;
class VString;
class VValueSingle;

enum EJSONStatus : uint32_t {
    eJSON_done = 0,
    eJSON_notHandled = 1,
    eJSON_failed = 2,  // an error was pushed
};

// The iterator an implementation may hand out for its own property walk.
class IJSONIterator {
public:
    virtual ~IJSONIterator() = default;
    // Fills value with the next one; false at the end.
    virtual bool GetNextValue(VJSONValue& value) = 0;
};

class IJSONObject : public IRefCountable {
public:
    ~IJSONObject() override = default;

    virtual EJSONStatus IJSON_GetProperty(const VJSONObject* object, const VString& name, VJSONValue& out,
                                          VDBLanguageContext* languageContext);
    virtual EJSONStatus IJSON_BeginChangeProperties(VJSONObject* object);
    virtual EJSONStatus IJSON_EndChangeProperties(VJSONObject* object);
    virtual EJSONStatus IJSON_SetProperty(VJSONObject* object, const VString& name, const VJSONValue& value,
                                          VDBLanguageContext* languageContext);
    virtual EJSONStatus IJSON_RemoveProperty(VJSONObject* object, const VString& name);
    // True when the implementation's own content is cleared.
    virtual bool IJSON_Clear(VJSONObject* object);
    // Default: true when IJSON_GetPropertyNames lists no name.
    virtual bool IJSON_IsEmpty(const VJSONObject* object);
    virtual EJSONStatus IJSON_Stringify(const VJSONObject* object, VJSONWriter* writer, VString& out,
                                        VError* error);
    // A new implementation for a clone of object (status 0 with *out set).
    virtual EJSONStatus IJSON_CloneImpl(const VJSONObject* object, VJSONCloner& cloner, IJSONObject** out);
    // The whole clone of object into out.
    virtual EJSONStatus IJSON_Clone(const VJSONObject* object, VJSONCloner& cloner, VJSONValue& out,
                                    VError* error);
    // A four-character code of the implementation's own binary form, 0 when none.
    virtual uint32_t IJSON_GetBinarySignature(const VJSONObject* object);
    // A value to write in the object's place in binary form (out left alone: none).
    virtual void IJSON_GetValueToWriteToBuffer(const VJSONObject* object, VJSONValue& out);
    // Default: pushes 'bkit' 915, sets *error to it and answers 2.
    virtual EJSONStatus IJSON_WriteToBuffer(const VJSONObject* object, VMemoryBuffer<>* buffer, VError* error);
    virtual EJSONStatus IJSON_GetPropertyNames(const VJSONObject* object, std::vector<VString>& names);
    // A new toolbox value for the object (the caller owns it), or null.
    virtual VValueSingle* IJSON_CreateVValue(const VJSONObject* object);
    virtual EJSONStatus IJSON_GetPropertyStamp(const VJSONObject* object, const VString& name, uint32_t* stamp);
    virtual EJSONStatus IJSON_TouchPropertyStamp(VJSONObject* object, const VString& name);
    virtual EJSONStatus IJSON_GetDescription(const VJSONObject* object, VString& out, bool shortForm);
    virtual EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject* object, int64_t index, VJSONValue& out);
    virtual EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject* object, int64_t* count);
    virtual IJSONIterator* IJSON_MakeIterator(const VJSONObject* object, int64_t start, int64_t end, bool flag);
    virtual EJSONStatus IJSON_GetClassName(const VJSONObject* object, VString& out);
    virtual EJSONStatus IJSON_DeepEqualTo(const VJSONObject* object, const VJSONObject* other, bool* equal);
    // Whether the implemented object may join a shared graph (*flag cleared by default).
    virtual bool IJSON_IsSharable(const VJSONObject* object, bool* flag);
    virtual EJSONStatus IJSON_CallAsFunction(VJSONObject* object, IJSONFunctionContext* context);
    virtual VJSONClass* IJSON_GetFunctionClassOwner(const VJSONObject* object);
    virtual EJSONStatus IJSON_SetJSONStamp(VJSONObject* object, VJSONStamp* stamp);
    virtual void IJSON_DoConnectDependencies(VJSONObject* object);
    virtual void IJSON_DoDisconnectDependencies(VJSONObject* object);
};

}  // namespace bkit
