// VFilePath.cpp - the name of a file or a folder in the internal volume form.
//
// This file implements VFilePath: construction with the resolution of the
// internal form's climbing steps, navigation, names and extensions, and the
// POSIX text going out (through VURL's path-style conversion).
#include "basekit/files/VFilePath.h"

#include <string>
#include <vector>

#include "basekit/files/VURL.h"
#include "basekit/files/mac/XMacVolumes.h"
#include "basekit/runtime/VErrorBase.h"
#include "basekit/text/VCollator.h"
#include "basekit/text/VIntlMgr.h"

namespace bkit {

namespace {

constexpr UniChar kSep = u':';

bool HoldsColon(const VString& name)
{
    return name.FindUniChar(kSep) > 0;
}

UniChar LastUnit(const VString& text)
{
    return text.GetLength() > 0 ? text.GetCPointer()[text.GetLength() - 1] : 0;
}

bool IsDotStep(const UniChar* units, VIndex length)
{
    return (length == 1 && units[0] == u'.') || (length == 2 && units[0] == u'.' && units[1] == u'.');
}

// Whether the components of an internal text (the volume included) are all
// names: "." and ".." are steps of the POSIX form and would make the text
// name another folder than the one it spells. With allowClimbs false an
// empty component (the internal form's climbing step) is refused too; the
// empty text after a folder's final ':' is no component.
bool SpellsOnlyNames(const VString& text, bool allowClimbs)
{
    const UniChar* units = text.GetCPointer();
    VIndex length = text.GetLength();
    VIndex start = 0;
    for (VIndex i = 0; i <= length; ++i) {
        if (i < length && units[i] != kSep)
            continue;
        VIndex n = i - start;
        if (IsDotStep(units + start, n))
            return false;
        if (n == 0 && i < length && !allowClimbs)
            return false;
        start = i + 1;
    }
    return true;
}

}  // namespace

VFilePath::VFilePath() = default;

VFilePath::VFilePath(const VFilePath& other) : VObject(), fPath(other.fPath), fIsValid(other.fIsValid) {}

VFilePath::~VFilePath() = default;

VFilePath::VFilePath(const VString& fullPath, FilePathStyle style, bool unused)
{
    FromFullPath(fullPath, style, unused);
}

VFilePath::VFilePath(const VFilePath& base, const VString& relativePath, FilePathStyle style, bool forbidFullPosix)
{
    FromRelativePath(base, relativePath, style, forbidFullPosix);
}

VFilePath& VFilePath::FromFilePath(const VFilePath& other)
{
    if (&other != this) {
        fPath.FromString(other.fPath);
        fIsValid = other.fIsValid;
    }
    return *this;
}

VFilePath& VFilePath::FromFullPath(const VString& fullPath, FilePathStyle style, bool)
{
    fIsValid = false;
    if (!ValidFullPath(fullPath, style) || BadChar(fullPath, style)) {
        // Nothing of an unusable text is converted: a NUL would cut it short
        // on its way to the file system.
        fPath.FromString(fullPath);
        return *this;
    }
    fPath.FromString(fullPath);
    if (style == FPS_POSIX)
        VURL::Convert(fPath, eURL_POSIX_STYLE, eURL_HFS_STYLE, false);
    fIsValid = _ResolveInternal(fPath) && !fPath.IsEmpty();
    return *this;
}

VFilePath& VFilePath::FromRelativePath(const VFilePath& base, const VString& relativePath, FilePathStyle style,
                                       bool forbidFullPosix)
{
    bool beginsWithSlash = relativePath.GetLength() > 0 && relativePath.GetCPointer()[0] == u'/';
    if (style == FPS_POSIX && !forbidFullPosix && beginsWithSlash)
        return FromFullPath(relativePath, FPS_POSIX);

    VString relative(relativePath);
    bool usable = base.IsFolder() && !(style == FPS_POSIX && beginsWithSlash) && !BadChar(relativePath, style);
    if (usable && style == FPS_POSIX)
        VURL::Convert(relative, eURL_POSIX_STYLE, eURL_HFS_STYLE, true);
    VString text(base.fPath);
    text.AppendString(relative);
    bool resolved = usable && _ResolveInternal(text);
    if (usable && !resolved && style == FPS_POSIX) {
        // The POSIX steps climb above the base's volume: they lead to a
        // folder of another volume (or back into this one), which the full
        // POSIX text names. Only a mounted volume has a place to climb from.
        VString full;
        if (XMacVolumes::HFSFullPathToPosix(base.fPath, full)) {
            if (full.GetLength() == 0 || full.GetCPointer()[full.GetLength() - 1] != u'/')
                full.AppendUniChar(u'/');
            full.AppendString(relativePath);
            // Steps above the top of the tree name nothing.
            VString steps(full);
            if (ResolveRelativePosix(steps))
                return FromFullPath(full, FPS_POSIX);
        }
    }
    fPath.FromString(text);
    fIsValid = resolved && !fPath.IsEmpty();
    return *this;
}

void VFilePath::Clear()
{
    fPath.Clear();
    fIsValid = false;
}

CharSet VFilePath::DebugDump(char* buffer, int& length)
{
    VString text(fPath);
    return text.DebugDump(buffer, length);
}

void VFilePath::_SetValidFromText()
{
    fIsValid = !fPath.IsEmpty() && SpellsOnlyNames(fPath, false) && !BadChar(fPath, FPS_SYSTEM);
}

bool VFilePath::_ResolveInternal(VString& text)
{
    if (text.IsEmpty() || text.GetCPointer()[0] == kSep)
        return false;
    VIndex first = text.FindUniChar(kSep);
    if (first == 0)
        return !IsDotStep(text.GetCPointer(), text.GetLength());
    const UniChar* units = text.GetCPointer();
    VIndex length = text.GetLength();
    if (first < length && units[first] == kSep)
        return false;  // "Volume::" would climb above the volume
    if (!SpellsOnlyNames(text, true))
        return false;

    // The components after the volume; the last one is the file name (empty
    // for a folder). An empty component between two ':' climbs one level.
    std::vector<std::pair<VIndex, VIndex>> kept;  // 0-based start, length
    bool climbs = false;
    VIndex start = first;
    for (VIndex i = first; i <= length; ++i) {
        if (i < length && units[i] != kSep)
            continue;
        if (i == length)
            break;  // the last component, kept as it is
        VIndex n = i - start;
        if (n == 0) {
            if (kept.empty())
                return false;  // climbing above the volume
            kept.pop_back();
            climbs = true;
        } else {
            kept.emplace_back(start, n);
        }
        start = i + 1;
    }
    if (!climbs)
        return true;
    VString resolved(units, first);
    for (const auto& component : kept) {
        resolved.AppendUniChars(units + component.first, component.second);
        resolved.AppendUniChar(kSep);
    }
    resolved.AppendUniChars(units + start, length - start);
    text.FromString(resolved);
    return !text.IsEmpty() && text.GetCPointer()[0] != kSep;
}

// --- queries ---

bool VFilePath::IsFile() const
{
    return fIsValid && !fPath.IsEmpty() && LastUnit(fPath) != kSep;
}

bool VFilePath::IsFolder() const
{
    return fIsValid && !fPath.IsEmpty() && LastUnit(fPath) == kSep;
}

bool VFilePath::HasParent() const
{
    VIndex length = fPath.GetLength();
    return fIsValid && length >= 2 && fPath.FindUniChar(kSep, length - 1, true) > 0;
}

VIndex VFilePath::GetDepth() const
{
    if (!fIsValid)
        return 0;
    VIndex depth = 0;
    const UniChar* units = fPath.GetCPointer();
    for (VIndex i = 0; i < fPath.GetLength(); ++i)
        if (units[i] == kSep)
            ++depth;
    return IsFile() ? depth + 1 : depth;
}

bool VFilePath::IsChildOf(const VFilePath& parent) const
{
    return fIsValid && parent.IsFolder() && fPath.BeginsWith(parent.fPath, false) &&
           !fPath.EqualToString(parent.fPath, false);
}

bool VFilePath::IsChildOfRawPath(const VFilePath& parent) const
{
    return fIsValid && parent.IsFolder() && fPath.BeginsWithRawString(parent.fPath) &&
           !fPath.EqualToString(parent.fPath, false);
}

bool VFilePath::IsSameOrChildOf(const VFilePath& parent) const
{
    return fIsValid && parent.IsFolder() && fPath.BeginsWith(parent.fPath, false);
}

bool VFilePath::operator==(const VFilePath& other) const
{
    return fIsValid == other.fIsValid && fPath.EqualToStringRaw(other.fPath);
}

// --- navigation ---

// Keeps the text through the last separator found searching backwards from
// position from (1-based); with none (or from 0) the path becomes empty, and
// invalid.
VFilePath& VFilePath::_KeepThroughSeparatorBefore(VIndex from)
{
    VIndex pos = from > 0 ? fPath.FindUniChar(kSep, from, true) : 0;
    if (pos == 0)
        fPath.Clear();
    else
        fPath.Truncate(pos);
    _SetValidFromText();
    return *this;
}

VFilePath& VFilePath::ToParent()
{
    if (!fIsValid)
        return *this;
    VIndex length = fPath.GetLength();
    return _KeepThroughSeparatorBefore(length > 1 ? length - 1 : 0);
}

bool VFilePath::GetParent(VFilePath& out) const
{
    if (!fIsValid) {
        out.Clear();
        return false;
    }
    out.FromFilePath(*this);
    out.ToParent();
    return out.fIsValid;
}

VFilePath& VFilePath::ToFolder()
{
    if (!fIsValid)
        return *this;
    return _KeepThroughSeparatorBefore(fPath.GetLength());
}

bool VFilePath::GetFolder(VFilePath& out) const
{
    if (!fIsValid) {
        out.Clear();
        return false;
    }
    out.FromFilePath(*this);
    out.ToFolder();
    return out.fIsValid;
}

VFilePath& VFilePath::ToSubFolder(const VString& name)
{
    if (IsFolder()) {
        fPath.AppendString(name);
        fPath.AppendUniChar(kSep);
        _SetValidFromText();
    }
    return *this;
}

VFilePath& VFilePath::ToSubFile(const VString& name)
{
    if (IsFolder()) {
        fPath.AppendString(name);
        _SetValidFromText();
    }
    return *this;
}

// --- names and extensions ---

void VFilePath::GetName(VString& out) const
{
    VIndex length = fPath.GetLength();
    VIndex last = fPath.FindUniChar(kSep, length, true);
    if (last == 0) {
        out.FromString(fPath);
    } else if (last < length) {
        fPath.GetSubString(last + 1, length - last, out);
    } else {
        VIndex previous = length > 1 ? fPath.FindUniChar(kSep, length - 1, true) : 0;
        if (length == 1)
            out.Clear();
        else
            fPath.GetSubString(previous + 1, length - 1 - previous, out);
    }
}

void VFilePath::GetFileName(VString& out, bool withExtension) const
{
    if (!IsFile()) {
        out.Clear();
        return;
    }
    GetName(out);
    if (!withExtension) {
        VIndex dot = out.FindUniChar(u'.', out.GetLength(), true);
        if (dot > 0)
            out.Truncate(dot - 1);
    }
}

void VFilePath::GetFolderName(VString& out, bool withExtension) const
{
    if (!IsFolder()) {
        out.Clear();
        return;
    }
    VIndex length = fPath.GetLength();
    if (length < 2 || fPath.FindUniChar(kSep, length - 1, true) == 0) {
        out.FromString(fPath);  // a volume root keeps its ':'
        return;
    }
    GetName(out);
    if (!withExtension) {
        VIndex dot = out.FindUniChar(u'.', out.GetLength(), true);
        if (dot > 0)
            out.Truncate(dot - 1);
    }
}

void VFilePath::GetExtension(VString& out) const
{
    VString name;
    GetName(name);
    VIndex dot = name.FindUniChar(u'.', name.GetLength(), true);
    if (dot == 0 || dot == name.GetLength())
        out.Clear();
    else
        name.GetSubString(dot + 1, name.GetLength() - dot, out);
}

bool VFilePath::_TakeIfValid(const VFilePath& changed, bool folder)
{
    if (!changed.fIsValid || changed.IsFolder() != folder)
        return false;
    FromFilePath(changed);
    return true;
}

bool VFilePath::SetName(const VString& name)
{
    if (HoldsColon(name)) {
        _ThrowError(VE_FS_BAD_NAME);
        return false;
    }
    if (!fIsValid)
        return false;
    bool folder = IsFolder();
    VFilePath changed(*this);
    if (folder)
        changed.ToParent();
    else
        changed.ToFolder();
    if (!changed.fIsValid)
        return false;  // a volume root has no parent to hold another name
    changed.fPath.AppendString(name);
    if (folder)
        changed.fPath.AppendUniChar(kSep);
    changed._SetValidFromText();
    return _TakeIfValid(changed, folder);
}

bool VFilePath::SetFileName(const VString& name, bool nameHasExtension)
{
    if (HoldsColon(name)) {
        _ThrowError(VE_FS_BAD_NAME);
        return false;
    }
    if (!fIsValid)
        return false;
    VFilePath changed(*this);
    if (IsFolder()) {
        changed.fPath.AppendString(name);
    } else {
        VString extension;
        GetExtension(extension);
        changed.ToFolder();
        if (!changed.fIsValid)
            return false;
        changed.fPath.AppendString(name);
        if (!nameHasExtension && !extension.IsEmpty()) {
            changed.fPath.AppendUniChar(u'.');
            changed.fPath.AppendString(extension);
        }
    }
    changed._SetValidFromText();
    return _TakeIfValid(changed, false);
}

bool VFilePath::SetFolderName(const VString& name, bool nameHasExtension)
{
    // A ':' would silently turn the name into two folders.
    if (HoldsColon(name)) {
        _ThrowError(VE_FS_BAD_NAME);
        return false;
    }
    if (!IsFolder())
        return false;
    VString extension;
    GetExtension(extension);
    VFilePath changed(*this);
    changed.ToParent();
    if (!changed.fIsValid)
        return false;  // a volume root has no parent to hold another name
    changed.fPath.AppendString(name);
    if (!nameHasExtension && !extension.IsEmpty()) {
        changed.fPath.AppendUniChar(u'.');
        changed.fPath.AppendString(extension);
    }
    changed.fPath.AppendUniChar(kSep);
    changed._SetValidFromText();
    return _TakeIfValid(changed, true);
}

VFilePath& VFilePath::SetExtension(const VString& ext)
{
    if (IsFile())
        SetFileExtension(ext);
    else if (IsFolder())
        SetFolderExtension(ext);
    return *this;
}

VFilePath& VFilePath::SetFileExtension(const VString& ext)
{
    // Only a valid path is changed: the text of an invalid one must not come
    // out of here looking valid. An extension holding ':' would move the
    // path into another folder.
    if (!fIsValid || HoldsColon(ext))
        return *this;
    VFilePath changed(*this);
    VString& text = changed.fPath;
    VIndex length = text.GetLength();
    VIndex dot = text.FindUniChar(u'.', length, true);
    if (dot > 0 && text.FindUniChar(kSep, dot) > 0)
        dot = 0;
    if (!ext.IsEmpty()) {
        if (dot > 0) {
            text.Truncate(dot);
        } else {
            text.AppendUniChar(u'.');
        }
        text.AppendString(ext);
    } else if (dot > 0) {
        text.Truncate(dot - 1);
    }
    changed._SetValidFromText();
    _TakeIfValid(changed, IsFolder());
    return *this;
}

VFilePath& VFilePath::SetFolderExtension(const VString& ext)
{
    if (!fIsValid || LastUnit(fPath) != kSep || HoldsColon(ext))
        return *this;
    VFilePath changed(*this);
    VString& text = changed.fPath;
    VIndex final = text.GetLength();
    VIndex dot = final > 1 ? text.FindUniChar(u'.', final - 1, true) : 0;
    if (dot > 0) {
        VIndex colon = text.FindUniChar(kSep, dot);
        if (colon > 0 && colon != final)
            dot = 0;
    }
    if (!ext.IsEmpty()) {
        if (dot > 0) {
            if (final - 1 - dot > 0)
                text.Remove(dot + 1, final - 1 - dot);
            text.Insert(ext, dot + 1);
        } else {
            VString inserted(u'.');
            inserted.AppendString(ext);
            text.Insert(inserted, final);
        }
    } else if (dot > 0) {
        text.Remove(dot, final - dot);
    }
    changed._SetValidFromText();
    _TakeIfValid(changed, true);
    return *this;
}

bool VFilePath::MatchExtension(const VString& ext, bool withDiacritics) const
{
    if (ext.IsEmpty()) {
        VString name;
        GetName(name);
        return name.FindUniChar(u'.') == 0;
    }
    VString pattern(u'.');
    pattern.AppendString(ext);
    if (IsFolder())
        pattern.AppendUniChar(kSep);
    return fPath.EndsWith(pattern, withDiacritics);
}

// --- text out ---

VString VFilePath::GetPath(FilePathStyle style) const
{
    VString out;
    if (style == FPS_SYSTEM)
        out.FromString(fPath);
    else
        GetPosixPath(out);
    return out;
}

void VFilePath::GetPosixPath(VString& out) const
{
    if (!fIsValid) {
        out.Clear();
        return;
    }
    out.FromString(fPath);
    VURL::Convert(out, eURL_HFS_STYLE, eURL_POSIX_STYLE, false);
}

bool VFilePath::GetRelativePath(const VFilePath& base, VString& out) const
{
    // The rest is cut at the folder's own length, never at the length of an
    // accent-insensitive match: such a match takes a combining mark that
    // follows into the folder's text, and the rest would then name another
    // item ("\u0301a" below the folder would come back as "a").
    VIndex baseLength = base.fPath.GetLength();
    if (base.IsFolder() && fPath.GetLength() >= baseLength) {
        const UniChar* units = fPath.GetCPointer();
        VIntlMgr* manager = VIntlMgr::GetCurrentOrDefault();
        VCollator* collator = manager != nullptr ? manager->GetCollator() : nullptr;
        bool same = collator != nullptr
                        ? collator->EqualString(units, baseLength, base.fPath.GetCPointer(), baseLength, false)
                        : fPath.BeginsWithRawString(base.fPath);
        if (same) {
            fPath.GetSubString(baseLength + 1, fPath.GetLength() - baseLength, out);
            return true;
        }
    }
    out.FromString(fPath);
    return false;
}

bool VFilePath::GetRelativePosixPath(const VFilePath& base, VString& out) const
{
    if (GetRelativePath(base, out)) {
        VURL::Convert(out, eURL_HFS_STYLE, eURL_POSIX_STYLE, true);
        return true;
    }
    GetPosixPath(out);
    return false;
}

void VFilePath::RemoveBlanks()
{
    VIntlMgr* manager = VIntlMgr::GetCurrentOrDefault();
    auto isSpace = [manager](UniChar c) {
        return manager != nullptr ? manager->IsSpace(c) : (c == u' ' || c == u'\t');
    };
    const UniChar* units = fPath.GetCPointer();
    VIndex length = fPath.GetLength();
    VString result;
    VIndex start = 0;
    for (VIndex i = 0; i <= length; ++i) {
        if (i < length && units[i] != kSep)
            continue;
        VIndex b = start, e = i;
        while (b < e && isSpace(units[b]))
            ++b;
        while (e > b && isSpace(units[e - 1]))
            --e;
        result.AppendUniChars(units + b, e - b);
        if (i < length)
            result.AppendUniChar(kSep);
        start = i + 1;
    }
    fPath.FromString(result);
    if (fIsValid && !SpellsOnlyNames(fPath, false))
        fIsValid = false;
}

// --- static checks ---

bool VFilePath::BadChar(const VString& text, FilePathStyle, bool)
{
    // A NUL would cut the name short on its way to the file system, and a
    // surrogate without its other half has no byte form there: either would
    // hand the system another name than the one spelt (a lost last name
    // leaves the path naming its folder).
    const UniChar* units = text.GetCPointer();
    const VIndex length = text.GetLength();
    for (VIndex i = 0; i < length; ++i) {
        const UniChar c = units[i];
        if (c == 0)
            return true;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == length || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
                return true;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return true;
        }
    }
    return false;
}

