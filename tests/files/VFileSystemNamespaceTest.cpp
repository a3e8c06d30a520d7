// VFileSystemNamespaceTest.cpp - named file systems: lookups, path texts and definition files.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <map>
#include <string>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/files/VFileSystem.h"
#include "basekit/files/VFileSystemNamespace.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONImporter.h"
#include "files/VFileTestSupport.h"

namespace bkit::test {
namespace {

class VFileSystemNamespaceTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        ASSERT_TRUE(fTemp.MakeFolder("docs"));
        ASSERT_TRUE(fTemp.MakeFolder("docs/a"));
        ASSERT_TRUE(fTemp.MakeFolder("other"));
        fNamespace = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace());
        ASSERT_EQ(Register(*fNamespace, "docs", "docs", eFSWritable), VE_OK);
    }

    VError Register(VFileSystemNamespace& ns, const char* name, const std::string& folder, uint32_t flags)
    {
        VRefPtr<VFolder> root = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath(folder)));
        return ns.RegisterFileSystem(VString(name), root.Get(), flags);
    }

    VRefPtr<VFileSystem> Find(VFileSystemNamespace& ns, const char* name, uint32_t options)
    {
        return VRefPtr<VFileSystem>::Adopt(ns.RetainFileSystem(VString(name), options));
    }

    static std::string RootOf(const VRefPtr<VFileSystem>& fs)
    {
        VFilePath root;
        fs->GetRoot(root);
        return Text(root.GetPath(FPS_POSIX));
    }

    VRefPtr<VFileSystemNamespace> fNamespace;
};

TEST_F(VFileSystemNamespaceTest, RegistrationReplacesAndUnregisters)
{
    ASSERT_EQ(Register(*fNamespace, "box", "docs", 0), VE_OK);
    ASSERT_EQ(Register(*fNamespace, "box", "other", 0), VE_OK);
    VRefPtr<VFileSystem> box = Find(*fNamespace, "box", 0);
    ASSERT_TRUE(box);
    EXPECT_EQ(RootOf(box), fTemp.Path("other/"));

    fNamespace->UnregisterFileSystem(VString("box"));
    EXPECT_FALSE(Find(*fNamespace, "box", 0));
    EXPECT_EQ(Text(box->GetName()), "box") << "a retained file system outlives its entry";
    fNamespace->UnregisterFileSystem(VString("box"));
    fNamespace->RegisterFileSystem(nullptr);

    StErrorContextInstaller errors;
    EXPECT_EQ(Register(*fNamespace, "a/b", "docs", 0), VE_FS_INVALID_NAME);
    EXPECT_EQ(Codes(errors), std::vector<VError>{VE_FS_INVALID_NAME});
}

TEST_F(VFileSystemNamespaceTest, ParentChainHiddenAndMaps)
{
    VRefPtr<VFileSystemNamespace> child = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(fNamespace.Get()));
    ASSERT_EQ(Register(*child, "docs", "other", eFSHidden), VE_OK);
    ASSERT_EQ(Register(*fNamespace, "shared", "other", 0), VE_OK);

    EXPECT_FALSE(Find(*child, "shared", 0));
    EXPECT_TRUE(Find(*child, "shared", eFSN_SearchParents));
    // The child's hidden entry answers: the parent's "docs" is not reached.
    EXPECT_FALSE(Find(*child, "docs", eFSN_SkipHidden | eFSN_SearchParents));
    VRefPtr<VFileSystem> docs = Find(*child, "docs", eFSN_SearchParents);
    ASSERT_TRUE(docs);
    EXPECT_EQ(RootOf(docs), fTemp.Path("other/"));

    std::map<VString, VRefPtr<VFileSystem>> map;
    EXPECT_EQ(child->RetainMapOfFileSystems(map, eFSN_SearchParents), VE_OK);
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[VString("docs")].Get(), docs.Get());
    map.clear();
    child->RetainMapOfFileSystems(map, eFSN_SearchParents | eFSN_SkipHidden);
    ASSERT_EQ(map.size(), 2u) << "the parent's docs shows where the child's is hidden";
    EXPECT_EQ(RootOf(map[VString("docs")]), fTemp.Path("docs/"));
    map.clear();
    child->RetainMapOfFileSystems(map, 0);
    EXPECT_EQ(map.size(), 1u);

    VRefPtr<IFolder> root = VRefPtr<IFolder>::Adopt(child->RetainFileSystemRootFolder(VString("shared"), eFSN_SearchParents));
    ASSERT_TRUE(root);
    EXPECT_EQ(Text(root->GetFileSystem()->GetName()), "shared");
}

