// VFileTest.cpp - file objects: create, content, copy, move, rename, delete, Trash.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileDesc.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFolder.h"
#include "basekit/platform/FaultSeam.h"
#include "basekit/platform/PosixError.h"
#include "files/CopyTestSupport.h"
#include "files/VFileTestSupport.h"
#include "support/StMount.h"

namespace bkit::test {
namespace {

class VFileTest : public TempFolderTest {
protected:
    // Expects the level to hold the native code beneath a file error of the
    // operation naming name.
    void ExpectFileError(const StErrorContextInstaller& errors, VError native, VError operation, const char* name)
    {
        const auto& list = errors.GetContext()->GetErrors();
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[0]->GetError(), native);
        auto* fileError = dynamic_cast<VFileError*>(list[1]);
        ASSERT_NE(fileError, nullptr);
        EXPECT_EQ(fileError->GetError(), VErrorBase::EncodedNativeErrorToVError(native, operation));
        EXPECT_EQ(Parameter(*fileError, "name"), name);
    }
};

TEST_F(VFileTest, CreateRefusesAnExistingFileUnlessOverwriting)
{
    ASSERT_TRUE(fTemp.WriteFile("a", "content"));
    VRefPtr<VFile> file = FileIn(fTemp, "a");
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_NE(file->Create(0), VE_OK);
        ExpectFileError(errors, Posix(EEXIST), VE_FILE_CANNOT_CREATE, "a");
        EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "options"), "0");
    }
    EXPECT_EQ(fTemp.ReadFile("a"), "content");
    EXPECT_EQ(file->Create(FO_OVERWRITE), VE_OK);
    EXPECT_EQ(fTemp.ReadFile("a"), "");
}

TEST_F(VFileTest, ContentRoundTripAndEmptyFile)
{
    VRefPtr<VFile> file = FileIn(fTemp, "sub/deeper/data.bin");
    const std::string text = "hello, file";
    // The missing parent folders are created.
    ASSERT_EQ(file->SetContent(text.data(), text.size()), VE_OK);
    ASSERT_EQ(file->AppendContent("!", 1), VE_OK);
    VMemoryBuffer<> buffer;
    ASSERT_EQ(file->GetContent(buffer), VE_OK);
    EXPECT_EQ(std::string(static_cast<char*>(buffer.GetDataPtr()), buffer.GetDataSize()), text + "!");
    long long size = 0;
    EXPECT_EQ(file->GetSize(&size), VE_OK);
    EXPECT_EQ(size, static_cast<long long>(text.size() + 1));

    // A shorter content truncates.
    ASSERT_EQ(file->SetContent("xy", 2), VE_OK);
    EXPECT_EQ(fTemp.ReadFile("sub/deeper/data.bin"), "xy");

    // An empty file frees the buffer's block.
    ASSERT_EQ(file->SetContent(nullptr, 0), VE_OK);
    ASSERT_EQ(file->GetContent(buffer), VE_OK);
    EXPECT_EQ(buffer.GetDataSize(), 0u);
    EXPECT_EQ(buffer.GetDataPtr(), nullptr);
}

TEST_F(VFileTest, ContentFollowsSymbolicLinks)
{
    ASSERT_TRUE(fTemp.WriteFile("target", "through the link"));
    ASSERT_TRUE(fTemp.MakeLink("link", "target"));
    VRefPtr<VFile> link = FileIn(fTemp, "link");
    VMemoryBuffer<> buffer;
    ASSERT_EQ(link->GetContent(buffer), VE_OK);
    EXPECT_EQ(std::string(static_cast<char*>(buffer.GetDataPtr()), buffer.GetDataSize()), "through the link");
    ASSERT_EQ(link->SetContent("new", 3), VE_OK);
    EXPECT_EQ(fTemp.ReadFile("target"), "new");
    EXPECT_TRUE(link->MAC_IsSymbolicLink());
}

// The names in a folder, sorted.
std::string NamesIn(const std::string& folder)
{
    std::set<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (struct dirent* entry = ::readdir(dir))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                names.insert(entry->d_name);
        ::closedir(dir);
    }
    std::string out;
    for (const std::string& name : names)
        out += name + " ";
    return out;
}

