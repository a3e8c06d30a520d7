// VLocalizationManagerTest.cpp - a small bundle of XLIFF and strings files loaded for one language.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>

#include <string>
#include <vector>

#include "basekit/bags/VValueBag.h"
#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VTask.h"
#include "basekit/text/Base64Coder.h"
#include "basekit/xml/VLocalizationManager.h"
#include "basekit/xml/VLocalizationXMLHandler.h"
#include "basekit/xml/VXMLParser.h"
#include "support/TempFolder.h"
#include "xml/ChildMemory.h"

namespace bkit::test {
namespace {

constexpr uint32_t kFrench = 1036;

std::string Xliff(const char* targetLanguage, const std::string& body)
{
    std::string file = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xliff version=\"1.2\"><file source-language=\"en\"";
    if (targetLanguage)
        file += std::string(" target-language=\"") + targetLanguage + "\"";
    return file + "><body>" + body + "</body></file></xliff>";
}

std::string Unit(const std::string& resname, const std::string& target, const std::string& extra = "")
{
    return "<trans-unit resname=\"" + resname + "\"" + extra + "><source>src-" + resname + "</source><target>" +
           target + "</target></trans-unit>";
}

class VLocalizationManagerTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolderTest::SetUp();
        for (const char* folder : {"B", "B/Contents", "B/Contents/Resources", "B/Contents/Resources/fr.lproj",
                                   "B/Contents/Resources/de.lproj", "B/Contents/Resources/fr-ca.lproj"})
            ASSERT_TRUE(fTemp.MakeFolder(folder));
        // Read with force whatever its language.
        Write("common.xlf", Xliff("en", "<group id=\"12\" resname=\"Dialog\" restype=\"x-dialog\" extra=\"e\">" +
                                            Unit("OK", "OK-en", " id=\"3\"") + Unit("Cancel", "Cancel-en", " id=\"4\"") +
                                            "<trans-unit id=\"5\" resname=\"Rich\"><source>a <g>b</g> c</source>"
                                            "<alt-trans><target>alt</target></alt-trans></trans-unit></group>" + Unit("Greeting", "Hello") + Unit("Only", "only-base")));
        Write("common.strings", "\xEF\xBB\xBF\"StrKey\" = \"strval\";\n");
        // Exact match: replaces.
        Write("fr.lproj/a.xlf",
              Xliff("fr", Unit("Greeting", "Bonjour") + Unit("ERR_bkit_600", "Introuvable {name}") +
                              Unit("ERR_bkit_1234567", "long") + Unit("ERR_bkit_123456", "short") +
                              Unit("ERR_UPQN_65", "upqn") + Unit("ERR_QNRT_-5", "negative") +
                              Unit("Excluded", "no", " zt:includeIf=\"win linux\"") +
                              Unit("NotOnMac", "no", " zt:excludeIf=\"mac\"") +
                              Unit("MacOnly", "yes", " zt:includeIf=\"Mac\"") +
                              Unit("Unknown", "kept", " zt:includeIf=\"beos\"") +
                              Unit("Inline", "Cliquez <g id=\"1\">ici <b>vite</b></g> maintenant") +
                              Unit("EmptyTarget", "") +
                              "<group resname=\"[Main]\"><group resname=\"Dialog\">" + Unit("OK", "D'accord") +
                              "</group></group>"
                              "<group id=\"7\" resname=\"Seven\">" +
                              Unit("s1", "one", " id=\"1\"") + Unit("s2", "two", " id=\"2\"") +
                              Unit("s4", "four", " id=\"4\"") + "</group>"));
        // Near match: fills gaps only.
        Write("fr.lproj/b.xlf", Xliff("fr-CA", Unit("Greeting", "Allo") + Unit("NearOnly", "near")));
        // No target language: not for this language.
        Write("fr.lproj/c.xlf", Xliff(nullptr, Unit("NoTarget", "x")));
        // Another language in the language folder.
        Write("fr.lproj/d.xlf", Xliff("de", Unit("German", "Deutsch")));
        Write("fr.lproj/e.strings",
              "\xEF\xBB\xBF\"StrFr\" = \"valfr\";\n\"Cut\" = \"abc\"\n\"Eq\" = \"a=b\";\n\n  \"Spaced\"\t=  \"v\" ;\n");
        Write("de.lproj/x.xlf", Xliff("de", Unit("German", "Deutsch")));
        Write("fr-ca.lproj/z.xlf", Xliff("fr-CA", Unit("Greeting", "Salut-CA") + Unit("OnlyCA", "ca")));