TEST_F(VFileSystemNamespaceTest, ParsePathStaysInsideTheFileSystem)
{
    struct Case {
        const char* text;
        bool parsed;
        const char* relative;
    };
    const Case cases[] = {
        {"/docs/a/b.txt", true, "a/b.txt"},
        {"/docs/a/", true, "a/"},
        {"/docs/", true, ""},
        {"/docs/a/./b/../c", true, "a/c"},
        {"/docs/a/..", true, ""},
        {"/docs/..", false, ""},
        {"/docs/../other/x", false, ""},
        {"/docs/a/../../docs-x/y", false, ""},
        {"/docs//etc/passwd", false, ""},
        {"/Docs/a", false, ""},
        {"/docs", false, ""},
        {"docs/a", false, ""},
        {"/nope/a", false, ""},
        {"//a", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        VRefPtr<VFileSystem> fs;
        VString relative("untouched");
        bool parsed = fNamespace->ParsePathWithFileSystem(VString(c.text), fs, relative, 0);
        EXPECT_EQ(parsed, c.parsed) << c.text;
        if (parsed) {
            EXPECT_EQ(Text(relative), c.relative) << c.text;
            EXPECT_EQ(Text(fs->GetName()), "docs");
        } else {
            EXPECT_EQ(Text(relative), "untouched") << c.text;
            EXPECT_FALSE(fs) << c.text;
        }
    }
}

// Symbolic links below the root are followed on disk: a text that reaches
// outside through one names nothing of the file system, whatever its names say.
TEST_F(VFileSystemNamespaceTest, TextsReachingOutThroughLinksAreRefused)
{
    ASSERT_TRUE(fTemp.WriteFile("other/secret", "s"));
    ASSERT_TRUE(fTemp.MakeLink("docs/escape", fTemp.Path("other")));
    ASSERT_TRUE(fTemp.MakeLink("docs/relative", "../other/secret"));
    ASSERT_TRUE(fTemp.MakeLink("docs/dangling", fTemp.Path("other/new.txt")));
    ASSERT_TRUE(fTemp.MakeLink("docs/inner", "a"));
    ASSERT_TRUE(fTemp.MakeLink("docs/a/up", ".."));
    ASSERT_TRUE(fTemp.MakeLink("docs/loop", "loop"));
    VRefPtr<VFileSystem> docs = Find(*fNamespace, "docs", 0);
    struct Case {
        const char* text;
        bool bound;  // a file bound to docs; otherwise no file at all
    };
    const Case cases[] = {
        {"/docs/escape/secret", false},
        {"/docs/escape/missing/new.txt", false},
        {"/docs/relative", false},
        {"/docs/dangling", false},
        {"/docs/loop", false},
        {"/docs/inner/x.txt", true},
        {"/docs/a/up/a/x.txt", true},
        {"/docs/missing/x.txt", true},
    };
    for (const Case& c : cases) {
        VRefPtr<IFile> file = VRefPtr<IFile>::Adopt(fNamespace->RetainFile(VString(c.text), nullptr, 0, false));
        EXPECT_EQ(bool(file), c.bound) << c.text;
        if (file) {
            EXPECT_EQ(file->GetFileSystem(), docs.Get()) << c.text;
        }
        VRefPtr<VFileSystem> fs;
        VString relative;
        EXPECT_EQ(fNamespace->ParsePathWithFileSystem(VString(c.text), fs, relative, 0), c.bound) << c.text;
    }
    EXPECT_FALSE(VRefPtr<IFolder>::Adopt(fNamespace->RetainFolder(VString("/docs/escape"), nullptr, 0, false)));
    EXPECT_TRUE(VRefPtr<IFolder>::Adopt(fNamespace->RetainFolder(VString("/docs/inner"), nullptr, 0, false)));

    // The file system's own folders refuse the same ways out.
    VRefPtr<IFolder> root = VRefPtr<IFolder>::Adopt(docs->RetainRootFolder());
    ASSERT_TRUE(root);
    EXPECT_FALSE(VRefPtr<IFile>::Adopt(root->_RetainRelativeIFile(VString("escape/secret"), FPS_POSIX)));
    EXPECT_FALSE(VRefPtr<IFolder>::Adopt(root->RetainRelativeFolder(VString("escape/"), FPS_POSIX, nullptr)));
}

// The relative part is the text after the root's own text: a combining mark
// that begins it stays part of the name.
TEST_F(VFileSystemNamespaceTest, ACombiningMarkAfterTheRootStaysInTheName)
{
    const UniChar text[] = u"/docs/\u0301a";
    VRefPtr<VFileSystem> fs;
    VString relative;
    ASSERT_TRUE(fNamespace->ParsePathWithFileSystem(VString(text), fs, relative, 0));
    EXPECT_TRUE(relative.EqualToStringRaw(VString(u"\u0301a")));
    VRefPtr<IFile> file = VRefPtr<IFile>::Adopt(fNamespace->RetainFile(VString(text), nullptr, 0, false));
    ASSERT_TRUE(file);
    VString name;
    file->GetPath().GetName(name);
    EXPECT_TRUE(name.EqualToStringRaw(VString(u"\u0301a")));
    EXPECT_NE(file->GetPath(), fTemp.FilePath("docs/a"));
}

TEST_F(VFileSystemNamespaceTest, RetainFileAndFolderFromTexts)
{
    VRefPtr<VFileSystem> docs = Find(*fNamespace, "docs", 0);
    auto file = [&](const char* text, IFolder* base, bool fullPathAllowed) {
        return VRefPtr<IFile>::Adopt(fNamespace->RetainFile(VString(text), base, 0, fullPathAllowed));
    };
    auto folder = [&](const char* text, IFolder* base, bool fullPathAllowed) {
        return VRefPtr<IFolder>::Adopt(fNamespace->RetainFolder(VString(text), base, 0, fullPathAllowed));
    };

    VRefPtr<IFile> bound = file("/docs/a/b.txt", nullptr, false);
    ASSERT_TRUE(bound);
    EXPECT_EQ(bound->GetFileSystem(), docs.Get());
    EXPECT_EQ(bound->GetPath(), fTemp.FilePath("docs/a/b.txt"));

    // Escapes are refused, or taken as plain full paths only when allowed.
    EXPECT_FALSE(file("/docs/../other/x", nullptr, false));
    VRefPtr<IFile> plain = file("/docs/../other/x", nullptr, true);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->GetFileSystem(), nullptr);
    VRefPtr<IFile> noSecondSlash = file("/docs", nullptr, true);
    ASSERT_TRUE(noSecondSlash);
    EXPECT_EQ(Text(noSecondSlash->GetPath().GetPath(FPS_POSIX)), "/docs");
    EXPECT_FALSE(file("/docs/a/", nullptr, false)) << "a folder text is no file";
    EXPECT_FALSE(file("", nullptr, true));

    VRefPtr<IFolder> root = folder("/docs", nullptr, false);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->GetFileSystem(), docs.Get());
    EXPECT_EQ(root->GetPath(), fTemp.FolderPath("docs"));
    VRefPtr<IFolder> sub = folder("/docs/a", nullptr, false);
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->GetPath(), fTemp.FolderPath("docs/a"));
    EXPECT_EQ(sub->GetFileSystem(), docs.Get());
    EXPECT_FALSE(folder("/docs/..", nullptr, false));

    // Relative texts go to the base folder, which keeps its binding inside.
    VRefPtr<IFile> relative = file("a/c.txt", root.Get(), false);
    ASSERT_TRUE(relative);
    EXPECT_EQ(relative->GetFileSystem(), docs.Get());
    EXPECT_FALSE(file("../other/x", root.Get(), false));
    EXPECT_FALSE(file("a/c.txt", nullptr, false));
    std::string full = fTemp.Path("other/");
    VRefPtr<IFolder> fullFolder = folder(full.c_str(), nullptr, true);
    ASSERT_TRUE(fullFolder);
    EXPECT_EQ(fullFolder->GetFileSystem(), nullptr);

    // Without a namespace: the base, else a full path.
    VRefPtr<IFile> noNs = VRefPtr<IFile>::Adopt(VFileSystemNamespace::RetainFile(nullptr, VString("a/x"), root.Get(), 0, false));
    ASSERT_TRUE(noNs);
    EXPECT_EQ(noNs->GetPath(), fTemp.FilePath("docs/a/x"));
    VRefPtr<IFolder> noNsFolder =
        VRefPtr<IFolder>::Adopt(VFileSystemNamespace::RetainFolder(nullptr, VString(full.c_str()), nullptr, 0, false));
    ASSERT_TRUE(noNsFolder);
    EXPECT_EQ(noNsFolder->GetPath(), fTemp.FolderPath("other"));
    EXPECT_FALSE(VRefPtr<IFile>::Adopt(VFileSystemNamespace::RetainFile(nullptr, VString(full.c_str()), nullptr, 0, true)));
    VRefPtr<IFolder> viaNs =
        VRefPtr<IFolder>::Adopt(VFileSystemNamespace::RetainFolder(fNamespace.Get(), VString("/docs/a/"), nullptr, 0, false));
    ASSERT_TRUE(viaNs);
    EXPECT_EQ(viaNs->GetFileSystem(), docs.Get());
}

