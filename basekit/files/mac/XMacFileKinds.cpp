// XMacFileKinds.cpp - whether a file is of a kind.
//
// The platform's type identifier of a file is the public kind its extension
// names in the process's registry; a kind conforms when that identifier
// conforms to the kind's, and otherwise when the extension matches the kind's.

#include "basekit/files/VFile.h"
#include "basekit/files/VFileKind.h"
#include "basekit/files/mac/XMacFile.h"

namespace bkit {

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
