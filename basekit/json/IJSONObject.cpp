// IJSONObject.cpp - the defaults of an implemented object: leave it to the object.
#include "basekit/json/IJSONObject.h"

#include "basekit/json/VJSONErrors.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/VString.h"

namespace bkit {

EJSONStatus IJSONObject::IJSON_GetProperty(const VJSONObject*, const VString&, VJSONValue&, VDBLanguageContext*)
{
    return eJSON_notHandled;
}

EJSONStatus IJSONObject::IJSON_BeginChangeProperties(VJSONObject*) { return eJSON_notHandled; }

EJSONStatus IJSONObject::IJSON_EndChangeProperties(VJSONObject*) { return eJSON_notHandled; }

EJSONStatus IJSONObject::IJSON_SetProperty(VJSONObject*, const VString&, const VJSONValue&, VDBLanguageContext*)
{
    return eJSON_notHandled;
}

EJSONStatus IJSONObject::IJSON_RemoveProperty(VJSONObject*, const VString&) { return eJSON_notHandled; }

bool IJSONObject::IJSON_Clear(VJSONObject*) { return true; }

bool IJSONObject::IJSON_IsEmpty(const VJSONObject* object)
{
    std::vector<VString> names;
    IJSON_GetPropertyNames(object, names);
    return names.empty();
}

EJSONStatus IJSONObject::IJSON_Stringify(const VJSONObject*, VJSONWriter*, VString&, VError*)
{
    return eJSON_notHandled;
}

EJSONStatus IJSONObject::IJSON_CloneImpl(const VJSONObject*, VJSONCloner&, IJSONObject**) { return eJSON_notHandled; }

EJSONStatus IJSONObject::IJSON_Clone(const VJSONObject*, VJSONCloner&, VJSONValue&, VError*)
{
    return eJSON_notHandled;
}

uint32_t IJSONObject::IJSON_GetBinarySignature(const VJSONObject*) { return 0; }

void IJSONObject::IJSON_GetValueToWriteToBuffer(const VJSONObject*, VJSONValue&) {}

EJSONStatus IJSONObject::IJSON_WriteToBuffer(const VJSONObject*, VMemoryBuffer<>*, VError* error)
{
    _ThrowError(VE_JSON_CANNOT_WRITE_TO_BUFFER);
    if (error)
        *error = VE_JSON_CANNOT_WRITE_TO_BUFFER;
    return eJSON_failed;
}

EJSONStatus IJSONObject::IJSON_GetPropertyNames(const VJSONObject*, std::vector<VString>&) { return eJSON_notHandled; }

VValueSingle* IJSONObject::IJSON_CreateVValue(const VJSONObject*) { return nullptr; }

EJSONStatus IJSONObject::IJSON_GetPropertyStamp(const VJSONObject*, const VString&, uint32_t*)
{
    return eJSON_notHandled;
}

EJSONStatus IJSONObject::IJSON_TouchPropertyStamp(VJSONObject*, const VString&) { return eJSON_notHandled; }

EJSONStatus IJSONObject::IJSON_GetDescription(const VJSONObject*, VString&, bool) { return eJSON_notHandled; }

EJSONStatus IJSONObject::IJSON_GetPropertyByIndex(const VJSONObject*, int64_t, VJSONValue&) { return eJSON_notHandled; }

EJSONStatus IJSONObject::IJSON_GetCountPropertiesByIndex(const VJSONObject*, int64_t*) { return eJSON_notHandled; }

IJSONIterator* IJSONObject::IJSON_MakeIterator(const VJSONObject*, int64_t, int64_t, bool) { return nullptr; }

EJSONStatus IJSONObject::IJSON_GetClassName(const VJSONObject*, VString&) { return eJSON_notHandled; }

EJSONStatus IJSONObject::IJSON_DeepEqualTo(const VJSONObject*, const VJSONObject*, bool*) { return eJSON_notHandled; }

bool IJSONObject::IJSON_IsSharable(const VJSONObject*, bool* flag)
{
    if (flag)
        *flag = false;
    return false;
}

EJSONStatus IJSONObject::IJSON_CallAsFunction(VJSONObject*, IJSONFunctionContext*) { return eJSON_notHandled; }

VJSONClass* IJSONObject::IJSON_GetFunctionClassOwner(const VJSONObject*) { return nullptr; }

EJSONStatus IJSONObject::IJSON_SetJSONStamp(VJSONObject*, VJSONStamp*) { return eJSON_notHandled; }

void IJSONObject::IJSON_DoConnectDependencies(VJSONObject*) {}

void IJSONObject::IJSON_DoDisconnectDependencies(VJSONObject*) {}

}  // namespace bkit