class DefinitionFileTest : public VFileSystemNamespaceTest {
protected:
    VError Load(const std::string& json)
    {
        EXPECT_TRUE(fTemp.WriteFile("fileSystems.json", json));
        VRefPtr<VFile> file = FileIn(fTemp, "fileSystems.json");
        return fNamespace->LoadFromDefinitionFile(file.Get());
    }
};

TEST_F(DefinitionFileTest, EntriesRegisterAndBadOnesAreSkipped)
{
    ASSERT_TRUE(fTemp.MakeFolder("docs/a/inner"));
    const std::string other = fTemp.Path("other");
    StErrorContextInstaller errors;
    std::string json = "[\n"
                       "  {\"name\": \"full\", \"path\": \"" + other + "\", \"writable\": true},\n"
                       "  {\"name\": \"child\", \"path\": \"a/inner\", \"parent\": \"docs\"},\n"
                       "  {\"name\": \"orphan\", \"path\": \"a\", \"parent\": \"missing\"},\n"
                       "  {\"name\": \"escape\", \"path\": \"../other\", \"parent\": \"docs\"},\n"
                       "  {\"name\": \"nopath\", \"writable\": true},\n"
                       "  {\"name\": \"relative\", \"path\": \"other\"},\n"
                       "  {\"name\": \"odd\", \"path\": \"" + other + "/\", \"writable\": \"yes\", \"parent\": 3},\n"
                       "  {\"name\": \"bad/name\", \"path\": \"" + other + "\"},\n"
                       "  {\"path\": \"" + other + "\"},\n"
                       "  \"a string\", 12, null, [{\"name\": \"nested\", \"path\": \"/\"}]\n"
                       "]";
    EXPECT_EQ(Load(json), VE_OK);

    std::map<VString, VRefPtr<VFileSystem>> map;
    fNamespace->RetainMapOfFileSystems(map, 0);
    std::vector<std::string> names;
    for (const auto& entry : map)
        names.push_back(Text(entry.first));
    EXPECT_EQ(names, (std::vector<std::string>{"child", "docs", "full", "odd"}));

    EXPECT_EQ(RootOf(map[VString("full")]), other + "/");
    EXPECT_EQ(map[VString("full")]->GetFlags(), eFSWritable);
    EXPECT_EQ(map[VString("full")]->Request(10), VE_OK);
    EXPECT_EQ(RootOf(map[VString("child")]), fTemp.Path("docs/a/inner/"));
    EXPECT_EQ(map[VString("child")]->GetFlags(), 0u);
    EXPECT_EQ(map[VString("odd")]->GetFlags(), 0u) << "a \"writable\" that is no boolean counts as missing";
    // Two bad names: "bad/name" and the missing one.
    EXPECT_EQ(Codes(errors), (std::vector<VError>{VE_FS_INVALID_NAME, VE_FS_INVALID_NAME}));
}

