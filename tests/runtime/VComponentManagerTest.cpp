// VComponentManagerTest.cpp - the component registry over the test component
// library, creators, requirements, the small arrays, and the localization
// language of a folder or bundle.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "basekit/files/VFolder.h"
#include "basekit/platform/BundleInfo.h"
#include "basekit/runtime/VComponentManager.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/runtime/VLibrary.h"
#include "runtime/ScopedEnv.h"
#include "support/TempFolder.h"

using namespace bkit;
using bkit::test::TempFolder;

namespace {

constexpr uint32_t kTst1 = MakeOsType("tst1");
constexpr uint32_t kTst2 = MakeOsType("tst2");
constexpr uint32_t kTst3 = MakeOsType("tst3");
constexpr uint32_t kLocal = MakeOsType("locl");
constexpr uint32_t kGated = MakeOsType("gate");
constexpr uint32_t kMut1 = MakeOsType("mut1");
constexpr uint32_t kMut2 = MakeOsType("mut2");
constexpr uint32_t kMut3 = MakeOsType("mut3");

VFilePath LibraryPath()
{
    return VFilePath(VString(BKIT_TEST_COMPONENT_LIBRARY), FPS_POSIX);
}

// Calls a counting function of the test library.
int LibraryCount(const char* name, bool argument = false)
{
    auto library = VRefPtr<VLibrary>::Adopt(new VLibrary(LibraryPath()));
    if (!library->Load())
        return -1;
    if (std::string(name) == "TestMainCalls")
        return reinterpret_cast<int (*)(bool)>(library->GetProcAddress(name))(argument);
    return reinterpret_cast<int (*)()>(library->GetProcAddress(name))();
}

class LocalComponent : public CComponent {
public:
    uint32_t GetComponentType() const override { return kLocal; }
    uint32_t GetComponentKind() const override { return MakeOsType("knd1"); }
    void Retain() override { ++fCount; }
    void Release() override
    {
        if (--fCount == 0)
            delete this;
    }
    const uint32_t* GetRequirements() const override { return fBlock; }
    const uint32_t* GetVersionInfo() const override { return nullptr; }
    static CComponent* Create(uint32_t, uint32_t) { return new LocalComponent; }

private:
    ~LocalComponent() override = default;
    int fCount = 1;
    uint32_t fBlock[13] = {0x10000, 52};
};

// A component of one requirement, counting the live ones.
class RequiringComponent : public CComponent {
public:
    RequiringComponent(uint32_t type, uint32_t version, uint32_t required, uint32_t minimum) : fType(type)
    {
        ++sLive;
        fBlock[10] = 1;
        fBlock[11] = required;
        fBlock[12] = minimum;
        fVersion[5] = version;
    }
    uint32_t GetComponentType() const override { return fType; }
    uint32_t GetComponentKind() const override { return fType; }
    void Retain() override { ++fCount; }
    void Release() override
    {
        if (--fCount == 0)
            delete this;
    }
    const uint32_t* GetRequirements() const override { return fBlock; }
    const uint32_t* GetVersionInfo() const override { return fVersion; }
    static inline std::atomic<int> sLive{0};

private:
    ~RequiringComponent() override { --sLive; }
    uint32_t fType;
    std::atomic<int> fCount{1};
    uint32_t fBlock[13] = {0x10000, 52};
    uint32_t fVersion[6] = {};
};

// 'mut1' (gFirstVersion) needs 'mut2' of version 1; 'mut2' (version 1) needs
// 'mut1' of gSecondNeeds; 'mut3' needs 'mut2' of version 1.
uint32_t gFirstVersion = 1;
uint32_t gSecondNeeds = 1;

CComponent* CreateMutual(uint32_t type, uint32_t)
{
    if (type == kMut1)
        return new RequiringComponent(kMut1, gFirstVersion, kMut2, 1);
    if (type == kMut2)
        return new RequiringComponent(kMut2, 1, kMut1, gSecondNeeds);
    return new RequiringComponent(kMut3, 1, kMut2, 1);
}

std::atomic<bool> gGatedEntered{false};
std::atomic<bool> gGatedGo{false};

// A creator that asks for another component, as a creator may, once the test
// lets it go.
CComponent* CreateGated(uint32_t type, uint32_t kind)
{
    gGatedEntered = true;
    while (!gGatedGo)
        std::this_thread::yield();
    if (CComponent* other = VComponentManager::RetainComponent(kLocal))
        other->Release();
    return LocalComponent::Create(type, kind);
}

// Runs in a child process: a deadlock ends it by the alarm.
void CreateWhileAnotherTaskAsks()
{
    alarm(10);
    if (VComponentManager::RegisterComponentCreator(kLocal, &LocalComponent::Create) != VE_OK ||
        VComponentManager::RegisterComponentCreator(kGated, &CreateGated) != VE_OK)
        _exit(2);
    std::thread creating([] {
        if (CComponent* component = VComponentManager::RetainUniqueComponent(kGated))
            component->Release();
    });
    while (!gGatedEntered)
        std::this_thread::yield();
    std::thread asking([] {
        if (CComponent* component = VComponentManager::RetainComponent(kLocal))
            component->Release();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // lets it reach its wait
    gGatedGo = true;
    creating.join();
    asking.join();
    _exit(0);
}

class ComponentManagerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(VComponentManager::Init()); }
    void TearDown() override { VComponentManager::DeInit(); }
};

}  // namespace