TEST_F(VFileTest, SetContentReplacesOnlyOnceTheWriteSucceeded)
{
    ASSERT_TRUE(fTemp.WriteFile("kept", "old content"));
    ASSERT_EQ(0, setxattr(fTemp.Path("kept").c_str(), "user.tag", "t", 1, 0));
    ASSERT_EQ(0, chown(fTemp.Path("kept").c_str(), 1234, 5678));
    ASSERT_EQ(0, chmod(fTemp.Path("kept").c_str(), 02750));
    ASSERT_TRUE(fTemp.MakeLink("link", "kept"));
    const std::string fresh(100000, 'n');

    // A full disk while writing, or the final rename failing: the old
    // content stays, and nothing is left beside it.
    struct Case {
        const char* name;
        FaultOperation op;
        int errnum;
    } cases[] = {{"kept", FaultOperation::kWrite, ENOSPC}, {"link", FaultOperation::kWrite, EDQUOT},
                 {"kept", FaultOperation::kRename, EIO}, {"new", FaultOperation::kWrite, ENOSPC}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StErrorContextInstaller errors(false, true);
        StFaultSeam fault(c.op, 1, c.errnum);
        EXPECT_NE(FileIn(fTemp, c.name)->SetContent(fresh.data(), fresh.size()), VE_OK);
        EXPECT_EQ(fTemp.ReadFile("kept"), "old content");
        EXPECT_EQ(NamesIn(fTemp.Path()), "kept link ");
    }

    // Written through the link: the file it leads to gets the content and
    // keeps its mode, owner and attributes; the link stays a link.
    ASSERT_EQ(FileIn(fTemp, "link")->SetContent(fresh.data(), fresh.size()), VE_OK);
    EXPECT_EQ(fTemp.ReadFile("kept"), fresh);
    struct stat st;
    ASSERT_EQ(0, ::lstat(fTemp.Path("kept").c_str(), &st));
    EXPECT_EQ(02750u, st.st_mode & 07777);
    EXPECT_EQ(1234u, st.st_uid);
    EXPECT_EQ(5678u, st.st_gid);
    char tag[8] = {0};
    EXPECT_EQ(1, getxattr(fTemp.Path("kept").c_str(), "user.tag", tag, sizeof(tag)));
    EXPECT_TRUE(FileIn(fTemp, "link")->MAC_IsSymbolicLink());
    EXPECT_EQ(NamesIn(fTemp.Path()), "kept link ");
}

TEST_F(VFileTest, ExistsAndGetSizeLookAtTheItemItself)
{
    ASSERT_TRUE(fTemp.WriteFile("f", "1234"));
    ASSERT_TRUE(fTemp.MakeFolder("dir"));
    ASSERT_TRUE(fTemp.MakeLink("dangling", "nowhere"));
    struct Case {
        const char* name;
        bool exists;
    } cases[] = {{"f", true}, {"dangling", true}, {"dir", false}, {"missing", false}};
    for (const Case& c : cases)
        EXPECT_EQ(FileIn(fTemp, c.name)->Exists(), c.exists) << c.name;
    // A folder path is never a file.
    EXPECT_FALSE(VRefPtr<VFile>::Adopt(new VFile(fTemp.FolderPath("dir")))->Exists());

    StErrorContextInstaller errors(false, true);
    long long size = 99;
    EXPECT_NE(FileIn(fTemp, "missing")->GetSize(&size), VE_OK);
    EXPECT_EQ(size, 0);
    ExpectFileError(errors, Posix(ENOENT), VE_FILE_CANNOT_GET_ATTRIBUTES, "missing");
}

