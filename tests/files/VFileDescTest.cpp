// VFileDescTest.cpp - open files: locks, open options, positional transfer, errors.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileDesc.h"
#include "basekit/files/VStream.h"
#include "files/VFileTestSupport.h"

namespace bkit::test {
namespace {

using VFileDescTest = TempFolderTest;

std::unique_ptr<VFileDesc> OpenOrNull(const VFile& file, FileAccess access, unsigned options = 0)
{
    VFileDesc* desc = nullptr;
    file.Open(access, &desc, options);
    return std::unique_ptr<VFileDesc>(desc);
}

TEST_F(VFileDescTest, LocksOfTheAccessModes)
{
    ASSERT_TRUE(fTemp.WriteFile("f", "data"));
    VRefPtr<VFile> file = FileIn(fTemp, "f");
    std::unique_ptr<VFileDesc> holder = OpenOrNull(*file, FA_READ_WRITE);
    ASSERT_TRUE(holder);
    {
        StErrorContextInstaller errors(false, true);
        VFileDesc* second = reinterpret_cast<VFileDesc*>(1);
        // A lock held elsewhere reads as a refused permission, not "try again".
        EXPECT_NE(file->Open(FA_READ_WRITE, &second, FO_OVERWRITE), VE_OK);
        EXPECT_EQ(second, nullptr);
        ASSERT_EQ(Codes(errors).size(), 2u);
        EXPECT_EQ(Codes(errors)[0], Posix(EACCES));
        EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "access"), "1");
        EXPECT_EQ(Parameter(*errors.GetContext()->GetLast(), "options"), "4");
        EXPECT_FALSE(OpenOrNull(*file, FA_SHARED));
        EXPECT_FALSE(file->IsWritable());
    }
    // The refused opener truncated nothing.
    EXPECT_EQ(fTemp.ReadFile("f"), "data");
    // The best access there is: read only while the lock is held.
    std::unique_ptr<VFileDesc> best = OpenOrNull(*file, FA_MAX_ACCESS);
    ASSERT_TRUE(best);
    EXPECT_EQ(best->GetMode(), FA_MAX_ACCESS);
    EXPECT_NE(::write(best->GetImpl().GetFD(), "x", 1), 1);
    holder.reset();
    best.reset();

    std::unique_ptr<VFileDesc> shared1 = OpenOrNull(*file, FA_SHARED);
    std::unique_ptr<VFileDesc> shared2 = OpenOrNull(*file, FA_SHARED);
    EXPECT_TRUE(shared1 && shared2);
    EXPECT_FALSE(OpenOrNull(*file, FA_READ_WRITE));
    EXPECT_TRUE(OpenOrNull(*file, FA_READ));
    shared1.reset();
    shared2.reset();
    EXPECT_TRUE(file->IsWritable());
}

TEST_F(VFileDescTest, OpenFollowsALinkOnlyWhenAsked)
{
    ASSERT_TRUE(fTemp.WriteFile("target", "T"));
    ASSERT_TRUE(fTemp.MakeLink("link", "target"));
    VRefPtr<VFile> link = FileIn(fTemp, "link");
    char c = 0;
    unsigned long read = 0;
    std::unique_ptr<VFileDesc> itself = OpenOrNull(*link, FA_READ);
    ASSERT_TRUE(itself);
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_NE(itself->GetData(&c, 1, 0, &read), VE_OK);
    }
    std::unique_ptr<VFileDesc> followed = OpenOrNull(*link, FA_READ, FO_FOLLOW_LINK);
    ASSERT_TRUE(followed);
    EXPECT_EQ(followed->GetData(&c, 1, 0, &read), VE_OK);
    EXPECT_EQ(c, 'T');
    // Creating through the open.
    std::unique_ptr<VFileDesc> created = OpenOrNull(*FileIn(fTemp, "new"), FA_READ_WRITE, FO_CREATE_IF_NOT_FOUND);
    EXPECT_TRUE(created);
    EXPECT_TRUE(fTemp.ItemExists("new"));
}

