// VJSONPointerResolverTest.cpp - "$ref" resolution: references to references
// in any order, cycles, documents kept inside the base folder or their file
// system, merges that end, and long chains on a small task stack.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "basekit/files/IFile.h"
#include "basekit/files/VFileSystemNamespace.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONArray.h"
#include "basekit/json/VJSONObject.h"
#include "basekit/json/VJSONPointerResolver.h"
#include "basekit/json/VJSONWriter.h"
#include "basekit/platform/LocaleStringCompare.h"
#include "basekit/runtime/VTask.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

constexpr size_t kSmallStack = 128 * 1024;

VJSONValue Parse(const std::string& text)
{
    VJSONValue value;
    VString source;
    source.FromCString(text.c_str());
    EXPECT_EQ(value.ParseFromString(source), 0) << text;
    return value;
}

std::string Compact(const VJSONValue& value)
{
    if (value.IsUndefined())
        return "undefined";
    VString text;
    EXPECT_EQ(value.Stringify(text, 1), 0u);
    return to_string(text);
}

// Runs work on a task with a small stack and waits for it; a run that does
// not end in time stops the program rather than leave a task using this
// frame's variables.
void RunOnSmallStack(std::function<void()> work)
{
    VTask* task = new VTask(kSmallStack, eTaskStylePreemptive, std::move(work));
    ASSERT_TRUE(task->Run());
    if (!task->WaitForDeath(120000)) {
        ADD_FAILURE() << "the resolver did not return";
        std::abort();
    }
    task->Release();
}

struct Record {
    int code;
    std::string uri;
    bool operator==(const Record&) const = default;
    friend void PrintTo(const Record& r, std::ostream* os) { *os << r.code << " " << r.uri; }
};

std::vector<Record> Errors(const VJSONPointerResolver& resolver)
{
    std::vector<Record> out;
    if (VJSONArray* errors = resolver.GetErrors().GetArray()) {
        for (size_t i = 0; i < errors->GetCount(); ++i) {
            VJSONValue record = errors->GetAt(i);
            VString uri;
            record.GetProperty(VString("pointerURI")).GetString(uri);
            out.push_back({static_cast<int>(record.GetProperty(VString("code")).GetNumber()), to_string(uri)});
        }
    }
    return out;
}

std::vector<int> Codes(const VJSONPointerResolver& resolver)
{
    std::vector<int> out;
    for (const Record& r : Errors(resolver))
        out.push_back(r.code);
    return out;
}

// One call of ResolveRecursively over a document text, keeping what it gave.
struct Resolved {
    VJSONValue value;
    std::vector<Record> errors;
    std::vector<std::string> files;  // POSIX paths
    size_t cached = 0;

    Resolved(const std::string& text, bool merge, IFolder* base = nullptr, VFileSystemNamespace* ns = nullptr)
        : value(Parse(text))
    {
        VJSONFileCache* cache = new VJSONFileCache();
        VJSONPointerResolver* resolver = ns ? new VJSONPointerResolver(value, base, ns, cache)
                                            : new VJSONPointerResolver(value, base, cache);
        std::vector<IFile*> loaded;
        resolver->ResolveRecursively(value, merge, &loaded);
        errors = Errors(*resolver);
        for (IFile*& file : loaded) {
            VString path;
            file->GetPath().GetPosixPath(path);
            files.push_back(to_string(path));
            ReleaseRefCountable(&file);
        }
        cached = cache->GetCount();
        resolver->Release();
        cache->Release();
    }
    std::string Text() const { return Compact(value); }
};