TEST_F(VFileTest, DeleteMissingIsSuccessAndInvalidPathIsNamedNA)
{
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(FileIn(fTemp, "missing")->Delete(), VE_OK);
        EXPECT_EQ(FileIn(fTemp, "missing")->MoveToTrash(), VE_OK);
        EXPECT_TRUE(errors.GetContext()->IsEmpty());
    }
    {
        StErrorContextInstaller errors(false, true);
        VRefPtr<VFile> invalid = VRefPtr<VFile>::Adopt(new VFile(VFilePath()));
        EXPECT_EQ(invalid->Delete(), VE_FILE_CANNOT_DELETE);
        ASSERT_EQ(Codes(errors), std::vector<VError>{VE_FILE_CANNOT_DELETE});
        EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "name"), "n/a");
        EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "path"), "n/a");
    }
    // Deleting a link removes the link, never its target.
    ASSERT_TRUE(fTemp.WriteFile("target", "kept"));
    ASSERT_TRUE(fTemp.MakeLink("link", "target"));
    EXPECT_EQ(FileIn(fTemp, "link")->Delete(), VE_OK);
    EXPECT_FALSE(fTemp.ItemExists("link"));
    EXPECT_EQ(fTemp.ReadFile("target"), "kept");
}

TEST_F(VFileTest, RenameNeverReplaces)
{
    ASSERT_TRUE(fTemp.WriteFile("a", "A"));
    ASSERT_TRUE(fTemp.WriteFile("b", "B"));
    VRefPtr<VFile> a = FileIn(fTemp, "a");
    // Also when the file system refuses the no-replace flag of a rename.
    for (bool flagRefused : {false, true}) {
        StErrorContextInstaller errors(false, true);
        if (flagRefused)
            FaultSeam::ArmAlways(FaultOperation::kRenameFlag, EINVAL);
        VFile* renamed = reinterpret_cast<VFile*>(1);
        EXPECT_NE(a->Rename(VString("b"), &renamed), VE_OK);
        FaultSeam::DisarmAll();
        EXPECT_EQ(renamed, nullptr);
        ExpectFileError(errors, Posix(EEXIST), VE_FILE_CANNOT_RENAME, "a");
        EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "newname"), "b");
        EXPECT_EQ(fTemp.ReadFile("a"), "A");
        EXPECT_EQ(fTemp.ReadFile("b"), "B");
    }
    {
        StFaultSeam refused(FaultOperation::kRenameFlag, 1, EINVAL);
        VFile* renamed = nullptr;
        ASSERT_EQ(a->Rename(VString("c"), &renamed), VE_OK);
        ASSERT_NE(renamed, nullptr);
        EXPECT_EQ(renamed->GetPath(), fTemp.FilePath("c"));
        renamed->Release();
    }
    EXPECT_FALSE(fTemp.ItemExists("a"));
    EXPECT_EQ(fTemp.ReadFile("c"), "A");
    // The object keeps naming the old path.
    EXPECT_EQ(a->GetPath(), fTemp.FilePath("a"));
}

TEST_F(VFileTest, MoveWithinAFolderReplacesOnlyWhenAsked)
{
    ASSERT_TRUE(fTemp.WriteFile("a", "A"));
    ASSERT_TRUE(fTemp.WriteFile("b", "B"));
    VRefPtr<VFile> a = FileIn(fTemp, "a");
    {
        StErrorContextInstaller errors(false, true);
        VFile* moved = nullptr;
        EXPECT_NE(a->Move(fTemp.FilePath("b"), &moved), VE_OK);
        EXPECT_EQ(moved, nullptr);
        ExpectFileError(errors, Cocoa(kCocoaFileWriteFileExists), VE_FILE_CANNOT_MOVE, "a");
        EXPECT_EQ(fTemp.ReadFile("a"), "A");
        EXPECT_EQ(fTemp.ReadFile("b"), "B");
    }
    VFile* moved = nullptr;
    ASSERT_EQ(a->Move(fTemp.FilePath("b"), &moved, 4), VE_OK);
    ASSERT_NE(moved, nullptr);
    moved->Release();
    EXPECT_FALSE(fTemp.ItemExists("a"));
    EXPECT_EQ(fTemp.ReadFile("b"), "A");
}

TEST_F(VFileTest, MoveIntoAFolderKeepsTheName)
{
    ASSERT_TRUE(fTemp.WriteFile("a", "A"));
    ASSERT_TRUE(fTemp.MakeFolder("dest"));
    VFile* moved = nullptr;
    ASSERT_EQ(FileIn(fTemp, "a")->Move(fTemp.FolderPath("dest"), &moved), VE_OK);
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->GetPath(), fTemp.FilePath("dest/a"));
    EXPECT_TRUE(moved->Exists());
    moved->Release();
    EXPECT_EQ(fTemp.ReadFile("dest/a"), "A");
    EXPECT_FALSE(fTemp.ItemExists("a"));
}