// Each entry of a chain names the one before it as parent: every new root is
// one level deeper. Each root is checked from where its names lead on disk,
// one step per name, so the chain reads in step with the file; a root whose
// text is too long for the system to open anything by it is refused, and so
// is every entry below it, whose parent is then missing.
TEST_F(DefinitionFileTest, ALongChainOfParentsReadsInStepWithTheFile)
{
    const std::string base = fTemp.Path("docs/");
    for (size_t count : {1000u, 4000u}) {
        SCOPED_TRACE(count);
        fNamespace = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace());
        std::string json = "[{\"name\": \"fs0\", \"path\": \"" + base + "\", \"writable\": true}";
        for (size_t i = 1; i < count; ++i) {
            json += ",\n{\"name\": \"fs" + std::to_string(i) + "\", \"parent\": \"fs" + std::to_string(i - 1) +
                    "\", \"path\": \"a/\"" + (i % 2 == 0 ? ", \"writable\": true" : "") + "}";
        }
        json += "]";
        StErrorContextInstaller errors;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Load(json), VE_OK);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // About a second in a plain build, and a few under sanitizers; the
        // 4,000 entries once took three minutes and more.
        EXPECT_LT(seconds, 100.0);
        EXPECT_TRUE(Codes(errors).empty());

        std::map<VString, VRefPtr<VFileSystem>> map;
        fNamespace->RetainMapOfFileSystems(map, 0);
        size_t registered = 0;
        std::string root = base;
        for (size_t i = 0; i < count; ++i, root += "a/") {
            VRefPtr<VFileSystem> fs = Find(*fNamespace, ("fs" + std::to_string(i)).c_str(), 0);
            // The root is checked by its text without the final '/'.
            bool fits = root.size() - 1 < PATH_MAX;
            ASSERT_EQ(bool(fs), fits) << i;
            if (!fs)
                continue;
            ++registered;
            ASSERT_EQ(RootOf(fs), root) << i;
            ASSERT_EQ(fs->GetFlags(), i % 2 == 0 ? eFSWritable : 0u) << i;
        }
        EXPECT_EQ(map.size(), registered);
        EXPECT_GE(registered, count < 1500 ? count : 1000u);
        if (count == 4000u) {
            EXPECT_LT(registered, count);
        }
        // A deep file system names its files as any other.
        std::string deep = "fs" + std::to_string(registered / 2);
        VRefPtr<IFile> file =
            VRefPtr<IFile>::Adopt(fNamespace->RetainFile(VString(("/" + deep + "/x.txt").c_str()), nullptr, 0, false));
        ASSERT_TRUE(file);
        EXPECT_EQ(file->GetFileSystem()->GetName(), VString(deep.c_str()));
    }
}

