// VComponentManagerLocalization.cpp - the localization language of a component
// folder or bundle.
//
// The rules:
// 1. No folder, or one that does not exist: -2. A bundle is examined in its
//    Contents/Resources.
// 2. Dialect 0 asks for the main bundle's preferred localization (as an ISO
//    language name, else an RFC 3066bis code; 1033 when neither converts); the
//    folder is not examined.
// 3. Otherwise the folder's ".lproj" sub-folders are examined in the folder
//    iterator's order until the one of the wanted dialect: the answer is the
//    wanted dialect when found, else 1033 when an English folder was seen, else
//    the dialect of the last folder examined, else -2.
#include "basekit/runtime/VComponentManager.h"

#include "basekit/files/VFolder.h"
#include "basekit/files/VFolderIterator.h"
#include "basekit/platform/BundleInfo.h"
#include "basekit/platform/BundleLocalizations.h"
#include "basekit/text/VIntlMgr.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

constexpr uint32_t kNoLanguage = static_cast<uint32_t>(-2);
constexpr uint32_t kEnglish = 1033;

bool DialectOfISONameOrCode(const VString& text, uint32_t& dialect)
{
    return VIntlMgr::GetDialectCodeWithISOLanguageName(text, dialect) ||
           VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(text, dialect);
}

bool DialectOfCodeOrISOName(const VString& text, uint32_t& dialect)
{
    return VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(text, dialect) ||
           VIntlMgr::GetDialectCodeWithISOLanguageName(text, dialect);
}

}  // namespace

uint32_t VComponentManager::GetLocalizationLanguage(VFolder* folder, bool isBundle, uint32_t dialect)
{
    if (!folder || !folder->Exists())
        return kNoLanguage;

    if (dialect == 0) {
        std::string bundle = platform::BundleInfo::GetMainBundlePath();
        std::string preferred =
            bundle.empty() ? std::string() : platform::GetPreferredLocalization(platform::GetBundleLocalizations(bundle));
        uint32_t wanted = 0;
        if (!preferred.empty() && DialectOfISONameOrCode(VString(preferred.c_str()), wanted))
            return wanted;
        return kEnglish;
    }

    VRefPtr<VFolder> examined(folder);
    if (isBundle)
        examined = VRefPtr<VFolder>::Adopt(new VFolder(*folder, "Contents/Resources/", FPS_POSIX));

    uint32_t last = kNoLanguage;
    bool sawEnglish = false;
    for (VFolderIterator it(examined.Get()); it.IsValid(); ++it) {
        VString name;
        it->GetPath().GetName(name);
        VIndex at = name.Find(".lproj");
        if (at <= 1)
            continue;
        VString code;
        name.GetSubString(1, at - 1, code);
        uint32_t found = 0;
        if (!DialectOfCodeOrISOName(code, found))
            continue;
        last = found;
        if (found == kEnglish)
            sawEnglish = true;
        if (found == dialect)
            return dialect;
    }
    if (sawEnglish)
        return kEnglish;
    return last;
}

}  // namespace bkit
