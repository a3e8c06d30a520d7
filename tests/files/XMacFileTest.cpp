// XMacFileTest.cpp - flags, permissions, times, symbolic links and aliases.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/files/VFileKind.h"
#include "basekit/files/mac/XMacFile.h"
#include "basekit/platform/FileOps.h"
#include "basekit/values/VTime.h"
#include "files/VFileTestSupport.h"

namespace bkit::test {
namespace {

using XMacFileTest = TempFolderTest;

bool HasFlagsAttribute(const std::string& path)
{
    uint32_t value = 0;
    return ::getxattr(path.c_str(), kFileFlagsAttributeName, &value, sizeof(value)) >= 0;
}

TEST_F(XMacFileTest, LockedAndHiddenAttributes)
{
    ASSERT_TRUE(fTemp.WriteFile("plain", ""));
    ASSERT_TRUE(fTemp.WriteFile(".profile", ""));
    struct Case {
        const char* name;
        unsigned set;
        unsigned expected;
        bool attributeWritten;
    } cases[] = {
        {"plain", FATT_LOCKED, FATT_LOCKED, true},
        {"plain", FATT_HIDDEN, FATT_HIDDEN, true},
        {"plain", FATT_LOCKED | FATT_HIDDEN, FATT_LOCKED | FATT_HIDDEN, true},
        {"plain", 0, 0, false},
        // A dot name is hidden by its name alone; no flag is written for it.
        {".profile", 0, FATT_HIDDEN, false},
        {".profile", FATT_HIDDEN, FATT_HIDDEN, false},
    };
    for (const Case& c : cases) {
        VRefPtr<VFile> file = FileIn(fTemp, c.name);
        ASSERT_EQ(file->SetFileAttributes(c.set), VE_OK) << c.name << " " << c.set;
        unsigned attributes = 99;
        ASSERT_EQ(file->GetFileAttributes(attributes), VE_OK);
        EXPECT_EQ(attributes, c.expected) << c.name << " " << c.set;
        EXPECT_EQ(HasFlagsAttribute(fTemp.Path(c.name)), c.attributeWritten) << c.name << " " << c.set;
    }
}

TEST_F(XMacFileTest, EffectivePermissionAndUnlock)
{
    ASSERT_TRUE(fTemp.WriteFile("f", "", 0400));
    uint32_t permission = 0;
    ASSERT_EQ(XMacFile::GetEffectivePermission(fTemp.Path("f").c_str(), permission), VE_OK);
    if (::geteuid() == 0) {
        // The superuser may do anything, locked or not.
        EXPECT_EQ(permission, 7u);
    } else {
        EXPECT_EQ(permission, FPERM_READ);
    }
    VRefPtr<VFile> file = FileIn(fTemp, "f");
    ASSERT_EQ(file->SetFileAttributes(FATT_LOCKED), VE_OK);
    ASSERT_EQ(XMacFile::GetEffectivePermission(fTemp.Path("f").c_str(), permission), VE_OK);
    EXPECT_EQ(permission, ::geteuid() == 0 ? 7u : 0u);

    // Unlock clears the user lock and gives the owner read and write.
    file->Unlock();
    unsigned attributes = 0;
    ASSERT_EQ(file->GetFileAttributes(attributes), VE_OK);
    EXPECT_EQ(attributes & FATT_LOCKED, 0u);
    unsigned short mode = 0;
    ASSERT_EQ(file->MAC_GetPermissions(&mode), VE_OK);
    EXPECT_EQ(mode, 0600);

    ASSERT_EQ(file->MAC_SetPermissions(0640), VE_OK);
    ASSERT_EQ(file->MAC_GetPermissions(&mode), VE_OK);
    EXPECT_EQ(mode, 0640);
    EXPECT_FALSE(file->MAC_IsWritableByAll());
    ASSERT_EQ(file->MAC_MakeWritableByAll(), VE_OK);
    EXPECT_TRUE(file->MAC_IsWritableByAll());
    unsigned uid = 99, gid = 99;
    ASSERT_EQ(file->Mac_GetOwner(uid, gid), VE_OK);
    EXPECT_EQ(uid, ::geteuid());
    // No type or creator is kept: setting succeeds and reads back 0.
    unsigned kind = 1;
    EXPECT_EQ(file->MAC_SetKind(MakeOsType("TEXT")), VE_OK);
    EXPECT_EQ(file->MAC_GetKind(&kind), VE_OK);
    EXPECT_EQ(kind, 0u);
}

TEST_F(XMacFileTest, TimesRoundTripToTheMillisecond)
{
    ASSERT_TRUE(fTemp.WriteFile("f", ""));
    VRefPtr<VFile> file = FileIn(fTemp, "f");
    VTime modified, accessed;
    modified.FromUTCTime(2021, 3, 4, 5, 6, 7, 891);
    accessed.FromUTCTime(2019, 12, 31, 23, 59, 58, 1);
    ASSERT_EQ(file->SetTimeAttributes(&modified, nullptr, &accessed), VE_OK);
    VTime m, c, a;
    ASSERT_EQ(file->GetTimeAttributes(&m, &c, &a), VE_OK);
    EXPECT_EQ(m.GetMilliseconds(), modified.GetMilliseconds());
    EXPECT_EQ(a.GetMilliseconds(), accessed.GetMilliseconds());
    EXPECT_FALSE(c.IsNull());

    // Only the given time changes.
    VTime later;
    later.FromUTCTime(2022, 1, 1, 0, 0, 0, 0);
    ASSERT_EQ(file->SetTimeAttributes(&later), VE_OK);
    ASSERT_EQ(file->GetTimeAttributes(&m, nullptr, &a), VE_OK);
    EXPECT_EQ(m.GetMilliseconds(), later.GetMilliseconds());
    EXPECT_EQ(a.GetMilliseconds(), accessed.GetMilliseconds());

    // A failure clears every time asked for.
    StErrorContextInstaller errors(false, true);
    EXPECT_NE(FileIn(fTemp, "missing")->GetTimeAttributes(&m, nullptr, &a), VE_OK);
    EXPECT_EQ(m.GetYear(), 0);
    EXPECT_EQ(a.GetYear(), 0);
}

TEST_F(XMacFileTest, SymbolicLinksAreRelativeUnlessAbsolute)
{
    ASSERT_TRUE(fTemp.MakeFolder("a"));
    ASSERT_TRUE(fTemp.MakeFolder("b"));
    ASSERT_TRUE(fTemp.WriteFile("b/target", "T"));
    struct Case {
        const char* link;
        bool absolute;
        std::string text;
    } cases[] = {
        {"a/rel", false, "../b/target"},
        {"b/near", false, "target"},
        {"a/abs", true, fTemp.Path("b/target")},
    };
    for (const Case& c : cases) {
        VRefPtr<VFile> link = FileIn(fTemp, c.link);
        ASSERT_EQ(link->MAC_CreateSymbolicLink(fTemp.FilePath("b/target"), c.absolute), VE_OK);
        VString text;
        ASSERT_EQ(link->MAC_GetImpl().ReadSymbolicLink(text), VE_OK);
        EXPECT_EQ(Text(text), c.text) << c.link;
        EXPECT_EQ(fTemp.ReadFile(c.link), "T");
    }
    // An existing item at the link's place is replaced by the link.
    ASSERT_TRUE(fTemp.WriteFile("a/old", "old"));
    ASSERT_EQ(FileIn(fTemp, "a/old")->MAC_CreateSymbolicLink(fTemp.FilePath("b/target"), false), VE_OK);
    EXPECT_EQ(fTemp.ReadFile("a/old"), "T");
}

TEST_F(XMacFileTest, AliasResolution)
{
    ASSERT_TRUE(fTemp.WriteFile("target", "T"));
    ASSERT_TRUE(fTemp.MakeFolder("dir"));
    ASSERT_TRUE(fTemp.MakeLink("to-file", "target"));
    ASSERT_TRUE(fTemp.MakeLink("to-dir", "dir"));
    ASSERT_TRUE(fTemp.MakeLink("dangling", "nowhere"));

    // A link to a file is replaced by its target.
    VFile* file = new VFile(fTemp.FilePath("to-file"));
    EXPECT_TRUE(file->IsAliasFile());
    ASSERT_EQ(VFile::ResolveAliasFile(&file, false), VE_OK);
    EXPECT_EQ(file->GetPath(), fTemp.FilePath("target"));
    file->Release();

    // A link to a folder: an error, or its deletion when asked.
    {
        StErrorContextInstaller errors(false, true);
        VRefPtr<VFile> toDir = FileIn(fTemp, "to-dir");
        EXPECT_EQ(VFile::ResolveAliasFile(toDir, false), VE_FILE_ALIAS_TARGET_NOT_A_FILE);
        EXPECT_EQ(toDir->GetPath(), fTemp.FilePath("to-dir"));
        EXPECT_EQ(VFile::ResolveAliasFile(toDir, true), VE_OK);
        EXPECT_FALSE(fTemp.ItemExists("to-dir"));
        EXPECT_TRUE(fTemp.ItemExists("dir"));
    }
    {
        StErrorContextInstaller errors(false, true);
        VRefPtr<VFile> dangling = FileIn(fTemp, "dangling");
        EXPECT_NE(VFile::ResolveAliasFile(dangling, false), VE_OK);
        ASSERT_EQ(Codes(errors).size(), 2u);
        EXPECT_EQ(Codes(errors)[0], Posix(ENOENT));
        EXPECT_EQ(Codes(errors)[1], VErrorBase::EncodedNativeErrorToVError(Posix(ENOENT), VE_FILE_CANNOT_RESOLVE_ALIAS));
    }
    // A plain file is no alias: 611 on the stack, target cleared.
    {
        StErrorContextInstaller errors(false, true);
        VFilePath target = fTemp.FilePath("x");
        EXPECT_EQ(FileIn(fTemp, "target")->ResolveAlias(target), VE_FILE_CANNOT_RESOLVE_ALIAS);
        EXPECT_TRUE(target.IsEmpty());
        EXPECT_EQ(Codes(errors), std::vector<VError>{VE_FILE_CANNOT_RESOLVE_ALIAS});
    }
    VFile* made = VFile::CreateAndResolveAlias(
        *VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath())), VString("to-file"), FPS_POSIX);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetPath(), fTemp.FilePath("target"));
    made->Release();
}

