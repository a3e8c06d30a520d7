// VURLTest.cpp - URL splitting, percent encoding, path styles and file URLs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "basekit/files/VFilePath.h"
#include "basekit/files/VURL.h"
#include "basekit/platform/MountTable.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

std::string Text(const VString& s) { return to_string(s); }

TEST(VURLTest, SplitsIntoSixParts)
{
    struct Case {
        const char* text;
        bool valid;
        const char* scheme;
        const char* netLoc;
        const char* path;
        const char* parameters;
        const char* query;
        const char* fragment;
    } cases[] = {
        {"abc://h/a/b;p?q#f", true, "abc", "h", "a/b", "p", "q", "f"},
        {"abc://h", false, "abc", "h", "", "", "", ""},
        {"abc://h?x", true, "abc", "h", "", "", "x", ""},
        {"a/b://c", false, "", "", "a/b://c", "", "", ""},
        {"://h/p", true, "", "h", "p", "", "", ""},
        {"http://u:pw@h:80/p?q;r#f", true, "http", "u:pw@h:80", "p", "r", "q", "f"},
        {"file:///Users/x", true, "file", "", "Users/x", "", "", ""},
        {"http://h/a#x?y;z", true, "http", "h", "a", "", "", "x?y;z"},
        {"http://h/a;", true, "http", "h", "a;", "", "", ""},
        {"", true, "", "", "", "", "", ""},
    };
    for (const Case& c : cases) {
        VURL url(VString(c.text), false);
        VString scheme, netLoc, path, parameters, query, fragment;
        url.GetScheme(scheme);
        url.GetNetworkLocation(netLoc, false);
        url.GetPath(path, eURL_POSIX_STYLE, false);
        url.GetParameters(parameters, false);
        url.GetQuery(query, false);
        url.GetFragment(fragment, false);
        EXPECT_EQ(url.IsValid(), c.valid) << c.text;
        EXPECT_EQ(Text(scheme), c.scheme) << c.text;
        EXPECT_EQ(Text(netLoc), c.netLoc) << c.text;
        EXPECT_EQ(Text(path), c.path) << c.text;
        EXPECT_EQ(Text(parameters), c.parameters) << c.text;
        EXPECT_EQ(Text(query), c.query) << c.text;
        EXPECT_EQ(Text(fragment), c.fragment) << c.text;
    }
}

TEST(VURLTest, PercentEncoding)
{
    struct Case {
        const char* text;
        bool withBrackets;
        bool keepBackslashU;
        const char* encoded;
    } cases[] = {
        {"a b%", true, false, "a%20b%25"},
        {"[x]", true, false, "%5Bx%5D"},
        {"[x]", false, false, "[x]"},
        {"\xC3\xA9", true, false, "%C3%A9"},
        {"a:b/c?d", true, false, "a:b/c?d"},
        {"<\"{|}^`>", true, false, "%3C%22%7B%7C%7D%5E%60%3E"},
        {"\\u00e9", true, true, "\\u00e9"},
        {"\\u00e9", true, false, "%5Cu00e9"},
        {"\x7F\t", true, false, "%7F%09"},
    };
    for (const Case& c : cases) {
        VString text(c.text);
        VURL::Encode(text, true, true, c.withBrackets, c.keepBackslashU);
        EXPECT_EQ(Text(text), c.encoded) << c.text;
    }
}

TEST(VURLTest, PercentDecoding)
{
    struct Case {
        const char* text;
        const char* decoded;
    } cases[] = {
        {"%C3%A9", "\xC3\xA9"},
        {"%E9", "\xC3\xA9"},  // one byte alone is ISO-8859-1
        {"a%20b%25c", "a b%c"},
        {"%41%42", "AB"},
        {"100%", "100%"},
        {"a%2", "a%2"},
        {"plain", "plain"},
    };
    for (const Case& c : cases) {
        VString text(c.text);
        VURL::Decode(text);
        EXPECT_EQ(Text(text), c.decoded) << c.text;
    }
}

TEST(VURLTest, EncodedTextsAreDecodedPartByPart)
{
    VURL url(VString("http://h%20x/a%20b/c;p%3B?q%26#f%23"), true);
    ASSERT_TRUE(url.IsValid());
    VString part;
    url.GetNetworkLocation(part, false);
    EXPECT_EQ(Text(part), "h x");
    url.GetPath(part, eURL_POSIX_STYLE, false);
    EXPECT_EQ(Text(part), "a b/c");
    url.GetParameters(part, false);
    EXPECT_EQ(Text(part), "p;");
    url.GetQuery(part, false);
    EXPECT_EQ(Text(part), "q&");
    url.GetFragment(part, false);
    EXPECT_EQ(Text(part), "f#");
    url.GetPath(part, eURL_POSIX_STYLE, true);
    EXPECT_EQ(Text(part), "a%20b/c");

    // The safe text given is kept as the absolute form; an unsafe one is rebuilt.
    url.GetAbsoluteURL(part, true);
    EXPECT_EQ(Text(part), "http://h%20x/a%20b/c;p%3B?q%26#f%23");
    VURL unsafe(VString("http://h/\xC3\xA9?q"), true);
    unsafe.GetAbsoluteURL(part, true);
    EXPECT_EQ(Text(part), "http://h/%C3%A9?q");
    unsafe.GetAbsoluteURL(part, false);
    EXPECT_EQ(Text(part), "http://h/\xC3\xA9?q");
}

