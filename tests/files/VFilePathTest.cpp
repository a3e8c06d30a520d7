// VFilePathTest.cpp - paths in the volume form: resolution, navigation, names, relative texts.
#include <gtest/gtest.h>

#include <string>

#include "basekit/files/VFilePath.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"

namespace bkit {
namespace {

std::string Text(const VString& s) { return to_string(s); }

VFilePath Path(const char* text) { return VFilePath(VString(text)); }

TEST(VFilePathTest, FullPathsResolveOrFail)
{
    struct Case {
        const char* text;
        bool valid;
        const char* resolved;
    } cases[] = {
        {"Volume:", true, "Volume:"},
        {"Volume", true, "Volume"},
        {"Volume:a::x", true, "Volume:x"},
        {"Volume:a:b:::", true, "Volume:"},
        {"Vol:a:b::", true, "Vol:a:"},
        {"Vol:a:b:c::d", true, "Vol:a:b:d"},
        {"Vol:a:b::c::d:", true, "Vol:a:d:"},
        {"Vol:a/b:c", true, "Vol:a/b:c"},
        {"Volume::x", false, nullptr},
        {"Volume::", false, nullptr},
        // Climbing above the volume never succeeds.
        {"Volume:a:::x", false, nullptr},
        {"Volume:a::::", false, nullptr},
        {":a:b", false, nullptr},
        {"", false, nullptr},
    };
    for (const Case& c : cases) {
        VFilePath path = Path(c.text);
        EXPECT_EQ(path.IsValid(), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(Text(path.GetPath()), c.resolved) << c.text;
        }
    }
    EXPECT_FALSE(VFilePath(VString(true)).IsValid());  // a null string
}

TEST(VFilePathTest, NulInsideIsInvalidInBothStyles)
{
    const UniChar internal[] = u"Vol:a\0b";
    const UniChar posix[] = u"/tmp/a\0b";
    EXPECT_FALSE(VFilePath(VString(internal, 7)).IsValid());
    EXPECT_FALSE(VFilePath(VString(posix, 8), FPS_POSIX).IsValid());
    EXPECT_FALSE(VFilePath(Path("Vol:a:"), VString(internal + 4, 3), FPS_SYSTEM).IsValid());
    EXPECT_TRUE(VFilePath::BadChar(VString(internal, 7), FPS_SYSTEM));
    EXPECT_FALSE(VFilePath::BadChar(VString("Vol:a"), FPS_SYSTEM));
}

TEST(VFilePathTest, SurrogatesWithoutTheirOtherHalfAreInvalid)
{
    // Such a name has no byte form on disk: a lone surrogate at the end was
    // dropped on the way there, so the path named its folder instead.
    const VFilePath base(VString("/tmp/dir/"), FPS_POSIX);
    const struct {
        const UniChar* name;
        bool valid;
    } cases[] = {
        {u"x\xDBBF", false}, {u"\xDBBF", false}, {u"\xDBBFx", false}, {u"\xDC00", false},
        {u"\xDC00\xD800", false}, {u"\xD83D\xDE00", true}, {u"x\xD83D\xDE00y", true},
    };
    for (const auto& c : cases) {
        const std::string shown = to_string(VString(c.name));
        EXPECT_EQ(VFilePath(base, VString(c.name), FPS_POSIX, true).IsValid(), c.valid) << shown;
        EXPECT_EQ(VFilePath(base, VString(c.name), FPS_SYSTEM).IsValid(), c.valid) << shown;
        VString full("/tmp/dir/");
        full.AppendString(VString(c.name));
        EXPECT_EQ(VFilePath(full, FPS_POSIX).IsValid(), c.valid) << shown;
        VFilePath sub(base);
        EXPECT_EQ(sub.ToSubFile(VString(c.name)).IsValid(), c.valid) << shown;
    }
}

TEST(VFilePathTest, QueriesAndNames)
{
    struct Case {
        const char* text;
        bool file, folder, parent;
        VIndex depth;
        const char* name;
        const char* fileNameNoExt;
        const char* folderNameNoExt;
        const char* folderName;
        const char* extension;
    } cases[] = {
        {"Volume:", false, true, false, 1, "Volume", "", "Volume:", "Volume:", ""},
        {"Vol:a:f.txt", true, false, true, 3, "f.txt", "f", "", "", "txt"},
        {"Vol:d.app:", false, true, true, 2, "d.app", "", "d", "d.app", "app"},
        {"Vol:a:b.c.d", true, false, true, 3, "b.c.d", "b.c", "", "", "d"},
        {"Vol:a:f.", true, false, true, 3, "f.", "f", "", "", ""},
        {"Vol:a:noext", true, false, true, 3, "noext", "noext", "", "", ""},
    };
    for (const Case& c : cases) {
        VFilePath path = Path(c.text);
        VString name, fileName, folderNameNoExt, folderName, extension;
        path.GetName(name);
        path.GetFileName(fileName, false);
        path.GetFolderName(folderNameNoExt, false);
        path.GetFolderName(folderName, true);
        path.GetExtension(extension);
        EXPECT_EQ(path.IsFile(), c.file) << c.text;
        EXPECT_EQ(path.IsFolder(), c.folder) << c.text;
        EXPECT_EQ(path.HasParent(), c.parent) << c.text;
        EXPECT_EQ(path.GetDepth(), c.depth) << c.text;
        EXPECT_EQ(Text(name), c.name) << c.text;
        EXPECT_EQ(Text(fileName), c.fileNameNoExt) << c.text;
        EXPECT_EQ(Text(folderNameNoExt), c.folderNameNoExt) << c.text;
        EXPECT_EQ(Text(folderName), c.folderName) << c.text;
        EXPECT_EQ(Text(extension), c.extension) << c.text;
    }

    VFilePath invalid = Path("Vol::x");
    EXPECT_FALSE(invalid.IsFile());
    EXPECT_FALSE(invalid.IsFolder());
    EXPECT_EQ(invalid.GetDepth(), 0);
    EXPECT_FALSE(invalid.HasParent());
}

TEST(VFilePathTest, NavigationClimbsToTheVolumeAndStops)
{
    VFilePath path = Path("Vol:a:b:f");
    const char* expected[] = {"Vol:a:b:", "Vol:a:", "Vol:"};
    for (const char* text : expected) {
        path.ToParent();
        EXPECT_TRUE(path.IsValid());
        EXPECT_EQ(Text(path.GetPath()), text);
    }
    path.ToParent();
    EXPECT_FALSE(path.IsValid());
    EXPECT_TRUE(path.GetPath().IsEmpty());

    VFilePath invalid = Path("Vol::x");
    invalid.ToParent().ToSubFolder(VString("s")).ToSubFile(VString("f"));
    EXPECT_EQ(Text(invalid.GetPath()), "Vol::x");

    VFilePath folder;
    EXPECT_TRUE(Path("Vol:a:f").GetFolder(folder));
    EXPECT_EQ(Text(folder.GetPath()), "Vol:a:");
    EXPECT_TRUE(Path("Vol:a:").GetFolder(folder));
    EXPECT_EQ(Text(folder.GetPath()), "Vol:a:");
    VFilePath parent(Path("Vol:x:"));
    EXPECT_FALSE(invalid.GetParent(parent));
    EXPECT_TRUE(parent.GetPath().IsEmpty());

    VFilePath sub = Path("Vol:a:");
    sub.ToSubFolder(VString("b")).ToSubFile(VString("f.txt"));
    EXPECT_EQ(Text(sub.GetPath()), "Vol:a:b:f.txt");
    sub.ToSubFolder(VString("c"));  // a file has no sub-folder
    EXPECT_EQ(Text(sub.GetPath()), "Vol:a:b:f.txt");
}

TEST(VFilePathTest, ChildTests)
{
    VFilePath parent = Path("Vol:a:");
    struct Case {
        const char* text;
        bool child, childRaw, sameOrChild;
    } cases[] = {
        {"Vol:a:", false, false, true},
        {"Vol:a:b", true, true, true},
        {"Vol:a:b:c:d", true, true, true},
        {"Vol:ab:c", false, false, false},
        {"vol:A:b", true, false, true},  // the locale comparison ignores case
        {"Vol:", false, false, false},
    };
    for (const Case& c : cases) {
        VFilePath path = Path(c.text);
        EXPECT_EQ(path.IsChildOf(parent), c.child) << c.text;
        EXPECT_EQ(path.IsChildOfRawPath(parent), c.childRaw) << c.text;
        EXPECT_EQ(path.IsSameOrChildOf(parent), c.sameOrChild) << c.text;
    }
    EXPECT_FALSE(Path("Vol:a:b").IsChildOf(Path("Vol:a")));  // a file is no parent
}

TEST(VFilePathTest, RenamingKeepsOrReplacesExtensions)
{
    struct Case {
        const char* text;
        const char* operation;  // "file", "file+ext", "folder", "folder+ext", "name", "ext"
        const char* argument;
        bool result;
        const char* expected;
    } cases[] = {
        {"V:d:a.txt", "file", "x", true, "V:d:x.txt"},
        {"V:d:a.txt", "file+ext", "x", true, "V:d:x"},
        {"V:d:", "file", "x", true, "V:d:x"},
        {"V:d.app:", "folder", "e", true, "V:e.app:"},
        {"V:d.app:", "folder+ext", "e", true, "V:e:"},
        {"V:", "folder", "e", false, "V:"},
        {"V:d:a.txt", "name", "b", true, "V:d:b"},
        {"V:d:s:", "name", "t", true, "V:d:t:"},
        {"V:", "name", "t", false, "V:"},
        {"V:d:a.b.c", "ext", "", true, "V:d:a.b"},
        {"V:d.app:", "ext", "", true, "V:d:"},
        {"V:d:a", "ext", "txt", true, "V:d:a.txt"},
        {"V:d:a.", "ext", "txt", true, "V:d:a.txt"},
        {"V:d.x:a", "ext", "txt", true, "V:d.x:a.txt"},
        {"V:d:", "ext", "app", true, "V:d.app:"},
        {"V:d.:", "ext", "app", true, "V:d.app:"},
        {"V:d.zip:", "ext", "app", true, "V:d.app:"},
    };
    for (const Case& c : cases) {
        VFilePath path = Path(c.text);
        VString argument(c.argument);
        std::string op = c.operation;
        bool result = true;
        if (op == "file")
            result = path.SetFileName(argument, false);
        else if (op == "file+ext")
            result = path.SetFileName(argument, true);
        else if (op == "folder")
            result = path.SetFolderName(argument, false);
        else if (op == "folder+ext")
            result = path.SetFolderName(argument, true);
        else if (op == "name")
            result = path.SetName(argument);
        else
            path.SetExtension(argument);
        EXPECT_EQ(result, c.result) << c.text << " " << op;
        EXPECT_TRUE(path.IsValid()) << c.text << " " << op;
        EXPECT_EQ(Text(path.GetPath()), c.expected) << c.text << " " << op;
    }
}

TEST(VFilePathTest, NameWithColonRaisesAndChangesNothing)
{
    for (int which = 0; which < 3; ++which) {
        StErrorContextInstaller errors(false, true);
        VFilePath path = Path(which == 2 ? "V:d:" : "V:d:a.txt");
        VString bad("x:y");
        bool result = which == 0 ? path.SetName(bad) : which == 1 ? path.SetFileName(bad) : path.SetFolderName(bad);
        EXPECT_FALSE(result);
        EXPECT_EQ(errors.GetLastError(), VE_FS_BAD_NAME);
        EXPECT_EQ(Text(path.GetPath()), which == 2 ? "V:d:" : "V:d:a.txt");
        EXPECT_TRUE(path.IsValid());
    }
}

TEST(VFilePathTest, ExtensionsMatch)
{
    EXPECT_TRUE(Path("V:X.app:").MatchExtension(VString("app")));
    EXPECT_TRUE(Path("V:X.APP:").MatchExtension(VString("app")));
    EXPECT_FALSE(Path("V:X.app.zip").MatchExtension(VString("app")));
    EXPECT_TRUE(Path("V:X.app.zip").MatchExtension(VString("zip")));
    EXPECT_TRUE(Path("V:d.x:file").MatchExtension(VString()));
    EXPECT_FALSE(Path("V:d:file.x").MatchExtension(VString()));
}

TEST(VFilePathTest, RelativeTextsAgainstAFolder)
{
    VFilePath base = Path("Vol:a:b:");
    struct Case {
        const char* relative;
        FilePathStyle style;
        bool forbidFull;
        bool valid;
        const char* expected;
    } cases[] = {
        {"c/d", FPS_POSIX, false, true, "Vol:a:b:c:d"},
        {"c/d/", FPS_POSIX, false, true, "Vol:a:b:c:d:"},
        {"../c", FPS_POSIX, false, true, "Vol:a:c"},
        {"./c/./d/", FPS_POSIX, false, true, "Vol:a:b:c:d:"},
        {"c//d", FPS_POSIX, false, true, "Vol:a:b:c:d"},
        // A final ".." is a step, never a name "..".
        {"c/..", FPS_POSIX, false, true, "Vol:a:b:"},
        {"..", FPS_POSIX, false, true, "Vol:a:"},
        {"c/.", FPS_POSIX, false, true, "Vol:a:b:c:"},
        {"..x", FPS_POSIX, false, true, "Vol:a:b:..x"},
        {"x:y", FPS_POSIX, false, true, "Vol:a:b:x/y"},
        {"../../../..", FPS_POSIX, false, false, nullptr},
        {"../../..", FPS_POSIX, false, false, nullptr},
        {"/abs", FPS_POSIX, true, false, nullptr},
        {":c", FPS_SYSTEM, false, true, "Vol:a:c"},
        {"c:d:", FPS_SYSTEM, false, true, "Vol:a:b:c:d:"},
    };
    for (const Case& c : cases) {
        VFilePath path(base, VString(c.relative), c.style, c.forbidFull);
        EXPECT_EQ(path.IsValid(), c.valid) << c.relative;
        if (c.valid) {
            EXPECT_EQ(Text(path.GetPath()), c.expected) << c.relative;
        }
    }
    EXPECT_FALSE(VFilePath(Path("Vol:a:f"), VString("x"), FPS_SYSTEM).IsValid());  // the base is a file
    EXPECT_FALSE(VFilePath(Path("Vol::"), VString("x"), FPS_SYSTEM).IsValid());
}

TEST(VFilePathTest, RelativeTextsOut)
{
    VFilePath path = Path("Vol:a:b:c.txt");
    VString out;
    EXPECT_TRUE(path.GetRelativePath(Path("Vol:a:"), out));
    EXPECT_EQ(Text(out), "b:c.txt");
    EXPECT_TRUE(path.GetRelativePath(Path("vol:A:"), out));
    EXPECT_EQ(Text(out), "b:c.txt");
    EXPECT_FALSE(path.GetRelativePath(Path("Vol:x:"), out));
    EXPECT_EQ(Text(out), "Vol:a:b:c.txt");
    EXPECT_FALSE(path.GetRelativePath(Path("Vol:a"), out));  // not a folder
    EXPECT_TRUE(path.GetRelativePosixPath(Path("Vol:a:"), out));
    EXPECT_EQ(Text(out), "b/c.txt");
    EXPECT_FALSE(Path("Vol::").GetRelativePosixPath(Path("Vol:x:"), out));
    EXPECT_TRUE(out.IsEmpty());

    // The rest begins right after the folder's own text: a combining mark
    // there is not taken into the folder's name by the accent-blind match.
    const UniChar marked[] = u"Vol:a:\u0301b";
    EXPECT_TRUE(VFilePath(VString(marked)).GetRelativePath(Path("Vol:a:"), out));
    EXPECT_TRUE(out.EqualToStringRaw(VString(u"\u0301b")));
    EXPECT_TRUE(VFilePath(VString(marked)).GetRelativePosixPath(Path("Vol:a:"), out));
    EXPECT_TRUE(out.EqualToStringRaw(VString(u"\u0301b")));
    EXPECT_TRUE(VFilePath(VString(u"V\u00f3l:a:b")).GetRelativePath(Path("Vol:a:"), out));
    EXPECT_EQ(Text(out), "b");
}

// "." and ".." are steps of the POSIX form, never names of the internal one:
// every way of putting one into a path leaves it invalid, so that no path names
// another folder than the one it spells.
TEST(VFilePathTest, DotStepsAreNoNames)
{
    VFilePath base = Path("Vol:a:");
    struct Case {
        const char* what;
        VFilePath path;
    };
    auto sub = [&](const char* name, bool folder) {
        VFilePath p = base;
        return folder ? p.ToSubFolder(VString(name)) : p.ToSubFile(VString(name));
    };
    const Case cases[] = {
        {"full '.'", Path(".")},
        {"full '..'", Path("..")},
        {"'.' as the volume", Path(".:a")},
        {"'..' as a file", Path("Vol:a:..")},
        {"'.' as a folder", Path("Vol:.:b")},
        {"'..' before a climb", Path("Vol:a:..::b")},
        {"relative '..'", VFilePath(base, VString(".."), FPS_SYSTEM)},
        {"relative '.:'", VFilePath(base, VString(".:"), FPS_SYSTEM)},
        {"relative 'b:..'", VFilePath(base, VString("b:.."), FPS_SYSTEM)},
        {"sub-folder '..'", sub("..", true)},
        {"sub-folder 'b:..'", sub("b:..", true)},
        {"sub-folder ''", sub("", true)},
        {"sub-file '.'", sub(".", false)},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.path.IsValid()) << c.what;
        EXPECT_FALSE(c.path.IsChildOf(base)) << c.what;
        EXPECT_TRUE(c.path.GetPath(FPS_POSIX).IsEmpty()) << c.what;
    }
    VFilePath trimmed = Path("Vol:a: .. :b");
    ASSERT_TRUE(trimmed.IsValid());
    trimmed.RemoveBlanks();
    EXPECT_FALSE(trimmed.IsValid());