TEST_F(VFileTest, CopyKeepsModeTimesAttributesAndLinks)
{
    ASSERT_TRUE(fTemp.WriteFile("tool", "#!/bin/sh\n", 0751));
    ASSERT_EQ(::setxattr(fTemp.Path("tool").c_str(), "user.test", "v", 1, 0), 0);
    struct timespec times[2] = {{1000000000, 0}, {1200000000, 500000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, fTemp.Path("tool").c_str(), times, 0), 0);
    ASSERT_TRUE(fTemp.MakeLink("link", "tool"));

    VFile* copy = nullptr;
    ASSERT_EQ(FileIn(fTemp, "tool")->CopyTo(fTemp.FilePath("copy"), &copy), VE_OK);
    ASSERT_NE(copy, nullptr);
    copy->Release();
    struct stat st;
    ASSERT_EQ(::stat(fTemp.Path("copy").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    char value[4] = {};
    EXPECT_EQ(::getxattr(fTemp.Path("copy").c_str(), "user.test", value, sizeof(value)), 1);
    EXPECT_EQ(fTemp.ReadFile("copy"), "#!/bin/sh\n");

    ASSERT_EQ(FileIn(fTemp, "link")->CopyTo(fTemp.FilePath("link2")), VE_OK);
    char target[64] = {};
    ASSERT_GT(::readlink(fTemp.Path("link2").c_str(), target, sizeof(target) - 1), 0);
    EXPECT_STREQ(target, "tool");
}

TEST_F(VFileTest, CopyOntoAnExistingFile)
{
    ASSERT_TRUE(fTemp.WriteFile("src", "new"));
    ASSERT_TRUE(fTemp.WriteFile("dst", "old"));
    VRefPtr<VFile> src = FileIn(fTemp, "src");
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_NE(src->CopyTo(fTemp.FilePath("dst")), VE_OK);
        ExpectFileError(errors, Cocoa(kCocoaFileWriteFileExists), VE_FILE_CANNOT_COPY, "src");
        EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "destination"), Text(fTemp.FilePath("dst").GetPath()));
        EXPECT_EQ(fTemp.ReadFile("dst"), "old");
    }
    ASSERT_EQ(src->CopyTo(fTemp.FilePath("dst"), nullptr, 4), VE_OK);
    EXPECT_EQ(fTemp.ReadFile("dst"), "new");
    // CopyFrom names the source and copies onto this file.
    ASSERT_TRUE(fTemp.WriteFile("src", "newer"));
    ASSERT_EQ(FileIn(fTemp, "dst")->CopyFrom(*src, 4), VE_OK);
    EXPECT_EQ(fTemp.ReadFile("dst"), "newer");
}

// A full or read-only volume fails the copy midway: the destination that
// was there stays whole and no partial copy is left behind.
TEST_F(VFileTest, FailedCopyLosesNoData)
{
    struct Case {
        int errnum;
        int32_t cocoa;
        unsigned options;
    } cases[] = {
        {ENOSPC, kCocoaFileWriteOutOfSpace, 4},
        {EDQUOT, kCocoaFileWriteOutOfSpace, 0},
        {EROFS, kCocoaFileWriteVolumeReadOnly, 4},
        {EACCES, kCocoaFileWriteNoPermission, 4},
        {EIO, kCocoaFileWriteUnknown, 0},
    };
    ASSERT_TRUE(fTemp.MakeFolder("out"));
    ASSERT_TRUE(fTemp.WriteFile("src", std::string(100000, 'x')));
    for (const Case& c : cases) {
        bool existing = c.options == 4;
        if (existing) {
            ASSERT_TRUE(fTemp.WriteFile("out/dst", "precious"));
        }
        StErrorContextInstaller errors(false, true);
        {
            StFaultSeam fault(FaultOperation::kCopy, 1, c.errnum);
            EXPECT_NE(FileIn(fTemp, "src")->CopyTo(fTemp.FilePath("out/dst"), nullptr, c.options), VE_OK);
        }
        ExpectFileError(errors, Cocoa(c.cocoa), VE_FILE_CANNOT_COPY, "src");
        EXPECT_EQ(fTemp.ReadFile("out/dst"), existing ? "precious" : "<missing>") << c.errnum;
        // Nothing but the destination (when it was there) is in the folder.
        EXPECT_EQ(::rmdir(fTemp.Path("out").c_str()) != 0, existing);
        ::unlink(fTemp.Path("out/dst").c_str());
        ::rmdir(fTemp.Path("out").c_str());
        ASSERT_TRUE(fTemp.MakeFolder("out"));
    }
}