bool VFilePath::ValidFullPath(const VString& text, FilePathStyle style)
{
    if (text.IsEmpty() || text.IsNull())
        return false;
    UniChar first = text.GetCPointer()[0];
    return style == FPS_POSIX ? first == u'/' : first != kSep;
}

bool VFilePath::ValidRelativePath(const VString& text, FilePathStyle style)
{
    return !(style == FPS_POSIX && text.GetLength() > 0 && text.GetCPointer()[0] == u'/');
}

bool VFilePath::ResolveRelativePosix(VString& text)
{
    VIndex slash = text.FindUniChar(u'/');
    if (slash == 0)
        return true;
    const UniChar* units = text.GetCPointer();
    VIndex length = text.GetLength();

    // The component before the first '/' takes part too ("a/../b" is "b"); an
    // empty one is the root of a full path, above which nothing climbs.
    bool rooted = slash == 1;
    std::vector<std::u16string> stack;
    if (!rooted)
        stack.emplace_back(units, static_cast<size_t>(slash - 1));
    bool trailing = false;
    VIndex start = slash;  // 0-based index after the first '/'
    for (VIndex i = slash; i <= length; ++i) {
        if (i < length && units[i] != u'/')
            continue;
        std::u16string component(units + start, static_cast<size_t>(i - start));
        bool last = i == length;
        if (component.empty()) {
            trailing = last;
        } else if (component == u".") {
            trailing = last;
        } else if (component == u"..") {
            if (!stack.empty() && stack.back() != u"..")
                stack.pop_back();
            else if (!stack.empty())
                stack.push_back(component);  // a relative text that begins above its start
            else
                return false;
            trailing = last;
        } else {
            stack.push_back(component);
            trailing = false;
        }
        start = i + 1;
    }
    std::u16string result = rooted ? u"/" : u"";
    for (size_t i = 0; i < stack.size(); ++i) {
        if (i > 0)
            result.push_back(u'/');
        result.append(stack[i]);
    }
    if (trailing && !result.empty() && result.back() != u'/')
        result.push_back(u'/');
    text.FromUniString(result.data(), static_cast<VIndex>(result.size()));
    return true;
}

}  // namespace bkit
