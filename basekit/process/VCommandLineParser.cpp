// VCommandLineParser.cpp - declarations and the parse of the argument list.
#include "basekit/process/VCommandLineParser.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace bkit {

namespace Private::CommandLineParser {

VOptionBase::VOptionBase(UniChar shortName, const VString& longName, const VString& help, bool requiresValue,
                         void* variable)
    : fShortName(shortName), fLongName(longName), fHelp(help), fRequiresValue(requiresValue), fVariable(variable)
{
}

int VOptionBase::AppendArgument(VCommandLineParser&, const VString&)
{
    return 1;
}

VString VOptionBase::GetFullName() const
{
    VString name;
    if (HasShortName()) {
        name.AppendUniChar(u'-').AppendUniChar(fShortName);
        if (HasLongName())
            name.AppendCString(", --").AppendString(fLongName);
    } else if (HasLongName()) {
        name.AppendCString("--").AppendString(fLongName);
    } else {
        name.AppendCString("<anonymous>");
    }
    return name;
}

int VOptionBase::_PrintInvalidValue(const VString& value, const char* reason) const
{
    VString message("invalid value for argument '");
    message.AppendString(GetFullName()).AppendCString("' got ");
    if (value.IsEmpty()) {
        message.AppendCString("empty value ");
    } else {
        message.AppendUniChar(u'"');
        if (value.GetLength() > 80)
            message.AppendString(value.GetSubString(1, 80)).AppendCString("...\"");
        else
            message.AppendString(value).AppendUniChar(u'"');
    }
    message.AppendUniChar(u' ').AppendCString(reason);
    return VCommandLineParser::PrintArgumentError(message);
}

StOptionsInfos::StOptionsInfos(const std::vector<VString>& arguments)
    : fArguments(arguments), fAcceptDeclarations(arguments.size() >= 2)
{
}

bool StOptionsInfos::RegisterOption(bool takesValue, VOptionBase* option)
{
    std::unique_ptr<VOptionBase> owned(option);
    if (!fAcceptDeclarations || option == nullptr)
        return false;
    bool hasShort = option->HasShortName();
    bool hasLong = option->HasLongName();
    if ((!hasShort && !hasLong) || !VCommandLineParser::ValidateShortOptionName(option->GetShortName()) ||
        (hasLong && !VCommandLineParser::ValidateLongOptionName(option->GetLongName())))
        return false;
    Entry entry{option, takesValue};
    if (hasShort)
        fShortOptions[option->GetShortName()] = entry;
    if (hasLong)
        fLongOptions[option->GetLongName()] = entry;
    fDeclarations.push_back(std::move(owned));
    return true;
}

void StOptionsInfos::AddParagraph(const VString& text)
{
    if (fAcceptDeclarations && fAllowParagraphs)
        fDeclarations.push_back(std::make_unique<VOptionBase>(0, VString(), text, false, nullptr));
}

bool StOptionsInfos::SetPositionalHandler(VOptionBase* option)
{
    std::unique_ptr<VOptionBase> owned(option);
    if (!fAcceptDeclarations || option == nullptr)
        return false;
    fPositional = std::move(owned);
    return true;
}

const StOptionsInfos::Entry* StOptionsInfos::FindShort(UniChar name) const
{
    auto found = fShortOptions.find(name);
    return found == fShortOptions.end() ? nullptr : &found->second;
}

const StOptionsInfos::Entry* StOptionsInfos::FindLong(const VString& name) const
{
    auto found = fLongOptions.find(name);
    return found == fLongOptions.end() ? nullptr : &found->second;
}

bool StOptionsInfos::ReadStandardInput(VString& out)
{
    if (!fStdinRead) {
        fStdinRead = true;
        std::string bytes;
        char chunk[1024];
        ssize_t n;
        while ((n = ::read(STDIN_FILENO, chunk, sizeof(chunk))) != 0) {
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            bytes.append(chunk, static_cast<size_t>(n));
        }
        fStdinOK = n == 0;
        fStdin.FromBlock(bytes.data(), bytes.size(), VTC_UTF_8);
    }
    out = fStdin;
    return fStdinOK;
}

}  // namespace Private::CommandLineParser

using Private::CommandLineParser::StOptionsInfos;
using Private::CommandLineParser::VOptionBase;

namespace {

std::vector<VString> _ArgumentsFromArgv(int argc, const char* const* argv)
{
    std::vector<VString> arguments;
    for (int i = 0; i < argc && argv != nullptr; ++i)
        arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    return arguments;
}

void _Write(FILE* stream, const VString& text)
{
    std::string bytes = to_string(text);
    bytes.push_back('\n');
    fwrite(bytes.data(), 1, bytes.size(), stream);
    fflush(stream);
}

int _PrintUnknownOption(const VString& text)
{
    VString message("error: unknown option `");
    message.AppendString(text).AppendUniChar(u'`');
    return VCommandLineParser::PrintArgumentError(message);
}

}  // namespace

VCommandLineParser::VCommandLineParser(const std::vector<VString>& arguments) : fInfos(arguments)
{
}

VCommandLineParser::VCommandLineParser(int argc, const char* const* argv) : fInfos(_ArgumentsFromArgv(argc, argv))
{
}

VCommandLineParser::~VCommandLineParser() = default;

bool VCommandLineParser::ValidateLongOptionName(const VString& name)
{
    if (name.IsEmpty() || name[0] == u'-')
        return false;
    for (VIndex i = 0; i < name.GetLength(); ++i) {
        UniChar c = name[i];
        if (c <= u' ' || c == u'=' || c == 0x7F)
            return false;
    }
    return true;
}