TEST(VJSONPointerResolver, ReferencesResolveToTheFinalValueInAnyOrder)
{
    struct Case {
        const char* text;
        bool merge;
        const char* expected;
    };
    const Case cases[] = {
        // A reference to a reference, both member orders.
        {R"({"a":{"$ref":"#/b"},"b":{"$ref":"#/c"},"c":1})", false, R"({"a":1,"b":1,"c":1})"},
        {R"({"c":1,"b":{"$ref":"#/c"},"a":{"$ref":"#/b"}})", false, R"({"c":1,"b":1,"a":1})"},
        {R"({"a":{"$ref":"#/b"},"b":{"$ref":"#/c"},"c":1})", true, R"({"a":1,"b":1,"c":1})"},
        // A pointer that passes through a reference leaves that reference
        // resolved too, and the object it passed through is still walked.
        {R"({"a":{"$ref":"#/b/x"},"b":{"$ref":"#/c"},"c":{"x":2}})", false,
         R"({"a":2,"b":{"x":2},"c":{"x":2}})"},
        {R"({"a":{"$ref":"#/b/x"},"b":{"x":1,"y":{"$ref":"#/c"}},"c":2})", false,
         R"({"a":1,"b":{"x":1,"y":2},"c":2})"},
        // Merging through a chain: each link adds its own members.
        {R"({"a":{"$ref":"#/b","k":1},"b":{"$ref":"#/c","m":2},"c":{"n":3}})", true,
         R"({"a":{"n":3,"m":2,"k":1},"b":{"n":3,"m":2},"c":{"n":3}})"},
    };
    for (const Case& c : cases) {
        Resolved run(c.text, c.merge);
        EXPECT_EQ(run.Text(), c.expected) << c.text;
        EXPECT_TRUE(run.errors.empty()) << c.text;
    }
}

TEST(VJSONPointerResolver, CyclesOfReferencesAreRecordedAndEnd)
{
    struct Case {
        const char* text;
        bool merge;
        std::vector<Record> errors;
        const char* after;  // null: unchanged, unresolvable references staying in their objects
    };
    const Case cases[] = {
        {R"({"c":{"$ref":"#/d"},"d":{"$ref":"#/c"}})", false, {{908, "#/c"}, {908, "#/d"}}, nullptr},
        {R"({"c":{"$ref":"#/d"},"d":{"$ref":"#/c"}})", true, {{908, "#/c"}, {908, "#/d"}}, nullptr},
        {R"({"a":{"$ref":"#/a"}})", false, {{908, "#/a"}}, nullptr},
        {R"({"a":{"$ref":"#/b/x"},"b":{"$ref":"#/a/y"}})", false, {{908, "#/a/y"}, {908, "#/b/x"}}, nullptr},
        // Resting on a cycle is failing with it.
        {R"({"e":{"$ref":"#/c"},"c":{"$ref":"#/d"},"d":{"$ref":"#/c"}})", false,
         {{908, "#/c"}, {908, "#/d"}, {908, "#/c"}}, nullptr},
        // The document itself as its own target: merging must not start over
        // with a new object that still holds "$ref". The root, not being in
        // an object, becomes undefined.
        {R"({"$ref":"#","":0})", true, {{908, "#"}}, "undefined"},
        {R"({"$ref":"#","":0})", false, {{908, "#"}}, "undefined"},
    };
    for (const Case& c : cases) {
        std::vector<Record> errors;
        std::string text;
        RunOnSmallStack([&] {
            Resolved run(c.text, c.merge);
            errors = run.errors;
            text = run.Text();
        });
        EXPECT_EQ(errors, c.errors) << c.text << (c.merge ? " merged" : "");
        EXPECT_EQ(text, c.after ? c.after : Compact(Parse(c.text))) << c.text;
    }
}

TEST(VJSONPointerResolver, LongChainsAndDeepGraphsEndOnASmallStack)
{
    constexpr int kLinks = 20000;
    // Each reference points through the next one.
    std::string through = "{";
    for (int i = 0; i < kLinks; ++i)
        through += "\"r" + std::to_string(i) + "\":{\"$ref\":\"#/r" + std::to_string(i + 1) + "/x\"},";
    through += "\"r" + std::to_string(kLinks) + "\":{\"x\":{\"x\":7}}}";
    // Each reference designates the next one.
    std::string chain = "{";
    for (int i = 0; i < kLinks; ++i)
        chain += "\"r" + std::to_string(i) + "\":{\"$ref\":\"#/r" + std::to_string(i + 1) + "\"},";
    chain += "\"r" + std::to_string(kLinks) + "\":7}";
    // A reference below more nested arrays than a recursive walk can enter.
    VJSONValue nestedValue(JSON_array);
    VJSONValue innermost(JSON_array);
    nestedValue.GetArray()->Push(innermost);
    nestedValue.GetArray()->Push(VJSONValue(42.0));
    for (int i = 0; i < kLinks; ++i) {
        VJSONValue next(JSON_array);
        innermost.GetArray()->Push(next);
        innermost = next;
    }
    innermost.GetArray()->Push(Parse(R"({"$ref":"#/1"})"));

    VJSONValue throughValue = Parse(through), chainValue = Parse(chain);
    std::vector<int> throughCodes, chainCodes, nestedCodes;
    RunOnSmallStack([&] {
        for (auto [value, codes] : {std::pair{&throughValue, &throughCodes}, std::pair{&chainValue, &chainCodes},
                                    std::pair{&nestedValue, &nestedCodes}}) {
            VJSONPointerResolver* resolver = new VJSONPointerResolver(*value, nullptr, nullptr);
            resolver->ResolveRecursively(*value, false, nullptr);
            *codes = Codes(*resolver);
            resolver->Release();
        }
    });
    // The last two links resolve; the one before passes through a number.
    auto link = [&](int i) { return Compact(throughValue.GetProperty(VString(("r" + std::to_string(i)).c_str()))); };
    EXPECT_EQ(link(kLinks - 1), R"({"x":7})");
    EXPECT_EQ(link(kLinks - 2), "7");
    EXPECT_EQ(link(kLinks - 3), R"({"$ref":"#/r)" + std::to_string(kLinks - 2) + R"(/x"})");
    EXPECT_EQ(link(0), R"({"$ref":"#/r1/x"})");
    ASSERT_FALSE(throughCodes.empty());
    EXPECT_EQ(throughCodes.front(), 910);
    EXPECT_EQ(chainCodes, std::vector<int>{});
    EXPECT_EQ(chainValue.GetProperty(VString("r0")).GetNumber(), 7.0);
    EXPECT_EQ(nestedCodes, std::vector<int>{});
    EXPECT_EQ(innermost.GetArray()->GetAt(0).GetNumber(), 42.0);
}

// A base folder with documents inside, a folder beside it that references
// must never reach, and links from the one to the other.
class VJSONPointerResolverFiles : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::TempFolderTest::SetUp();
        ASSERT_TRUE(fTemp.MakeFolder("outside"));
        ASSERT_TRUE(fTemp.WriteFile("outside/secret.json", R"({"secret":"s"})"));
        ASSERT_TRUE(fTemp.MakeFolder("base"));
        ASSERT_TRUE(fTemp.MakeFolder("base/sub"));
        ASSERT_TRUE(fTemp.MakeFolder("base/docs"));
        ASSERT_TRUE(fTemp.WriteFile("base/doc.json", R"({"x":5,"y":{"$ref":"sub/other.json#/z"}})"));
        ASSERT_TRUE(fTemp.WriteFile("base/sub/other.json",
                                    R"({"z":{"$ref":"../doc.json#/x"},"w":{"$ref":"#/v"},"v":3,)"
                                    R"("m":{"$ref":"missing.json"}})"));
        ASSERT_TRUE(fTemp.WriteFile("base/docs/a.json", R"({"v":{"$ref":"b.json#/v"}})"));
        ASSERT_TRUE(fTemp.WriteFile("base/docs/b.json", R"({"v":"in docs"})"));
        ASSERT_TRUE(fTemp.MakeLink("base/out", fTemp.Path("outside")));
        ASSERT_TRUE(fTemp.MakeLink("base/secret.json", fTemp.Path("outside/secret.json")));
        ASSERT_TRUE(fTemp.MakeLink("base/docs/up", fTemp.Path("base")));
        ASSERT_TRUE(fTemp.MakeLink("base/inner.json", fTemp.Path("base/docs/b.json")));
        fBase = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.FolderPath("base")));
    }

    std::string Base(const std::string& name) const { return fTemp.Path("base/" + name); }

    VRefPtr<VFolder> fBase;
};

TEST_F(VJSONPointerResolverFiles, DocumentsOutsideTheBaseFolderAreNeverRead)
{
    const std::string outside = fTemp.Path("outside/secret.json");
    const char* refused[] = {
        "../outside/secret.json#/secret",
        "%2e%2e/outside/secret.json#/secret",
        "%2E%2E%2Foutside%2Fsecret.json#/secret",
        "sub/../../outside/secret.json#/secret",
        "./sub/./../../outside/secret.json#/secret",
        "sub//../../outside/secret.json#/secret",
        "out/secret.json#/secret",  // a folder link leading out
        "secret.json#/secret",      // a file link leading out
        "/etc/passwd",
        "..%5Coutside%5Csecret.json#/secret",
        "doc.json%00#/x",
    };
    for (const char* uri : refused) {
        const std::string text = std::string(R"({"r":{"$ref":")") + uri + R"("}})";
        Resolved run(text, false, fBase.Get());
        EXPECT_EQ(run.Text(), text) << uri;
        ASSERT_EQ(run.errors.size(), 1u) << uri;
        EXPECT_EQ(run.errors[0], (Record{913, uri})) << uri;
        EXPECT_TRUE(run.files.empty()) << uri;
        EXPECT_EQ(run.cached, 0u) << uri;
    }
    // Climbing that stays inside, and a link that stays inside, are fine.
    ASSERT_TRUE(fTemp.WriteFile("base/sub/\xC3\xA9t\xC3\xA9.json", "[8]"));
    Resolved inside(R"({"a":{"$ref":"sub/../doc.json#/x"},"b":{"$ref":"./docs/../inner.json#/v"},)"
                    R"("c":{"$ref":"sub/%C3%A9t\u00e9.json#/0"}})",
                    false, fBase.Get());
    EXPECT_EQ(inside.Text(), R"({"a":5,"b":"in docs","c":8})");
    EXPECT_TRUE(inside.errors.empty());
}

TEST_F(VJSONPointerResolverFiles, ReferencesAcrossFilesResolveAgainstTheirOwnDocument)
{
    Resolved run(fTemp.ReadFile("base/doc.json"), false, fBase.Get());
    // other.json#/z is itself a reference back into doc.json.
    EXPECT_EQ(run.Text(), R"({"x":5,"y":5})");
    Resolved many(R"({"z":{"$ref":"sub/other.json#/z"},"w":{"$ref":"sub/other.json#/w"},)"
             R"("m":{"$ref":"sub/other.json#/m"},"again":{"$ref":"sub/./other.json#/v"}})",
             false, fBase.Get());
    // "#/v" inside other.json names other.json's own member.
    EXPECT_EQ(many.value.GetProperty(VString("w")).GetNumber(), 3.0);
    EXPECT_EQ(many.value.GetProperty(VString("z")).GetNumber(), 5.0);
    EXPECT_EQ(many.value.GetProperty(VString("again")).GetNumber(), 3.0);
    // A failure inside another document is reported to the caller's resolver.
    ASSERT_FALSE(many.errors.empty());
    EXPECT_EQ(many.errors[0], (Record{913, "missing.json"}));
    // Each document loaded is listed once.
    EXPECT_EQ(many.files, (std::vector<std::string>{Base("doc.json"), Base("sub/other.json")}));
}

TEST_F(VJSONPointerResolverFiles, FileSystemPathsStayInsideTheirFileSystem)
{
    VFileSystemNamespace* ns = new VFileSystemNamespace();
    VFolder docs(fTemp.FolderPath("base/docs"));
    ASSERT_EQ(ns->RegisterFileSystem(VString("docs"), &docs, 0), 0u);
    struct Case {
        const char* uri;
        const char* expected;  // null: refused with 913
    };
    const Case cases[] = {
        {"/docs/a.json#/v", "\"in docs\""},  // a.json's own "b.json" is taken inside docs
        {"/docs/b.json#/v", "\"in docs\""},
        {"sub/../docs/b.json#/v", "\"in docs\""},  // relative texts still go to the base folder
        {"/docs/../doc.json#/x", nullptr},
        {"/docs/up/doc.json#/x", nullptr},  // a link out of the file system
        {"/nowhere/a.json#/v", nullptr},
        {"/docs/", nullptr},
        {"../outside/secret.json#/secret", nullptr},
    };
    for (const Case& c : cases) {
        const std::string text = std::string(R"({"r":{"$ref":")") + c.uri + R"("}})";
        Resolved run(text, false, fBase.Get(), ns);
        if (c.expected) {
            EXPECT_EQ(Compact(run.value.GetProperty(VString("r"))), c.expected) << c.uri;
            EXPECT_TRUE(run.errors.empty()) << c.uri;
        } else {
            EXPECT_EQ(run.Text(), text) << c.uri;
            EXPECT_EQ(run.errors, (std::vector<Record>{{913, c.uri}})) << c.uri;
            EXPECT_EQ(run.cached, 0u) << c.uri;
        }
    }
    // Without a namespace a text beginning with '/' names no document.
    Resolved plain(R"({"r":{"$ref":"/docs/b.json#/v"}})", false, fBase.Get());
    EXPECT_EQ(plain.errors, (std::vector<Record>{{913, "/docs/b.json#/v"}}));
    ns->Release();
}

TEST(VJSONPointerResolver, PointersFollowTheRulesOfTheirTokens)
{
    struct Case {
        const char* uri;
        const char* expected;  // null: unresolved
        int code;
    };
    // "a\uFF5E1b" and "a~\uFF11b" hold a full-width tilde or digit, which are no escapes.
    const char* root =
        R"({"a/b":[7],"a~1":"tilde","a\uFF5E1b":"wide tilde","a~\uFF11b":"wide one","list":[1,2],"n":4,"o":{"":"empty"}})";
    const Case cases[] = {
        {"#/a~1b/0", "7", 0},   {"#/a~01", "\"tilde\"", 0}, {"#/o/", "\"empty\"", 0},
        {"#/a\xEF\xBD\x9E" "1b", "\"wide tilde\"", 0}, {"#/a~\xEF\xBC\x91" "b", "\"wide one\"", 0},
        {"#/list/01", nullptr, 907}, {"#/list/-", nullptr, 909}, {"#/list/9", nullptr, 906},
        {"#/list/", nullptr, 907},   {"#/list/x", nullptr, 907}, {"#/n/x", nullptr, 910},
        {"#n", nullptr, 907},        {"#/none", nullptr, 906},  {"http://host/doc#/", nullptr, 909},
        {"#/list/99999999999999999999999", nullptr, 906},
    };
    for (const Case& c : cases) {
        VJSONValue document = Parse(root);
        VJSONPointerResolver* resolver = new VJSONPointerResolver(document, nullptr, nullptr);
        VJSONObject* reference = new VJSONObject();
        reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(VString(c.uri)));
        VJSONValue result;
        EXPECT_TRUE(resolver->ResolveOnePointer(reference, true, result)) << c.uri;
        if (c.expected)
            EXPECT_EQ(Compact(result), c.expected) << c.uri;
        else
            EXPECT_TRUE(result.IsUndefined()) << c.uri;
        EXPECT_EQ(Codes(*resolver), c.code ? std::vector<int>{c.code} : std::vector<int>{}) << c.uri;
        reference->Release();
        resolver->Release();
    }
}

TEST(VJSONPointerResolver, AnEscapedTokenIsUnescapedInOnePass)
{
    // A member named by 20,000 slashes, reached through as many "~1": the
    // token is unescaped exactly, with no search per escape.
    constexpr size_t kSlashes = 20000;
    const std::string name(kSlashes, '/');
    std::string pointer = "#/";
    for (size_t i = 0; i < kSlashes; ++i)
        pointer += "~1";
    VJSONValue document = Parse("{\"" + name + "\":1}");
    VJSONPointerResolver* resolver = new VJSONPointerResolver(document, nullptr, nullptr);
    VJSONObject* reference = new VJSONObject();
    reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(VString(pointer.c_str())));
    const uint64_t before = platform::StringComparer::GetSearchedUnitsForTesting();
    VJSONValue result;
    EXPECT_TRUE(resolver->ResolveOnePointer(reference, true, result));
    EXPECT_EQ(Compact(result), "1");
    EXPECT_TRUE(Codes(*resolver).empty());
    EXPECT_LE(platform::StringComparer::GetSearchedUnitsForTesting() - before, 4 * pointer.size());
    reference->Release();
    resolver->Release();
}

TEST(VJSONPointerResolver, MergeKeepsTheReferenceMembersOverTheTarget)
{
    const char* text = R"({"t":{"b":1,"c":3},"m":{"$ref":"#/t","b":2},"only":{"$ref":"#/t"}})";
    Resolved merged(text, true);
    EXPECT_EQ(merged.Text(), R"({"t":{"b":1,"c":3},"m":{"b":2,"c":3},"only":{"b":1,"c":3}})");
    VJSONValue plain = Parse(text);
    VJSONPointerResolver* resolver = new VJSONPointerResolver(plain, nullptr, nullptr);
    resolver->ResolveRecursively(plain, false, nullptr);
    // Without merging the reference becomes the designated object itself.
    EXPECT_EQ(plain.GetProperty(VString("m")).GetObject(), plain.GetProperty(VString("t")).GetObject());
    resolver->Release();
}

TEST(VJSONPointerResolver, FirstErrorsAreKeptThenCounted)
{
    const size_t kept = VJSONPointerResolver::kErrorRecordsKept;
    for (size_t failing : {kept, kept + 50}) {
        std::string text = R"({"a":[)";
        for (size_t i = 0; i < failing; ++i)
            text += std::string(i ? "," : "") + R"({"$ref":"#/none)" + std::to_string(i) + R"("})";
        text += "]}";
        VJSONValue document = Parse(text);
        VJSONPointerResolver* resolver = new VJSONPointerResolver(document, nullptr, nullptr);
        resolver->ResolveRecursively(document, false, nullptr);
        const std::vector<Record> errors = Errors(*resolver);
        const bool counted = failing > kept;
        ASSERT_EQ(errors.size(), kept + (counted ? 1 : 0)) << failing;
        // The first ones as each reference failed.
        for (size_t i = 0; i < kept; ++i)
            EXPECT_EQ(errors[i], (Record{906, "#/none" + std::to_string(i)})) << i;
        if (counted) {
            VJSONValue last = resolver->GetErrors().GetArray()->GetAt(kept);
            EXPECT_EQ(errors.back().code, 918);
            EXPECT_EQ(last.GetProperty(VString("count")).GetNumber(), static_cast<double>(failing - kept));
            VString message;
            last.GetProperty(VString("message")).GetString(message);
            EXPECT_EQ(to_string(message), std::to_string(failing - kept) + " more errors were not kept");
        }
        resolver->Release();
    }
}

// Every merge copies its target: many references to a large object are
// stopped once the copies of one run reach the bound.
TEST(VJSONPointerResolver, MergedCopiesOfOneRunAreBounded)
{
    constexpr size_t kMembers = 1024;
    const size_t references = VJSONPointerResolver::kMergedMembersLimit / kMembers + 10;
    std::string text = R"({"t":{)";
    for (size_t i = 0; i < kMembers; ++i)
        text += std::string(i ? "," : "") + "\"m" + std::to_string(i) + "\":0";
    text += R"(},"a":[)";
    for (size_t i = 0; i < references; ++i)
        text += std::string(i ? "," : "") + R"({"$ref":"#/t","own":1})";
    text += "]}";
    Resolved merged(text, true);
    VJSONArray* elements = merged.value.GetProperty(VString("a")).GetArray();
    ASSERT_TRUE(elements);
    size_t copied = 0;
    size_t refused = 0;
    for (size_t i = 0; i < elements->GetCount(); ++i) {
        VJSONObject* element = elements->GetAt(i).GetObject();
        if (element && element->GetPropertyCount() == kMembers + 1)
            copied += kMembers + 1;
        else
            ++refused;
    }
    // Merged as long as the bound allows, then refused with an error each.
    EXPECT_LE(copied, VJSONPointerResolver::kMergedMembersLimit);
    EXPECT_GT(copied, VJSONPointerResolver::kMergedMembersLimit - 2 * (kMembers + 1));
    EXPECT_GT(refused, 0u);
    ASSERT_FALSE(merged.errors.empty());
    EXPECT_EQ(merged.errors.front(), (Record{919, "#/t"}));
}

}  // namespace
}  // namespace bkit