        fManager = VRefPtr<VLocalizationManager>::Adopt(new VLocalizationManager(kFrench));
        VRefPtr<VFolder> bundle = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("B")));
        ASSERT_TRUE(fManager->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle.Get()));
    }

    void Write(const std::string& name, const std::string& content)
    {
        ASSERT_TRUE(fTemp.WriteFile("B/Contents/Resources/" + name, content));
    }

    // Moves a file's modification time, so that a rewrite within the same
    // second is seen as a change.
    void Touch(const std::string& name, int seconds)
    {
        struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) + seconds, 0}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, fTemp.Path("B/Contents/Resources/" + name).c_str(), times, 0));
    }

    std::string Key(const char* key)
    {
        VString out("<absent>");
        fManager->LocalizeStringWithKey(VString(key), out);
        return to_string(out);
    }

    VRefPtr<VLocalizationManager> fManager;
};

TEST_F(VLocalizationManagerTest, KeysFollowLanguageAndOverwriteRules)
{
    struct Case {
        const char* key;
        const char* expected;
    } cases[] = {
        {"Greeting", "Bonjour"},     // the exact match replaced the forced file's text
        {"greeting", "<absent>"},    // keys are case-sensitive
        {"Only", "only-base"},       // the Resources folder is read whatever its language
        {"NearOnly", "near"},        // a near match fills gaps
        {"NoTarget", "<absent>"},    // a file without target language is no longer taken
        {"German", "<absent>"},      // another language is not taken
        {"Excluded", "<absent>"},    // included on win and linux only
        {"NotOnMac", "<absent>"},
        {"MacOnly", "yes"},          // platform tokens ignore case
        {"Unknown", "kept"},         // no known platform: no condition
        {"Inline", "Cliquez ici vite maintenant"},
        {"EmptyTarget", "src-EmptyTarget"},
        {"[Main]#}[{@Dialog#}[{@OK", "D'accord"},
        {"OK", "OK-en"},             // the bracketed unit went under its bracketed key only
        {"StrKey", "strval"},
        {"StrFr", "valfr"},
        {"Cut", "ab"},               // no final semicolon: the last character goes
        {"Eq", "<absent>"},          // a value holding '=' is ignored
        {"Spaced", "v"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Key(c.key)) << c.key;

    EXPECT_EQ(1u, fManager->GetLanguageFolders().size());  // fr.lproj only
}

TEST_F(VLocalizationManagerTest, RegionalLanguageReadsSeveralFolders)
{
    // French of Canada: fr-ca.lproj, then fr.lproj, where files for plain
    // French only fill gaps and files for French of Canada replace.
    constexpr uint32_t kFrenchCanadian = 3084;
    fManager = VRefPtr<VLocalizationManager>::Adopt(new VLocalizationManager(kFrenchCanadian));
    VRefPtr<VFolder> bundle = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("B")));
    ASSERT_TRUE(fManager->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle.Get()));
    EXPECT_EQ(2u, fManager->GetLanguageFolders().size());
    EXPECT_EQ("ca", Key("OnlyCA"));
    EXPECT_EQ("Allo", Key("Greeting"));  // b.xlf is for French of Canada
    EXPECT_EQ("Introuvable {name}", Key("ERR_bkit_600"));
    EXPECT_EQ("<absent>", Key("German"));
}