bool VCommandLineParser::ValidateShortOptionName(UniChar name)
{
    if (name == 0 || name == u' ')
        return true;
    return name > u' ' && name != 0x7F && name != u'-' && name != u'=';
}

int VCommandLineParser::PrintArgumentError(const VString& text)
{
    _Write(stderr, text);
    return 1;
}

void VCommandLineParser::Print(const VString& text)
{
    _Write(stdout, text);
}

// The next argument at or after the cursor that does not begin with '-'
// becomes the option's value; the cursor moves past it.
int VCommandLineParser::_TakeValue(const VOptionBase& option, size_t* cursor, VString& value)
{
    const std::vector<VString>& arguments = fInfos.GetArguments();
    for (size_t j = *cursor; j < arguments.size(); ++j) {
        if (arguments[j].IsEmpty() || arguments[j][0] != u'-') {
            value = arguments[j];
            *cursor = j + 1;
            return 0;
        }
    }
    VString message("error: missing value for option ");
    message.AppendString(option.GetFullName());
    return PrintArgumentError(message);
}

int VCommandLineParser::_GiveValue(VOptionBase& option, const VString& value)
{
    if (value.EqualToUSASCIICString("-") && fInfos.AllowsValuesFromStdin()) {
        VString input;
        if (!fInfos.ReadStandardInput(input)) {
            VString message("error: failed to read from stdin for option `");
            message.AppendString(option.GetFullName()).AppendUniChar(u'`');
            return PrintArgumentError(message);
        }
        return option.AppendArgument(*this, input) == 0 ? 0 : 1;
    }
    return option.AppendArgument(*this, value) == 0 ? 0 : 1;
}

int32_t VCommandLineParser::Parse()
{
    const std::vector<VString>& arguments = fInfos.GetArguments();
    if (arguments.size() < 2)
        return 0;

    // Arguments taken as values are not seen again; all of them lie before the
    // cursor, which only moves forward.
    std::vector<bool> used(arguments.size(), false);
    size_t cursor = 1;
    bool positionalOnly = false;

    // A long or short option found: a switch is set, any other takes the next
    // unused argument as its value. 0, or 1 once the error is printed.
    auto apply = [&](const StOptionsInfos::Entry& entry) -> int32_t {
        if (!entry.takesValue) {
            entry.option->SetFlag();
            return 0;
        }
        VString value;
        if (_TakeValue(*entry.option, &cursor, value) != 0)
            return 1;
        used[cursor - 1] = true;
        return _GiveValue(*entry.option, value) != 0 ? 1 : 0;
    };

    for (size_t i = 1; i < arguments.size(); ++i) {
        if (used[i])
            continue;
        if (cursor < i + 1)
            cursor = i + 1;
        const VString& argument = arguments[i];

        if (!positionalOnly && argument.EqualToUSASCIICString("--")) {
            positionalOnly = true;
            continue;
        }

        if (positionalOnly || argument.IsEmpty() || argument[0] != u'-') {
            VOptionBase* handler = fInfos.GetPositionalHandler();
            if (handler == nullptr)
                return _PrintUnknownOption(argument);
            if (_GiveValue(*handler, argument) != 0)
                return 1;
            continue;
        }

        if (argument.GetLength() > 2 && argument[1] == u'-') {
            VString name = argument.GetSubString(3, argument.GetLength() - 2);
            VIndex equal = name.FindUniChar(u'=');
            if (equal > 0) {
                VString value = name.GetSubString(equal + 1, name.GetLength() - equal);
                name.Truncate(equal - 1);
                const StOptionsInfos::Entry* entry = fInfos.FindLong(name);
                if (entry == nullptr) {
                    if (name.EqualToUSASCIICString("help")) {
                        VString message("error: invalid value for option  `");
                        message.AppendString(name).AppendUniChar(u'`');
                        return PrintArgumentError(message);
                    }
                    return _PrintUnknownOption(name);
                }
                if (!entry->takesValue) {
                    VString message("error: a value for option `");
                    message.AppendString(name).AppendCString("` is not required");
                    return PrintArgumentError(message);
                }
                if (_GiveValue(*entry->option, value) != 0)
                    return 1;
                continue;
            }
            const StOptionsInfos::Entry* entry = fInfos.FindLong(name);
            if (entry == nullptr) {
                if (name.EqualToUSASCIICString("help")) {
                    fInfos.HelpUsage(arguments[0]);
                    return 2;
                }
                return _PrintUnknownOption(name);
            }
            if (apply(*entry) != 0)
                return 1;
            continue;
        }

        // A single dash. Two switches the system's application launcher adds
        // come with a value of their own that belongs to nobody here.
        if (argument.EqualToUSASCIICString("-ApplePersistenceIgnoreState") ||
            argument.EqualToUSASCIICString("-NSDocumentRevisionsDebugMode")) {
            if (i + 1 < arguments.size())
                used[i + 1] = true;
            if (cursor < i + 2)
                cursor = i + 2;
            continue;
        }
        if (argument.GetLength() == 1) {
            VString message("error: missing short option `");
            message.AppendString(argument).AppendUniChar(u'`');
            return PrintArgumentError(message);
        }
        for (VIndex k = 1; k < argument.GetLength(); ++k) {
            UniChar c = argument[k];
            const StOptionsInfos::Entry* entry = fInfos.FindShort(c);
            if (entry == nullptr) {
                if (c == u'h' || c == u'?') {
                    fInfos.HelpUsage(arguments[0]);
                    return 2;
                }
                return _PrintUnknownOption(VString(c));
            }
            if (apply(*entry) != 0)
                return 1;
        }
    }
    return 0;
}

}  // namespace bkit