TEST(ComponentManagerUninitialisedTest, AnswersNotInitialised)
{
    ASSERT_FALSE(VComponentManager::IsInitialized());
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(VComponentManager::RegisterComponentLibrary(LibraryPath()), VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    EXPECT_EQ(errors.GetLastError(), VE_COMPONENT_MANAGER_NOT_INITIALIZED);
    EXPECT_EQ(VComponentManager::RetainComponent(kTst1), nullptr);
    EXPECT_FALSE(VComponentManager::IsComponentAvailable(kTst1));
}

TEST_F(ComponentManagerTest, ALibraryServesItsTypesWithTheirRequirements)
{
    // Keeps the library mapped, so that its counters outlive the registry's use.
    auto keeper = VRefPtr<VLibrary>::Adopt(new VLibrary(LibraryPath()));
    ASSERT_TRUE(keeper->Load());
    const int registered = LibraryCount("TestMainCalls", false);
    const int leaving = LibraryCount("TestMainCalls", true);
    ASSERT_EQ(VComponentManager::RegisterComponentLibrary(LibraryPath()), VE_OK);
    EXPECT_EQ(LibraryCount("TestMainCalls", false), registered + 1) << "\"Main\" was told 'regs'";
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kTst1));
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kTst3));
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(VComponentManager::RegisterComponentLibrary(LibraryPath()), VE_COMPONENT_ALREADY_REGISTERED);
    }

    CComponent* first = VComponentManager::RetainComponent(kTst1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetComponentType(), kTst1);
    CComponent* again = VComponentManager::RetainComponent(kTst1);
    EXPECT_EQ(again, first) << "the registered instance is handed out again";

    CComponent* needing = VComponentManager::RetainUniqueComponent(kTst2);
    ASSERT_NE(needing, nullptr) << "'tst1' of version 3 satisfies the minimum 2";
    EXPECT_EQ(VComponentManager::RetainUniqueComponent(kTst3), nullptr) << "'tst1' does not reach version 5";
    CComponent* unchecked = VComponentManager::RetainUniqueComponent(kTst3, kCOMPONENT_ANY_KIND, true);
    ASSERT_NE(unchecked, nullptr);

    VArrayOf<CComponent*> family;
    EXPECT_TRUE(VComponentManager::RetainComponentsOfFamily(kCOMPONENT_ANY_KIND, &family));
    EXPECT_EQ(family.GetCount(), 2) << "'tst3' is unavailable";
    for (int32_t i = 1; i <= family.GetCount(); ++i)
        family.GetNth(i)->Release();

    first->Release();
    again->Release();
    needing->Release();
    unchecked->Release();
    EXPECT_EQ(VComponentManager::UnRegisterComponentLibrary(LibraryPath()), VE_OK);
    EXPECT_FALSE(VComponentManager::IsComponentAvailable(kTst1));
    EXPECT_EQ(LibraryCount("TestLiveComponents"), 0) << "the registered instances of its types were given back";
    EXPECT_EQ(VComponentManager::UnRegisterComponentLibrary(LibraryPath()), VE_COMPONENT_NOT_REGISTERED);
    EXPECT_EQ(LibraryCount("TestMainCalls", true), leaving + 1) << "\"Main\" was told 'leav' once";

    VComponentManager::DeInit();  // releases the registered instances
    EXPECT_EQ(LibraryCount("TestLiveComponents"), 0) << "every component was given back";
}