TEST_F(VLocalizationManagerTest, NumericCodesGroupsAndErrors)
{
    VString out;
    EXPECT_TRUE(fManager->LocalizeStringWithSTRSharpCodes(STRSharpCodes(12, 3), out));
    EXPECT_EQ("OK-en", to_string(out));
    EXPECT_FALSE(fManager->LocalizeStringWithSTRSharpCodes(STRSharpCodes(12, 6), out));

    std::vector<VString> texts;
    EXPECT_TRUE(fManager->LocalizeGroupOfStringsWithAStrSharpID(7, texts));
    ASSERT_EQ(2u, texts.size());  // 1 and 2; 4 is behind the gap
    EXPECT_EQ("two", to_string(texts[1]));
    EXPECT_FALSE(fManager->LocalizeGroupOfStringsWithAStrSharpID(99, texts));
    EXPECT_TRUE(texts.empty());

    EXPECT_TRUE(fManager->GetOrderedStringsOfGroup(VString("Seven"), texts));
    ASSERT_EQ(3u, texts.size());
    EXPECT_EQ("four", to_string(texts[2]));
    EXPECT_TRUE(fManager->GetOrderedStringsOfGroup(VString("Dialog"), texts));
    EXPECT_EQ("OK-en", to_string(texts[0]));

    struct ErrorCase {
        VError code;
        const char* expected;
    } errors[] = {
        {MakeBKitError(600), "Introuvable {name}"},
        {MakeVError(MakeOsType("UPQN"), 65), "upqn"},
        {MakeVError(MakeOsType("QNRT"), -5), "negative"},
        {MakeBKitError(1234567), "long"},  // the key is not cut to 15 characters
        {MakeBKitError(123456), "short"},
    };
    for (const ErrorCase& e : errors) {
        EXPECT_TRUE(fManager->LocalizeErrorMessage(e.code, out));
        EXPECT_EQ(e.expected, to_string(out));
    }
    EXPECT_FALSE(fManager->LocalizeErrorMessage(MakeBKitError(601), out));

    // Error records describe themselves through the registered manager.
    VErrorBase::RegisterLocalizer(kBKIT_SIGNATURE, fManager.Get());
    VRefPtr<VErrorBase> error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(MakeBKitError(600)));
    error->SetString(VString("name"), VString("x.txt"));
    VString description;
    error->GetErrorDescription(description);
    VErrorBase::UnregisterLocalizer(kBKIT_SIGNATURE);
    EXPECT_EQ("Introuvable x.txt", to_string(description));
}

TEST_F(VLocalizationManagerTest, LookUpsFromSeveralTasksAtOnce)
{
    std::atomic<int> wrong{0};
    std::vector<VTask*> tasks;
    for (int t = 0; t < 4; ++t) {
        tasks.push_back(new VTask(0, eTaskStylePreemptive, [&] {
            // Each task also parses by itself, starting and stopping the
            // library concurrently with the others.
            VXMLParser parser;
            VRefPtr<VNullXMLHandler> sink = VRefPtr<VNullXMLHandler>::Adopt(new VNullXMLHandler);
            std::string xml = "<a><b/></a>";
            for (int i = 0; i < 200; ++i) {
                VString out;
                if (!fManager->LocalizeStringWithKey(VString("Greeting"), out) || out != VString("Bonjour"))
                    ++wrong;
                std::vector<VString> texts;
                if (!fManager->GetOrderedStringsOfGroup(VString("Seven"), texts) || texts.size() != 3)
                    ++wrong;
                if (i % 50 == 0 && !parser.Parse(xml.data(), xml.size(), sink.Get(), XML_ValidateNever))
                    ++wrong;
            }
        }));
    }
    for (VTask* task : tasks)
        ASSERT_TRUE(task->Run());
    for (VTask* task : tasks) {
        EXPECT_TRUE(task->WaitForDeath(20000));
        task->Release();
    }
    EXPECT_EQ(0, wrong.load());
}

