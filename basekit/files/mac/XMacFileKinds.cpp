// XMacFileKinds.cpp - the platform's file kinds, and whether a file is of one.
//
// Public kinds are made from the built-in type declarations (VFileKindTable.h).
// The platform's type identifier of a file is the public kind its extension
// names in the process's registry; a kind conforms when that identifier
// conforms to the kind's, and otherwise when the extension matches the kind's.

#include "basekit/files/VFile.h"
#include "basekit/files/VFileKind.h"
#include "basekit/files/VFileKindTable.h"
#include "basekit/files/mac/XMacFile.h"

namespace bkit {

namespace {

std::vector<VString> ToStrings(const std::vector<const char*>& texts)
{
    std::vector<VString> out;
    out.reserve(texts.size());
    for (const char* text : texts)
        out.emplace_back(text);
    return out;
}

bool EqualIgnoringASCIICase(const VString& a, const VString& b)
{
    if (a.GetLength() != b.GetLength())
        return false;
    auto lower = [](UniChar c) { return (c >= u'A' && c <= u'Z') ? static_cast<UniChar>(c + 32) : c; };
    const UniChar* x = a.GetCPointer();
    const UniChar* y = b.GetCPointer();
    for (VIndex i = 0; i < a.GetLength(); ++i)
        if (lower(x[i]) != lower(y[i]))
            return false;
    return true;
}

}  // namespace

VFileKind* XMacFile::CreatePublicFileKind(const VString& uti)
{
    const TypeDeclaration* declaration = FindTypeDeclaration(uti);
    if (declaration == nullptr)
        return nullptr;
    return VFileKind::Create(VString(declaration->identifier), std::vector<VString>(),
                             VString(declaration->description), ToStrings(declaration->extensions),
                             ToStrings(declaration->conformsTo), true);
}

VFileKind* XMacFile::CreatePublicFileKindFromOsKind(const VString& osKind)
{
    VString uti = PreferredTypeIdentifierForOsType(osKind);
    return uti.IsEmpty() ? nullptr : CreatePublicFileKind(uti);
}

VFileKind* XMacFile::CreatePublicFileKindFromExtension(const VString& extension)
{
    VString uti = PreferredTypeIdentifierForExtension(extension);
    return uti.IsEmpty() ? nullptr : CreatePublicFileKind(uti);
}

bool XMacFile::IsFileKindConformsTo(const VFileKind& a, const VFileKind& b)
{
    if (a.GetID().IsEmpty() || b.GetID().IsEmpty())
        return false;
    // Every identifier conforms to itself, declared or not (type identifiers
    // ignore case); only the parent walk needs the declarations.
    if (EqualIgnoringASCIICase(a.GetID(), b.GetID()))
        return true;
    return TypeIdentifierConformsTo(a.GetID(), b.GetID());
}

VError XMacFile::ConformsTo(const VFileKind& kind, bool* conforms) const
{
    if (!conforms)
        return VE_OK;
    *conforms = false;
    if (!fOwner)
        return VE_OK;
    VString extension;
    fOwner->GetPathRef().GetExtension(extension);
    if (extension.IsEmpty())
        return VE_OK;
    if (kind.IsPublic()) {
        if (VFileKindManager* manager = VFileKindManager::Get()) {
            if (VFileKind* own = manager->RetainFirstFileKindMatchingWithExtension(extension)) {
                *conforms = own->IsPublic() && own->ConformsTo(kind);
                own->Release();
                if (*conforms)
                    return VE_OK;
            }
        }
    }
    *conforms = kind.MatchExtension(extension);
    return VE_OK;
}

bool VFile::ConformsTo(const VFileKind& kind) const
{
    bool conforms = false;
    fImpl.ConformsTo(kind, &conforms);
    return conforms;
}

bool VFile::ConformsTo(const VString& kindID) const
{
    VFileKindManager* manager = VFileKindManager::Get();
    VFileKind* kind = manager ? manager->RetainFileKind(kindID) : nullptr;
    if (!kind)
        return false;
    bool conforms = ConformsTo(*kind);
    kind->Release();
    return conforms;
}

}  // namespace bkit
