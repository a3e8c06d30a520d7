// VFileAttributesCacheTest.cpp - remembered existence and times of files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileAttributesCache.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFolder.h"
#include "basekit/values/VTime.h"
#include "files/VFileTestSupport.h"

namespace bkit::test {
namespace {

class VFileAttributesCacheTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        ASSERT_TRUE(fTemp.MakeFolder("root"));
        ASSERT_TRUE(fTemp.MakeFolder("root/sub"));
        ASSERT_TRUE(fTemp.WriteFile("root/a", "A"));
        ASSERT_TRUE(fTemp.WriteFile("root/b", "B"));
        fRoot = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("root")));
        VError err = VE_OK;
        fSystem = VRefPtr<VFileSystem>::Adopt(
            VFileSystem::Create(VString("cached"), fRoot.Get(), eFSAttributesCache, 0, 0, err));
        ASSERT_TRUE(fSystem);
        ASSERT_NE(fSystem->GetAttributesCache(), nullptr);
    }

    VRefPtr<VFile> Bound(const std::string& name)
    {
        return VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath(name), fSystem.Get()));
    }

    VRefPtr<VFolder> fRoot;
    VRefPtr<VFileSystem> fSystem;
};

TEST_F(VFileAttributesCacheTest, FilesAreAnsweredFromTheCacheUntilCleared)
{
    VFileAttributesCache& cache = *fSystem->GetAttributesCache();
    VFileAttributesCache::Map map;
    VFileAttributesCache::CollectFileAttributes(map, fRoot.Get());
    EXPECT_EQ(map.size(), 2u);
    cache.SwapMap(map);
    EXPECT_TRUE(map.empty());

    // Gone from the disk, still known to the cache.
    ASSERT_EQ(::unlink(fTemp.Path("root/a").c_str()), 0);
    EXPECT_TRUE(Bound("root/a")->Exists());
    VTime modified;
    EXPECT_EQ(Bound("root/a")->GetTimeAttributes(&modified), VE_OK);
    EXPECT_FALSE(modified.IsNull());
    EXPECT_TRUE(cache.GetTimeAttributes(fTemp.FilePath("root/b"), nullptr, nullptr, nullptr));
    // Only files are collected; an unbound file asks the disk.
    EXPECT_FALSE(cache.FileExists(fTemp.FolderPath("root/sub")));
    EXPECT_FALSE(FileIn(fTemp, "root/a")->Exists());

    cache.Clear();
    EXPECT_FALSE(cache.FileExists(fTemp.FilePath("root/b")));
    EXPECT_FALSE(Bound("root/a")->Exists());
    EXPECT_TRUE(Bound("root/b")->Exists());
}

TEST_F(VFileAttributesCacheTest, TheFirstCollectedEntryWins)
{
    VFileAttributesCache::Map map;
    VRefPtr<VFile> a = Bound("root/a");
    VFileAttributesCache::CollectFileAttributes(map, a.Get());
    VTime first = map.begin()->second.fModified;
    VTime later;
    later.FromUTCTime(2030, 1, 1, 0, 0, 0, 0);
    ASSERT_EQ(a->SetTimeAttributes(&later), VE_OK);
    VFileAttributesCache::CollectFileAttributes(map, a.Get());
    VFileAttributesCache::CollectFileAttributes(map, fRoot.Get());
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map.begin()->second.fModified.GetMilliseconds(), first.GetMilliseconds());
    // Nothing is collected for a missing or null file.
    VFileAttributesCache::CollectFileAttributes(map, Bound("root/missing").Get());
    VFileAttributesCache::CollectFileAttributes(map, static_cast<IFile*>(nullptr));
    EXPECT_EQ(map.size(), 2u);
}

}  // namespace
}  // namespace bkit::test