// What a chain of definitions refuses: a root that leaves its parent by ".."
// or through a link (even to a grandparent's folder), a link loop, a parent
// missing or defined only later; and what it keeps: links that stay inside.
TEST_F(DefinitionFileTest, ChainedDefinitionsStayInsideTheirParents)
{
    ASSERT_TRUE(fTemp.MakeFolder("docs/a/b"));
    ASSERT_TRUE(fTemp.MakeFolder("docs/c"));
    ASSERT_TRUE(fTemp.WriteFile("docs/a/file", "f"));
    ASSERT_TRUE(fTemp.MakeLink("docs/a/escape", fTemp.Path("other")));
    ASSERT_TRUE(fTemp.MakeLink("docs/a/sibling", "../c"));
    ASSERT_TRUE(fTemp.MakeLink("docs/a/inner", "b"));
    ASSERT_TRUE(fTemp.MakeLink("docs/a/dangling", "../../other/new"));
    ASSERT_TRUE(fTemp.MakeLink("docs/a/loop", "loop"));
    ASSERT_TRUE(fTemp.MakeLink("docs/a/up", ".."));
    struct Case {
        const char* name;
        const char* parent;
        const char* path;
        const char* root;  // below the temporary folder; null: refused
    } cases[] = {
        {"a", "docs", "a", "docs/a/"},
        {"b", "a", "b/", "docs/a/b/"},
        {"deeper", "b", "new/er", "docs/a/b/new/er/"},
        {"climbsOut", "b", "../c", nullptr},            // inside docs, not inside b
        {"climbsBack", "a", "b/../", "docs/a/"},
        {"escape", "a", "escape/", nullptr},
        {"sibling", "a", "sibling/", nullptr},           // a link to docs/c, outside a
        {"inner", "a", "inner/x", "docs/a/inner/x/"},
        {"dangling", "a", "dangling/", nullptr},
        {"loop", "a", "loop/", nullptr},
        {"up", "a", "up/", nullptr},                     // a link to docs, the parent's parent
        {"orphan", "gone", "x", nullptr},
        {"early", "late", "x", nullptr},                 // its parent comes after it
        {"late", "a", "late", "docs/a/late/"},
        {"underRefused", "escape", "x", nullptr},
    };
    std::string json = "[";
    for (const Case& c : cases) {
        json += std::string(json.size() > 1 ? ",\n" : "") + "{\"name\": \"" + c.name + "\", \"parent\": \"" +
                c.parent + "\", \"path\": \"" + c.path + "\"}";
    }
    json += "]";
    EXPECT_EQ(Load(json), VE_OK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VRefPtr<VFileSystem> fs = Find(*fNamespace, c.name, 0);
        ASSERT_EQ(bool(fs), c.root != nullptr);
        if (fs) {
            EXPECT_EQ(RootOf(fs), fTemp.Path(c.root));
        }
    }
}

