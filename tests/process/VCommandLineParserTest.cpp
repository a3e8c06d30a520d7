// VCommandLineParserTest.cpp - parse results, messages, value conversion and the help forms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/json/VJSONValue.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/process/VCommandLineParser.h"
#include "support/TempFolder.h"

namespace bkit {
namespace {

std::vector<VString> Args(std::initializer_list<const char*> texts)
{
    std::vector<VString> out;
    for (const char* t : texts)
        out.emplace_back(t);
    return out;
}

// The bindings of a small program: flag, integer, text, bool value, list.
struct Program {
    bool verbose = false;
    int32_t count = -1;
    VString name;
    bool enabled = false;
    std::vector<VString> files;

    void Declare(VCommandLineParser& parser, bool positional)
    {
        parser.AddFlag(verbose, u'v', VString("verbose"), VString("talk more"));
        parser.AddOption(count, u'n', VString("count"), VString("how many"));
        parser.AddOption(name, VString("name"), VString("a name"));
        parser.AddOption(enabled, VString("enabled"), VString("on or off"));
        if (positional)
            parser.AddPositionalArguments(files);
    }
};

struct Outcome {
    int32_t result;
    std::string out;
    std::string err;
};

Outcome ParseWith(Program& program, const std::vector<VString>& args, bool positional = false)
{
    VCommandLineParser parser(args);
    program.Declare(parser, positional);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int32_t result = parser.Parse();
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    return {result, out, err};
}

TEST(VCommandLineParser, RejectedCommandLinesPrintTheirMessage)
{
    const std::string longValue(90, 'z');
    struct Case {
        std::vector<VString> args;
        std::string message;
    } cases[] = {
        {Args({"p", "--nope"}), "error: unknown option `nope`\n"},
        {Args({"p", "--nope=3"}), "error: unknown option `nope`\n"},
        {Args({"p", "-x"}), "error: unknown option `x`\n"},
        {Args({"p", "-vx"}), "error: unknown option `x`\n"},
        {Args({"p", "file"}), "error: unknown option `file`\n"},
        {Args({"p", ""}), "error: unknown option ``\n"},
        {Args({"p", "--help=yes"}), "error: invalid value for option  `help`\n"},
        {Args({"p", "--verbose=1"}), "error: a value for option `verbose` is not required\n"},
        {Args({"p", "--count"}), "error: missing value for option -n, --count\n"},
        {Args({"p", "--name", "-v"}), "error: missing value for option --name\n"},
        {Args({"p", "-"}), "error: missing short option `-`\n"},
        {Args({"p", "--count=12a"}), "invalid value for argument '-n, --count' got \"12a\" expected a signed integral\n"},
        {Args({"p", "--count="}), "invalid value for argument '-n, --count' got empty value  expected a signed integral\n"},
        {Args({"p", "--enabled=maybe"}), "invalid value for argument '--enabled' got \"maybe\" expected 0, 1, true or false\n"},
        {{VString("p"), VString(("--count=" + longValue).c_str())},
         "invalid value for argument '-n, --count' got \"" + longValue.substr(0, 80) + "...\" expected a signed integral\n"},
        // After a blank, an argument beginning with '-' is never a value: the
        // next plain argument is taken and refused.
        {Args({"p", "--count", "-5", "/a/b"}), "invalid value for argument '-n, --count' got \"/a/b\" expected a signed integral\n"},
    };
    for (const Case& c : cases) {
        Program program;
        Outcome outcome = ParseWith(program, c.args);
        SCOPED_TRACE(c.message);
        EXPECT_EQ(1, outcome.result);
        EXPECT_EQ(c.message, outcome.err);
        EXPECT_EQ("", outcome.out);
    }
}

TEST(VCommandLineParser, IntegersAreReadWithBaseDetection)
{
    struct Case {
        const char* text;
        bool accepted;
        int32_t value;
    } cases[] = {
        {"0123", true, 83}, {" 12 ", true, 12}, {"\t-42", true, -42}, {"+7", true, 7}, {"0", true, 0},
        {"2147483647", true, 2147483647}, {"2147483648", false, 0}, {"-2147483649", false, 0},
        {"0x10", false, 0}, {"089", false, 0}, {"12a", false, 0}, {"--1", false, 0}, {"", false, 0},
        {"1234567890123456789012345678901", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Program program;
        std::string arg = std::string("--count=") + c.text;
        Outcome outcome = ParseWith(program, {VString("p"), VString(arg.c_str())});
        EXPECT_EQ(c.accepted ? 0 : 1, outcome.result);
        EXPECT_EQ(c.accepted ? c.value : -1, program.count);
    }
}

TEST(VCommandLineParser, ValuesFlagsAndPositionalArguments)
{
    Program program;
    Outcome outcome = ParseWith(program,
                          Args({"p", "-v", "first", "--count", "--name", "7", "Ann", "--enabled=TRUE", "second", "--",
                                "--name", "-v"}),
                          true);
    EXPECT_EQ(0, outcome.result) << outcome.err;
    EXPECT_TRUE(program.verbose);
    // Value options given one after another take the following plain
    // arguments in order, which are then no positional arguments.
    EXPECT_EQ(7, program.count);
    EXPECT_EQ(VString("Ann"), program.name);
    EXPECT_TRUE(program.enabled);
    ASSERT_EQ(4u, program.files.size());
    EXPECT_EQ(VString("first"), program.files[0]);
    EXPECT_EQ(VString("second"), program.files[1]);
    EXPECT_EQ(VString("--name"), program.files[2]);
    EXPECT_EQ(VString("-v"), program.files[3]);

    // Grouped short options, a short option taking the next plain argument,
    // and the launcher's switches skipped with their value.
    Program grouped;
    outcome = ParseWith(grouped, Args({"p", "-ApplePersistenceIgnoreState", "YES", "-vn", "5", "-NSDocumentRevisionsDebugMode", "NO"}));
    EXPECT_EQ(0, outcome.result) << outcome.err;
    EXPECT_TRUE(grouped.verbose);
    EXPECT_EQ(5, grouped.count);
}

TEST(VCommandLineParser, FlagsStoreTheirSetState)
{
    int32_t number = 0;
    VString text;
    std::vector<VString> list = {VString("a"), VString("b")};
    VCommandLineParser parser(Args({"p", "--number", "--text", "--list"}));
    parser.AddFlag(number, VString("number"), VString());
    parser.AddFlag(text, VString("text"), VString());
    parser.AddFlag(list, VString("list"), VString());
    EXPECT_EQ(0, parser.Parse());
    EXPECT_EQ(1, number);
    EXPECT_EQ(VString("1"), text);
    ASSERT_EQ(1u, list.size());
    EXPECT_TRUE(list[0].IsEmpty());
}

TEST(VCommandLineParser, DeclarationsNeedAnArgumentAndValidNames)
{
    bool flag = false;
    VCommandLineParser alone(Args({"p"}));
    EXPECT_FALSE(alone.AddFlag(flag, VString("flag"), VString("x")));
    alone.AddParagraph(VString("text"));
    EXPECT_TRUE(alone.GetInfos().GetDeclarations().empty());
    EXPECT_EQ(0, alone.Parse());

    VCommandLineParser parser(Args({"p", "--flag"}));
    EXPECT_FALSE(parser.AddFlag(flag, VString("-flag"), VString()));
    EXPECT_FALSE(parser.AddFlag(flag, VString("a=b"), VString()));
    EXPECT_FALSE(parser.AddFlag(flag, VString("a b"), VString()));
    EXPECT_FALSE(parser.AddFlag(flag, u'-', VString(), VString()));
    EXPECT_FALSE(parser.AddFlag(flag, VString(), VString()));

    // A second declaration of a name replaces the first for parsing; the help
    // lists both.
    bool first = false, second = false;
    EXPECT_TRUE(parser.AddFlag(first, VString("flag"), VString("first")));
    EXPECT_TRUE(parser.AddFlag(second, VString("flag"), VString("second")));
    EXPECT_EQ(2u, parser.GetInfos().GetDeclarations().size());
    EXPECT_EQ(0, parser.Parse());
    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
}

TEST(VCommandLineParser, HelpRequestsPrintTheUsageText)
{
    for (const char* request : {"--help", "-h", "-?", "-vh"}) {
        SCOPED_TRACE(request);
        Program program;
        Outcome outcome = ParseWith(program, Args({"prog", request}));
        EXPECT_EQ(2, outcome.result);
        EXPECT_EQ(0u, outcome.out.find("Usage: prog [OPTION]...\n"));
        EXPECT_NE(std::string::npos, outcome.out.find("Display the help and exit"));
        EXPECT_EQ("", outcome.err);
    }
    // A declared "h" claims "-h".
    bool h = false;
    VCommandLineParser parser(Args({"p", "-h"}));
    parser.AddFlag(h, u'h', VString(), VString("mine"));
    EXPECT_EQ(0, parser.Parse());
    EXPECT_TRUE(h);
}

TEST(VCommandLineParser, UsageTextLayout)
{
    bool flag = false;
    VString text;
    int32_t number = 0;
    VCommandLineParser parser(Args({"tool", "x"}));
    parser.AddParagraph(VString("\nTool\n\tdoes things\n"));
    parser.AddFlag(flag, u'f', VString("force"), VString("never ask"));
    parser.AddOption(number, u'n', VString(), VString("a number"));
    parser.AddOption(text, VString("a-rather-long-option-name"), VString("its description sits on the next line"));
    parser.AddOption(text, VString("wrap"),
                     VString("a description longer than fifty characters. It is wrapped after blanks or dots."));
    parser.AddParagraph(VString("\nHelp:\n"));
    parser.AddPositionalArguments(text);

    const std::string expected =
        "Usage: tool [OPTION]... [FILE]...\n"
        "\nTool\ndoes things\n\n"
        "  -f, --force                 never ask\n"
        "  -n VALUE                    a number\n"
        "      --a-rather-long-option-name=VALUE\n"
        "                             its description sits on the next line\n"
        "      --wrap=VALUE            a description longer than fifty characters. It is\n"
        "                             wrapped after blanks or dots.\n"
        "\nHelp:\n\n"
        "      --help                  Display the help and exit\n";
    EXPECT_EQ(expected, to_string(parser.GetInfos().GetHelpUsage(VString("tool"), false)));

    std::string coloured = to_string(parser.GetInfos().GetHelpUsage(VString("tool"), true));
    EXPECT_NE(std::string::npos, coloured.find("\033[0;32m  -f, --force\033[0m                 never ask\n"));
    EXPECT_NE(std::string::npos, coloured.find("\033[0;33m\nHelp:\n\033[0m\n"));
}

TEST(VCommandLineParser, UsageTextWrapsLongParagraphsAndWords)
{
    bool flag = false;
    VCommandLineParser parser(Args({"t", "x"}));
    std::string word(60, 'w');
    parser.AddFlag(flag, VString("flag"), VString(word.c_str()));
    std::string paragraph;
    for (int i = 0; i < 12; ++i)
        paragraph += "ten chars ";
    parser.AddParagraph(VString(paragraph.c_str()));

    std::string usage = to_string(parser.GetInfos().GetHelpUsage(VString("t"), false));
    // A word longer than the column is cut at 50 characters.
    EXPECT_NE(std::string::npos,
              usage.find("      --flag                  " + word.substr(0, 50) + "\n" + std::string(29, ' ') +
                         word.substr(50) + "\n"));
    // A paragraph of 80 characters or more is cut into lines of at most 79.
    std::string tail = usage.substr(usage.find("ten chars"));
    std::string firstLine = tail.substr(0, tail.find('\n'));
    EXPECT_LE(firstLine.size(), 79u);
    EXPECT_EQ(std::string("ten chars ten chars ten chars ten chars ten chars ten chars ten chars ten"), firstLine);
}

TEST(VCommandLineParser, ManPageAndJSONExports)
{
    bool flag = false;
    VString text;
    int32_t number = 0;
    VCommandLineParser parser(Args({"tool", "say \"hi\"", "C:\\dir"}));
    parser.AddParagraph(VString("Main\n\toptions"));
    parser.AddFlag(flag, u'f', VString("force"), VString("never\task"));
    parser.AddOption(number, u'n', VString(), VString("a number"));
    parser.AddOption(text, VString("text"), VString("a \"quoted\" text"));

    VString man("head\n");
    parser.ExportAsManPage(&man);
    EXPECT_EQ(std::string("head\n.SH OPTIONS\n"
                          ".SS \"Mainoptions\"\n"
                          ".TP\n.BR \\-f \", \" \\-\\-force\nneverask\n"
                          ".TP\n.BR \\-n \\fIVALUE\\fR\na number\n"
                          ".TP\n.BR \\-\\-text=\\fIVALUE\\fR\na \"quoted\" text\n"),
              to_string(man));

    VString json;
    parser.ExportAsJSON(&json);
    EXPECT_EQ(std::string("{\n"
                          "\t\"arguments\": {\n"
                          "\t\t\"count\": 3,\n"
                          "\t\t\"values\": [\n"
                          "\t\t\t\"tool\",\n"
                          "\t\t\t\"say \\\"hi\\\"\",\n"
                          "\t\t\t\"C:\\\\dir\"\n"
                          "\t\t]\n"
                          "\t},\n"
                          "\t\"options\": {\n"
                          "\t\t\"count\": 4,\n"
                          "\t\t\"values\": [\n"
                          "\t\t\t{\n"
                          "\t\t\t\t\"paragraph\": \"Main\\n\\toptions\"\n"
                          "\t\t\t},\n"
                          "\t\t\t{\n"
                          "\t\t\t\t\"shortName\": \"f\",\n"
                          "\t\t\t\t\"longName\": \"force\",\n"
                          "\t\t\t\t\"description\": \"never\\task\"\n"
                          "\t\t\t},\n"
                          "\t\t\t{\n"
                          "\t\t\t\t\"shortName\": \"n\",\n"
                          "\t\t\t\t\"requiresValue\": true,\n"
                          "\t\t\t\t\"description\": \"a number\"\n"
                          "\t\t\t},\n"
                          "\t\t\t{\n"
                          "\t\t\t\t\"longName\": \"text\",\n"
                          "\t\t\t\t\"requiresValue\": true,\n"
                          "\t\t\t\t\"description\": \"a \\\"quoted\\\" text\"\n"
                          "\t\t\t}\n"
                          "\t\t]\n"
                          "\t}\n"
                          "}\n"),
              to_string(json));
}

TEST(VCommandLineParser, JSONValuesFollowTheVariablesKind)
{
    namespace Ext = Extension::CommandLineParser;
    VCommandLineParser parser(Args({"p"}));
    VJSONValue text{VString("old")};
    EXPECT_TRUE(Ext::Argument<VJSONValue>::Append(parser, text, VString("{not json")));
    EXPECT_TRUE(text.IsString());
    VJSONValue flag(JSON_false);
    EXPECT_TRUE(Ext::Argument<VJSONValue>::Append(parser, flag, VString("ON")));
    EXPECT_EQ(JSON_true, flag.GetType());
    EXPECT_TRUE(Ext::Argument<VJSONValue>::Append(parser, flag, VString("off")));
    EXPECT_EQ(JSON_false, flag.GetType());
    EXPECT_FALSE(Ext::Argument<VJSONValue>::Append(parser, flag, VString("maybe")));
    VJSONValue any;
    EXPECT_TRUE(Ext::Argument<VJSONValue>::Append(parser, any, VString("{\"a\": [1, 2]}")));
    EXPECT_EQ(JSON_object, any.GetType());
    // A refused text leaves no error behind: the parser reports it itself.
    StErrorContextInstaller errors(true, true);
    EXPECT_FALSE(Ext::Argument<VJSONValue>::Append(parser, any, VString("{broken")));
    EXPECT_EQ(JSON_object, any.GetType());
    EXPECT_EQ(VE_OK, errors.GetLastError());
}

TEST(VCommandLineParser, PathArgumentsAreResolved)
{
    test::TempFolder temp;
    ASSERT_TRUE(temp.MakeFolder("dir"));
    ASSERT_TRUE(temp.WriteFile("dir/file", "x"));
    ASSERT_TRUE(temp.MakeLink("link", "dir"));
    namespace Ext = Extension::CommandLineParser;
    VCommandLineParser parser(Args({"p"}));

    VFilePath path;
    // A link to a folder resolves to the folder, as a folder path.
    EXPECT_TRUE(Ext::Argument<VFilePath>::Append(parser, path, VString(temp.Path("link").c_str())));
    EXPECT_EQ(temp.FolderPath("dir").GetPath(), path.GetPath());
    EXPECT_TRUE(Ext::Argument<VFilePath>::Append(parser, path, VString(temp.Path("dir/../dir/file").c_str())));
    EXPECT_EQ(temp.FilePath("dir/file").GetPath(), path.GetPath());
    // An unresolvable text is still read as a path, but refused.
    EXPECT_FALSE(Ext::Argument<VFilePath>::Append(parser, path, VString(temp.Path("missing").c_str())));
    EXPECT_EQ(temp.FilePath("missing").GetPath(), path.GetPath());
    EXPECT_FALSE(Ext::Argument<VFilePath>::Append(parser, path, VString()));

    VRefPtr<VFile> file;
    VRefPtr<VFolder> folder;
    EXPECT_FALSE(Ext::Argument<VRefPtr<VFile>>::Append(parser, file, VString(temp.Path("dir").c_str())));
    EXPECT_TRUE(Ext::Argument<VRefPtr<VFile>>::Append(parser, file, VString(temp.Path("link/file").c_str())));
    ASSERT_TRUE(file);
    EXPECT_EQ(temp.FilePath("dir/file").GetPath(), file->GetPath().GetPath());
    EXPECT_FALSE(Ext::Argument<VRefPtr<VFolder>>::Append(parser, folder, VString(temp.Path("dir/file").c_str())));
    EXPECT_TRUE(Ext::Argument<VRefPtr<VFolder>>::Append(parser, folder, VString(temp.Path("dir").c_str())));
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->Exists());
}

}  // namespace
}  // namespace bkit
