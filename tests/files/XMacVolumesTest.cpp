// XMacVolumesTest.cpp - the volume cache and full-path conversion over a mount table.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "basekit/files/VFilePath.h"
#include "basekit/files/mac/XMacVolumes.h"
#include "basekit/platform/MountTable.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

using platform::MountedVolume;
using platform::MountTable;

std::string Text(const VString& s) { return to_string(s); }

// A temporary tree with a folder "vol" that the test table mounts as volume
// "Vol", on a root volume named "Disk".
class VolumesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/bkit-volumes-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        char real[PATH_MAX];
        ASSERT_NE(realpath(pattern, real), nullptr);
        fRoot = real;
        std::filesystem::create_directories(fRoot + "/vol/dir");
        std::filesystem::create_directories(fRoot + "/volume2");
        std::ofstream(fRoot + "/vol/dir/a.txt") << "a";
        std::ofstream(fRoot + "/vol/dir/a:b") << "b";
        std::filesystem::create_directory_symlink(fRoot + "/vol/dir", fRoot + "/link");

        std::vector<MountedVolume> table = {{"/", "Disk", "ext4"}, {fRoot + "/vol", "Vol", "ext4"}};
        MountTable::SetVolumesForTesting(&table);

        // The root as a path of Disk: "/tmp/x" is "Disk:tmp:x".
        fRootOnDisk = "Disk";
        for (char c : fRoot)
            fRootOnDisk.push_back(c == '/' ? ':' : c);
    }

    void TearDown() override
    {
        MountTable::SetVolumesForTesting(nullptr);
        std::filesystem::remove_all(fRoot);
    }

    std::string ToHFS(const std::string& posix, bool isFolder, bool* ok = nullptr)
    {
        VString out;
        bool done = XMacVolumes::PosixFullPathToHFS(posix.c_str(), isFolder, out);
        if (ok != nullptr)
            *ok = done;
        return done ? Text(out) : std::string("<failed>");
    }

    // An expected internal path where "~" stands for fRoot on Disk.
    std::string OnDisk(const std::string& hfs) const
    {
        return !hfs.empty() && hfs[0] == '~' ? fRootOnDisk + hfs.substr(1) : hfs;
    }

    std::string fRoot;
    std::string fRootOnDisk;
};

TEST_F(VolumesTest, PosixFullPathsConvertToTheirVolume)
{
    struct Case {
        std::string posix;  // below fRoot
        bool isFolder;
        std::string hfs;    // "~" stands for fRoot on Disk
    } cases[] = {
        {"/vol/dir/a.txt", false, "Vol:dir:a.txt"},
        {"/vol/dir/", true, "Vol:dir:"},
        {"/vol/", true, "Vol:"},
        // A name holding ':' on disk holds '/' in the volume form.
        {"/vol/dir/a:b", false, "Vol:dir:a/b"},
        // Files and folders that do not exist go through their parents.
        {"/vol/dir/new.txt", false, "Vol:dir:new.txt"},
        {"/vol/missing/deeper/", true, "Vol:missing:deeper:"},
        // Below a missing folder ".." is taken in the text, and the folder it
        // leads to is looked up again (it may be a volume of its own).
        {"/vol/a/b/../c", false, "Vol:a:c"},
        {"/missing/../vol/dir/", true, "Vol:dir:"},
        {"/vol/missing/../../vol/new.txt", false, "Vol:new.txt"},
        // Existing folders on the way: '..' climbs with one more ':'.
        {"/vol/dir/../dir/a.txt", false, "Vol:dir::dir:a.txt"},
        {"/vol/./dir/a.txt", false, "Vol:dir:a.txt"},
        // A repeated '/' before ".." climbs once, as POSIX does.
        {"/vol/dir//../dir/a.txt", false, "Vol:dir::dir:a.txt"},
        // A folder whose name only begins like a mount point is not on it.
        {"/volume2/x", false, "~:volume2:x"},
        // A link to a folder of another volume is followed to that volume.
        {"/link/a.txt", false, "Vol:dir:a.txt"},
        // A link in the last place names the link itself, never its target:
        // a folder object over it must act on the link.
        {"/link/", true, "~:link:"},
        {"/link", false, "~:link"},
        // The mount point as a file path of its parent volume.
        {"/vol", false, "~:vol"},
    };
    for (const Case& c : cases) {
        std::string expected = OnDisk(c.hfs);
        EXPECT_EQ(ToHFS(fRoot + c.posix, c.isFolder), expected) << c.posix;
    }
}

TEST_F(VolumesTest, RootAndTextsWithoutVolume)
{
    EXPECT_EQ(ToHFS("/", true), "Disk:");
    EXPECT_EQ(ToHFS("/etc/", true), "Disk:etc:");
    bool ok = true;
    ToHFS("relative/text", false, &ok);
    EXPECT_FALSE(ok);
    ToHFS(std::string(1100, 'a').insert(0, "/"), false, &ok);
    EXPECT_FALSE(ok);
}

