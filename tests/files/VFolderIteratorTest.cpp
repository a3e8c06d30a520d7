// VFolderIteratorTest.cpp - listing one folder level by option bits, and the
// recursive walks built on it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "basekit/files/VFileIterator.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/VFolderIterator.h"
#include "basekit/platform/FileOps.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/values/VTime.h"
#include "tests/support/TempFolder.h"

namespace bkit {
namespace {

std::string NameOf(const IFileSystemObject* object)
{
    VString name;
    object->GetName(name);
    StStringConverter<char> utf8(name);
    return utf8.GetCPointer();
}

template <class Iterator>
std::set<std::string> List(const VFolder* folder, uint32_t options)
{
    std::set<std::string> names;
    for (Iterator it(folder, options); it.IsValid(); ++it)
        names.insert(NameOf(it.Current()));
    return names;
}

class VFolderIteratorTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::TempFolderTest::SetUp();
        ASSERT_TRUE(fTemp.MakeFolder("d"));
        ASSERT_TRUE(fTemp.WriteFile("d/a.txt", "a"));
        ASSERT_TRUE(fTemp.WriteFile("d/.dot", "."));
        ASSERT_TRUE(fTemp.WriteFile("d/flagged", "h"));
        ASSERT_EQ(0, SetFileFlags(fTemp.Path("d/flagged").c_str(), false, kFileFlagHidden));
        ASSERT_TRUE(fTemp.MakeFolder("d/sub"));
        ASSERT_TRUE(fTemp.MakeFolder("d/.hsub"));
        ASSERT_EQ(0, mkfifo(fTemp.Path("d/pipe").c_str(), 0600));
        ASSERT_TRUE(fTemp.MakeLink("d/lfile", "a.txt"));
        ASSERT_TRUE(fTemp.MakeLink("d/ldir", "sub"));
        ASSERT_TRUE(fTemp.MakeLink("d/dangling", "nowhere"));
        fFolder = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("d")));
    }

    VRefPtr<VFolder> fFolder;
};

using Names = std::set<std::string>;

TEST_F(VFolderIteratorTest, EveryOptionBit)
{
    // Names sorted; a link replaced by its target lists under the target's name.
    struct Case {
        uint32_t options;
        std::vector<std::string> files;    // from a file iterator
        std::vector<std::string> folders;  // from a folder iterator
    } cases[] = {
        {4, {"a.txt", "dangling", "ldir", "lfile"}, {}},
        {4 | 8, {".dot", "a.txt", "dangling", "flagged", "ldir", "lfile"}, {}},
        {2, {}, {"sub"}},
        {2 | 8, {}, {".hsub", "sub"}},
        {4 | 16, {"a.txt", "a.txt"}, {}},
        {2 | 16, {}, {"sub", "sub"}},
        {4 | 8 | 16, {".dot", "a.txt", "a.txt", "flagged"}, {}},
        {1 | 4, {"a.txt", "dangling", "ldir", "lfile"}, {}},  // bit 1 means nothing to an iterator
        {0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        std::vector<std::string> files;
        for (VFileIterator it(fFolder.Get(), c.options & ~2u); it.IsValid(); ++it)
            files.push_back(NameOf(it.Current()));
        std::sort(files.begin(), files.end());
        EXPECT_EQ(c.files, files);
        std::vector<std::string> folders;
        for (VFolderIterator it(fFolder.Get(), c.options & ~4u); it.IsValid(); ++it)
            folders.push_back(NameOf(it.Current()));
        std::sort(folders.begin(), folders.end());
        EXPECT_EQ(c.folders, folders);
    }
}

TEST_F(VFolderIteratorTest, IndexTimesAndEnd)
{
    VFileIterator it(fFolder.Get(), 4 | 8);
    EXPECT_EQ(1, it.GetPos());
    VTime modified;
    EXPECT_EQ(0u, it.GetTime(&modified, nullptr, nullptr));
    ++it;
    ++it;
    EXPECT_EQ(3, it.GetPos());
    while (it.IsValid())
        ++it;
    EXPECT_EQ(VE_INVALID_PARAMETER, it.GetTime(&modified, nullptr, nullptr));

    VRefPtr<VFolder> missing = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("none")));
    VFileIterator none(missing.Get(), 4);
    EXPECT_FALSE(none.IsValid());
    EXPECT_EQ(0, none.GetPos());
}

