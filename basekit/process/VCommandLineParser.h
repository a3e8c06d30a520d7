// VCommandLineParser.h - the command-line parser with its help, manual page and JSON forms.
//
// This file defines VCommandLineParser, which reads a program's argument list
// against options the program declares, each bound to one of its variables,
// and prints its own error messages and help; the option classes and the
// declaration store behind it (namespace Private::CommandLineParser); and the
// converters that turn an argument text into a variable's type (namespace
// Extension::CommandLineParser, VCommandLineParserArguments.h).
//
// Contracts:
// - Only long options of two dashes and short options of one character exist.
//   A value follows its long option after '=' in the same argument, or is the
//   next argument not yet used as a value that does not begin with '-'.
// - Parse answers 0 (go on), 1 (rejected: a message went to standard error) or
//   2 (the usage text was printed). Nothing is thrown and no error is pushed.
// - Declarations are kept only when the argument list holds at least one
//   argument after the program path: with the program path alone the parser
//   declares nothing and Parse answers 0 at once.
// - The variables bound to options belong to the caller and must outlive the
//   parser's Parse. The parser owns the option objects.
// - One parser is used by one thread; the output functions write to the
//   process's standard streams and flush them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "basekit/process/VCommandLineParserArguments.h"
#include "basekit/text/VString.h"
#include "basekit/values/VObject.h"

namespace bkit {

class VCommandLineParser;

namespace Private::CommandLineParser {

// One declaration: an option, the positional handler, or a help paragraph
// (no names, the paragraph in the help text).
class VOptionBase {
public:
    VOptionBase(UniChar shortName, const VString& longName, const VString& help, bool requiresValue,
                void* variable);
    virtual ~VOptionBase() = default;
    VOptionBase(const VOptionBase&) = delete;
    VOptionBase& operator=(const VOptionBase&) = delete;

    // Takes one value text. 0 when it was accepted, 1 when it was refused (the
    // base refuses every value; typed options print why).
    virtual int AppendArgument(VCommandLineParser& parser, const VString& value);
    // Stores the variable's "given without a value" state; the base does nothing.
    virtual void SetFlag() {}

    bool HasShortName() const { return fShortName != 0 && fShortName != u' '; }
    bool HasLongName() const { return !fLongName.IsEmpty(); }
    bool IsParagraph() const { return !HasShortName() && !HasLongName(); }

    UniChar GetShortName() const { return fShortName; }
    const VString& GetLongName() const { return fLongName; }
    const VString& GetHelp() const { return fHelp; }
    bool RequiresValue() const { return fRequiresValue; }
    void* GetVariable() const { return fVariable; }

    // "-x, --name", "-x", "--name", or "<anonymous>" without a name.
    VString GetFullName() const;

protected:
    // Prints the message of a refused value with the converter's reason; answers 1.
    int _PrintInvalidValue(const VString& value, const char* reason) const;

private:
    UniChar fShortName;
    VString fLongName;
    VString fHelp;
    bool fRequiresValue;
    void* fVariable;
};

// An option bound to a variable of type T (bool, int32_t, VString,
// std::vector<VString>, or any type with a converter).
template <class T>
class VArgOption : public VOptionBase {
public:
    VArgOption(T& variable, UniChar shortName, const VString& longName, const VString& help, bool requiresValue)
        : VOptionBase(shortName, longName, help, requiresValue, &variable), fVariable(variable) {}

    int AppendArgument(VCommandLineParser& parser, const VString& value) override
    {
        using Converter = Extension::CommandLineParser::Argument<T>;
        if (Converter::Append(parser, fVariable, value))
            return 0;
        return _PrintInvalidValue(value, Converter::Reason());
    }
    void SetFlag() override { Extension::CommandLineParser::Argument<T>::SetFlag(fVariable); }

private:
    T& fVariable;
};

// The declarations of one parser and its argument list.
class StOptionsInfos {
public:
    explicit StOptionsInfos(const std::vector<VString>& arguments);
    StOptionsInfos(const StOptionsInfos&) = delete;
    StOptionsInfos& operator=(const StOptionsInfos&) = delete;

    // Keeps option (owned from here) under its short and long names, each
    // replacing an earlier option of that name, and appends it to the help list.
    // Without declarations allowed, or with an invalid name, option is deleted
    // and false answered.
    bool RegisterOption(bool takesValue, VOptionBase* option);
    // Appends a help paragraph (when declarations and paragraphs are allowed).
    void AddParagraph(const VString& text);
    // Makes option (owned from here) the receiver of every positional argument,
    // replacing an earlier one.
    bool SetPositionalHandler(VOptionBase* option);

    // Writes the usage text to standard output (colours on a terminal only).
    void HelpUsage(const VString& programName) const;
    // Appends one option's lines of the usage text.
    static void AppendOptionHelp(VString& out, const VOptionBase& option, bool colours);
    // The usage text, without or with the terminal colours.
    VString GetHelpUsage(const VString& programName, bool colours) const;