TEST(VURLTest, NetworkLocations)
{
    struct Case {
        const char* netLoc;
        const char* user;
        const char* password;
        const char* host;
        const char* port;
        int32_t portNumber;
    } cases[] = {
        {"h:8080", "", "", "h", "8080", 8080},
        {"h:65535", "", "", "h", "65535", 65535},
        {"h:65536", "", "", "h", "65536", -1},
        {"h:65537", "", "", "h", "65537", -1},
        {"h:99999999999", "", "", "h", "99999999999", -1},
        {"h:80 ", "", "", "h", "80 ", -1},
        {"h", "", "", "h", "", 0},
        {"u:p@h:21", "u", "p", "h", "21", 21},
        {"u@h", "u", "", "h", "", 0},
        {"[::1]:8443", "", "", "::1", "8443", 8443},
        {"[fe80::1]", "", "", "fe80::1", "", 0},
        {"[::1", "", "", "", "", 0},
    };
    for (const Case& c : cases) {
        VString user, password, host, port;
        VURL::ParseNetLocation(VString(c.netLoc), &user, &password, &host, &port);
        EXPECT_EQ(Text(user), c.user) << c.netLoc;
        EXPECT_EQ(Text(password), c.password) << c.netLoc;
        EXPECT_EQ(Text(host), c.host) << c.netLoc;
        EXPECT_EQ(Text(port), c.port) << c.netLoc;
        VURL url(VString("http://") + VString(c.netLoc) + VString("/p"), false);
        EXPECT_EQ(url.GetPortNumber(), c.portNumber) << c.netLoc;
    }
}

TEST(VURLTest, PathStyleConversions)
{
    struct Case {
        const char* text;
        EURLPathStyle from, to;
        const char* expected;
    } cases[] = {
        {"a/b", eURL_POSIX_STYLE, eURL_HFS_STYLE, "a:b"},
        {"a/../b", eURL_POSIX_STYLE, eURL_HFS_STYLE, "a::b"},
        {"../a", eURL_POSIX_STYLE, eURL_HFS_STYLE, ":a"},
        {"a/", eURL_POSIX_STYLE, eURL_HFS_STYLE, "a:"},
        {"a//b", eURL_POSIX_STYLE, eURL_HFS_STYLE, "a:b"},
        {"./a/./b", eURL_POSIX_STYLE, eURL_HFS_STYLE, "a:b"},
        {"a/..", eURL_POSIX_STYLE, eURL_HFS_STYLE, "a::"},
        {"a:b/c", eURL_POSIX_STYLE, eURL_HFS_STYLE, "a/b:c"},
        {"a:b", eURL_HFS_STYLE, eURL_POSIX_STYLE, "a/b"},
        {"a::b", eURL_HFS_STYLE, eURL_POSIX_STYLE, "a/../b"},
        {":a", eURL_HFS_STYLE, eURL_POSIX_STYLE, "a"},
        {"a:", eURL_HFS_STYLE, eURL_POSIX_STYLE, "a/"},
        {"::a", eURL_HFS_STYLE, eURL_POSIX_STYLE, "../a"},
        {"a/b:c", eURL_HFS_STYLE, eURL_POSIX_STYLE, "a:b/c"},
        {"a\\b\\c", eURL_WIN_STYLE, eURL_POSIX_STYLE, "a/b/c"},
        {"a/b", eURL_POSIX_STYLE, eURL_WIN_STYLE, "a\\b"},
        {"a:b\\c", eURL_HFS_STYLE, eURL_WIN_STYLE, "a:b\\c"},
    };
    for (const Case& c : cases) {
        VString text(c.text);
        VURL::Convert(text, c.from, c.to, true);
        EXPECT_EQ(Text(text), c.expected) << c.text;
    }
}

TEST(VURLTest, ChangingPartsRebuildsTheText)
{
    VURL url(VString("http://h/a/b?q"), false);
    url.SetQuery(VString("x%20y"), true);
    VString text;
    url.GetRelativeURL(text, false);
    EXPECT_EQ(Text(text), "http://h/a/b?x y");
    url.GetRelativeURL(text, true);
    EXPECT_EQ(Text(text), "http://h/a/b?x%20y");
    url.SetFragment(VString("top"), false);
    url.SetParameters(VString("p"), false);
    url.SetScheme(VString("https"));
    url.GetRelativeURL(text, false);
    EXPECT_EQ(Text(text), "https://h/a/b;p?x y#top");
    url.SetRelativePath(VString("c:d"), eURL_HFS_STYLE, false);
    url.GetRelativeURL(text, false);
    EXPECT_EQ(Text(text), "https://h/c/d;p?x y#top");

    VURL invalid(VString("abc://h"), false);
    invalid.SetQuery(VString("q"), false);  // nothing changes what does not split
    invalid.GetRelativeURL(text, false);
    EXPECT_EQ(Text(text), "abc://h");
}