TEST_F(VFileTest, ConfinementFollowsTheDestination)
{
    ASSERT_TRUE(fTemp.MakeFolder("root"));
    ASSERT_TRUE(fTemp.WriteFile("root/a", "A"));
    VRefPtr<VFolder> root = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("root")));
    VError err = VE_OK;
    VRefPtr<VFileSystem> fs =
        VRefPtr<VFileSystem>::Adopt(VFileSystem::Create(VString("box"), root.Get(), 0, 0, 0, err));
    ASSERT_TRUE(fs);
    VRefPtr<VFile> a = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("root/a"), fs.Get()));
    EXPECT_EQ(Text(a->GetPathWithFileSystem()), "/box/a");

    VFile* inside = nullptr;
    VFile* outside = nullptr;
    ASSERT_EQ(a->CopyTo(fTemp.FilePath("root/b"), &inside), VE_OK);
    ASSERT_EQ(a->CopyTo(fTemp.FilePath("c"), &outside), VE_OK);
    EXPECT_EQ(inside->GetFileSystem(), fs.Get());
    EXPECT_EQ(outside->GetFileSystem(), nullptr);
    inside->Release();
    outside->Release();

    // A relative text that climbs out of the root leaves the file system.
    VRefPtr<VFolder> boundRoot = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("root"), fs.Get()));
    VRefPtr<VFile> escaped = VRefPtr<VFile>::Adopt(new VFile(*boundRoot, VString("../c"), FPS_POSIX));
    EXPECT_EQ(escaped->GetFileSystem(), nullptr);
    VRefPtr<VFile> kept = VRefPtr<VFile>::Adopt(new VFile(*boundRoot, VString("b"), FPS_POSIX));
    EXPECT_EQ(kept->GetFileSystem(), fs.Get());
    // A parent outside the root is refused to a sandboxed request only.
    VRefPtr<VFile> stray = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("c"), fs.Get()));
    EXPECT_EQ(stray->RetainParentFolder(true), nullptr);
    VFolder* parent = stray->RetainParentFolder(false);
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->GetFileSystem(), fs.Get());
    parent->Release();
    parent = kept->RetainParentFolder(true);
    ASSERT_NE(parent, nullptr);
    parent->Release();
}

