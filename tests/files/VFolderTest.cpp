// VFolderTest.cpp - folder objects on a real disk: bundle copies, renames, the
// Trash, deletion, and the refusals that protect data.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileIterator.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/FileOps.h"
#include "basekit/platform/FolderOps.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/json/VJSONObject.h"
#include "files/CopyTestSupport.h"
#include "tests/support/TempFolder.h"

namespace bkit {
namespace {

using test::TempFolder;

VRefPtr<VFolder> FolderAt(const TempFolder& temp, const std::string& name = "")
{
    return VRefPtr<VFolder>::Adopt(new VFolder(temp.FolderPath(name)));
}

mode_t ModeOf(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

std::string LinkTarget(const std::string& path)
{
    char buffer[1024];
    ssize_t n = readlink(path.c_str(), buffer, sizeof(buffer));
    return n < 0 ? std::string("<no link>") : std::string(buffer, static_cast<size_t>(n));
}

std::string Attribute(const std::string& path, const char* name)
{
    char buffer[256];
    ssize_t n = lgetxattr(path.c_str(), name, buffer, sizeof(buffer));
    return n < 0 ? std::string("<none>") : std::string(buffer, static_cast<size_t>(n));
}

time_t MTimeOf(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : 0;
}

// The parameter of the error record on top of the context, or "<none>".
std::string TopParameter(const StErrorContextInstaller& context, const char* name)
{
    VErrorBase* error = context.GetContext() ? context.GetContext()->GetLast() : nullptr;
    if (error == nullptr || error->GetParameters() == nullptr)
        return "<none>";
    VString text;
    if (error->GetParameters()->GetProperty(VString(name)).GetString(text) != 0)
        return "<none>";
    StStringConverter<char> utf8(text);
    return utf8.GetCPointer();
}

// A small application bundle: nested folders, a Versions/Current link, an
// executable, a read-only folder, extended attributes, an empty folder and
// names in both Unicode forms.
class BundleTree {
public:
    static constexpr const char* kComposed = "R\xC3\xA9sum\xC3\xA9.txt";       // NFC
    static constexpr const char* kDecomposed = "Re\xCC\x81sume\xCC\x81.txt";  // NFD

    explicit BundleTree(const TempFolder& temp, const std::string& root) : fTemp(temp), fRoot(root)
    {
        Make("");
        Make("/Contents");
        Make("/Contents/MacOS");
        EXPECT_TRUE(fTemp.WriteFile(fRoot + "/Contents/MacOS/app", "#!/bin/sh\necho hi\n", 0755));
        Make("/Contents/Frameworks");
        Make("/Contents/Frameworks/Kit.framework");
        Make("/Contents/Frameworks/Kit.framework/Versions");
        Make("/Contents/Frameworks/Kit.framework/Versions/A");
        EXPECT_TRUE(fTemp.WriteFile(fRoot + "/Contents/Frameworks/Kit.framework/Versions/A/Kit", "binary", 0755));
        EXPECT_TRUE(fTemp.MakeLink(fRoot + "/Contents/Frameworks/Kit.framework/Versions/Current", "A"));
        EXPECT_TRUE(fTemp.MakeLink(fRoot + "/Contents/Frameworks/Kit.framework/Kit", "Versions/Current/Kit"));
        Make("/Contents/Resources");
        EXPECT_TRUE(fTemp.WriteFile(fRoot + "/Contents/Resources/" + kComposed, "nfc"));
        EXPECT_TRUE(fTemp.WriteFile(fRoot + "/Contents/Resources/" + kDecomposed, "nfd"));
        EXPECT_TRUE(fTemp.WriteFile(fRoot + "/Contents/Resources/.hidden", "dot"));
        Make("/Contents/Resources/Empty");
        EXPECT_TRUE(fTemp.WriteFile(fRoot + "/Contents/Info.plist", "<plist/>"));
        EXPECT_EQ(0, setxattr(fTemp.Path(fRoot + "/Contents/Info.plist").c_str(), "user.origin", "web", 3, 0));
        EXPECT_EQ(0, setxattr(fTemp.Path(fRoot + "/Contents").c_str(), "user.folder", "tag", 3, 0));
        Make("/Contents/Locked");
        EXPECT_TRUE(fTemp.WriteFile(fRoot + "/Contents/Locked/data", "ro"));
        EXPECT_EQ(0, chmod(fTemp.Path(fRoot + "/Contents/Locked").c_str(), 0555));
        struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        EXPECT_EQ(0, utimensat(AT_FDCWD, fTemp.Path(fRoot + "/Contents/MacOS/app").c_str(), old, 0));
        EXPECT_EQ(0, utimensat(AT_FDCWD, fTemp.Path(fRoot + "/Contents/Locked").c_str(), old, 0));
    }

    // Checks that the tree at root is an intact copy of this bundle.
    void ExpectIntactAt(const std::string& root) const
    {
        SCOPED_TRACE(root);
        const std::string kit = root + "/Contents/Frameworks/Kit.framework";
        EXPECT_EQ("A", LinkTarget(fTemp.Path(kit + "/Versions/Current")));
        EXPECT_EQ("Versions/Current/Kit", LinkTarget(fTemp.Path(kit + "/Kit")));
        EXPECT_EQ("binary", fTemp.ReadFile(kit + "/Kit"));
        EXPECT_EQ(0755u, ModeOf(fTemp.Path(root + "/Contents/MacOS/app")));
        EXPECT_EQ(1000000000, MTimeOf(fTemp.Path(root + "/Contents/MacOS/app")));
        EXPECT_EQ(0555u, ModeOf(fTemp.Path(root + "/Contents/Locked")));
        EXPECT_EQ(1000000000, MTimeOf(fTemp.Path(root + "/Contents/Locked")));
        EXPECT_EQ("ro", fTemp.ReadFile(root + "/Contents/Locked/data"));
        EXPECT_EQ("web", Attribute(fTemp.Path(root + "/Contents/Info.plist"), "user.origin"));
        EXPECT_EQ("tag", Attribute(fTemp.Path(root + "/Contents"), "user.folder"));
        EXPECT_EQ("nfc", fTemp.ReadFile(root + "/Contents/Resources/" + kComposed));
        EXPECT_EQ("nfd", fTemp.ReadFile(root + "/Contents/Resources/" + kDecomposed));
        EXPECT_EQ("dot", fTemp.ReadFile(root + "/Contents/Resources/.hidden"));
        EXPECT_TRUE(fTemp.ItemExists(root + "/Contents/Resources/Empty"));
    }

private:
    void Make(const std::string& sub) { EXPECT_TRUE(fTemp.MakeFolder(fRoot + sub)); }

    const TempFolder& fTemp;
    std::string fRoot;
};

class VFolderTest : public test::TempFolderTest {};

TEST_F(VFolderTest, BundleCopiedRenamedTrashedRestoredAndDeleted)
{
    BundleTree bundle(fTemp, "My.app");
    ASSERT_TRUE(fTemp.MakeFolder("dest"));
    VRefPtr<VFolder> source = FolderAt(fTemp, "My.app");
    VRefPtr<VFolder> dest = FolderAt(fTemp, "dest");

    // A new copy, a replacing copy over it, and a plain copy elsewhere.
    ASSERT_TRUE(fTemp.MakeFolder("other"));
    struct Case {
        const char* destination;
        uint32_t options;
    } cases[] = {{"dest", FCP_Overwrite}, {"dest", FCP_Overwrite}, {"other", FCP_Default}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.destination);
        VFolder* copy = nullptr;
        ASSERT_EQ(0u, source->CopyTo(*FolderAt(fTemp, c.destination), &copy, c.options));
        ASSERT_NE(nullptr, copy);
        EXPECT_TRUE(copy->Exists());
        copy->Release();
        bundle.ExpectIntactAt(std::string(c.destination) + "/My.app");
    }

    VFolder* renamed = nullptr;
    VRefPtr<VFolder> copied = FolderAt(fTemp, "dest/My.app");
    ASSERT_EQ(0u, copied->Rename(VString("Renamed.app"), &renamed));
    VRefPtr<VFolder> renamedRef = VRefPtr<VFolder>::Adopt(renamed);
    ASSERT_TRUE(renamedRef);
    EXPECT_TRUE(renamedRef->Exists());
    EXPECT_FALSE(copied->Exists());
    bundle.ExpectIntactAt("dest/Renamed.app");

    // The Trash of the home volume, here inside the test folder.
    std::string dataHome = fTemp.Path("data");
    ASSERT_TRUE(fTemp.MakeFolder("data"));
    const char* oldDataHome = std::getenv("XDG_DATA_HOME");
    std::string savedDataHome = oldDataHome ? oldDataHome : "";
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    VError trashed = renamedRef->MoveToTrash();
    if (oldDataHome)
        setenv("XDG_DATA_HOME", savedDataHome.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
    ASSERT_EQ(0u, trashed);
    EXPECT_FALSE(renamedRef->Exists());
    bundle.ExpectIntactAt("data/Trash/files/Renamed.app");
    std::string info = fTemp.ReadFile("data/Trash/info/Renamed.app.trashinfo");
    EXPECT_NE(std::string::npos, info.find("[Trash Info]")) << info;
    EXPECT_NE(std::string::npos, info.find("Path=")) << info;
    EXPECT_NE(std::string::npos, info.find("DeletionDate=")) << info;

    // Restored by hand, as a desktop does: back to where the record says.
    ASSERT_EQ(0, rename(fTemp.Path("data/Trash/files/Renamed.app").c_str(), fTemp.Path("dest/Renamed.app").c_str()));
    ASSERT_EQ(0, unlink(fTemp.Path("data/Trash/info/Renamed.app.trashinfo").c_str()));
    bundle.ExpectIntactAt("dest/Renamed.app");

    EXPECT_EQ(0u, renamedRef->Delete(true));
    EXPECT_FALSE(fTemp.ItemExists("dest/Renamed.app"));
    EXPECT_TRUE(source->Exists());
}

TEST_F(VFolderTest, CopyIntoItselfIsRefusedBeforeAnythingIsMade)
{
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.MakeFolder("src/sub"));
    ASSERT_TRUE(fTemp.WriteFile("src/f", "x"));
    ASSERT_TRUE(fTemp.MakeLink("alias", "src"));
    VRefPtr<VFolder> source = FolderAt(fTemp, "src");

    struct Case {
        const char* destination;
        bool contents;
    } cases[] = {{"src", false}, {"src/sub", false}, {"src/new", true}, {"src/new/deeper", true}, {"alias/new", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.destination);
        StErrorContextInstaller context(false, true);
        VRefPtr<VFolder> destination = FolderAt(fTemp, c.destination);
        VFolder* out = reinterpret_cast<VFolder*>(1);
        VError err = c.contents ? source->CopyContentsTo(*destination) : source->CopyTo(*destination, &out);
        EXPECT_EQ(VE_CANNOT_COPY_FOLDER_INTO_ITSELF, err);
        if (!c.contents) {
            EXPECT_EQ(nullptr, out);
        }
        EXPECT_NE("<none>", TopParameter(context, "destination"));
        EXPECT_FALSE(fTemp.ItemExists("src/new"));
        EXPECT_FALSE(fTemp.ItemExists("src/sub/src"));
    }
}

// Names of the hidden siblings a copy builds in, left behind in folder.
std::string Leftovers(const std::string& folder)
{
    std::string found;
    if (DIR* dir = opendir(folder.c_str())) {
        while (struct dirent* entry = readdir(dir))
            if (std::strncmp(entry->d_name, ".bkit-", 6) == 0)
                found += std::string(entry->d_name) + " ";
        closedir(dir);
    }
    return found;
}

TEST_F(VFolderTest, FailedCopyLeavesTheOldTargetAndNoPartialCopy)
{
    BundleTree bundle(fTemp, "B.app");
    ASSERT_TRUE(fTemp.MakeFolder("dest"));

    // The tree copy alone leaves nothing behind when a file's data fails.
    {
        FaultSeam::ArmAlways(FaultOperation::kCopy, ENOSPC);
        int err = CopyFolderTree(fTemp.Path("B.app").c_str(), fTemp.Path("dest/B.app").c_str());
        FaultSeam::DisarmAll();
        EXPECT_EQ(ENOSPC, err);
        EXPECT_FALSE(fTemp.ItemExists("dest/B.app"));
    }

    // A replacing copy over an older one: a full disk half-way, or the final
    // swap failing, leaves the older copy whole.
    ASSERT_TRUE(fTemp.MakeFolder("dest/B.app"));
    ASSERT_TRUE(fTemp.WriteFile("dest/B.app/old", "previous"));
    struct Case {
        FaultOperation op;
        int nth;
        int errnum;
    } cases[] = {{FaultOperation::kCopy, 3, ENOSPC}, {FaultOperation::kCreate, 5, EDQUOT},
                 {FaultOperation::kRename, 1, EIO}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.op));
        StErrorContextInstaller context(false, true);
        StFaultSeam seam(c.op, c.nth, c.errnum);
        VFolder* out = nullptr;
        EXPECT_NE(0u, FolderAt(fTemp, "B.app")->CopyTo(*FolderAt(fTemp, "dest"), &out, FCP_Overwrite));
        ReleaseRefCountable(&out);
        EXPECT_EQ("previous", fTemp.ReadFile("dest/B.app/old"));
        EXPECT_FALSE(fTemp.ItemExists("dest/B.app/Contents"));
        EXPECT_EQ("", Leftovers(fTemp.Path("dest")));
    }

