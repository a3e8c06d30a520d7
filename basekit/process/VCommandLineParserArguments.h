// VCommandLineParserArguments.h - converters from argument texts to option variables.
//
// This file defines Extension::CommandLineParser::Argument<T>, one converter
// per type an option can be bound to. Each has:
//   static bool Append(VCommandLineParser&, T& variable, const VString& text)
//     stores the text converted into variable; false (variable untouched) when
//     the text does not fit the type;
//   static const char* Reason()  what a fitting text looks like, for messages;
//   static void SetFlag(T&)      the "given without a value" state.
// Integers are read with base detection: a leading "0" reads octal, and only
// digits and signs are accepted (no hexadecimal). Paths are made absolute with
// realpath (which follows symbolic links); a text realpath cannot resolve is
// still stored as a full POSIX path and the conversion answers false.
// A program adds a type by specialising Argument for it.
#pragma once

#include <cstdint>
#include <vector>

#include "basekit/files/VFilePath.h"
#include "basekit/text/VString.h"
#include "basekit/values/IRefCountable.h"

namespace bkit {

class VCommandLineParser;
class VFile;
class VFolder;
class VJSONValue;

namespace Extension::CommandLineParser {

template <class T>
struct Argument;

template <>
struct Argument<bool> {
    static bool Append(VCommandLineParser&, bool& variable, const VString& text);
    static const char* Reason() { return "expected 0, 1, true or false"; }
    static void SetFlag(bool& variable) { variable = true; }
};

template <>
struct Argument<int32_t> {
    static bool Append(VCommandLineParser&, int32_t& variable, const VString& text);
    static const char* Reason() { return "expected a signed integral"; }
    static void SetFlag(int32_t& variable) { variable = 1; }
};

template <>
struct Argument<uint32_t> {
    static bool Append(VCommandLineParser&, uint32_t& variable, const VString& text);
    static const char* Reason() { return "expected an unsigned integral"; }
    static void SetFlag(uint32_t& variable) { variable = 1; }
};

template <>
struct Argument<int64_t> {
    static bool Append(VCommandLineParser&, int64_t& variable, const VString& text);
    static const char* Reason() { return "expected a signed integral"; }
    static void SetFlag(int64_t& variable) { variable = 1; }
};

template <>
struct Argument<uint64_t> {
    static bool Append(VCommandLineParser&, uint64_t& variable, const VString& text);
    static const char* Reason() { return "expected an unsigned integral"; }
    static void SetFlag(uint64_t& variable) { variable = 1; }
};

template <>
struct Argument<VString> {
    static bool Append(VCommandLineParser&, VString& variable, const VString& text)
    {
        variable = text;
        return true;
    }
    static const char* Reason() { return ""; }
    static void SetFlag(VString& variable) { variable = "1"; }
};

template <>
struct Argument<std::vector<VString>> {
    static bool Append(VCommandLineParser&, std::vector<VString>& variable, const VString& text)
    {
        variable.push_back(text);
        return true;
    }
    static const char* Reason() { return ""; }
    static void SetFlag(std::vector<VString>& variable) { variable.assign(1, VString()); }
};

template <>
struct Argument<VFilePath> {
    static bool Append(VCommandLineParser&, VFilePath& variable, const VString& text);
    static const char* Reason() { return "expected a path"; }
    static void SetFlag(VFilePath&) {}
};

// A file (after resolving aliases) or a folder that the resolved path names.
template <>
struct Argument<VRefPtr<VFile>> {
    static bool Append(VCommandLineParser&, VRefPtr<VFile>& variable, const VString& text);
    static const char* Reason() { return "expected a file path"; }
    static void SetFlag(VRefPtr<VFile>&) {}
};

template <>
struct Argument<VRefPtr<VFolder>> {
    static bool Append(VCommandLineParser&, VRefPtr<VFolder>& variable, const VString& text);
    static const char* Reason() { return "expected a folder path"; }
    static void SetFlag(VRefPtr<VFolder>&) {}
};

// By the variable's current kind: a string takes the text; a boolean takes
// "1", "true" or "on" and "0", "false" or "off"; other kinds parse JSON text.
template <>
struct Argument<VJSONValue> {
    static bool Append(VCommandLineParser&, VJSONValue& variable, const VString& text);
    static const char* Reason() { return "expected a JSON value"; }
    static void SetFlag(VJSONValue& variable);
};

// Resolves text the way the path converters do: realpath, then "/" appended
// for a folder, read as a full POSIX path. True when realpath succeeded.
bool ResolvePathArgument(const VString& text, VFilePath& out);

}  // namespace Extension::CommandLineParser
}  // namespace bkit