TEST_F(DefinitionFileTest, FilesThatAreNoArrayOrNoJSON)
{
    {
        StErrorContextInstaller errors;
        EXPECT_EQ(Load("{\"name\": \"x\", \"path\": \"/tmp/\"}"), VE_OK);
        EXPECT_FALSE(Find(*fNamespace, "x", 0));
        EXPECT_TRUE(Codes(errors).empty());
    }
    {
        StErrorContextInstaller errors;
        EXPECT_EQ(Load("[{\"name\": \"x\", \"path\": \"/tmp/\""), VE_JSON_MALFORMED);
        EXPECT_FALSE(Find(*fNamespace, "x", 0));
        ASSERT_FALSE(Codes(errors).empty());
        VErrorBase* last = errors.GetContext()->GetLast();
        EXPECT_EQ(last->GetError(), VE_FS_INVALID_DEFINITION_FILE);
        EXPECT_EQ(Parameter(*last, "path"), Text(fTemp.FilePath("fileSystems.json").GetPath()));
    }
    {
        StErrorContextInstaller errors;
        VRefPtr<VFile> missing = FileIn(fTemp, "nothing.json");
        EXPECT_NE(fNamespace->LoadFromDefinitionFile(missing.Get()), VE_OK);
        EXPECT_EQ(errors.GetContext()->GetLast()->GetError(), VE_FS_INVALID_DEFINITION_FILE);
    }
    {
        StErrorContextInstaller errors;
        EXPECT_EQ(fNamespace->LoadFromDefinitionFile(nullptr), VE_UNKNOWN_ERROR);
        EXPECT_EQ(Codes(errors), std::vector<VError>{VE_UNKNOWN_ERROR});
    }
    EXPECT_EQ(fNamespace->LoadFromJSONArray(nullptr), VE_OK);
}

}  // namespace
}  // namespace bkit::test