    // Without a fault the same call replaces it.
    VFolder* out = nullptr;
    EXPECT_EQ(0u, FolderAt(fTemp, "B.app")->CopyTo(*FolderAt(fTemp, "dest"), &out, FCP_Overwrite));
    ReleaseRefCountable(&out);
    EXPECT_FALSE(fTemp.ItemExists("dest/B.app/old"));
    bundle.ExpectIntactAt("dest/B.app");
    EXPECT_EQ("", Leftovers(fTemp.Path("dest")));
}

TEST_F(VFolderTest, ReplacingCopyOntoItsSourceOrItsAncestorIsRefused)
{
    ASSERT_TRUE(fTemp.MakeFolder("x"));
    ASSERT_TRUE(fTemp.MakeFolder("x/A"));
    ASSERT_TRUE(fTemp.WriteFile("x/A/keep", "k"));
    ASSERT_TRUE(fTemp.MakeLink("toX", "x"));
    ASSERT_TRUE(fTemp.MakeLink("x/A/up", ".."));

    struct Case {
        const char* source;
        const char* destination;
        const char* name;
    } cases[] = {
        {"x/A", "x", "A"},           // the target is the source
        {"x/A", "", "x"},            // the target holds the source
        {"x/A", "toX", "A"},         // the same through a link
        {"toX/A", "", "x"},          // the source named through a link
        {"x/A", "x/A/up/A", "sub"},  // the destination lies inside, through a link
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " -> " + c.destination + "/" + c.name);
        for (uint32_t options : {FCP_Overwrite, FCP_Default}) {
            StErrorContextInstaller context(false, true);
            VFolder* out = reinterpret_cast<VFolder*>(1);
            EXPECT_EQ(VE_CANNOT_COPY_FOLDER_INTO_ITSELF,
                      FolderAt(fTemp, c.source)->CopyTo(*FolderAt(fTemp, c.destination), VString(c.name), &out, options));
            EXPECT_EQ(nullptr, out);
            EXPECT_NE("<none>", TopParameter(context, "destination"));
            EXPECT_EQ("k", fTemp.ReadFile("x/A/keep"));
            EXPECT_FALSE(fTemp.ItemExists("x/A/sub"));
            EXPECT_EQ("", Leftovers(fTemp.Path("x")) + Leftovers(fTemp.Path("")));
        }
    }
}