TEST_F(VFileDescTest, ShortReadsAndTheirErrors)
{
    ASSERT_TRUE(fTemp.WriteFile("f", "abcd"));
    VRefPtr<VFile> file = FileIn(fTemp, "f");
    std::unique_ptr<VFileDesc> desc = OpenOrNull(*file, FA_READ);
    ASSERT_TRUE(desc);
    char buffer[16] = {};
    {
        StErrorContextInstaller errors(false, true);
        unsigned long read = 0;
        EXPECT_EQ(desc->GetData(buffer, 10, 0, &read), VE_STREAM_EOF);
        EXPECT_EQ(read, 4u);
        ASSERT_EQ(Codes(errors), std::vector<VError>{VE_STREAM_EOF});
        const VErrorBase& e = *errors.GetContext()->GetLast();
        EXPECT_NE(dynamic_cast<const VFileError*>(&e), nullptr);
        EXPECT_EQ(Parameter(e, "count"), "10");
        EXPECT_EQ(Parameter(e, "offset"), "0");
        EXPECT_EQ(Parameter(e, "size"), "4");
        // The absolute read left the position alone.
        EXPECT_EQ(desc->GetPos(), 0);
    }
    {
        StErrorContextInstaller errors(false, true);
        unsigned long read = 0;
        ASSERT_EQ(desc->SetPos(3), VE_OK);
        EXPECT_EQ(desc->GetDataAtPos(buffer, 5, 0, &read), VE_STREAM_EOF);
        EXPECT_EQ(read, 1u);
        EXPECT_EQ(buffer[0], 'd');
        // Relative reads move by what they got, and report the end quietly.
        EXPECT_EQ(desc->GetPos(), 4);
        EXPECT_TRUE(errors.GetContext()->IsEmpty());
        ASSERT_EQ(desc->SetPos(-2, false), VE_OK);
        EXPECT_EQ(desc->GetPos(), 2);
    }
    // Writing to a read-only open file fails with the count, offset and size.
    {
        StErrorContextInstaller errors(false, true);
        unsigned long written = 99;
        EXPECT_NE(desc->PutData("zz", 2, 7, &written), VE_OK);
        EXPECT_EQ(written, 0u);
        ASSERT_EQ(Codes(errors).size(), 2u);
        EXPECT_EQ(Codes(errors)[0], Posix(EBADF));
        const VErrorBase& e = *errors.GetContext()->GetLast();
        EXPECT_EQ(e.GetError(), VErrorBase::EncodedNativeErrorToVError(Posix(EBADF), VE_FILE_CANNOT_WRITE));
        EXPECT_EQ(Parameter(e, "count"), "2");
        EXPECT_EQ(Parameter(e, "offset"), "7");
        EXPECT_EQ(Parameter(e, "size"), "4");
    }
}

TEST_F(VFileDescTest, WritesSizeAndTheFileReference)
{
    VRefPtr<VFile> file = FileIn(fTemp, "w");
    ASSERT_EQ(file->Create(), VE_OK);
    int32_t before = file->GetRefCount();
    std::unique_ptr<VFileDesc> desc = OpenOrNull(*file, FA_READ_WRITE);
    ASSERT_TRUE(desc);
    EXPECT_EQ(file->GetRefCount(), before + 1);
    unsigned long written = 0;
    EXPECT_EQ(desc->PutDataAtPos("hello", 5, 0, &written), VE_OK);
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(desc->PutDataAtPos("!", 1, 0, &written), VE_OK);
    EXPECT_EQ(desc->PutData("H", 1, 0), VE_OK);
    EXPECT_EQ(desc->GetSize(), 6);
    EXPECT_EQ(desc->SetSize(3), VE_OK);
    EXPECT_EQ(desc->Flush(), VE_OK);
    EXPECT_EQ(fTemp.ReadFile("w"), "Hel");
    // A gap written past the end reads back as zeros.
    EXPECT_EQ(desc->PutData("x", 1, 5), VE_OK);
    EXPECT_EQ(fTemp.ReadFile("w"), std::string("Hel\0\0x", 6));
    desc.reset();
    EXPECT_EQ(file->GetRefCount(), before);
}

}  // namespace
}  // namespace bkit::test
