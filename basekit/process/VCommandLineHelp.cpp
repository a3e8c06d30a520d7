// VCommandLineHelp.cpp - the usage text, manual page and JSON forms of a parser's declarations.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "basekit/process/VCommandLineParser.h"

namespace bkit {

namespace {

constexpr VIndex kOptionColumns = 30;
constexpr VIndex kContinuationIndent = 29;
constexpr VIndex kDescriptionWidth = 50;
constexpr VIndex kParagraphWidth = 79;

const char* const kGreen = "\033[0;32m";
const char* const kYellow = "\033[0;33m";
const char* const kReset = "\033[0m";

bool _IsLineEnd(UniChar c)
{
    return c == u'\r' || c == u'\n';
}

bool _IsBreak(UniChar c)
{
    return c == u' ' || c == u'.' || c == u'\t' || _IsLineEnd(c);
}

VString _WithoutTabs(const VString& text)
{
    VString out;
    for (VIndex i = 0; i < text.GetLength(); ++i) {
        if (text[i] != u'\t')
            out.AppendUniChar(text[i]);
    }
    return out;
}

VString _WithoutTabsAndLineEnds(const VString& text)
{
    VString out;
    for (VIndex i = 0; i < text.GetLength(); ++i) {
        UniChar c = text[i];
        if (c != u'\t' && !_IsLineEnd(c))
            out.AppendUniChar(c);
    }
    return out;
}

void _AppendBlanks(VString& out, VIndex n)
{
    for (VIndex i = 0; i < n; ++i)
        out.AppendUniChar(u' ');
}

// Cuts text into lines of at most width characters, after a break character
// where one lies within reach (else hard at width), and at every line end of
// the text. Lines are joined with a line end and indent blanks; the blanks a
// line was broken after are dropped.
void _AppendWrapped(VString& out, const VString& text, VIndex width, VIndex indent)
{
    const UniChar* units = text.GetCPointer();
    VIndex length = text.GetLength();
    VIndex start = 0;
    bool first = true;
    for (;;) {
        // The extent of this line of the text.
        VIndex end = start;
        while (end < length && !_IsLineEnd(units[end]))
            ++end;
        VIndex pos = start;
        do {
            VIndex take = end - pos;
            if (take > width) {
                take = width;
                for (VIndex k = width - 1; k > 0; --k) {
                    if (_IsBreak(units[pos + k])) {
                        take = k + 1;
                        break;
                    }
                }
            }
            VIndex shown = take;
            while (shown > 0 && units[pos + shown - 1] == u' ')
                --shown;
            if (!first) {
                out.AppendUniChar(u'\n');
                _AppendBlanks(out, indent);
            }
            first = false;
            out.AppendUniChars(units + pos, shown);
            pos += take;
        } while (pos < end);
        if (end >= length)
            break;
        start = end + ((units[end] == u'\r' && end + 1 < length && units[end + 1] == u'\n') ? 2 : 1);
    }
}

void _AppendJSONString(VString& out, const VString& text)
{
    out.AppendUniChar(u'"');
    for (VIndex i = 0; i < text.GetLength(); ++i) {
        UniChar c = text[i];
        switch (c) {
            case u'"': out.AppendCString("\\\""); break;
            case u'\\': out.AppendCString("\\\\"); break;
            case u'\n': out.AppendCString("\\n"); break;
            case u'\r': out.AppendCString("\\r"); break;
            case u'\t': out.AppendCString("\\t"); break;
            case u'\b': out.AppendCString("\\b"); break;
            case u'\f': out.AppendCString("\\f"); break;
            default:
                if (c < 0x20) {
                    char escape[8];
                    snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
                    out.AppendCString(escape);
                } else {
                    out.AppendUniChar(c);
                }
        }
    }
    out.AppendUniChar(u'"');
}

// One "name": value line at depth tabs.
void _AppendMember(VString& out, int depth, const char* name, const VString& value, bool isString, bool last)
{
    for (int i = 0; i < depth; ++i)
        out.AppendUniChar(u'\t');
    out.AppendUniChar(u'"').AppendCString(name).AppendCString("\": ");
    if (isString)
        _AppendJSONString(out, value);
    else
        out.AppendString(value);
    out.AppendCString(last ? "\n" : ",\n");
}

}  // namespace

namespace Private::CommandLineParser {

void StOptionsInfos::AppendOptionHelp(VString& out, const VOptionBase& option, bool colours)
{
    VString names;
    if (option.HasShortName()) {
        names.AppendCString("  -").AppendUniChar(option.GetShortName());
        if (option.HasLongName())
            names.AppendCString(", ");
        else if (option.RequiresValue())
            names.AppendCString(" VALUE");
    } else {
        _AppendBlanks(names, 6);
    }
    if (option.HasLongName()) {
        names.AppendCString("--").AppendString(option.GetLongName());
        if (option.RequiresValue())
            names.AppendCString("=VALUE");
    }
    if (colours)
        out.AppendCString(kGreen);
    out.AppendString(names);
    if (colours)
        out.AppendCString(kReset);
    if (names.GetLength() < kOptionColumns) {
        _AppendBlanks(out, kOptionColumns - names.GetLength());
    } else {
        out.AppendUniChar(u'\n');
        _AppendBlanks(out, kContinuationIndent);
    }
    _AppendWrapped(out, _WithoutTabs(option.GetHelp()), kDescriptionWidth, kContinuationIndent);
    out.AppendUniChar(u'\n');
}

VString StOptionsInfos::GetHelpUsage(const VString& programName, bool colours) const
{
    VString out("Usage: ");
    out.AppendString(programName).AppendCString(" [OPTION]...");
    if (fPositional)
        out.AppendCString(" [FILE]...");
    out.AppendUniChar(u'\n');
    if (fDeclarations.empty() || !fDeclarations.front()->IsParagraph())
        out.AppendUniChar(u'\n');

    for (const std::unique_ptr<VOptionBase>& declaration : fDeclarations) {
        if (!declaration->IsParagraph()) {
            AppendOptionHelp(out, *declaration, colours);
            continue;
        }
        VString text = _WithoutTabs(declaration->GetHelp());
        if (colours)
            out.AppendCString(kYellow);
        if (text.GetLength() >= 80)
            _AppendWrapped(out, text, kParagraphWidth, 0);
        else
            out.AppendString(text);
        if (colours)
            out.AppendCString(kReset);
        out.AppendUniChar(u'\n');
    }

    if (FindLong(VString("help")) == nullptr) {
        VOptionBase help(0, VString("help"), VString("Display the help and exit"), false, nullptr);
        AppendOptionHelp(out, help, colours);
    }
    return out;
}

void StOptionsInfos::HelpUsage(const VString& programName) const
{
    std::string bytes = to_string(GetHelpUsage(programName, isatty(STDOUT_FILENO) != 0));
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

}  // namespace Private::CommandLineParser

using Private::CommandLineParser::VOptionBase;

void VCommandLineParser::ExportAsManPage(VString* out) const
{
    if (out == nullptr)
        return;
    out->AppendCString(".SH OPTIONS\n");
    for (const std::unique_ptr<VOptionBase>& declaration : fInfos.GetDeclarations()) {
        const VOptionBase& option = *declaration;
        if (option.IsParagraph()) {
            out->AppendCString(".SS \"").AppendString(_WithoutTabsAndLineEnds(option.GetHelp())).AppendCString("\"\n");
            continue;
        }
        out->AppendCString(".TP\n.BR ");
        if (option.HasShortName()) {
            out->AppendCString("\\-").AppendUniChar(option.GetShortName());
            if (option.HasLongName())
                out->AppendCString(" \", \" ");
            else if (option.RequiresValue())
                out->AppendCString(" \\fIVALUE\\fR");
        }
        if (option.HasLongName()) {
            out->AppendCString("\\-\\-").AppendString(option.GetLongName());
            if (option.RequiresValue())
                out->AppendCString("=\\fIVALUE\\fR");
        }
        out->AppendUniChar(u'\n').AppendString(_WithoutTabsAndLineEnds(option.GetHelp())).AppendUniChar(u'\n');
    }
}

void VCommandLineParser::ExportAsJSON(VString* out) const
{
    if (out == nullptr)
        return;
    const std::vector<VString>& arguments = fInfos.GetArguments();
    const auto& declarations = fInfos.GetDeclarations();

    out->AppendCString("{\n\t\"arguments\": {\n");
    _AppendMember(*out, 2, "count", ToString(static_cast<unsigned long>(arguments.size())), false, false);
    out->AppendCString("\t\t\"values\": [\n");
    for (size_t i = 0; i < arguments.size(); ++i) {
        out->AppendCString("\t\t\t");
        _AppendJSONString(*out, arguments[i]);
        out->AppendCString(i + 1 < arguments.size() ? ",\n" : "\n");
    }
    out->AppendCString("\t\t]\n\t},\n");

    out->AppendCString("\t\"options\": {\n");
    _AppendMember(*out, 2, "count", ToString(static_cast<unsigned long>(declarations.size())), false, false);
    out->AppendCString("\t\t\"values\": [\n");
    for (size_t i = 0; i < declarations.size(); ++i) {
        const VOptionBase& option = *declarations[i];
        // The members that apply, in their fixed order; the last gets no comma.
        struct Member {
            const char* name;
            VString value;
            bool isString;
        };
        std::vector<Member> members;
        if (option.HasShortName())
            members.push_back({"shortName", VString(option.GetShortName()), true});
        if (option.IsParagraph())
            members.push_back({"paragraph", option.GetHelp(), true});
        if (option.HasLongName())
            members.push_back({"longName", option.GetLongName(), true});
        if (option.RequiresValue())
            members.push_back({"requiresValue", VString("true"), false});
        if (!option.IsParagraph())
            members.push_back({"description", option.GetHelp(), true});
        out->AppendCString("\t\t\t{\n");
        for (size_t m = 0; m < members.size(); ++m)
            _AppendMember(*out, 4, members[m].name, members[m].value, members[m].isString, m + 1 == members.size());
        out->AppendCString(i + 1 < declarations.size() ? "\t\t\t},\n" : "\t\t\t}\n");
    }
    out->AppendCString("\t\t]\n\t}\n}\n");
}

void VCommandLineParser::PrintAllArguments(bool withProgramPath) const
{
    const std::vector<VString>& arguments = fInfos.GetArguments();
    for (size_t i = withProgramPath ? 0 : 1; i < arguments.size(); ++i)
        Print(arguments[i]);
}

}  // namespace bkit