TEST_F(XMacFileTest, PathServices)
{
    struct DotCase {
        const char* path;
        bool dot;
    } dots[] = {{"/a/.b", true}, {"/a/.b/", true}, {"/a/b", false}, {".", false}, {".x", true}, {"/a/b.c", false}};
    for (const DotCase& c : dots)
        EXPECT_EQ(XMacFile::PosixNameBeginsWithDot(c.path), c.dot) << c.path;

    ASSERT_TRUE(fTemp.MakeFolder("real"));
    ASSERT_TRUE(fTemp.WriteFile("real/sub", ""));
    ASSERT_TRUE(fTemp.MakeLink("alias", "real"));
    char resolvedTemp[1025];
    ASSERT_NE(::realpath(fTemp.Path().c_str(), resolvedTemp), nullptr);
    const std::string base(resolvedTemp);
    struct RealCase {
        std::string input;
        bool mustExist;
        bool ok;
        std::string expected;
    } reals[] = {
        // Links on the way are resolved; a final link is not followed.
        {fTemp.Path("alias") + "/sub", true, true, base + "/real/sub"},
        {fTemp.Path("alias"), true, true, base + "/alias"},
        {fTemp.Path("real") + "/", true, true, base + "/real/"},
        {fTemp.Path("real") + "/missing", false, true, base + "/real/missing"},
        {fTemp.Path("real") + "/missing", true, false, ""},
        {"", true, true, ""},
    };
    for (RealCase& c : reals) {
        char out[1025] = "unchanged";
        std::string input = c.input;
        EXPECT_EQ(XMacFile::RealPath(input.data(), c.mustExist, out, sizeof(out)), c.ok) << c.input;
        if (c.ok) {
            EXPECT_EQ(std::string(out), c.expected) << c.input;
        }
    }
    char small[100];
    std::string input = fTemp.Path("real");
    EXPECT_FALSE(XMacFile::RealPath(input.data(), false, small, sizeof(small)));

    VFilePath folder;
    XMacFile::GetFilePathFromPosixPath(fTemp.Path("real").c_str(), true, folder);
    EXPECT_EQ(folder, fTemp.FolderPath("real"));
}