TEST_F(VolumesTest, VolumeFormConvertsToPosix)
{
    struct Case {
        const char* hfs;
        std::string posix;
        bool known;
    } cases[] = {
        {"Vol:dir:a/b", fRoot + "/vol/dir/a:b", true},
        {"Vol:", fRoot + "/vol/", true},
        {"Vol", fRoot + "/vol/", true},
        {"Disk:etc:hosts", "/etc/hosts", true},
        {"Disk:", "/", true},
        {"X:y", "/X/y", false},
    };
    for (const Case& c : cases) {
        VString out;
        EXPECT_EQ(XMacVolumes::HFSFullPathToPosix(VString(c.hfs), out), c.known) << c.hfs;
        EXPECT_EQ(Text(out), c.posix) << c.hfs;
    }
}

TEST_F(VolumesTest, FilePathsRoundTripThroughPosix)
{
    const std::string texts[] = {fRoot + "/vol/dir/a.txt", fRoot + "/vol/dir/", fRoot + "/vol/dir/a:b",
                                 fRoot + "/volume2/", "/", "/etc/hosts"};
    for (const std::string& text : texts) {
        VFilePath path(VString(text.c_str()), FPS_POSIX);
        ASSERT_TRUE(path.IsValid()) << text;
        VString back;
        path.GetPosixPath(back);
        EXPECT_EQ(Text(back), text);
    }
    VFilePath climbed(VString((fRoot + "/vol/dir/../dir/a.txt").c_str()), FPS_POSIX);
    EXPECT_EQ(Text(climbed.GetPath()), "Vol:dir:a.txt");
    // Nothing climbs above the top of the disk.
    VFilePath aboveRoot(VString("/.."), FPS_POSIX);
    EXPECT_FALSE(aboveRoot.IsValid());
}

// A ".." that climbs out of a volume's top folder leads to the folder that
// holds the mount point, and from there anywhere, back into the volume too:
// the path is the one of the item the text names, never a climb above the
// volume in the internal form ("Vol::vol:dir:a.txt", which is invalid).
TEST_F(VolumesTest, ClimbingOutOfAVolumeNamesTheItemReached)
{
    struct Case {
        std::string posix;  // below fRoot
        std::string hfs;    // "~" stands for fRoot on Disk
    } cases[] = {
        {"/vol/../vol/dir/a.txt", "Vol:dir:a.txt"},
        {"/vol/./../vol/dir/a.txt", "Vol:dir:a.txt"},
        {"/vol/dir/../../vol/dir/a.txt", "Vol:dir:a.txt"},
        {"/vol/../vol/dir/", "Vol:dir:"},
        {"/vol/../volume2/x", "~:volume2:x"},
        {"/vol/dir/../../link/a.txt", "Vol:dir:a.txt"},
        // Items not created yet, below folders that are.
        {"/vol/../vol/dir/new.txt", "Vol:dir:new.txt"},
        // A final ".." is a folder.
        {"/vol/..", "~:"},
        {"/vol/dir/../..", "~:"},
        {"/vol/../", "~:"},
    };
    for (const Case& c : cases) {
        std::string expected = OnDisk(c.hfs);
        VFilePath path(VString((fRoot + c.posix).c_str()), FPS_POSIX);
        EXPECT_TRUE(path.IsValid()) << c.posix;
        EXPECT_EQ(Text(path.GetPath()), expected) << c.posix;
    }

    // The same steps given relative to a folder of the volume.
    struct Relative {
        const char* base;
        const char* posix;
        std::string hfs;  // empty: invalid
    } relatives[] = {
        {"Vol:", "../vol/dir/a.txt", "Vol:dir:a.txt"},
        {"Vol:dir:", "../../vol/dir/", "Vol:dir:"},
        {"Vol:", "../volume2/x", "~:volume2:x"},
        {"Vol:", "..", "~:"},
        {"Vol:dir:", "../..", "~:"},
        {"Vol:dir:", "../a.txt", "Vol:a.txt"},  // staying inside is unchanged
        // The internal form has no step above a volume, and a volume that is
        // not mounted has no place to climb to.
        {"Vol:", "", "Vol:"},
        {"Nowhere:", "../vol/dir/a.txt", ""},
        // Nor is there anything above the top of the disk.
        {"Vol:dir:", "../../../../../../../../../../../../../../../../x", ""},
        {"Vol:dir:", "../../../../../../../../../../../../../../../../x/", ""},
    };
    for (const Relative& r : relatives) {
        std::string expected = OnDisk(r.hfs);
        VFilePath path(VFilePath(VString(r.base)), VString(r.posix), FPS_POSIX);
        EXPECT_EQ(path.IsValid(), !expected.empty()) << r.base << " " << r.posix;
        if (!expected.empty()) {
            EXPECT_EQ(Text(path.GetPath()), expected) << r.base << " " << r.posix;
        }
    }
    EXPECT_FALSE(VFilePath(VFilePath(VString("Vol:")), VString("::vol:dir:"), FPS_SYSTEM).IsValid());
}