// A tree of 25 folders with 200-byte names, one inside the other (over
// 5 KB of path, past PATH_MAX), each holding a file named after its depth.
// Made and read through descriptors, as no path reaches its bottom.
constexpr int kDeepLevels = 25;
const std::string kDeepName(200, 'd');

void MakeDeepTree(const std::string& root)
{
    ASSERT_EQ(0, mkdir(root.c_str(), 0755));
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < kDeepLevels && fd >= 0; ++level) {
        int file = openat(fd, ("f" + std::to_string(level)).c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(1, write(file, "x", 1));
        close(file);
        ASSERT_EQ(0, mkdirat(fd, kDeepName.c_str(), 0755));
        int next = openat(fd, kDeepName.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    close(fd);
}

// How many levels of the deep tree at root hold their file.
int DeepFilesAt(const std::string& root)
{
    int found = 0;
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < kDeepLevels && fd >= 0; ++level) {
        struct stat st;
        if (fstatat(fd, ("f" + std::to_string(level)).c_str(), &st, 0) == 0 && st.st_size == 1)
            ++found;
        int next = openat(fd, kDeepName.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    if (fd >= 0)
        close(fd);
    return found;
}

TEST_F(VFolderTest, TreesPastThePathLimitCopyWhole)
{
    MakeDeepTree(fTemp.Path("deep"));
    ASSERT_TRUE(fTemp.MakeFolder("dest"));
    ASSERT_TRUE(fTemp.MakeFolder("dest/deep"));  // replaced, then merged into
    struct Case {
        const char* target;
        uint32_t options;
        bool contents;
    } cases[] = {{"deep", FCP_Overwrite, false},    {"deep", FCP_Default, false},
                 {"other", FCP_SkipInvisibles, false}, {"into", FCP_ContinueOnError, true},
                 {"skip", FCP_SkipInvisibles, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        StErrorContextInstaller context(false, true);
        VRefPtr<VFolder> source = FolderAt(fTemp, "deep");
        VFolder* out = nullptr;
        VError err = c.contents ? source->CopyContentsTo(*FolderAt(fTemp, std::string("dest/") + c.target), c.options)
                                : source->CopyTo(*FolderAt(fTemp, "dest"), VString(c.target), &out, c.options);
        ReleaseRefCountable(&out);
        // Copying the same files again without replacing fails on each one.
        if (std::string(c.target) == "deep" && c.options == FCP_Default) {
            EXPECT_NE(0u, err);
        } else {
            EXPECT_EQ(0u, err);
        }
        EXPECT_EQ(kDeepLevels, DeepFilesAt(fTemp.Path(std::string("dest/") + c.target)));
    }
    // The fixture's clean-up walks by path; this tree needs descriptors.
    EXPECT_EQ(0, ForceDeleteFolder(fTemp.Path("deep").c_str()).error);
    EXPECT_EQ(0, ForceDeleteFolder(fTemp.Path("dest").c_str()).error);
}

TEST_F(VFolderTest, NamesThatAreNotUTF8AreCopiedAsTheyAre)
{
    const std::string latin1 = "caf\xE9.txt";
    const std::string decomposed = BundleTree::kDecomposed;
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.WriteFile("src/" + latin1, "bytes"));
    ASSERT_TRUE(fTemp.WriteFile("src/" + decomposed, "nfd"));
    for (const char* into : {"tree", "skip", "items"}) {
        SCOPED_TRACE(into);
        ASSERT_TRUE(fTemp.MakeFolder(into));
        VRefPtr<VFolder> destination = FolderAt(fTemp, into);
        if (std::string(into) == "items") {
            // File by file, as the listing hands them out.
            for (VFileIterator it(FolderAt(fTemp, "src").Get(), FI_WANT_FILES); it.IsValid(); ++it) {
                VFile* copy = nullptr;
                EXPECT_EQ(0u, it->CopyTo(*destination, &copy, FCP_Default));
                ASSERT_NE(nullptr, copy);
                EXPECT_TRUE(copy->Exists());
                copy->Release();
            }
        } else {
            EXPECT_EQ(0u, FolderAt(fTemp, "src")->CopyContentsTo(
                              *destination, std::string(into) == "skip" ? FCP_SkipInvisibles : FCP_Default));
        }
        EXPECT_EQ("bytes", fTemp.ReadFile(std::string(into) + "/" + latin1));
        EXPECT_EQ("nfd", fTemp.ReadFile(std::string(into) + "/" + decomposed));
        int entries = 0;
        if (DIR* dir = opendir(fTemp.Path(into).c_str())) {
            while (struct dirent* entry = readdir(dir))
                entries += entry->d_name[0] != '.' ? 1 : 0;
            closedir(dir);
        }
        EXPECT_EQ(2, entries);
    }
}

TEST_F(VFolderTest, AnItemThatCannotBeCopiedIsAFailure)
{
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.WriteFile("src/a", "a"));
    ASSERT_TRUE(test::MakeSocket(fTemp.Path("src/sock")));
    for (uint32_t options : {FCP_Default, FCP_ContinueOnError}) {
        StErrorContextInstaller context(false, true);
        VFolder* out = nullptr;
        std::string name = "copy" + std::to_string(options);
        EXPECT_NE(0u, FolderAt(fTemp, "src")->CopyTo(*FolderAt(fTemp), VString(name.c_str()), &out, options));
        ReleaseRefCountable(&out);
        // The record names the folder the item was to go into.
        EXPECT_NE(std::string::npos, TopParameter(context, "destination").find(name)) << TopParameter(context, "destination");
        // Going on keeps what could be copied; otherwise nothing is left.
        EXPECT_EQ(options == FCP_ContinueOnError ? "a" : "<missing>", fTemp.ReadFile(name + "/a"));
    }
}

TEST_F(VFolderTest, ContinueOnErrorCopiesTheOthersAndReportsTheFirst)
{
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    for (const char* name : {"a", "b", "c", "d"})
        ASSERT_TRUE(fTemp.WriteFile(std::string("src/") + name, name));
    ASSERT_TRUE(fTemp.MakeFolder("dest"));
    StErrorContextInstaller context(false, true);
    FaultSeam::Arm(FaultOperation::kCopy, 2, EIO);
    VError err = FolderAt(fTemp, "src")->CopyContentsTo(*FolderAt(fTemp, "dest"), FCP_ContinueOnError);
    FaultSeam::DisarmAll();
    EXPECT_NE(0u, err);
    int copied = 0;
    for (const char* name : {"a", "b", "c", "d"})
        copied += fTemp.ItemExists(std::string("dest/") + name) ? 1 : 0;
    EXPECT_EQ(3, copied);
}

TEST_F(VFolderTest, MergeKeepsExistingItemsAndSkipInvisiblesLeavesDotNames)
{
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.WriteFile("src/new", "n"));
    ASSERT_TRUE(fTemp.WriteFile("src/.dot", "d"));
    ASSERT_TRUE(fTemp.MakeFolder("src/.dotdir"));
    ASSERT_TRUE(fTemp.MakeFolder("dest"));
    ASSERT_TRUE(fTemp.MakeFolder("dest/src"));
    ASSERT_TRUE(fTemp.WriteFile("dest/src/old", "o"));
    VFolder* out = nullptr;
    ASSERT_EQ(0u, FolderAt(fTemp, "src")->CopyTo(*FolderAt(fTemp, "dest"), &out, FCP_SkipInvisibles));
    ReleaseRefCountable(&out);
    EXPECT_EQ("o", fTemp.ReadFile("dest/src/old"));
    EXPECT_EQ("n", fTemp.ReadFile("dest/src/new"));
    EXPECT_FALSE(fTemp.ItemExists("dest/src/.dot"));
    EXPECT_FALSE(fTemp.ItemExists("dest/src/.dotdir"));
}

TEST_F(VFolderTest, DeleteOfFolderReachedThroughLinkRemovesOnlyTheLink)
{
    ASSERT_TRUE(fTemp.MakeFolder("target"));
    ASSERT_TRUE(fTemp.WriteFile("target/keep", "k"));
    ASSERT_TRUE(fTemp.MakeFolder("target/sub"));
    for (int forced = 0; forced < 2; ++forced) {
        SCOPED_TRACE(forced);
        ASSERT_TRUE(fTemp.MakeLink("link", "target"));
        VRefPtr<VFolder> link = VRefPtr<VFolder>::Adopt(new VFolder(VString(fTemp.Path("link/").c_str()), FPS_POSIX));
        EXPECT_TRUE(link->Exists());
        EXPECT_EQ(0u, forced ? link->DeleteForced() : link->Delete(true));
        EXPECT_FALSE(fTemp.ItemExists("link"));
        EXPECT_EQ("k", fTemp.ReadFile("target/keep"));
        EXPECT_TRUE(fTemp.ItemExists("target/sub"));
    }
}

TEST_F(VFolderTest, DeleteRefusesNonEmptyAndDeletesWithContents)
{
    ASSERT_TRUE(fTemp.MakeFolder("f"));
    ASSERT_TRUE(fTemp.WriteFile("f/.invisible", "x"));
    ASSERT_TRUE(fTemp.MakeFolder("f/sub"));
    ASSERT_TRUE(fTemp.WriteFile("f/sub/y", "y"));
    VRefPtr<VFolder> folder = FolderAt(fTemp, "f");
    {
        StErrorContextInstaller context(false, true);
        EXPECT_EQ(VE_FOLDER_NOT_EMPTY, folder->Delete(false));
        EXPECT_TRUE(fTemp.ItemExists("f/.invisible"));
    }
    EXPECT_EQ(0u, folder->Delete(true));
    EXPECT_FALSE(folder->Exists());
}

TEST_F(VFolderTest, IsEmptyAndCreateRecursive)
{
    ASSERT_TRUE(fTemp.MakeFolder("a"));
    EXPECT_TRUE(FolderAt(fTemp, "missing")->IsEmpty());
    EXPECT_TRUE(FolderAt(fTemp, "a")->IsEmpty());
    ASSERT_TRUE(fTemp.WriteFile("a/.dot", ""));
    EXPECT_FALSE(FolderAt(fTemp, "a")->IsEmpty());

    mode_t before = ModeOf(fTemp.Path("a"));
    EXPECT_EQ(0u, FolderAt(fTemp, "a/b/c")->CreateRecursive(true));
    EXPECT_EQ(0777u, ModeOf(fTemp.Path("a/b")));
    EXPECT_EQ(0777u, ModeOf(fTemp.Path("a/b/c")));
    EXPECT_EQ(before, ModeOf(fTemp.Path("a")));
    EXPECT_EQ(0u, FolderAt(fTemp, "a/b/c")->Create());
}

TEST_F(VFolderTest, ForcedDeleteUnlocksInsideAndPutsTheParentBack)
{
    ASSERT_TRUE(fTemp.MakeFolder("parent"));
    ASSERT_TRUE(fTemp.MakeFolder("parent/victim"));
    ASSERT_TRUE(fTemp.MakeFolder("parent/victim/ro"));
    ASSERT_TRUE(fTemp.WriteFile("parent/victim/ro/locked", "l"));
    ASSERT_EQ(0, SetFileFlags(fTemp.Path("parent/victim/ro/locked").c_str(), false, kFileFlagUserImmutable));
    ASSERT_EQ(0, chmod(fTemp.Path("parent/victim/ro").c_str(), 0500));
    ASSERT_EQ(0, SetFileFlags(fTemp.Path("parent").c_str(), true, kFileFlagUserImmutable | kFileFlagHidden));
    // A locked item outside the tree stays locked.
    ASSERT_TRUE(fTemp.WriteFile("parent/outside", "o"));
    ASSERT_EQ(0, SetFileFlags(fTemp.Path("parent/outside").c_str(), false, kFileFlagUserImmutable));

    EXPECT_EQ(0u, FolderAt(fTemp, "parent/victim")->DeleteForced());
    EXPECT_FALSE(fTemp.ItemExists("parent/victim"));
    uint32_t flags = 0;
    ASSERT_EQ(0, GetFileFlags(fTemp.Path("parent").c_str(), true, flags));
    EXPECT_EQ(kFileFlagUserImmutable | kFileFlagHidden, flags & (kFileFlagUserImmutable | kFileFlagHidden));
    ASSERT_EQ(0, GetFileFlags(fTemp.Path("parent/outside").c_str(), false, flags));
    EXPECT_EQ(kFileFlagUserImmutable, flags & kFileFlagUserImmutable);

    // A removal that fails stops the deletion; the parent is put back all the same.
    ASSERT_TRUE(fTemp.MakeFolder("parent/failing"));
    ASSERT_TRUE(fTemp.WriteFile("parent/failing/file", "f"));
    {
        StErrorContextInstaller context(false, true);
        FaultSeam::ArmAlways(FaultOperation::kDelete, EIO);
        EXPECT_NE(0u, FolderAt(fTemp, "parent/failing")->DeleteForced());
        FaultSeam::DisarmAll();
    }
    EXPECT_TRUE(fTemp.ItemExists("parent/failing/file"));
    ASSERT_EQ(0, GetFileFlags(fTemp.Path("parent").c_str(), true, flags));
    EXPECT_EQ(kFileFlagUserImmutable, flags & kFileFlagUserImmutable);
    SetFileFlags(fTemp.Path("parent").c_str(), true, 0);
    SetFileFlags(fTemp.Path("parent/outside").c_str(), false, 0);
}

// Pipes, sockets and devices are removed by their names like files (none is
// opened, so none blocks), wherever they lie in the tree, by the forced
// deletion and by the deletion with contents alike.
TEST_F(VFolderTest, ForcedAndRecursiveDeletesRemovePipesSocketsAndDevices)
{
    for (bool forced : {true, false}) {
        SCOPED_TRACE(forced ? "forced" : "with contents");
        ASSERT_TRUE(fTemp.MakeFolder("victim"));
        ASSERT_TRUE(fTemp.MakeFolder("victim/sub"));
        ASSERT_TRUE(fTemp.MakeFolder("victim/sub/ro"));
        // A folder whose only item is a pipe: no listing shows it.
        ASSERT_TRUE(fTemp.MakeFolder("victim/piped"));
        ASSERT_EQ(0, mkfifo(fTemp.Path("victim/piped/pipe").c_str(), 0600));
        ASSERT_EQ(0, mkfifo(fTemp.Path("victim/sub/ro/pipe").c_str(), 0));
        ASSERT_TRUE(fTemp.WriteFile("victim/sub/file", "f"));
        ASSERT_TRUE(test::MakeSocket(fTemp.Path("victim/sub/socket")));
        if (geteuid() == 0) {
            // Where device nodes may not be made, the pipes and the socket alone.
            test::MakeNode(fTemp.Path("victim/sub/null"), S_IFCHR, makedev(1, 3), 0, 0, 0666);
            test::MakeNode(fTemp.Path("victim/sub/ro/loop"), S_IFBLK, makedev(7, 0), 0, 0, 0600);
        }
        // Only the forced deletion unlocks what it meets.
        if (forced) {
            ASSERT_EQ(0, chmod(fTemp.Path("victim/sub/ro").c_str(), 0500));
        }

        VRefPtr<VFolder> victim = FolderAt(fTemp, "victim");
        EXPECT_EQ(0u, forced ? victim->DeleteForced() : victim->Delete(true));
        EXPECT_FALSE(fTemp.ItemExists("victim"));
        TempFolder::RemoveTree(fTemp.Path("victim"));
    }
}

TEST_F(VFolderTest, FailuresAreWrappedWithTheOperationsNumberAndParameters)
{
    ASSERT_TRUE(fTemp.MakeFolder("a"));
    ASSERT_TRUE(fTemp.MakeFolder("b"));
    StErrorContextInstaller context(false, true);
    VFolder* out = reinterpret_cast<VFolder*>(1);
    VError err = FolderAt(fTemp, "a")->Rename(VString("b"), &out);
    EXPECT_NE(0u, err);
    EXPECT_EQ(kBKIT_SIGNATURE, COMPONENT_FROM_VERROR(err));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ("b", TopParameter(context, "newname"));
    // The native cause lies below the folder error.
    ASSERT_NE(nullptr, context.GetContext());
    ASSERT_GE(context.GetContext()->GetErrors().size(), 2u);
    EXPECT_EQ(kPOSX_SIGNATURE, context.GetContext()->GetErrors()[context.GetContext()->GetErrors().size() - 2]->GetComponentSignature());

    // Missing folders: Trash is a no-op, copying contents reports 650.
    EXPECT_EQ(0u, FolderAt(fTemp, "missing")->MoveToTrash());
    EXPECT_EQ(VE_FOLDER_NOT_FOUND, FolderAt(fTemp, "missing")->CopyContentsTo(*FolderAt(fTemp, "b")));
}

TEST_F(VFolderTest, MoveKeepsNameOrTakesTheNewOne)
{
    ASSERT_TRUE(fTemp.MakeFolder("src"));
    ASSERT_TRUE(fTemp.WriteFile("src/f", "x"));
    ASSERT_TRUE(fTemp.MakeFolder("to"));
    VFolder* moved = nullptr;
    ASSERT_EQ(0u, FolderAt(fTemp, "src")->Move(*FolderAt(fTemp, "to"), VString(""), &moved));
    ASSERT_NE(nullptr, moved);
    EXPECT_EQ("x", fTemp.ReadFile("to/src/f"));
    VFolder* again = nullptr;
    ASSERT_EQ(0u, moved->Move(*FolderAt(fTemp, ""), VString("back"), &again));
    EXPECT_EQ("x", fTemp.ReadFile("back/f"));
    moved->Release();
    ReleaseRefCountable(&again);
}

TEST_F(VFolderTest, SystemFolders)
{
    const char* savedTmp = std::getenv("TMPDIR");
    std::string saved = savedTmp ? savedTmp : "";
    setenv("TMPDIR", fTemp.Path().c_str(), 1);
    VRefPtr<VFolder> temporary = VRefPtr<VFolder>::Adopt(VFolder::RetainSystemFolder(eFK_Temporary));
    if (savedTmp)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    ASSERT_TRUE(temporary);
    VString posix;
    temporary->GetPlatformPath(posix, FPS_POSIX);
    EXPECT_TRUE(posix.EqualToString(VString((fTemp.Path() + "/").c_str()), true));

    EXPECT_EQ(nullptr, VFolder::RetainSystemFolder(eFK_None));
    EXPECT_EQ(nullptr, VFolder::RetainSystemFolder(static_cast<ESystemFolderKind>(14)));
    VRefPtr<VFolder> k4 = VRefPtr<VFolder>::Adopt(VFolder::RetainSystemFolder(eFK_CommonApplicationData));
    VRefPtr<VFolder> k6 = VRefPtr<VFolder>::Adopt(VFolder::RetainSystemFolder(eFK_CommonPreferences));
    ASSERT_TRUE(k4 && k6);
    EXPECT_TRUE(k4->IsSameFolder(k6.Get()));
    VRefPtr<VFolder> home = VRefPtr<VFolder>::Adopt(VFolder::RetainSystemFolder(eFK_UserHome));
    VRefPtr<VFolder> exe = VRefPtr<VFolder>::Adopt(VFolder::RetainSystemFolder(eFK_Executable));
    ASSERT_TRUE(home && exe);
    EXPECT_TRUE(exe->Exists());
}

}  // namespace
}  // namespace bkit
