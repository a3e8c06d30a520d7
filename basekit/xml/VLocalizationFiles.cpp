// VLocalizationFiles.cpp - reading XLIFF and key-value ("strings") files for the localization manager.
#include "basekit/files/IFile.h"
#include "basekit/xml/VLocalizationManager.h"
#include "basekit/xml/VLocalizationXMLHandler.h"
#include "basekit/xml/VXMLParser.h"
#include "basekit/xml/XMLTextUtils.h"

namespace bkit {

VError VLocalizationManager::AnalyzeXLIFFFile(IFile* file, bool force)
{
    if (!file)
        return VE_INVALID_PARAMETER;
    fRootHandler->SetForced(force);
    VString text;
    VError err = file->GetContentAsString(text, VTC_UTF_8, eCRM_NONE);
    if (err == VE_OK)
        fParser->Parse(text, fRootHandler, XML_ValidateNever);
    fRootHandler->SetForced(false);
    return err;
}

VError VLocalizationManager::AnalyzeDotStringsFile(IFile* file)
{
    if (!file)
        return VE_INVALID_PARAMETER;
    if (!file->Exists())
        return VE_LOCALIZATION_NOT_FOUND;
    VString text;
    if (file->GetContentAsString(text, VTC_UTF_16_BIGENDIAN, eCRM_LF) != VE_OK)
        return VE_OK;
    std::vector<VString> lines;
    text.GetSubStrings('\n', lines, false, false);
    for (const VString& line : lines)
        _AnalyseDotString(line);
    return VE_OK;
}

namespace {

void Unquote(VString& text)
{
    if (text.GetLength() > 0 && text[0] == '"')
        text.SubString(2, text.GetLength() >= 2 ? text.GetLength() - 2 : 0);
}

}  // namespace

void VLocalizationManager::_AnalyseDotString(const VString& line)
{
    if (line.IsEmpty())
        return;
    VString rest(line);
    rest.Truncate(rest.GetLength() - 1);
    std::vector<VString> pieces;
    rest.GetSubStrings('=', pieces, false, false);
    if (pieces.size() != 2 || pieces[0].IsEmpty() || pieces[1].IsEmpty())
        return;
    VString key = pieces[0];
    VString value = pieces[1];
    TrimSpacesAndTabs(key);
    TrimSpacesAndTabs(value);
    Unquote(key);
    Unquote(value);
    if (!key.IsEmpty() && !value.IsEmpty())
        _InsertObjectURLAndString(key, value, true);
}

}  // namespace bkit
