// VBlobJSON.cpp - byte blobs to and from objects of the JSON class "Blob".
#include <vector>

#include "basekit/json/VJSONBlob.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/values/VBlob.h"

namespace bkit {

VError VBlob::GetJSONValue(VJSONValue& json, uint32_t) const
{
    json.SetUndefined();
    std::vector<uint8_t> bytes(static_cast<size_t>(GetSize()));
    VError err = bytes.empty() ? VE_OK : GetData(bytes.data(), bytes.size(), 0);
    if (err != VE_OK)
        return err;
    VJSONObject* blob = VJSONBlob::Create(bytes.data(), bytes.size());
    if (blob == nullptr)
        return VE_MEMORY_FULL;
    json.SetObject(blob);
    blob->Release();
    return VE_OK;
}

VError VBlob::FromJSONValue(const VJSONValue& json)
{
    Clear();
    const VJSONBlob* blob = VJSONBlob::CastJSONObject(json.GetObject());
    if (blob == nullptr) {
        SetNull(true);
        return VE_OK;
    }
    return FromData(blob->GetData(), static_cast<VSize>(blob->GetSize()));
}

}  // namespace bkit
