// JSONClassTestSupport.h - the process class store around a test suite.
//
// Suites that make classes, blobs or binary class instances derive from
// ClassStoreTest: the store "zanth" is made before the suite and ended after
// it, so that LeakSanitizer sees everything it made freed.
#pragma once

#include <gtest/gtest.h>

#include "basekit/json/VJSONClassStore.h"

namespace bkit::test {

class ClassStoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { VJSONClassStore::InitProcessStore(); }
    static void TearDownTestSuite() { VJSONClassStore::DeInitProcessStore(); }
    static VJSONClassStore* Store() { return VJSONClassStore::GetProcessStore(); }
};

}  // namespace bkit::test