TEST(VURLTest, ParentsAndSubFolders)
{
    VURL url(VString("http://h/a/b/c"), false);
    VString path;
    EXPECT_FALSE(url.ToSubFolder(VString("x")));  // only below a folder
    ASSERT_TRUE(url.ToParent());
    url.GetPath(path, eURL_POSIX_STYLE, false);
    EXPECT_EQ(Text(path), "a/b/");
    EXPECT_TRUE(url.ToSubFolder(VString("d e")));
    url.GetPath(path, eURL_POSIX_STYLE, false);
    EXPECT_EQ(Text(path), "a/b/d e");

    std::unique_ptr<VURL> parent(url.RetainParent());
    ASSERT_NE(parent, nullptr);
    parent->GetPath(path, eURL_POSIX_STYLE, false);
    EXPECT_EQ(Text(path), "a/b/");
    std::unique_ptr<VURL> grand(parent->RetainParent());
    ASSERT_NE(grand, nullptr);
    EXPECT_TRUE(grand->IsRoot());
    EXPECT_EQ(grand->RetainParent(), nullptr);

    VString last;
    VURL(VString("http://h/a/b%20c/"), true).GetLastPathComponent(last, true);
    EXPECT_EQ(Text(last), "b%20c");  // encoded once
    VString rest;
    VURL(VString("http://h/a?q#f"), false).GetResourceSpecifier(rest, false);
    EXPECT_EQ(Text(rest), "?q#f");
}

// A URL whose path cannot be replaced takes no parent: every
// "while (url.ToParent())" loop ends.
TEST(VURLTest, ParentsEndOnURLsThatDoNotSplit)
{
    struct Case {
        const char* text;
        const char* last;  // the text once no parent is left
    } cases[] = {
        {"a/b", "a/b"},
        {"://h/a/b", "h/a/"},
        {"abc://h", "abc://h"},
        {"abc://h/a/b/c", "abc://h/a/"},
    };
    for (const Case& c : cases) {
        VURL url(VString(c.text), false);
        for (int steps = 0; steps < 10 && url.ToParent(); ++steps) {
        }
        VString text;
        url.GetRelativeURL(text, false);
        EXPECT_EQ(Text(text), c.last) << c.text;
        EXPECT_FALSE(url.ToParent()) << c.text;
        EXPECT_EQ(url.RetainParent(), nullptr) << c.text;
    }
}

TEST(VURLTest, BaseTexts)
{
    VURL url;
    url.FromString(VString("x/y"), VString("http://h"), false);
    VString text;
    url.GetRelativeURL(text, false);
    EXPECT_EQ(Text(text), "http://h/x/y");
    url.FromString(VString("ftp://o/p"), VString("http://h"), false);
    EXPECT_TRUE(url.IsScheme(VString("ftp")));
    EXPECT_FALSE(url.IsScheme(VString("FTP")));

    VURL windows(VString("dir\\f;x?.txt"), eURL_WIN_STYLE, VString("file://"));
    windows.GetRelativeURL(text, false);
    EXPECT_EQ(Text(text), "file:///dir/f;x?.txt");  // no extras split off a file path
    windows.GetPath(text, eURL_POSIX_STYLE, false);
    EXPECT_EQ(Text(text), "dir/f;x?.txt");
}

// A root volume named "Disk" for the file URLs below.
class VURLFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<platform::MountedVolume> table = {{"/", "Disk", "ext4"}};
        platform::MountTable::SetVolumesForTesting(&table);
    }
    void TearDown() override { platform::MountTable::SetVolumesForTesting(nullptr); }
};

TEST_F(VURLFileTest, FileURLsAndPaths)
{
    VURL url(VFilePath(VString("Disk:Users:x")));
    VString text;
    url.GetRelativeURL(text, false);
    EXPECT_EQ(Text(text), "file:///Users/x");
    EXPECT_TRUE(url.IsValid());
    EXPECT_FALSE(VURL(VFilePath()).IsValid());

    VFilePath path;
    EXPECT_TRUE(VURL(VString("file:///etc/a%20b/"), true).GetFilePath(path));
    EXPECT_EQ(Text(path.GetPath()), "Disk:etc:a b:");
    EXPECT_TRUE(VURL(VString("/no/scheme"), false).GetFilePath(path));
    EXPECT_EQ(Text(path.GetPath()), "Disk:no:scheme");
    path = VFilePath(VString("Disk:x"));
    EXPECT_FALSE(VURL(VString("http://h/etc"), false).GetFilePath(path));
    EXPECT_TRUE(path.GetPath().IsEmpty());

    VURL(VString("file:///etc/hosts"), false).GetPath(text, eURL_HFS_STYLE, false);
    EXPECT_EQ(Text(text), "Disk:etc:hosts");
}

}  // namespace
}  // namespace bkit