TEST_F(VLocalizationManagerTest, ProcessLocalizerAnswersLocalizeString)
{
    ASSERT_TRUE(VProcess::sInstance);
    VProcess::sInstance->SetLocalizer(fManager.Get());
    EXPECT_EQ("Bonjour", to_string(Base64Coder::LocalizeString(VString("Greeting"), "default")));
    EXPECT_EQ("default", to_string(Base64Coder::LocalizeString(VString("Missing"), "default")));
    EXPECT_TRUE(Base64Coder::LocalizeString(VString("Missing"), nullptr).IsEmpty());
    VProcess::sInstance->SetLocalizer(nullptr);
    EXPECT_EQ("default", to_string(Base64Coder::LocalizeString(VString("Greeting"), "default")));
}

TEST_F(VLocalizationManagerTest, GroupBagsByNameAndType)
{
    VRefPtr<const VValueBag> bag = VRefPtr<const VValueBag>::Adopt(fManager->RetainGroupBag(VString("DIALOG")));
    ASSERT_TRUE(bag);
    VString value;
    EXPECT_TRUE(bag->GetString("extra", value));
    EXPECT_EQ("e", to_string(value));
    EXPECT_TRUE(bag->GetString("resname", value));
    EXPECT_EQ("Dialog", to_string(value));
    VBagArray* units = bag->GetElements("trans-unit");
    ASSERT_TRUE(units);
    // One bag per unit: the inline element neither cut the unit nor added it twice.
    ASSERT_EQ(3, units->GetCount());
    VRefPtr<VValueBag> second = VRefPtr<VValueBag>::Adopt(units->RetainNth(2));
    EXPECT_TRUE(second->GetString("target", value));
    EXPECT_EQ("Cancel-en", to_string(value));
    EXPECT_TRUE(second->GetString("id", value));
    EXPECT_EQ("4", to_string(value));
    VRefPtr<VValueBag> rich = VRefPtr<VValueBag>::Adopt(units->RetainNth(3));
    EXPECT_TRUE(rich->GetString("target", value));
    EXPECT_EQ("a b c", to_string(value));
    VBagArray* alternatives = rich->GetElements("alt-trans");
    ASSERT_TRUE(alternatives);
    ASSERT_EQ(1, alternatives->GetCount());
    VRefPtr<VValueBag> alternative = VRefPtr<VValueBag>::Adopt(alternatives->RetainNth(1));
    EXPECT_TRUE(alternative->GetString("target", value));
    EXPECT_EQ("alt", to_string(value));

    std::vector<VRefPtr<const VValueBag>> byType;
    fManager->RetainGroupBagsByRestype(VString("x-dialog"), byType);
    EXPECT_EQ(1u, byType.size());
    EXPECT_EQ(nullptr, fManager->RetainGroupBag(VString("Seven")));  // no restype, no bag
}

// Every group with a type is kept: an entity that repeats groups counts
// against the parse's memory cap, and the reading stops there.
TEST_F(VLocalizationManagerTest, GroupsFromEntitiesAreBoundedByTheParseMemory)
{
    constexpr size_t kGroups = 200000;
    std::string thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += "<group restype='many'/>";
    std::string body;
    for (size_t i = 0; i < kGroups / 1000; ++i)
        body += "&g;";
    const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE xliff [<!ENTITY g \"" + thousand +
                            "\">]>\n<xliff version=\"1.2\"><file source-language=\"en\" target-language=\"fr\"><body>" +
                            body + "</body></file></xliff>";
    ASSERT_TRUE(fTemp.WriteFile("many.xlf", xml));
    // The manager reads the file as a string: two bytes a character. A group
    // is an element and an attribute.
    const size_t cap = XMLParseMemoryCap(xml.size() * sizeof(UniChar));
    ASSERT_GT(kGroups * 2 * kXMLHandlerNodeBytes, cap);

    VLocalizationManager manager(kFrench);
    VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("many.xlf")));
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(VE_OK, manager.AnalyzeXLIFFFile(file.Get(), false));
    EXPECT_EQ(VE_XML_FATAL_ERROR, errors.GetLastError());
    std::vector<VRefPtr<const VValueBag>> kept;
    manager.RetainGroupBagsByRestype(VString("many"), kept);
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LE(kept.size() * 2 * kXMLHandlerNodeBytes, cap);
}