// Nothing but the registry keeps the library loaded here, so its last
// reference unloads the code of any instance still registered.
TEST_F(ComponentManagerTest, UnregisteringALibraryDropsTheInstancesOfItsTypesFirst)
{
    const std::pair<const char*, void (*)()> ways[] = {
        {"by library", [] { EXPECT_EQ(VComponentManager::UnRegisterComponentLibrary(LibraryPath()), VE_OK); }},
        {"type by type",
         [] {
             for (uint32_t type : {kTst1, kTst2, kTst3})
                 EXPECT_EQ(VComponentManager::UnRegisterComponentType(type), VE_OK);
         }},
    };
    for (const auto& [name, unregister] : ways) {
        SCOPED_TRACE(name);
        ASSERT_EQ(VComponentManager::RegisterComponentLibrary(LibraryPath()), VE_OK);
        CComponent* instance = VComponentManager::RetainComponent(kTst1);
        ASSERT_NE(instance, nullptr);
        instance->Release();  // the registry's reference is the only one left
        unregister();
        // Asking again walks the registered instances; one of unloaded code would crash it.
        EXPECT_EQ(VComponentManager::RetainComponent(kTst1), nullptr);
    }
}

TEST_F(ComponentManagerTest, LibraryErrors)
{
    TempFolder temp;
    ASSERT_TRUE(temp.WriteFile("empty.so", "no code"));
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(VComponentManager::RegisterComponentLibrary(temp.FilePath("empty.so")), VE_COMPONENT_CANNOT_LOAD_LIBRARY);
    EXPECT_EQ(errors.GetLastError(), VE_COMPONENT_CANNOT_LOAD_LIBRARY);
}

TEST_F(ComponentManagerTest, CreatorsAndInstances)
{
    StErrorContextInstaller errors(false, true);
    ASSERT_EQ(VComponentManager::RegisterComponentCreator(kLocal, &LocalComponent::Create), VE_OK);
    EXPECT_EQ(VComponentManager::RegisterComponentCreator(kLocal, &LocalComponent::Create),
              VE_COMPONENT_ALREADY_REGISTERED);
    CComponent* component = VComponentManager::RetainComponent(kLocal, MakeOsType("knd1"));
    ASSERT_NE(component, nullptr);
    CComponent* sameKind = VComponentManager::RetainComponent(kLocal, kCOMPONENT_ANY_KIND);
    EXPECT_EQ(sameKind, component) << "any kind takes the registered instance";
    sameKind->Release();
    CComponent* otherKind = VComponentManager::RetainComponent(kLocal, MakeOsType("knd2"));
    EXPECT_NE(otherKind, component) << "an instance of another kind is not handed out";
    otherKind->Release();
    EXPECT_EQ(VComponentManager::RegisterComponentInstance(component), VE_COMPONENT_ALREADY_REGISTERED);
    EXPECT_EQ(VComponentManager::UnRegisterComponentInstance(component), VE_OK);
    EXPECT_EQ(VComponentManager::UnRegisterComponentInstance(component), VE_COMPONENT_UNKNOWN);
    EXPECT_EQ(VComponentManager::RegisterComponentInstance(nullptr), VE_INVALID_PARAMETER);
    component->Release();

    EXPECT_EQ(VComponentManager::UnRegisterComponentCreator(kLocal, nullptr), VE_COMPONENT_NOT_REGISTERED);
    EXPECT_EQ(VComponentManager::UnRegisterComponentCreator(kLocal, &LocalComponent::Create), VE_OK);
    EXPECT_EQ(VComponentManager::UnRegisterComponentType(kLocal), VE_COMPONENT_UNKNOWN);
}

TEST_F(ComponentManagerTest, TypesRequiringEachOtherWithMinimumVersions)
{
    struct Case {
        uint32_t firstVersion;
        uint32_t secondNeeds;
        bool available;
    };
    const Case cases[] = {{1, 1, true}, {1, 2, false}, {2, 2, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "'mut2' needs 'mut1' of " << c.secondNeeds);
        gFirstVersion = c.firstVersion;
        gSecondNeeds = c.secondNeeds;
        ASSERT_EQ(VComponentManager::RegisterComponentCreator(kMut1, &CreateMutual), VE_OK);
        ASSERT_EQ(VComponentManager::RegisterComponentCreator(kMut2, &CreateMutual), VE_OK);
        ASSERT_EQ(VComponentManager::RegisterComponentCreator(kMut3, &CreateMutual), VE_OK);
        for (uint32_t type : {kMut1, kMut3}) {
            // 'mut3' meets 'mut2' checked already: the cached answer counts, not only its version.
            CComponent* component = VComponentManager::RetainUniqueComponent(type);
            EXPECT_EQ(component != nullptr, c.available) << (type == kMut1 ? "mut1" : "mut3");
            if (component)
                component->Release();
        }
        EXPECT_EQ(RequiringComponent::sLive.load(), 0) << "every component made for the check was given back";
        VComponentManager::DeInit();  // forgets the checks
        ASSERT_TRUE(VComponentManager::Init());
    }
}

