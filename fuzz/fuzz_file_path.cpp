// fuzz_file_path.cpp - libFuzzer target for file path texts.
//
// The input, decoded as UTF-8, is taken as a full path and as a path relative
// to a base folder, in the internal ':' form and in POSIX form. The findings,
// beside crashes and sanitizer reports:
// - a valid path read back from its own internal text is the same path, and
//   one made from POSIX text gives the same POSIX text again;
// - a path that calls itself a child of the base spells the base's text
//   first, its POSIX text lies under the base's, and no component of what
//   follows is "." or "..", so it names no folder but the one it spells;
// - the relative text of a child is exactly its text after the base's;
// - walking up ends, one component a step.
// Full POSIX paths ask the mount table and may read links on the way, so the
// target only reads the disk, never writes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "basekit/files/VFilePath.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

namespace {

bool HasDotComponent(const VString& text, UniChar separator)
{
    VIndex length = text.GetLength();
    VIndex start = 0;
    for (VIndex i = 0; i <= length; ++i) {
        if (i == length || text[i] == separator) {
            VIndex n = i - start;
            if ((n == 1 && text[start] == u'.') || (n == 2 && text[start] == u'.' && text[start + 1] == u'.'))
                return true;
            start = i + 1;
        }
    }
    return false;
}

bool BeginsWith(const VString& text, const VString& prefix)
{
    if (text.GetLength() < prefix.GetLength())
        return false;
    VString head;
    text.GetSubString(1, prefix.GetLength(), head);
    return head.EqualToString(prefix, false);
}

// An internal text may name a volume that is not mounted, which has no POSIX
// text: the POSIX round trip is asked only of paths that came from one.
void ReadsBack(const VFilePath& path, bool posixOrigin)
{
    if (!path.IsValid())
        return;
    VFilePath again(path.GetPath(), FPS_SYSTEM);
    Check(again == path);
    if (!posixOrigin)
        return;
    VString posix;
    path.GetPosixPath(posix);
    VFilePath fromPosix(posix, FPS_POSIX);
    Check(fromPosix.IsValid());
    VString posixAgain;
    fromPosix.GetPosixPath(posixAgain);
    Check(posixAgain.EqualToStringRaw(posix));
}

void StaysUnder(const VFilePath& path, const VFilePath& base)
{
    if (!path.IsValid() || !path.IsChildOf(base))
        return;
    const VString& text = path.GetPath();
    const VString& baseText = base.GetPath();
    Check(BeginsWith(text, baseText));
    VString rest;
    text.GetSubString(baseText.GetLength() + 1, text.GetLength() - baseText.GetLength(), rest);
    Check(!HasDotComponent(rest, u':'));
    VString relative;
    Check(path.GetRelativePath(base, relative));
    Check(relative.EqualToStringRaw(rest));
    VString posix, basePosix;
    path.GetPosixPath(posix);
    base.GetPosixPath(basePosix);
    Check(BeginsWith(posix, basePosix));
}

void WalksUp(const VFilePath& start)
{
    VFilePath path(start);
    VIndex depth = path.GetDepth();
    VIndex steps = 0;
    while (path.IsValid()) {
        path.ToParent();
        Check(++steps <= depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::StartProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 2048)
        return 0;
    VString text;
    text.FromBlock(data, size, VTC_UTF_8);
    StErrorContextInstaller quiet(false, true);

    static const VFilePath base(VString("/fuzz-base/dir/"), FPS_POSIX);
    Check(base.IsValid() && base.IsFolder());

    for (FilePathStyle style : {FPS_SYSTEM, FPS_POSIX}) {
        VFilePath full(text, style);
        ReadsBack(full, style == FPS_POSIX);
        WalksUp(full);
        VFilePath relative(base, text, style, true);
        ReadsBack(relative, style == FPS_POSIX);
        StaysUnder(relative, base);
        WalksUp(relative);
        VString name;
        relative.GetName(name);
        relative.GetExtension(name);
    }
    VFilePath sub(base);
    sub.ToSubFolder(text);
    StaysUnder(sub, base);
    VFilePath renamed(VString("/fuzz-base/dir/file.txt"), FPS_POSIX);
    if (renamed.SetName(text))
        StaysUnder(renamed, base);
    VString resolved(text);
    VFilePath::ResolveRelativePosix(resolved);
    quiet.Flush();
    return 0;
}