    bool AcceptsDeclarations() const { return fAcceptDeclarations; }
    bool AllowsValuesFromStdin() const { return fAllowValuesFromStdin; }

    struct Entry {
        VOptionBase* option = nullptr;
        bool takesValue = false;
    };
    const Entry* FindShort(UniChar name) const;
    const Entry* FindLong(const VString& name) const;
    VOptionBase* GetPositionalHandler() const { return fPositional.get(); }
    const std::vector<std::unique_ptr<VOptionBase>>& GetDeclarations() const { return fDeclarations; }
    const std::vector<VString>& GetArguments() const { return fArguments; }

    // Standard input read once for the options that take "-" as their value.
    bool ReadStandardInput(VString& out);

private:
    std::map<UniChar, Entry> fShortOptions;
    std::map<VString, Entry> fLongOptions;
    std::unique_ptr<VOptionBase> fPositional;
    std::vector<std::unique_ptr<VOptionBase>> fDeclarations;
    std::vector<VString> fArguments;
    bool fAcceptDeclarations;
    bool fAllowParagraphs = true;
    bool fAllowValuesFromStdin = false;
    bool fStdinRead = false;
    bool fStdinOK = false;
    VString fStdin;
};

}  // namespace Private::CommandLineParser

class VCommandLineParser : public VObject {
public:
    // Over an argument list whose first entry is the program path.
    explicit VCommandLineParser(const std::vector<VString>& arguments);
    // Over argc/argv (UTF-8).
    VCommandLineParser(int argc, const char* const* argv);
    ~VCommandLineParser() override;
    VCommandLineParser(const VCommandLineParser&) = delete;
    VCommandLineParser& operator=(const VCommandLineParser&) = delete;

    // Declares an option that takes a value. shortName 0 (or a blank) means no
    // short form; an empty longName means no long form. False when the option
    // was not kept (see the file comment, and ValidateLongOptionName).
    template <class T>
    bool AddOption(T& variable, UniChar shortName, const VString& longName, const VString& help)
    {
        return _Register(true, new Private::CommandLineParser::VArgOption<T>(variable, shortName, longName, help, true));
    }
    template <class T>
    bool AddOption(T& variable, const VString& longName, const VString& help)
    {
        return AddOption(variable, 0, longName, help);
    }

    // Declares an option that takes no value: giving it stores the variable's
    // "set" state (true, 1, "1", or a list of one empty text).
    template <class T>
    bool AddFlag(T& variable, UniChar shortName, const VString& longName, const VString& help)
    {
        return _Register(false, new Private::CommandLineParser::VArgOption<T>(variable, shortName, longName, help, false));
    }
    template <class T>
    bool AddFlag(T& variable, const VString& longName, const VString& help)
    {
        return AddFlag(variable, 0, longName, help);
    }

    // Every positional argument goes to variable (a list collects them all).
    template <class T>
    bool AddPositionalArguments(T& variable)
    {
        if (!fInfos.AcceptsDeclarations())
            return false;
        return fInfos.SetPositionalHandler(
            new Private::CommandLineParser::VArgOption<T>(variable, 0, VString(), VString(), true));
    }

    // A paragraph of the help text, between the options declared around it.
    void AddParagraph(const VString& text) { fInfos.AddParagraph(text); }

    // 0 success, 1 rejected (message printed), 2 usage printed.
    int32_t Parse();

    // A long name is valid when it is not empty, does not begin with '-' and
    // holds no blank, '=' or control character.
    static bool ValidateLongOptionName(const VString& name);
    // A short name is valid when it is none (0 or a blank) or a printable
    // character other than '-' and '='.
    static bool ValidateShortOptionName(UniChar name);

    // Writes the text in UTF-8 and a line end to standard error and flushes it;
    // answers 1, the rejection result of Parse.
    static int PrintArgumentError(const VString& text);
    // Writes the text in UTF-8 and a line end to standard output and flushes it.
    static void Print(const VString& text);

    // Appends the declarations as a manual-page OPTIONS section.
    void ExportAsManPage(VString* out) const;
    // Appends the argument list and the declarations as JSON text.
    void ExportAsJSON(VString* out) const;
    // Prints the argument list to standard output, one per line; with
    // withProgramPath the program path comes first.
    void PrintAllArguments(bool withProgramPath) const;

    Private::CommandLineParser::StOptionsInfos& GetInfos() { return fInfos; }
    const Private::CommandLineParser::StOptionsInfos& GetInfos() const { return fInfos; }

private:
    bool _Register(bool takesValue, Private::CommandLineParser::VOptionBase* option)
    {
        return fInfos.RegisterOption(takesValue, option);
    }
    int _TakeValue(const Private::CommandLineParser::VOptionBase& option, size_t* cursor, VString& value);
    int _GiveValue(Private::CommandLineParser::VOptionBase& option, const VString& value);

    Private::CommandLineParser::StOptionsInfos fInfos;
};

}  // namespace bkit