TEST_F(VFolderIteratorTest, WalksDescendDepthFirstAndStopOnLinkLoops)
{
    ASSERT_TRUE(fTemp.MakeFolder("w"));
    ASSERT_TRUE(fTemp.MakeFolder("w/b"));
    ASSERT_TRUE(fTemp.MakeFolder("w/b/c"));
    ASSERT_TRUE(fTemp.WriteFile("w/top", ""));
    ASSERT_TRUE(fTemp.WriteFile("w/b/c/deep", ""));
    VRefPtr<VFolder> walk = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("w")));

    std::vector<std::string> folders;
    walk->IterateFolders([&](IFolder* f, IFileAttributeAccessor*) { folders.push_back(NameOf(f)); return true; }, 1);
    EXPECT_EQ((std::vector<std::string>{"b", "c"}), folders);

    struct Case {
        uint32_t options;
        std::vector<std::string> files;
    } cases[] = {{1, {"top"}}, {3, {"deep", "top"}}, {0, {"top"}}};
    for (const Case& c : cases) {
        std::vector<std::string> files;
        walk->IterateFiles([&](IFile* f, IFileAttributeAccessor*) { files.push_back(NameOf(f)); return true; }, c.options);
        std::sort(files.begin(), files.end());
        EXPECT_EQ(c.files, files) << c.options;
    }

    // A link to an ancestor: every folder is entered once.
    ASSERT_TRUE(fTemp.MakeLink("w/b/c/up", "../.."));
    int calls = 0;
    walk->IterateFolders([&](IFolder*, IFileAttributeAccessor*) { return ++calls < 1000; }, 1 | 2 | 16);
    EXPECT_LT(calls, 10);
    int fileCalls = 0;
    walk->IterateFiles([&](IFile*, IFileAttributeAccessor*) { return ++fileCalls < 1000; }, 1 | 2 | 16);
    EXPECT_EQ(2, fileCalls);

    // A false answer ends the listing of that folder.
    int seen = 0;
    walk->IterateFolders([&](IFolder*, IFileAttributeAccessor*) { ++seen; return false; }, 1);
    EXPECT_EQ(1, seen);
}

TEST_F(VFolderIteratorTest, ResolvedLinksStayInsideTheFileSystem)
{
    ASSERT_TRUE(fTemp.MakeFolder("root"));
    ASSERT_TRUE(fTemp.MakeFolder("outside"));
    ASSERT_TRUE(fTemp.MakeFolder("root/in"));
    ASSERT_TRUE(fTemp.MakeLink("root/out", "../outside"));
    ASSERT_TRUE(fTemp.MakeLink("root/in2", "in"));
    VRefPtr<VFolder> rootFolder = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("root")));
    VError err = 0;
    VFileSystem* fs = VFileSystem::Create(VString("fs"), rootFolder.Get(), 0, 0, 0, err);
    ASSERT_NE(nullptr, fs);
    VRefPtr<VFolder> bound = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("root"), fs));
    EXPECT_EQ((Names{"in"}), List<VFolderIterator>(bound.Get(), 2 | 16));
    EXPECT_EQ((Names{"in2", "out"}), List<VFileIterator>(bound.Get(), 4));
    fs->Release();
}

TEST_F(VFolderIteratorTest, LinkReplacedByItsTargetFolderIsAFolder)
{
    ASSERT_TRUE(fTemp.WriteFile("d/sub/inner", "i"));
    std::vector<VRefPtr<VFolder>> found;
    for (VFolderIterator it(fFolder.Get(), 2 | 16); it.IsValid(); ++it)
        found.emplace_back(it.Current());
    ASSERT_EQ(2u, found.size());  // sub, and ldir as sub
    for (const VRefPtr<VFolder>& folder : found) {
        EXPECT_TRUE(folder->GetPath().IsFolder());
        EXPECT_TRUE(folder->Exists());
        EXPECT_EQ("sub", NameOf(folder.Get()));
    }
    // A walk that follows links enters it (once: it is the same folder).
    std::vector<std::string> files;
    fFolder->IterateFiles([&](IFile* f, IFileAttributeAccessor*) { files.push_back(NameOf(f)); return true; },
                          1 | 2 | 16);
    EXPECT_EQ(1, std::count(files.begin(), files.end(), "inner"));
}

TEST_F(VFolderIteratorTest, EntriesOfLongPathsAreListed)
{
    // A folder path of over 800 bytes holding a 200-byte name: over 1 KB in
    // all, still within what the system allows.
    const std::string level(200, 'L');
    std::string folder = "long";
    ASSERT_TRUE(fTemp.MakeFolder(folder));
    while (fTemp.Path(folder).size() < 820) {
        folder += "/" + level;
        ASSERT_TRUE(fTemp.MakeFolder(folder));
    }
    const std::string name(200, 'n');
    ASSERT_TRUE(fTemp.WriteFile(folder + "/" + name, "x"));
    ASSERT_TRUE(fTemp.MakeFolder(folder + "/" + std::string(200, 's')));
    ASSERT_GT(fTemp.Path(folder + "/" + name).size(), 1024u);

    VRefPtr<VFolder> deep = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath(folder)));
    EXPECT_FALSE(deep->IsEmpty());
    EXPECT_EQ((Names{name}), List<VFileIterator>(deep.Get(), 4));
    EXPECT_EQ((Names{std::string(200, 's')}), List<VFolderIterator>(deep.Get(), 2));
    VFileIterator file(deep.Get(), 4);
    ASSERT_TRUE(file.IsValid());
    EXPECT_TRUE(file->Exists());
    long long size = 0;
    EXPECT_EQ(0u, file->GetSize(&size));
    EXPECT_EQ(1, size);
}

}  // namespace
}  // namespace bkit