// Where a path leads: every link followed, the last one too and dangling ones
// to where they point, missing names kept as spelled, ".." taken from where
// the links led; false where the way cannot be told. A path of thousands of
// missing names is walked name by name, and a text the system cannot open
// anything by is refused.
TEST_F(XMacFileTest, ResolvePathThroughLinks)
{
    ASSERT_TRUE(fTemp.MakeFolder("d"));
    ASSERT_TRUE(fTemp.MakeFolder("d/e"));
    ASSERT_TRUE(fTemp.MakeFolder("o"));
    ASSERT_TRUE(fTemp.WriteFile("d/file", "x"));
    ASSERT_TRUE(fTemp.MakeLink("d/up", ".."));
    ASSERT_TRUE(fTemp.MakeLink("d/abs", fTemp.Path("o")));
    ASSERT_TRUE(fTemp.MakeLink("d/dangling", "../o/new"));
    ASSERT_TRUE(fTemp.MakeLink("d/hop", "dangling"));
    ASSERT_TRUE(fTemp.MakeLink("d/loop", "loop"));
    ASSERT_TRUE(fTemp.MakeLink("d/back", "e/../../o"));
    ASSERT_TRUE(fTemp.MakeLink("d/e/climb", "../../d/up/o"));
    char real[PATH_MAX];
    ASSERT_NE(::realpath(fTemp.Path().c_str(), real), nullptr);
    const std::string base(real);
    std::string deep = fTemp.Path("d");
    std::string deepResolved = base + "/d";
    for (int i = 0; i < 1500; ++i) {
        deep += "/a";
        deepResolved += "/a";
    }
    std::string tooLong = fTemp.Path("d/") + std::string(PATH_MAX, 'a');
    struct Case {
        std::string path;
        const char* expected;  // below the resolved temporary folder; null: false
    } cases[] = {
        {fTemp.Path("d/e/"), "/d/e"},
        {fTemp.Path("d/up/o"), "/o"},
        {fTemp.Path("d/abs/x/y"), "/o/x/y"},
        {fTemp.Path("d/dangling"), "/o/new"},
        {fTemp.Path("d/hop/more"), "/o/new/more"},
        {fTemp.Path("d/back"), "/o"},
        {fTemp.Path("d/e/climb"), "/o"},
        {fTemp.Path("d/./e/../file"), "/d/file"},
        {fTemp.Path("d/file/below"), "/d/file/below"},
        {fTemp.Path("d/missing/x/."), "/d/missing/x"},
        {fTemp.Path("d/missing/.."), nullptr},  // which folder it climbs from is not known
        {fTemp.Path("d/file/.."), nullptr},
        {fTemp.Path("d/loop"), nullptr},
        {fTemp.Path("d/loop/x"), nullptr},
        {"relative/x", nullptr},
        {tooLong, nullptr},
    };
    for (const Case& c : cases) {
        std::string out = "unchanged";
        bool ok = XMacFile::ResolvePathThroughLinks(c.path.c_str(), out);
        EXPECT_EQ(ok, c.expected != nullptr) << c.path;
        if (ok && c.expected) {
            EXPECT_EQ(out, base + c.expected) << c.path;
        }
    }
    std::string out;
    ASSERT_TRUE(XMacFile::ResolvePathThroughLinks(deep.c_str(), out));
    EXPECT_EQ(out, deepResolved);
    ASSERT_TRUE(XMacFile::ResolvePathThroughLinks("/", out));
    EXPECT_EQ(out, "/");
}