TEST_F(VolumesTest, LookupsBothWays)
{
    XMacVolumes& volumes = XMacVolumes::Get();
    char name[8];
    ASSERT_TRUE(volumes.GetVolumeNameFromMountPath((fRoot + "/vol").c_str(), name, sizeof(name)));
    EXPECT_STREQ(name, "Vol");
    char small[3];
    ASSERT_TRUE(volumes.GetVolumeNameFromMountPath("/", small, sizeof(small)));
    EXPECT_STREQ(small, "Di");  // cut to the buffer, terminated
    EXPECT_FALSE(volumes.GetVolumeNameFromMountPath((fRoot + "/vol/").c_str(), name, sizeof(name)));

    VString mountPath("untouched");
    EXPECT_FALSE(volumes.GetMountPathFromVolumeName(VString("vol"), mountPath));  // names are exact
    EXPECT_EQ(Text(mountPath), "untouched");
    EXPECT_TRUE(volumes.GetMountPathFromVolumeName(VString("Vol"), mountPath));
    EXPECT_EQ(Text(mountPath), fRoot + "/vol");
}

TEST_F(VolumesTest, DuplicateNamesKeepTheFirstVolume)
{
    std::vector<MountedVolume> table = {
        {"/", "Disk", "ext4"}, {fRoot + "/vol", "Same", "ext4"}, {fRoot + "/volume2", "Same", "ext4"}};
    MountTable::SetVolumesForTesting(&table);
    VString mountPath;
    ASSERT_TRUE(XMacVolumes::Get().GetMountPathFromVolumeName(VString("Same"), mountPath));
    EXPECT_EQ(Text(mountPath), fRoot + "/vol");
}

// Conversions from several threads while the cache is dropped and reloaded
// under them give the same answers (run under the sanitizers).
TEST_F(VolumesTest, ConcurrentConversionsAgree)
{
    std::string file = fRoot + "/vol/dir/a.txt";
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                VString hfs, posix;
                if (!XMacVolumes::PosixFullPathToHFS(file.c_str(), false, hfs) || Text(hfs) != "Vol:dir:a.txt")
                    ++failures[t];
                if (!XMacVolumes::HFSFullPathToPosix(hfs, posix) || Text(posix) != file)
                    ++failures[t];
                if (t == 0 && i % 10 == 0)
                    XMacVolumes::Get().InvalidateCache();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(VolumeNameComparatorTest, ShorterFirstThenByCodeUnit)
{
    VolumeNameComparator less;
    EXPECT_TRUE(less(VString("Zz"), VString("Aaa")));
    EXPECT_TRUE(less(VString("Ab"), VString("Ac")));
    EXPECT_TRUE(less(VString("AB"), VString("ab")));
    EXPECT_FALSE(less(VString("ab"), VString("ab")));
}

TEST(MountTableTest, NamesAreUniqueAndReadable)
{
    struct Case {
        std::vector<std::string> paths;
        std::vector<std::string> names;
    } cases[] = {
        {{"/mnt/data", "/", "/media/data", "/srv/a:b", "/Root"}, {"data", "Root", "data 2", "a/b", "Root 2"}},
        {{"/x/data", "/y/data", "/z/data 2"}, {"data", "data 2", "data 2 2"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MountTable::MakeVolumeNames(c.paths), c.names);
    EXPECT_EQ(MountTable::UnescapeField("/mnt/my\\040disk\\134x"), "/mnt/my disk\\x");
}

// Every mount point of this machine converts to its own volume's root and back
// to the same text.
TEST(MountTableTest, EveryRealMountPointRoundTrips)
{
    std::vector<MountedVolume> volumes = MountTable::GetMountedVolumes();
    ASSERT_FALSE(volumes.empty());
    EXPECT_EQ(volumes.front().fMountPath, "/");
    std::set<std::string> names;
    for (const MountedVolume& volume : volumes) {
        EXPECT_TRUE(names.insert(volume.fName).second) << volume.fName;
        std::string posix = volume.fMountPath == "/" ? "/" : volume.fMountPath + "/";
        std::string resolved;
        if (!MountTable::GetResolvedPath(posix.c_str(), resolved) || resolved + "/" != posix) {
            if (posix != "/")
                continue;  // hidden under another mount or not reachable: statfs could not see it either
        }
        VString hfs;
        ASSERT_TRUE(XMacVolumes::PosixFullPathToHFS(posix.c_str(), true, hfs)) << posix;
        EXPECT_EQ(Text(hfs), volume.fName + ":");
        VString back;
        EXPECT_TRUE(XMacVolumes::HFSFullPathToPosix(hfs, back));
        EXPECT_EQ(Text(back), posix);
    }
}

}  // namespace
}  // namespace bkit
