// VJSONBlobTest.cpp - the blob's one named property, its constant name.
#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

#include "basekit/json/VJSONBlob.h"
#include "basekit/json/VJSONObject.h"
#include "json/JSONClassTestSupport.h"

namespace bkit {
namespace {

class VJSONBlobTest : public test::ClassStoreTest {};

// The name is a constant text of the class, not a function building it.
static_assert(std::is_same_v<decltype(VJSONBlob::key_size), const VString>);

TEST_F(VJSONBlobTest, SizeIsTheOneNameABlobAnswers)
{
    EXPECT_EQ(to_string(VJSONBlob::key_size), "size");
    const uint8_t data[] = {9, 8, 7};
    VJSONObject* blob = VJSONBlob::Create(data, 3);
    std::vector<VString> names;
    blob->GetImplementation()->IJSON_GetPropertyNames(blob, names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(names[0].EqualToStringRaw(VJSONBlob::key_size));
    EXPECT_EQ(blob->GetProperty(VJSONBlob::key_size).GetNumber(), 3.0);
    EXPECT_TRUE(blob->GetProperty(VString("length")).IsUndefined());
    blob->Release();
}

}  // namespace
}  // namespace bkit