// The text names the item the file layer made from the same path, in the
// form that calls taking a std::string expect: no final '/' but the root's.
TEST_F(XMacFileTest, PosixPathTextNamesWhatTheFileLayerMade)
{
    const std::string name = "Caf\xc3\xa9";
    ASSERT_EQ(VE_OK, VFolder(fTemp.FolderPath(name + ".app")).Create());
    ASSERT_EQ(VE_OK, FileIn(fTemp, name + ".txt")->SetContent("x", 1));
    struct Case {
        VFilePath path;
        std::string expected;
    } cases[] = {
        {fTemp.FolderPath(name + ".app"), fTemp.Path(name + ".app")},
        {fTemp.FilePath(name + ".txt"), fTemp.Path(name + ".txt")},
        {fTemp.FolderPath(), fTemp.Path()},
        {VFilePath(VString("/"), FPS_POSIX), "/"},
    };
    for (const Case& c : cases) {
        std::string text = XMacFile::PosixPathText(c.path);
        EXPECT_EQ(c.expected, text);
        struct stat st;
        EXPECT_EQ(0, ::lstat(text.c_str(), &st)) << text;
    }
}

TEST_F(XMacFileTest, ConformanceByTypeIdentifierThenExtension)
{
    bool started = VFileKindManager::Get() == nullptr;
    if (started) {
        ASSERT_TRUE(VFileKindManager::Init());
    }
    VFileKindManager::Get()->RegisterPrivateFileKind(VString("com.example.zz9"), VString("zz9 document"),
                                                     {VString("zz9")}, {});
    struct Case {
        const char* name;
        const char* kind;
        bool conforms;
    } cases[] = {
        {"notes.txt", "public.plain-text", true},
        // Through the identifiers the file's own kind conforms to.
        {"notes.txt", "public.text", true},
        {"server.log", "public.text", true},
        {"notes.txt", "public.log", false},
        {"data.ZZ9", "com.example.zz9", true},
        {"data.zz8", "com.example.zz9", false},
        {"no-extension", "public.plain-text", false},
        {"notes.txt", "com.unknown.kind", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileIn(fTemp, c.name)->ConformsTo(VString(c.kind)), c.conforms) << c.name << " " << c.kind;
    if (started)
        VFileKindManager::DeInit();
}

}  // namespace
}  // namespace bkit::test