// Each operation's failure: the native record beneath a file error carrying
// the operation's number (or the toolbox code the native one maps to).
TEST_F(VFileTest, FailuresCarryTheOperationsNumbers)
{
    ASSERT_TRUE(fTemp.MakeFolder("elsewhere"));
    struct Case {
        const char* what;
        FaultOperation fault;
        int errnum;
        VError native;
        VError operation;
        VError (*run)(const VFile& file, const TempFolder& temp);
    } cases[] = {
        {"delete", FaultOperation::kDelete, EACCES, Posix(EACCES), VE_FILE_CANNOT_DELETE,
         [](const VFile& f, const TempFolder&) { return f.Delete(); }},
        {"create", FaultOperation::kCreate, ENOSPC, Posix(ENOSPC), VE_FILE_CANNOT_CREATE,
         [](const VFile& f, const TempFolder&) { return f.Create(FO_OVERWRITE); }},
        {"rename", FaultOperation::kRename, EROFS, Posix(EROFS), VE_FILE_CANNOT_RENAME,
         [](const VFile& f, const TempFolder&) { return f.Rename(VString("other")); }},
        {"move", FaultOperation::kRename, EACCES, Cocoa(kCocoaFileWriteNoPermission), VE_FILE_CANNOT_MOVE,
         [](const VFile& f, const TempFolder& t) { return f.Move(t.FolderPath("elsewhere"), nullptr); }},
        {"copy", FaultOperation::kCopy, EDQUOT, Cocoa(kCocoaFileWriteOutOfSpace), VE_FILE_CANNOT_COPY,
         [](const VFile& f, const TempFolder& t) { return f.CopyTo(t.FilePath("copy")); }},
        {"trash", FaultOperation::kTrash, ENAMETOOLONG, Cocoa(kCocoaFileWriteInvalidFileName),
         VE_FILE_CANNOT_DELETE, [](const VFile& f, const TempFolder&) { return f.MoveToTrash(); }},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(fTemp.WriteFile("f", "F"));
        VRefPtr<VFile> file = FileIn(fTemp, "f");
        StErrorContextInstaller errors(false, true);
        {
            StFaultSeam fault(c.fault, 1, c.errnum);
            EXPECT_EQ(c.run(*file, fTemp), VErrorBase::EncodedNativeErrorToVError(c.native, c.operation)) << c.what;
        }
        SCOPED_TRACE(c.what);
        ExpectFileError(errors, c.native, c.operation, "f");
        EXPECT_EQ(fTemp.ReadFile("f"), "F");
    }
    StErrorContextInstaller errors(false, true);
    VFileDesc* desc = nullptr;
    EXPECT_NE(FileIn(fTemp, "missing")->Open(FA_READ, &desc), VE_OK);
    ExpectFileError(errors, Posix(ENOENT), VE_FILE_CANNOT_OPEN, "missing");
}

