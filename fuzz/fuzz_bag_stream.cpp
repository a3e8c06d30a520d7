// fuzz_bag_stream.cpp - libFuzzer target for the binary bag reader.
//
// Each input is read as a whole bag stream in both byte orders. A refused
// input must leave the bag empty. An accepted one is used the way readers use
// bags (every value unpacked, names looked up, XML, JSON and debug texts,
// copies), then written back and read again: the second writing must give the
// same bytes as the first. Crashes, sanitizer reports and broken invariants
// are the findings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/files/VMemoryStream.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTaskMgr.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

namespace {

std::vector<uint8_t> Write(const VValueBag& bag, bool swap)
{
    VPtrStream stream;
    stream.OpenWriting();
    stream.SetNeedSwap(swap);
    Check(bag.WriteToStream(&stream) == VE_OK);
    stream.CloseWriting();
    VStreamUnderlyingData data = stream.GetUnderlyingData();
    const auto* p = static_cast<const uint8_t*>(data.fData);
    return std::vector<uint8_t>(p, p + data.fSize);
}

VError Read(VValueBag& bag, const uint8_t* data, size_t size, bool swap)
{
    VConstPtrStream stream(data, size);
    stream.OpenReading();
    stream.SetNeedSwap(swap);
    VError err = bag.ReadFromStream(&stream);
    stream.CloseReading();
    return err;
}

void Use(const VValueBag& bag, int depth)
{
    VString name;
    VString text;
    const VValueBag::AttributeStore& attributes = bag.GetAttributes();
    for (VIndex i = 1; i <= bag.GetAttributesCount(); ++i) {
        const VValueSingle* value = bag.GetNthAttribute(i, &name);
        if (value)
            value->GetString(text);
        // A lookup finds every stored name, whatever index the data carried.
        size_t length = 0;
        const char* bytes = attributes.GetNameBytes(static_cast<size_t>(i - 1), &length);
        Check(attributes._FindIndex(StPackedDictionaryKey::Borrowing(bytes, length)) == static_cast<size_t>(i - 1));
    }
    for (VIndex i = 1; i <= bag.GetElementNamesCount(); ++i) {
        const VBagArray* list = bag.GetNthElementName(i, &name);
        Check(list != nullptr);
        for (VIndex j = 1; j <= list->GetCount() && depth < 64; ++j)
            Use(*list->GetNth(j), depth + 1);
    }
}

void Exercise(VValueBag& bag, bool swap)
{
    Use(bag, 0);
    VString out;
    bag.DumpXML(out, VString("bag"), true);
    bag.GetJSONString(out, 8);
    bag.DebugDump(out);
    VRefPtr<VValueBag> copy = VRefPtr<VValueBag>::Adopt(static_cast<VValueBag*>(bag.Clone()));
    const std::vector<uint8_t> first = Write(*copy, swap);
    VRefPtr<VValueBag> again = VRefPtr<VValueBag>::Adopt(new VValueBag());
    Check(Read(*again, first.data(), first.size(), swap) == VE_OK);
    Check(Write(*again, swap) == first);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static VProcess process;
    VTaskMgr::Init(&process);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StErrorContextInstaller quiet(false, true);
    for (bool swap : {false, true}) {
        VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag());
        if (Read(*bag, data, size, swap) == VE_OK)
            Exercise(*bag, swap);
        else
            Check(bag->IsEmpty());
    }
    return 0;
}
