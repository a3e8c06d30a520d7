// VFileKindTable.h - the built-in declarations of public type identifiers.
//
// This file defines the stand-in for the platform's uniform type declarations,
// which do not exist here: a fixed table of the common public type identifiers
// with their description, file-name extensions, MIME types, four-character OS
// types and the identifiers they conform to. The file-kind registry makes its
// public kinds from it.
//
// Shortcomings: only the table's identifiers are known (no declarations of
// installed applications); descriptions are English. Read-only, thread-safe.
#pragma once

#include <vector>

#include "basekit/text/VString.h"

namespace bkit {


struct TypeDeclaration {
    const char* identifier;
    const char* description;
    std::vector<const char*> extensions;
    std::vector<const char*> mimeTypes;
    std::vector<const char*> osTypes;
    std::vector<const char*> conformsTo;
};

// The declaration of the identifier (exact, case-insensitive ASCII), or null.
const TypeDeclaration* FindTypeDeclaration(const VString& identifier);
// The first declared identifier carrying the extension / the 4-character OS
// type; empty when none.
VString PreferredTypeIdentifierForExtension(const VString& extension);
VString PreferredTypeIdentifierForOsType(const VString& osType);
// True when a conforms to b: equal, or b among a's parents, transitively.
// False when either is unknown.
bool TypeIdentifierConformsTo(const VString& a, const VString& b);

}  // namespace bkit