TEST_F(VFileTest, MoveAcrossVolumesCopiesThenRemoves)
{
    struct stat here, shm;
    if (::stat(fTemp.Path().c_str(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 || here.st_dev == shm.st_dev)
        GTEST_SKIP() << "no second volume at /dev/shm";
    char templ[] = "/dev/shm/bkit-test-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    std::string other = templ;
    ASSERT_TRUE(fTemp.WriteFile("a", "A", 0640));
    ASSERT_TRUE(fTemp.WriteFile("b", "B"));
    VString text;
    text.FromCString((other + "/").c_str());
    VFilePath otherFolder(text, FPS_POSIX);
    // An existing destination on the other volume is refused, then replaced when asked.
    ASSERT_TRUE(VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("b")))->Move(otherFolder, nullptr) == VE_OK);
    ::rename((other + "/b").c_str(), (other + "/a").c_str());
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_NE(FileIn(fTemp, "a")->Move(otherFolder, nullptr), VE_OK);
        EXPECT_EQ(Codes(errors).front(), Cocoa(kCocoaFileWriteFileExists));
        EXPECT_EQ(fTemp.ReadFile("a"), "A");
    }
    VFile* moved = nullptr;
    ASSERT_EQ(FileIn(fTemp, "a")->Move(otherFolder, &moved, 4), VE_OK);
    ASSERT_NE(moved, nullptr);
    moved->Release();
    EXPECT_FALSE(fTemp.ItemExists("a"));
    struct stat st;
    ASSERT_EQ(::stat((other + "/a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    TempFolder::RemoveTree(other);
}

class VFileTrashTest : public VFileTest {
protected:
    void SetUp() override
    {
        VFileTest::SetUp();
        const char* old = std::getenv("XDG_DATA_HOME");
        fHadOld = old != nullptr;
        if (old)
            fOld = old;
        ASSERT_TRUE(fTemp.MakeFolder("data"));
        ::setenv("XDG_DATA_HOME", fTemp.Path("data").c_str(), 1);
    }
    void TearDown() override
    {
        if (fHadOld)
            ::setenv("XDG_DATA_HOME", fOld.c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }
    bool fHadOld = false;
    std::string fOld;
};

TEST_F(VFileTrashTest, TrashKeepsARecordAndUniqueNames)
{
    for (int round = 1; round <= 2; ++round) {
        ASSERT_TRUE(fTemp.WriteFile("doc one.txt", "round " + std::to_string(round)));
        ASSERT_EQ(FileIn(fTemp, "doc one.txt")->MoveToTrash(), VE_OK);
        EXPECT_FALSE(fTemp.ItemExists("doc one.txt"));
    }
    EXPECT_EQ(fTemp.ReadFile("data/Trash/files/doc one.txt"), "round 1");
    EXPECT_EQ(fTemp.ReadFile("data/Trash/files/doc one.txt.2"), "round 2");
    std::string info = fTemp.ReadFile("data/Trash/info/doc one.txt.trashinfo");
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=", 0), 0u) << info;
    EXPECT_NE(info.find("Path=" + fTemp.Path("doc%20one.txt") + "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("\nDeletionDate=20"), std::string::npos) << info;
    EXPECT_NE(fTemp.ReadFile("data/Trash/info/doc one.txt.2.trashinfo"), "<missing>");
}

TEST_F(VFileTrashTest, FailedTrashMoveIsReported)
{
    ASSERT_TRUE(fTemp.WriteFile("f", "F"));
    StErrorContextInstaller errors(false, true);
    {
        StFaultSeam fault(FaultOperation::kTrash, 1, EROFS);
        EXPECT_NE(FileIn(fTemp, "f")->MoveToTrash(), VE_OK);
    }
    ExpectFileError(errors, Cocoa(kCocoaFileWriteVolumeReadOnly), VE_FILE_CANNOT_DELETE, "f");
    EXPECT_EQ(fTemp.ReadFile("f"), "F");
}

// An item the home Trash cannot take because it lies on another mount goes to
// the Trash at the top of that mount, recorded by its path below that top. A
// bind mount is such a mount although it shows a folder of the same device.
TEST_F(VFileTrashTest, AnItemOnAnotherMountGoesToTheTrashAtTheTopOfThatMount)
{
    ASSERT_TRUE(fTemp.MakeFolder("Apps"));
    StBindMount bind(fTemp.Path("Apps"), fTemp.Path("AppsBind"));
    if (!bind.IsMounted())
        GTEST_SKIP() << "a bind mount cannot be made here: " << std::strerror(bind.GetError());
    StTmpfs other(fTemp.Path("Other"));
    if (!other.IsMounted())
        GTEST_SKIP() << "a tmpfs cannot be mounted here: " << std::strerror(other.GetError());
    ASSERT_TRUE(fTemp.MakeFolder("Apps/sub dir"));
    const std::string topTrash = "/.Trash-" + std::to_string(getuid());

    enum Kind { kFolder, kFile, kLink };
    struct Case {
        const char* item;      // inside the test folder
        Kind kind;
        std::string trash;     // the Trash that takes it, inside the test folder
        std::string recorded;  // its Path in the record; empty: its absolute path
    } cases[] = {
        {"AppsBind/App.app", kFolder, "AppsBind" + topTrash, "App.app"},
        {"AppsBind/sub dir/doc one.txt", kFile, "AppsBind" + topTrash, "sub%20dir/doc%20one.txt"},
        {"AppsBind/current", kLink, "AppsBind" + topTrash, "current"},
        {"Other/App.app", kFolder, "Other" + topTrash, "App.app"},
        {"Apps/App.app", kFolder, "data/Trash", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        const std::string item = c.item;
        const std::string name = item.substr(item.find_last_of('/') + 1);
        VError err = VE_OK;
        if (c.kind == kFolder) {
            ASSERT_TRUE(fTemp.MakeFolder(item));
            ASSERT_TRUE(fTemp.WriteFile(item + "/content", c.item));
            err = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath(item)))->MoveToTrash();
        } else {
            ASSERT_TRUE(c.kind == kFile ? fTemp.WriteFile(item, c.item) : fTemp.MakeLink(item, "App.app"));
            err = FileIn(fTemp, item)->MoveToTrash();
        }
        ASSERT_EQ(VE_OK, err);
        EXPECT_FALSE(fTemp.ItemExists(item));
        const std::string trashed = c.trash + "/files/" + name;
        if (c.kind == kLink) {
            EXPECT_TRUE(S_ISLNK(StatOf(fTemp.Path(trashed)).st_mode));
        } else {
            EXPECT_EQ(c.item, fTemp.ReadFile(c.kind == kFolder ? trashed + "/content" : trashed));
        }
        const std::string recorded = c.recorded.empty() ? fTemp.Path(item) : c.recorded;
        const std::string info = fTemp.ReadFile(c.trash + "/info/" + name + ".trashinfo");
        const std::string head = "[Trash Info]\nPath=" + recorded + "\nDeletionDate=";
        ASSERT_EQ(head, info.substr(0, head.size())) << info;
        // The date's shape: every digit read as 9.
        std::string date = info.substr(head.size());
        for (char& c : date)
            c = c >= '0' && c <= '9' ? '9' : c;
        EXPECT_EQ("9999-99-99T99:99:99\n", date) << info;
    }
}

// A Trash at the top of a mount that is not this user's own folder (a link
// that another user could have made, or a folder of another user) is never
// used: the item stays where it was and the move fails.
TEST_F(VFileTrashTest, ATopTrashThatIsNotTheUsersOwnFolderIsNotUsed)
{
    StTmpfs other(fTemp.Path("Other"));
    if (!other.IsMounted())
        GTEST_SKIP() << "a tmpfs cannot be mounted here: " << std::strerror(other.GetError());
    const std::string topTrash = "Other/.Trash-" + std::to_string(getuid());
    const auto [nobody, nobodyGroup] = NobodyIds();
    ASSERT_TRUE(fTemp.MakeFolder("Other/elsewhere"));
    struct Case {
        const char* what;
        std::function<bool()> make;
    } cases[] = {
        {"a link to a folder", [&] { return fTemp.MakeLink(topTrash, "elsewhere"); }},
        {"another user's folder",
         [&] { return fTemp.MakeFolder(topTrash, 0700) && chown(fTemp.Path(topTrash).c_str(), nobody, nobodyGroup) == 0; }},
    };
    ASSERT_TRUE(fTemp.WriteFile("Other/doc", "doc"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder::RemoveTree(fTemp.Path(topTrash));
        ASSERT_TRUE(c.make());
        EXPECT_NE(VE_OK, FileIn(fTemp, "Other/doc")->MoveToTrash());
        EXPECT_EQ("doc", fTemp.ReadFile("Other/doc"));
        // Nothing was made in it, nor behind the link.
        EXPECT_EQ(std::vector<std::string>{}, fTemp.List(topTrash));
    }
}

TEST_F(VFileTest, TemporaryFileName)
{
    VFile* temp = VFile::CreateTemporaryFile();
    ASSERT_NE(temp, nullptr);
    VString name;
    temp->GetPath().GetName(name);
    EXPECT_EQ(name.GetLength(), 36);
    EXPECT_EQ(Text(name).rfind("bkt_", 0), 0u);
    EXPECT_EQ(Text(name).find_first_not_of("0123456789abcdefABCDEF", 4), std::string::npos);
    EXPECT_TRUE(temp->Exists());
    EXPECT_EQ(temp->Delete(), VE_OK);
    temp->Release();
}

TEST_F(VFileTest, VolumeFreeSpaceIsCachedPerQuotaFlag)
{
    ASSERT_TRUE(fTemp.WriteFile("f", "F"));
    VRefPtr<VFile> file = FileIn(fTemp, "f");
    long long free1 = 0, total1 = 0, free2 = 0, total2 = 0;
    ASSERT_EQ(file->GetVolumeFreeSpace(&free1, &total1, true, 60000), VE_OK);
    EXPECT_GT(total1, 0);
    // Bytes written meanwhile do not show: the answer comes from the cache.
    ASSERT_TRUE(fTemp.WriteFile("big", std::string(4 << 20, 'b')));
    ::sync();
    ASSERT_EQ(file->GetVolumeFreeSpace(&free2, &total2, true, 60000), VE_OK);
    EXPECT_EQ(free1, free2);
    EXPECT_EQ(total1, total2);

    StErrorContextInstaller errors(false, true);
    VRefPtr<VFile> missing = FileIn(fTemp, "nowhere/f");
    // A missing file is measured through its folder; a missing folder fails.
    EXPECT_NE(missing->GetVolumeFreeSpace(&free2, &total2, false, 0), VE_OK);
    EXPECT_EQ(free2, 0);
    EXPECT_EQ(total2, 0);
}

}  // namespace
}  // namespace bkit::test