std::string Group(const std::string& resname, const std::string& content)
{
    return (resname.empty() ? std::string("<group>") : "<group resname=\"" + resname + "\">") + content + "</group>";
}

std::string IdUnit(int id, const std::string& target, const std::string& resname = "")
{
    return Unit(resname.empty() ? "" : resname, target, " id=\"" + std::to_string(id) + "\"");
}

// A unit belongs to every group around it, at any depth, under its id; a
// later unit of the same id replaces an earlier one in every group it shares.
TEST_F(VLocalizationManagerTest, NestedGroupsHoldTheUnitsOfEveryLevel)
{
    const std::string body =
        Group("Outer", Group("Mid", Group("Inner", IdUnit(1, "i1") + IdUnit(2, "i2")) + IdUnit(3, "m3")) +
                           IdUnit(4, "o4") + Group("Inner", IdUnit(1, "i1-later")) + Group("NoUnits", "")) +
        // Nameless levels gather under the empty name; a name nested in
        // itself holds its units once.
        Group("", Group("Same", Group("Same", IdUnit(5, "s5")) + IdUnit(6, "s6"))) +
        // A bracketed pair makes a key, and the unit goes to no group.
        Group("[Top]", Group("Pane", IdUnit(7, "key-only", "Button") + IdUnit(8, "p8"))) +
        IdUnit(9, "outside");
    ASSERT_TRUE(fTemp.WriteFile("nested.xlf", Xliff("fr", body)));
    // Cut off inside an open group: what was read before stays with it.
    ASSERT_TRUE(fTemp.WriteFile("cut.xlf", "<xliff><file target-language=\"fr\"><body>" +
                                              Group("Cut", Group("CutInner", IdUnit(1, "c1")) + IdUnit(2, "c2")) +
                                              "<group resname=\"CutOpen\">" + IdUnit(3, "c3") + "<oops"));
    VLocalizationManager manager(kFrench);
    for (const char* name : {"nested.xlf", "cut.xlf"}) {
        VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath(name)));
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(VE_OK, manager.LoadFile(file.Get(), false)) << name;
    }

    struct Case {
        const char* group;
        std::vector<std::string> texts;  // in ascending id order; none: no such group
    } const cases[] = {
        {"Inner", {"i1-later", "i2"}},
        {"Mid", {"i1", "i2", "m3"}},
        {"Outer", {"i1-later", "i2", "m3", "o4"}},
        {"NoUnits", {}},
        {"", {"s5", "s6"}},
        {"Same", {"s5", "s6"}},
        {"[Top]", {"p8"}},
        {"Pane", {"p8"}},
        {"Cut", {"c1", "c2"}},
        {"CutInner", {"c1"}},
        {"CutOpen", {"c3"}},
        {"Nowhere", {}},
    };
    for (const Case& c : cases) {
        std::vector<VString> texts;
        EXPECT_EQ(!c.texts.empty(), manager.GetOrderedStringsOfGroup(VString(c.group), texts)) << c.group;
        std::vector<std::string> got;
        for (const VString& text : texts)
            got.push_back(to_string(text));
        EXPECT_EQ(c.texts, got) << c.group;
    }
    VString out;
    EXPECT_TRUE(manager.LocalizeStringWithKey(VString("[Top]#}[{@Pane#}[{@Button"), out));
    EXPECT_EQ("key-only", to_string(out));
    EXPECT_FALSE(manager.LocalizeStringWithKey(VString("Button"), out));

    // Emptied with the other tables, and filled again alike.
    EXPECT_TRUE(manager.ClearLocalizations());
    std::vector<VString> texts;
    EXPECT_FALSE(manager.GetOrderedStringsOfGroup(VString("Outer"), texts));
    VRefPtr<VFile> again = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("nested.xlf")));
    EXPECT_EQ(VE_OK, manager.LoadFile(again.Get(), false));
    EXPECT_TRUE(manager.GetOrderedStringsOfGroup(VString("Mid"), texts));
    EXPECT_EQ(3u, texts.size());
}

