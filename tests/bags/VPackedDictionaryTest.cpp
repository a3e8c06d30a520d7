// VPackedDictionaryTest.cpp - bag keys, the hash index and the packed attribute store.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <variant>
#include <vector>

#include "basekit/bags/VPackedDictionary.h"
#include "basekit/bags/VValueBag.h"
#include "basekit/files/VMemoryStream.h"
#include "basekit/values/VScalars.h"

namespace bkit {
namespace {

using Store = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;

std::string Name(const Store& store, size_t i)
{
    size_t length = 0;
    const char* bytes = store.GetNameBytes(i, &length);
    return std::string(bytes, length);
}

void Set(Store& store, const StPackedDictionaryKey& key, const VValueSingle& value)
{
    if (!store.SetExistingValue(key, value)) {
        ASSERT_TRUE(store.Append(key, value));
    }
}

TEST(StPackedDictionaryKey, HashCodes)
{
    EXPECT_EQ(StPackedDictionaryKey::GetHashCode("", 0), 0u);
    EXPECT_EQ(StPackedDictionaryKey::GetHashCode("a", 1), 354u);
    EXPECT_EQ(StPackedDictionaryKey("a").GetHash(), 354u);
    // Names of 17 bytes and more hash their first and last 8 bytes only.
    const std::string a = "abcdefgh" "X" "ijklmnop";
    const std::string b = "abcdefgh" "Y" "ijklmnop";
    EXPECT_EQ(StPackedDictionaryKey::GetHashCode(a.data(), a.size()),
              StPackedDictionaryKey::GetHashCode(b.data(), b.size()));
    EXPECT_NE(StPackedDictionaryKey::GetHashCode("ab", 2), StPackedDictionaryKey::GetHashCode("ba", 2));
}

TEST(StPackedDictionaryKey, NamesOver255BytesBecomeTheEmptyName)
{
    const std::string n255(255, 'x');
    const std::string n256(256, 'x');
    struct Case {
        StPackedDictionaryKey key;
        size_t length;
    } cases[] = {
        {StPackedDictionaryKey(n255.data(), n255.size()), 255},
        {StPackedDictionaryKey(n256.data(), n256.size()), 0},
        {StPackedDictionaryKey(n256.c_str()), 0},
        {StPackedDictionaryKey(VString(n255.c_str())), 255},
        {StPackedDictionaryKey(VString(n256.c_str())), 0},
        {StPackedDictionaryKey(L"w\u00e9"), 3},
        {StPackedDictionaryKey(std::wstring(300, L'w').c_str()), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.key.GetKeyLength(), c.length);
        EXPECT_EQ(c.key.GetHash(), StPackedDictionaryKey::GetHashCode(c.key.GetKey(), c.key.GetKeyLength()));
    }
    // A copy of an owning key owns its own bytes.
    StPackedDictionaryKey copy("unused");
    {
        StPackedDictionaryKey owner(VString("temp"));
        copy = owner;
    }
    EXPECT_TRUE(copy.Equal("temp", 4));
}

TEST(VPackedDictionary, TwoNamesWithOneHashAreToldApart)
{
    Store store;
    const std::string a = "abcdefgh" "X" "ijklmnop";
    const std::string b = "abcdefgh" "Y" "ijklmnop";
    ASSERT_TRUE(store.Append(StPackedDictionaryKey(a.data(), a.size()), VLong(1)));
    ASSERT_TRUE(store.Append(StPackedDictionaryKey(b.data(), b.size()), VLong(2)));
    for (int i = 0; i < 6; ++i)  // enough names for an index
        ASSERT_TRUE(store.Append(StPackedDictionaryKey(std::to_string(i).c_str()), VLong(10 + i)));
    VLong value;
    ASSERT_TRUE(store.GetValue(StPackedDictionaryKey(b.data(), b.size()), value));
    EXPECT_EQ(value.GetLong(), 2);
    ASSERT_TRUE(store.GetValue(StPackedDictionaryKey(a.data(), a.size()), value));
    EXPECT_EQ(value.GetLong(), 1);
    EXPECT_GT(store._GetIndexBucketCount(), 0u);
}

TEST(VPackedDictionary, IndexIsBuiltFromSixNamesAndGrowsWhenFull)
{
    Store store;
    for (int i = 0; i < 5; ++i)
        store.Append(StPackedDictionaryKey(("n" + std::to_string(i)).c_str()), VLong(i));
    VLong value;
    EXPECT_TRUE(store.GetValue(StPackedDictionaryKey("n4"), value));
    EXPECT_EQ(store._GetIndexBucketCount(), 0u);

    store.Append(StPackedDictionaryKey("n5"), VLong(5));
    EXPECT_FALSE(store.GetValue(StPackedDictionaryKey("absent"), value));
    EXPECT_EQ(store._GetIndexBucketCount(), 11u);

    for (int i = 6; i < 11; ++i)
        store.Append(StPackedDictionaryKey(("n" + std::to_string(i)).c_str()), VLong(i));
    EXPECT_EQ(store._GetIndexBucketCount(), 11u);
    store.Append(StPackedDictionaryKey("n11"), VLong(11));
    EXPECT_EQ(store._GetIndexBucketCount(), 23u);
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(store.GetValue(StPackedDictionaryKey(("n" + std::to_string(i)).c_str()), value)) << i;
        EXPECT_EQ(value.GetLong(), i);
    }
    // A removal empties the index; the next lookup builds it again.
    store.Clear(StPackedDictionaryKey("n0"));
    EXPECT_EQ(store._GetIndexBucketCount(), 0u);
    EXPECT_TRUE(store.GetValue(StPackedDictionaryKey("n11"), value));
    EXPECT_EQ(store._GetIndexBucketCount(), 23u);
}

TEST(VPackedDictionary, InPlaceOverwriteDirtyValuesAndPacking)
{
    Store store;
    store.Append(StPackedDictionaryKey("a"), VLong(1));
    store.Append(StPackedDictionaryKey("s"), VString("ab"));
    store.Append(StPackedDictionaryKey("z"), VBoolean(true));

    // Same packed size: rewritten in place, still clean.
    EXPECT_TRUE(store.SetExistingValue(StPackedDictionaryKey("a"), VLong(7)));
    EXPECT_FALSE(store.IsDirty());
    EXPECT_EQ(store._GetStore().size(), 3u + 5u + 2u);

    // Longer string: cached and dirty until packed.
    EXPECT_TRUE(store.SetExistingValue(StPackedDictionaryKey("s"), VString("abcdef")));
    EXPECT_TRUE(store.IsDirty());
    EXPECT_EQ(store._GetStore().size(), 3u + 5u + 2u);
    store._Pack();
    store.SetDirty(false);
    EXPECT_EQ(store._GetStore().size(), 3u + 9u + 2u);

    // The packed copy (assignment) reads the new values from its store.
    Store copy;
    copy = store;
    VString s;
    VLong l;
    VBoolean b;
    ASSERT_TRUE(copy.GetValue(StPackedDictionaryKey("s"), s));
    ASSERT_TRUE(copy.GetValue(StPackedDictionaryKey("a"), l));
    ASSERT_TRUE(copy.GetValue(StPackedDictionaryKey("z"), b));
    EXPECT_EQ(to_string(s), "abcdef");
    EXPECT_EQ(l.GetLong(), 7);
    EXPECT_TRUE(b.GetBoolean());

    EXPECT_FALSE(store.SetExistingValue(StPackedDictionaryKey("absent"), VLong(1)));
}

TEST(VPackedDictionary, RemovingTheFirstNameShiftsTheOthers)
{
    Store store;
    store.Append(StPackedDictionaryKey("first"), VString("one"));
    store.Append(StPackedDictionaryKey("second"), VLong(2));
    store.Append(StPackedDictionaryKey("third"), VString("three"));
    store.Clear(StPackedDictionaryKey("first"));
    ASSERT_EQ(store.GetCount(), 2u);
    EXPECT_EQ(Name(store, 0), "second");
    EXPECT_EQ(Name(store, 1), "third");
    VLong l;
    VString s;
    ASSERT_TRUE(store.GetValue(StPackedDictionaryKey("second"), l));
    ASSERT_TRUE(store.GetValue(StPackedDictionaryKey("third"), s));
    EXPECT_EQ(l.GetLong(), 2);
    EXPECT_EQ(to_string(s), "three");
    EXPECT_EQ(store._GetStore().size(), 3u + 8u);
    store.Clear(StPackedDictionaryKey("absent"));
    EXPECT_EQ(store.GetCount(), 2u);
}

TEST(VPackedDictionary, ValueOfAnotherKindIsUnpackedOnceAndCached)
{
    Store store;
    store.Append(StPackedDictionaryKey("n"), VLong(42));
    VString text;
    ASSERT_TRUE(store.GetValue(StPackedDictionaryKey("n"), text));
    EXPECT_EQ(to_string(text), "42");
    const VValueSingle* cached = store.GetCachedValue(StPackedDictionaryKey("n"));
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(cached->GetValueKind(), VK_LONG);
    VString again;
    store.GetValue(StPackedDictionaryKey("n"), again);
    EXPECT_EQ(store.GetCachedValue(StPackedDictionaryKey("n")), cached);
    // A value of the stored kind loads straight from the packed bytes.
    Store other;
    other.Append(StPackedDictionaryKey("m"), VLong(5));
    VLong same;
    ASSERT_TRUE(other.GetValue(StPackedDictionaryKey("m"), same));
    EXPECT_EQ(same.GetLong(), 5);
}

// The store against a plain reference under random operations: set (of
// several kinds and sizes), remove, read, pack, copy and a stream round trip.
TEST(VPackedDictionary, RandomOperationsMatchAReferenceMap)
{
    using Value = std::variant<int32_t, std::string, bool, double>;
    std::vector<std::pair<std::string, Value>> reference;
    Store store;
    std::mt19937 random(12345);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };

    auto makeValue = [&]() -> Value {
        switch (pick(4)) {
            case 0: return static_cast<int32_t>(random());
            case 1: return std::string(static_cast<size_t>(pick(12)), static_cast<char>('a' + pick(26)));
            case 2: return pick(2) == 1;
            default: return static_cast<double>(pick(1000)) / 8.0;
        }
    };
    auto setValue = [&](const StPackedDictionaryKey& key, const Value& v) {
        if (auto* i = std::get_if<int32_t>(&v))
            Set(store, key, VLong(*i));
        else if (auto* s = std::get_if<std::string>(&v))
            Set(store, key, VString(s->c_str()));
        else if (auto* b = std::get_if<bool>(&v))
            Set(store, key, VBoolean(*b));
        else
            Set(store, key, VReal(std::get<double>(v)));
    };
    auto check = [&](const Store& s) {
        ASSERT_EQ(s.GetCount(), reference.size());
        for (size_t i = 0; i < reference.size(); ++i) {
            ASSERT_EQ(Name(s, i), reference[i].first);
            const VValueSingle* value = s.GetNthValue(i);
            ASSERT_NE(value, nullptr);
            const Value& expected = reference[i].second;
            if (auto* n = std::get_if<int32_t>(&expected)) {
                EXPECT_EQ(value->GetValueKind(), VK_LONG);
                EXPECT_EQ(value->GetLong(), *n);
            } else if (auto* t = std::get_if<std::string>(&expected)) {
                VString text;
                value->GetString(text);
                EXPECT_EQ(value->GetValueKind(), VK_STRING);
                EXPECT_EQ(to_string(text), *t);
            } else if (auto* b = std::get_if<bool>(&expected)) {
                EXPECT_EQ(value->GetValueKind(), VK_BOOLEAN);
                EXPECT_EQ(value->GetBoolean() != 0, *b);
            } else {
                EXPECT_EQ(value->GetValueKind(), VK_REAL);
                EXPECT_EQ(value->GetReal(), std::get<double>(expected));
            }
        }
    };