    // Names that only look like steps are names.
    for (const char* text : {"Vol:...:", "Vol:..x", "Vol:.hidden", "Vol:a:x.", "..x:a"})
        EXPECT_TRUE(Path(text).IsValid()) << text;
    EXPECT_TRUE(sub("...", true).IsFolder());
    EXPECT_TRUE(sub(".profile", false).IsFile());
}

// A setter that refuses a change leaves the path as it was, valid: a caller
// that goes on after a false answer still holds the path it had, never one
// that names something else or nothing.
TEST(VFilePathTest, RefusedChangesLeaveThePathAsItWas)
{
    struct Case {
        const char* text;
        const char* operation;  // "name", "file", "file+ext", "folder", "folder+ext", "ext", "fileext", "folderext"
        const char* argument;
    } cases[] = {
        {"Vol:a:b", "name", ".."},
        {"Vol:a:b:", "name", "."},
        {"Vol:a:b", "name", ""},  // would leave the folder's path
        {"Vol:a:b:", "name", ""},
        {"Vol:", "name", "t"},  // a volume root has no parent
        {"Vol:a:b.txt", "file+ext", "."},
        {"Vol:a:b", "file", ".."},
        {"Vol:a:b", "file+ext", ""},
        {"Vol:a:", "file", ""},
        {"Vol:a:", "file", ".."},
        {"Vol:a:b:", "folder+ext", ".."},
        {"Vol:a:b:", "folder+ext", ""},
        {"Vol:a:b:", "folder", "."},
        {"Vol:", "folder", "e"},
        {"Vol:a:b", "folder", "e"},  // a file has no folder name
        {"Vol:a:.x", "ext", ""},    // would leave the folder's path
        {"Vol:a:..x", "ext", ""},   // would leave a name ".."
        {"Vol:a:.x:", "ext", ""},   // would leave an empty name
        {"Vol:..x:", "folderext", ""},
        {"Vol:a:f.txt", "ext", "b:c"},  // would move into a folder "f.b"
        {"Vol:a.b:", "folderext", "x:y"},
        {"Vol:a.b:", "fileext", "x"},  // a folder would become a file
    };
    for (const Case& c : cases) {
        VFilePath path = Path(c.text);
        ASSERT_TRUE(path.IsValid()) << c.text;
        VString argument(c.argument);
        std::string op = c.operation;
        bool result = false;
        if (op == "name")
            result = path.SetName(argument);
        else if (op == "file" || op == "file+ext")
            result = path.SetFileName(argument, op == "file+ext");
        else if (op == "folder" || op == "folder+ext")
            result = path.SetFolderName(argument, op == "folder+ext");
        else if (op == "ext")
            path.SetExtension(argument);
        else if (op == "fileext")
            path.SetFileExtension(argument);
        else
            path.SetFolderExtension(argument);
        EXPECT_FALSE(result) << c.text << " " << op << " '" << c.argument << "'";
        EXPECT_TRUE(path.IsValid()) << c.text << " " << op << " '" << c.argument << "'";
        EXPECT_EQ(Text(path.GetPath()), c.text) << op << " '" << c.argument << "'";
    }
}

TEST(VFilePathTest, RemoveBlanksAroundSeparators)
{
    VFilePath path = Path(" Vol : a b :  c ");
    path.RemoveBlanks();
    EXPECT_EQ(Text(path.GetPath()), "Vol:a b:c");
}

TEST(VFilePathTest, PosixTextResolution)
{
    struct Case {
        const char* text;
        bool result;
        const char* expected;
    } cases[] = {
        {"/a/./b", true, "/a/b"},
        {"/a//b", true, "/a/b"},
        {"/a/b/../c", true, "/a/c"},
        {"/a/b//../c", true, "/a/c"},
        {"a/../b", true, "b"},
        {"/a/b/..", true, "/a/"},
        {"/a/b/.", true, "/a/b/"},
        {"../a", true, "../a"},
        {"noslash", true, "noslash"},
        // Nothing climbs above the start of the text: a named file system
        // "/fs/..." cannot be left through its own path.
        {"/..", false, "/.."},
        {"/fs/a/../../..", false, "/fs/a/../../.."},
        {"fs/a/../../..", false, "fs/a/../../.."},
    };
    for (const Case& c : cases) {
        VString text(c.text);
        EXPECT_EQ(VFilePath::ResolveRelativePosix(text), c.result) << c.text;
        EXPECT_EQ(Text(text), c.expected) << c.text;
    }
}

TEST(VFilePathTest, StaticChecksAndCopies)
{
    EXPECT_TRUE(VFilePath::ValidFullPath(VString("/a"), FPS_POSIX));
    EXPECT_FALSE(VFilePath::ValidFullPath(VString("a"), FPS_POSIX));
    EXPECT_FALSE(VFilePath::ValidFullPath(VString(":a"), FPS_SYSTEM));
    EXPECT_FALSE(VFilePath::ValidFullPath(VString(), FPS_SYSTEM));
    EXPECT_FALSE(VFilePath::ValidRelativePath(VString("/a"), FPS_POSIX));
    EXPECT_TRUE(VFilePath::ValidRelativePath(VString("/a"), FPS_SYSTEM));

    VFilePath original = Path("Vol:a:");
    VFilePath copy(original);
    copy.ToSubFile(VString("f"));
    EXPECT_EQ(Text(original.GetPath()), "Vol:a:");
    EXPECT_EQ(Text(copy.GetPath()), "Vol:a:f");
    copy = original;
    EXPECT_TRUE(copy == original);
    copy.Clear();
    EXPECT_FALSE(copy.IsValid());
    VString posix("kept");
    copy.GetPosixPath(posix);
    EXPECT_TRUE(posix.IsEmpty());
    EXPECT_TRUE(copy.GetPath(FPS_POSIX).IsEmpty());
}

}  // namespace
}  // namespace bkit