// Thousands of nested groups around thousands of units: each unit is kept
// once, not once for every group around it, so reading takes memory in step
// with the file (in a child process, so that a reading that runs away fails
// the test instead of the machine).
TEST_F(VLocalizationManagerTest, DeeplyNestedGroupsTakeMemoryInStepWithTheFile)
{
    constexpr int kDepth = 4000;
    std::string body;
    for (int i = 0; i < kDepth; ++i)
        body += "<group resname=\"g" + std::to_string(i) + "\">";
    for (int i = 1; i <= kDepth; ++i)
        body += IdUnit(i, "t" + std::to_string(i), "r" + std::to_string(i));
    for (int i = 0; i < kDepth; ++i)
        body += "</group>";
    const std::string xml = Xliff("fr", body);
    ASSERT_TRUE(fTemp.WriteFile("deep.xlf", xml));
    constexpr size_t kMiB = 1024 * 1024;
    const ChildOutcome outcome = RunInChild(
        [&] {
            VLocalizationManager manager(kFrench);
            VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("deep.xlf")));
            if (manager.LoadFile(file.Get(), false) != VE_OK)
                return false;
            // The outermost and the innermost group each hold every unit.
            for (const char* group : {"g0", "g3999"}) {
                std::vector<VString> texts;
                if (!manager.GetOrderedStringsOfGroup(VString(group), texts) || texts.size() != kDepth ||
                    to_string(texts.back()) != "t4000")
                    return false;
            }
            VString out;
            return manager.LocalizeStringWithKey(VString("r17"), out) && to_string(out) == "t17";
        },
        1024 * kMiB, std::chrono::seconds(120));
    EXPECT_FALSE(outcome.overCeiling);
    EXPECT_FALSE(outcome.overDeadline);
    ASSERT_TRUE(outcome.finished);
    EXPECT_TRUE(outcome.workAnswer);
    // The file is under half a megabyte; the library and the tables hold a
    // few times that.
    EXPECT_LE(outcome.growth, 64 * kMiB);
}

TEST_F(VLocalizationManagerTest, UpdatesWhenXliffFilesChange)
{
    EXPECT_FALSE(fManager->DoesNeedAnUpdate());
    EXPECT_FALSE(fManager->UpdateIfNeeded());

    // A new strings file is no reason to update; a new XLIFF file is.
    Write("fr.lproj/f.strings", "\xEF\xBB\xBF\"New\" = \"n\";\n");
    EXPECT_FALSE(fManager->DoesNeedAnUpdate());
    Write("fr.lproj/g.xlf", Xliff("fr", Unit("Added", "ajout")));
    EXPECT_TRUE(fManager->UpdateIfNeeded());
    EXPECT_EQ("ajout", Key("Added"));
    EXPECT_EQ("n", Key("New"));
    // The Resources folder keeps its force flag through the update.
    EXPECT_EQ("only-base", Key("Only"));
    EXPECT_EQ("Bonjour", Key("Greeting"));

    Write("fr.lproj/a.xlf", Xliff("fr", Unit("Greeting", "Salut")));
    Touch("fr.lproj/a.xlf", 10);
    EXPECT_TRUE(fManager->DoesNeedAnUpdate());
    // The dates were refreshed by the first question.
    EXPECT_FALSE(fManager->DoesNeedAnUpdate());

    Touch("fr.lproj/a.xlf", 20);
    EXPECT_TRUE(fManager->UpdateIfNeeded());
    EXPECT_EQ("Salut", Key("Greeting"));
    EXPECT_EQ("<absent>", Key("ERR_bkit_600"));

    ASSERT_EQ(0, ::unlink(fTemp.Path("B/Contents/Resources/fr.lproj/g.xlf").c_str()));
    EXPECT_TRUE(fManager->UpdateIfNeeded());
    EXPECT_EQ("<absent>", Key("Added"));
}