    for (int step = 0; step < 4000; ++step) {
        const std::string name = "k" + std::to_string(pick(40));
        const StPackedDictionaryKey key(name.c_str());
        auto found = std::find_if(reference.begin(), reference.end(), [&](const auto& p) { return p.first == name; });
        const int op = pick(10);
        if (op < 5) {
            Value v = makeValue();
            setValue(key, v);
            if (found == reference.end())
                reference.emplace_back(name, v);
            else
                found->second = v;
        } else if (op < 7) {
            store.Clear(key);
            if (found != reference.end())
                reference.erase(found);
        } else if (op == 7) {
            VString text;
            EXPECT_EQ(store.GetValue(key, text), found != reference.end());
        } else if (op == 8) {
            store._Pack();
            store.SetDirty(false);
        } else if (step % 3 == 0) {
            VPtrStream stream;
            stream.OpenWriting();
            stream.SetNeedSwap(pick(2) == 1);
            store._Pack();
            store.SetDirty(false);
            ASSERT_EQ(store.WriteToStream(&stream, pick(2) == 1), VE_OK);
            stream.CloseWriting();
            const bool swap = stream.NeedSwap();
            stream.OpenReading();
            stream.SetNeedSwap(swap);
            Store read;
            ASSERT_EQ(read.ReadFromStream(&stream), VE_OK);
            stream.CloseReading();
            check(read);
        } else {
            Store copy(store);
            check(copy);
        }
        if (step % 50 == 0)
            check(store);
    }
    check(store);
}


// Names of the three shapes a document can choose: short ones, long ones that
// share the 16 bytes the stored hash covers (so all have one stored hash), and
// numbers as names.
std::string ShapedName(int shape, int i)
{
    switch (shape) {
        case 0: return "n" + std::to_string(i);
        case 1: {
            std::string middle = std::to_string(i);
            return "prefix__" + std::string(8 - middle.size(), '0') + middle + "__suffix";
        }
        default: return std::to_string(1000000 + i);
    }
}

