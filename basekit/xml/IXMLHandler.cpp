// IXMLHandler.cpp - default behaviour of XML handlers and the style-sheet instruction.
#include "basekit/xml/IXMLHandler.h"

#include <xercesc/util/XMLChar.hpp>

#include "basekit/files/VFile.h"
#include "basekit/files/VFolder.h"
#include "basekit/xml/VXMLParser.h"
#include "basekit/xml/XMLTextUtils.h"

namespace bkit {

void SetEntityFolderReference(VFolder** ioFolder, VFolder* folder)
{
    if (*ioFolder == folder)
        return;
    if (folder)
        folder->Retain();
    VFolder* old = *ioFolder;
    *ioFolder = folder;
    if (old)
        old->Release();
}

IXMLHandler::~IXMLHandler()
{
    if (fEntityFolder)
        fEntityFolder->Release();
}

IXMLHandler* IXMLHandler::StartElement(const VString&) { return nullptr; }
void IXMLHandler::EndElement(const VString&) {}
void IXMLHandler::SetAttribute(const VString&, const VString&) {}
void IXMLHandler::SetText(const VString&) {}
void IXMLHandler::StartStyleSheet() {}
void IXMLHandler::SetStyleSheetAttribute(const VString&, const VString&) {}
void IXMLHandler::EndStyleSheet() {}

VFile* IXMLHandler::ResolveEntity(const VString& systemID)
{
    return VXMLParser::ResolveEntityFromFolder(fEntityPrefix, fEntityFolder, systemID);
}

void IXMLHandler::SetEntitiesLocalFolder(const VString& prefix, VFolder* folder)
{
    SetEntityFolderReference(&fEntityFolder, folder);
    fEntityPrefix = prefix;
}

bool IXMLHandler::IsXMLChar(UniChar c)
{
    return xercesc::XMLChar1_0::isXMLChar(c);
}

bool IXMLHandler::IsXMLName(const VString& text)
{
    return text.GetLength() > 0 &&
           xercesc::XMLChar1_0::isValidName(text.GetCPointer(), static_cast<XMLSize_t>(text.GetLength()));
}

bool IXMLHandler::WCharIsSpace(UniChar c)
{
    return c == 0x20 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D;
}

namespace {

// Strips one pair of enclosing quotes, then spaces and tabs at both ends.
void CleanStyleSheetToken(VString& token)
{
    VIndex n = token.GetLength();
    if (n >= 2) {
        UniChar first = token[0];
        UniChar last = token[n - 1];
        if ((first == '"' && last == '"') || (first == '\'' && last == '\''))
            token.SubString(2, n - 2);
    }
    TrimSpacesAndTabs(token);
}

}  // namespace

void IXMLHandler::processingInstruction(const VString& target, const VString& data)
{
    if (target.IsEmpty() || data.IsEmpty() || target.IsNull() || data.IsNull() ||
        !target.EqualToUSASCIICString("xml-stylesheet"))
        return;

    StartStyleSheet();
    VString token;
    VString name;
    bool afterEquals = false;
    auto closeToken = [&]() {
        CleanStyleSheetToken(token);
        if (afterEquals) {
            if (!name.IsEmpty())
                SetStyleSheetAttribute(name, token);
            afterEquals = false;
        } else {
            name = token;
        }
    };
    const UniChar* p = data.GetCPointer();
    for (VIndex i = 0; i < data.GetLength(); ++i) {
        UniChar c = p[i];
        if (WCharIsSpace(c)) {
            if (!token.IsEmpty()) {
                closeToken();
                token.Clear();
            }
        } else if (c == '=') {
            if (!token.IsEmpty())
                name = token;
            afterEquals = true;
            token.Clear();
        } else {
            token.AppendUniChar(c);
        }
    }
    if (!token.IsEmpty() && afterEquals)
        closeToken();
    EndStyleSheet();
}

IXMLHandler* VNullXMLHandler::StartElement(const VString&)
{
    Retain();
    return this;
}

void VNullXMLHandler::SetAttribute(const VString&, const VString&) {}
void VNullXMLHandler::SetText(const VString&) {}

}  // namespace bkit