TEST_F(VLocalizationManagerTest, LoadingErrorsAndSingleFiles)
{
    VLocalizationManager manager(kFrench);
    EXPECT_EQ(VE_INVALID_PARAMETER, manager.ScanAndLoadFolder(nullptr, false));
    VRefPtr<VFolder> missing = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("nowhere")));
    EXPECT_EQ(VE_LOCALIZATION_NOT_FOUND, manager.ScanAndLoadFolder(missing.Get(), false));
    EXPECT_FALSE(manager.LoadDefaultLocalizationFolders(missing.Get()));
    VRefPtr<VFolder> noLanguage = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("B/Contents")));
    EXPECT_FALSE(manager.LoadDefaultLocalizationFolders(noLanguage.Get()));

    VRefPtr<VFile> xliff =
        VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("B/Contents/Resources/fr.lproj/b.xlf")));
    EXPECT_EQ(VE_OK, manager.LoadFile(xliff.Get(), false));
    EXPECT_EQ(VE_OK, manager.LoadFile(xliff.Get(), false));
    VString out;
    EXPECT_TRUE(manager.LocalizeStringWithKey(VString("Greeting"), out));
    EXPECT_EQ("Allo", to_string(out));
    VRefPtr<VFile> strings =
        VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("B/Contents/Resources/common.strings")));
    EXPECT_EQ(VE_LOCALIZATION_NOT_XLIFF, manager.LoadFile(strings.Get(), false));
    EXPECT_TRUE(manager.LocalizeStringWithKey(VString("StrKey"), out));
    // Without byte-order mark a strings file is UTF-16 big-endian.
    std::u16string line = u"\"Wide\" = \"\u00e9t\u00e9\";\n";
    std::string bytes;
    for (char16_t c : line) {
        bytes += static_cast<char>(c >> 8);
        bytes += static_cast<char>(c & 0xFF);
    }
    ASSERT_TRUE(fTemp.WriteFile("wide.strings", bytes));
    VRefPtr<VFile> wide = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("wide.strings")));
    EXPECT_EQ(VE_OK, manager.AnalyzeDotStringsFile(wide.Get()));
    EXPECT_TRUE(manager.LocalizeStringWithKey(VString("Wide"), out));
    EXPECT_EQ("\u00e9t\u00e9", to_string(out));

    // A broken XLIFF keeps what was read before the error.
    ASSERT_TRUE(fTemp.WriteFile("broken.xlf", Xliff("fr", Unit("Before", "b")) + "<oops"));
    VRefPtr<VFile> broken = VRefPtr<VFile>::Adopt(new VFile(fTemp.FilePath("broken.xlf")));
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(VE_OK, manager.LoadFile(broken.Get(), false));
        EXPECT_EQ(VE_XML_FATAL_ERROR, errors.GetLastError());
    }
    EXPECT_TRUE(manager.LocalizeStringWithKey(VString("Before"), out));

    EXPECT_TRUE(manager.ClearLocalizations());
    EXPECT_FALSE(manager.LocalizeStringWithKey(VString("StrKey"), out));
}

}  // namespace
}  // namespace bkit::test