TEST_F(ComponentManagerTest, ACreatorAsksForAComponentWhileAnotherTaskDoesToo)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(CreateWhileAnotherTaskAsks(), ::testing::ExitedWithCode(0), "");
}

TEST(ArrayOfTest, AddNthClampsItsPositionAndKeepsValuesUnique)
{
    VArrayOf<uint32_t> array(2, true);
    EXPECT_EQ(array.AddNth(10, 5), 1) << "past the end appends";
    EXPECT_EQ(array.AddNth(20, 0), 1) << "position 0 inserts at the front";
    EXPECT_EQ(array.AddNth(30, 2), 2);
    EXPECT_EQ(array.AddNth(10, 1), 0) << "a unique array refuses a value it holds";
    ASSERT_EQ(array.GetCount(), 3);
    EXPECT_EQ(array.GetNth(1), 20u);
    EXPECT_EQ(array.GetNth(2), 30u);
    EXPECT_EQ(array.GetNth(3), 10u);

    VArrayIteratorOf<uint32_t> it(&array);
    EXPECT_EQ(it.Next(), 20u) << "Next from the start gives the first element";
    EXPECT_EQ(it.Last(), 10u);
    EXPECT_EQ(it.Previous(), 30u);
    array.DeleteNth(2);
    EXPECT_EQ(array.FindPos(30), 0);
    EXPECT_EQ(array.FindPos(10), 2);
}

TEST(LocalizationLanguageTest, PicksTheFolderOfTheWantedDialect)
{
    struct Case {
        std::vector<std::string> folders;
        uint32_t wanted;
        uint32_t expected;
    };
    const Case cases[] = {
        {{"en.lproj"}, 1036, 1033},                       // only English: English
        {{"en.lproj", "fr.lproj"}, 1036, 1036},           // the wanted one
        {{"English.lproj", "de.lproj"}, 1036, 1033},      // English by its ISO name
        {{"de.lproj"}, 1036, 1031},                       // the last examined
        {{"Other", "xx-notalanguage.lproj"}, 1036, static_cast<uint32_t>(-2)},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        for (const std::string& name : c.folders)
            ASSERT_TRUE(temp.MakeFolder(name));
        VFolder folder(temp.FolderPath());
        EXPECT_EQ(VComponentManager::GetLocalizationLanguage(&folder, false, c.wanted), c.expected)
            << c.folders.front();
    }
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(nullptr, false, 1036), static_cast<uint32_t>(-2));
}

TEST(LocalizationLanguageTest, ABundleIsExaminedInItsResources)
{
    TempFolder temp;
    ASSERT_TRUE(temp.MakeFolder("App.app") && temp.MakeFolder("App.app/Contents") &&
                temp.MakeFolder("App.app/Contents/Resources") && temp.MakeFolder("App.app/Contents/Resources/fr.lproj"));
    VFolder bundle(temp.FolderPath("App.app"));
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(&bundle, true, 1036), 1036u);
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(&bundle, false, 1036), static_cast<uint32_t>(-2));
}

TEST(LocalizationLanguageTest, DialectZeroAsksTheMainBundle)
{
    TempFolder temp;
    ASSERT_TRUE(temp.MakeFolder("Main.app") && temp.MakeFolder("Main.app/Contents") &&
                temp.MakeFolder("Main.app/Contents/MacOS") && temp.MakeFolder("Main.app/Contents/Resources") &&
                temp.MakeFolder("Main.app/Contents/Resources/en.lproj") &&
                temp.MakeFolder("Main.app/Contents/Resources/de.lproj"));
    VFolder folder(temp.FolderPath());
    platform::BundleInfo::SetExecutablePathForTesting(temp.Path("Main.app/Contents/MacOS/Main").c_str());
    {
        bkit::test::StEnv language("LANGUAGE", "de_DE:en");
        EXPECT_EQ(VComponentManager::GetLocalizationLanguage(&folder, false, 0), 1031u);
    }
    {
        bkit::test::StEnv language("LANGUAGE", "ja");
        EXPECT_EQ(VComponentManager::GetLocalizationLanguage(&folder, false, 0), 1033u) << "English when nothing matches";
    }
    platform::BundleInfo::SetExecutablePathForTesting(nullptr);
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(&folder, false, 0), 1033u) << "no main bundle";
}
