// VFolderInterfacesTest.cpp - what the file and folder interfaces implement
// once for every object: names, extensions, content as text, hooks.
#include <string>

#include <gtest/gtest.h>

#include "basekit/files/IFile.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/runtime/VErrorContext.h"
#include "tests/support/TempFolder.h"

namespace bkit {
namespace {

class VFolderInterfacesTest : public test::TempFolderTest {};

TEST_F(VFolderInterfacesTest, TextContentWithAndWithoutByteOrderMark)
{
    VFile file(fTemp.FilePath("t.txt"));
    struct Case {
        const char16_t* text;
        bool bom;
        ECarriageReturnMode mode;
        std::string bytes;
    } cases[] = {
        {u"", true, eCRM_NONE, ""},
        {u"\u00E9", true, eCRM_NONE, "\xEF\xBB\xBF\xC3\xA9"},
        {u"\u00E9", false, eCRM_NONE, "\xC3\xA9"},
        {u"a\nb\r\nc", false, eCRM_CRLF, "a\r\nb\r\nc"},
        {u"a\r\nb", false, eCRM_LF, "a\nb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        VString text;
        text.AppendUniChars(reinterpret_cast<const UniChar*>(c.text), static_cast<VIndex>(std::char_traits<char16_t>::length(c.text)));
        ASSERT_EQ(0u, file.SetContentAsString(text, VTC_UTF_8, c.mode, c.bom));
        EXPECT_EQ(c.bytes, fTemp.ReadFile("t.txt"));
    }

    // A mark in the file wins over the character set asked for.
    ASSERT_TRUE(fTemp.WriteFile("t.txt", "\xEF\xBB\xBF\xC3\xA9\r\nx"));
    VString read;
    ASSERT_EQ(0u, file.GetContentAsString(read, VTC_UTF_16, eCRM_LF));
    EXPECT_EQ(3, read.GetLength());
    EXPECT_EQ(u'\u00E9', read.GetCPointer()[0]);
    EXPECT_EQ(u'\n', read.GetCPointer()[1]);

    // A failed read leaves no half-built text.
    VFile missing(fTemp.FilePath("none.txt"));
    read = VString("stale");
    {
        StErrorContextInstaller context(false, true);
        EXPECT_NE(0u, missing.GetContentAsString(read, VTC_UTF_8, eCRM_NONE));
    }
    EXPECT_TRUE(read.IsEmpty());

    VFile copy(fTemp.FilePath("copy.txt"));
    EXPECT_EQ(0u, file.CopyContentTo(&copy));
    EXPECT_EQ(fTemp.ReadFile("t.txt"), fTemp.ReadFile("copy.txt"));
}

TEST_F(VFolderInterfacesTest, NamesExtensionsAndHooks)
{
    VFile readme(VFilePath(VString("V:d:README"), FPS_SYSTEM));
    VFile text(VFilePath(VString("V:d:a.txt"), FPS_SYSTEM));
    EXPECT_TRUE(readme.MatchExtension(VString("")));
    EXPECT_FALSE(text.MatchExtension(VString("")));
    EXPECT_TRUE(text.MatchExtension(VString("TXT")));
    VString name;
    text.GetNameWithoutExtension(name);
    EXPECT_TRUE(name.EqualToString(VString("a"), true));

    VFolder bundle(VFilePath(VString("V:d:My.app:"), FPS_SYSTEM));
    bundle.GetNameWithoutExtension(name);
    EXPECT_TRUE(name.EqualToString(VString("My"), true));
    VFolder same(VFilePath(VString("V:D:my.APP:"), FPS_SYSTEM));
    EXPECT_TRUE(bundle.IsSameFolder(&same));
    EXPECT_FALSE(bundle.IsSameFolder(nullptr));

    EXPECT_TRUE(WrapFile(&text).IsUndefined());
    EXPECT_TRUE(WrapFolder(&bundle).IsUndefined());
    EXPECT_EQ(nullptr, ExtractFile(VJSONValue()));
    EXPECT_EQ(nullptr, ExtractFolder(VJSONValue()));
}

}  // namespace
}  // namespace bkit