TEST(VPackedDictionary, ManyDistinctNamesCostAFewProbesEach)
{
    constexpr int kNames = 20000;
    for (int shape = 0; shape < 3; ++shape) {
        Store store;
        const uint64_t before = _GetDictionaryProbesForTesting();
        for (int i = 0; i < kNames; ++i)
            Set(store, StPackedDictionaryKey(ShapedName(shape, i).c_str()), VLong(i));
        VLong value;
        for (int i = 0; i < kNames; ++i) {
            ASSERT_TRUE(store.GetValue(StPackedDictionaryKey(ShapedName(shape, i).c_str()), value)) << shape << " " << i;
            ASSERT_EQ(value.GetLong(), i);
        }
        EXPECT_FALSE(store.GetValue(StPackedDictionaryKey(ShapedName(shape, kNames).c_str()), value));
        const uint64_t probes = _GetDictionaryProbesForTesting() - before;
        // Scanning the names, or walking a full index, costs each name in step
        // with all the others: hundreds of millions here.
        EXPECT_LE(probes, 8u * kNames) << "shape " << shape;
        ASSERT_EQ(store.GetCount(), static_cast<size_t>(kNames));
        for (int i = 0; i < kNames; i += 997)
            EXPECT_EQ(Name(store, static_cast<size_t>(i)), ShapedName(shape, i));
    }
}

TEST(VPackedDictionary, TheWrittenIndexIsTheOneOfThePlainBucketWalk)
{
    // The index a dictionary streams is the one built by putting each name in
    // the first free bucket from its hash on, rebuilt in slot order whenever
    // it is full: compared here with a plain model of that walk.
    constexpr size_t kNames = 3000;
    Store store;
    std::vector<uint32_t> model;
    std::vector<uint32_t> hashes;
    auto put = [&model](uint32_t hash, uint32_t slot) {
        for (size_t k = 0; k < model.size(); ++k) {
            size_t at = (hash % model.size() + k) % model.size();
            if (model[at] == _VHashKeyMap::kFree) {
                model[at] = slot;
                return true;
            }
        }
        return false;
    };
    for (size_t i = 0; i < kNames; ++i) {
        const std::string name = ShapedName(static_cast<int>(i % 3), static_cast<int>(i));
        const StPackedDictionaryKey key(name.c_str());
        Set(store, key, VLong(static_cast<int32_t>(i)));  // looks first: the index exists from 6 names on
        hashes.push_back(key.GetHash());
        if (model.empty() && hashes.size() >= 6) {
            // Built at the lookup of the seventh name, before it was appended.
            model.assign(_VHashKeyMap::BucketCountFor(hashes.size() - 1), _VHashKeyMap::kFree);
            for (uint32_t k = 0; k + 1 < hashes.size(); ++k)
                put(hashes[k], k);
        }
        if (!model.empty() && !put(hashes.back(), static_cast<uint32_t>(i))) {
            model.assign(_VHashKeyMap::BucketCountFor(hashes.size()), _VHashKeyMap::kFree);
            for (uint32_t k = 0; k < hashes.size(); ++k)
                put(hashes[k], k);
        }
    }
    VPtrStream stream;
    stream.OpenWriting();
    ASSERT_EQ(store.WriteToStream(&stream, true), VE_OK);
    stream.CloseWriting();
    stream.OpenReading();
    uint32_t count = 0, length = 0, bucketCount = 0;
    uint8_t flag = 0;
    stream.GetLong(count);
    stream.GetLong(length);
    std::vector<uint8_t> names(length);
    stream.GetData(names.data(), length);
    stream.GetByte(flag);
    stream.GetLong(bucketCount);
    std::vector<uint32_t> buckets(bucketCount);
    for (uint32_t& b : buckets)
        stream.GetLong(b);
    ASSERT_EQ(stream.GetLastError(), VE_OK);
    stream.CloseReading();
    EXPECT_EQ(count, kNames);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(bucketCount, model.size());
    EXPECT_TRUE(buckets == model);
}

TEST(VPackedDictionary, ManyElementNamesCostAFewProbesEach)
{
    VValueBag bag;
    constexpr int kNames = 20000;
    const uint64_t before = _GetDictionaryProbesForTesting();
    for (int i = 0; i < kNames; ++i) {
        VValueBag* child = new VValueBag;
        bag.AddElement(StPackedDictionaryKey(ShapedName(i % 3, i).c_str()), child);
        child->Release();
    }
    EXPECT_EQ(bag.GetElementNamesCount(), kNames);
    for (int i = 0; i < kNames; ++i) {
        VBagArray* list = bag.GetElements(StPackedDictionaryKey(ShapedName(i % 3, i).c_str()));
        ASSERT_NE(list, nullptr) << i;
        ASSERT_EQ(list->GetCount(), 1) << i;
    }
    EXPECT_LE(_GetDictionaryProbesForTesting() - before, 8u * kNames);
}

}  // namespace
}  // namespace bkit
