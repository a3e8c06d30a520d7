// fuzz_url.cpp - libFuzzer target for URL texts.
//
// The input, decoded as UTF-8, is read as an encoded and as a decoded URL
// text, alone and against a base, and as a file path of each style. Every
// getter is asked; the parent walk must end, each step taking something away
// (a loop that answers true without moving would spin for ever in callers);
// the percent coder and the path-style conversions run over the text and over
// each part. Crashes, sanitizer reports and these invariants are the findings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "basekit/files/VURL.h"
#include "basekit/process/VProcess.h"
#include "basekit/runtime/VErrorContext.h"
#include "basekit/text/VString.h"
#include "fuzz/FuzzSupport.h"

using namespace bkit;
using fuzz::Check;

namespace {

void AskEverything(const VURL& url)
{
    VString out;
    for (bool encoded : {false, true}) {
        url.GetScheme(out);
        url.GetNetworkLocation(out, encoded);
        url.GetParameters(out, encoded);
        url.GetQuery(out, encoded);
        url.GetFragment(out, encoded);
        url.GetResourceSpecifier(out, encoded);
        url.GetLastPathComponent(out, encoded);
        url.GetHostName(out, encoded);
        url.GetPortNumber(out, encoded);
        url.GetUserName(out, encoded);
        url.GetPassword(out, encoded);
        url.GetAbsoluteURL(out, encoded);
        url.GetRelativeURL(out, encoded);
        for (EURLPathStyle style : {eURL_POSIX_STYLE, eURL_HFS_STYLE, eURL_WIN_STYLE}) {
            url.GetPath(out, style, encoded);
            url.GetRelativePath(out, style, encoded);
        }
    }
    (void)url.GetPortNumber();
    (void)url.IsRoot();
}

// Each step up must change the URL, and there are never more steps than
// units in the text the walk started from (the text shrinks as it goes, so
// the bound is the first length, not the current one).
void WalkUp(const VURL& start)
{
    VURL url(start);
    VString before;
    url.GetAbsoluteURL(before, false);
    const VIndex maxSteps = before.GetLength() + 1;
    VIndex steps = 0;
    while (url.ToParent()) {
        VString after;
        url.GetAbsoluteURL(after, false);
        Check(!after.EqualToStringRaw(before));
        Check(++steps <= maxSteps);
        before = after;
    }
    std::unique_ptr<VURL> parent(start.RetainParent());
    if (parent) {
        VString a, b;
        start.GetAbsoluteURL(a, false);
        parent->GetAbsoluteURL(b, false);
        Check(!a.EqualToStringRaw(b));
    }
}

void Exercise(const VURL& url)
{
    AskEverything(url);
    WalkUp(url);
    VURL copy(url);
    copy.ToSubFolder(VString("sub"));
    AskEverything(copy);
}

void Coders(const VString& text)
{
    VString t(text);
    VURL::Encode(t);
    VURL::Decode(t);
    VString d(text);
    VURL::Decode(d);
    VString e(text);
    VURL::Encode(e, false, false, false, true);
    for (int from = 0; from < 3; ++from)
        for (int to = 0; to < 3; ++to) {
            VString c(text);
            VURL::Convert(c, EURLPathStyle(from), EURLPathStyle(to), true);
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
    if (size > 4096)
        return 0;
    VString text;
    text.FromBlock(data, size, VTC_UTF_8);
    StErrorContextInstaller quiet(false, true);

    for (bool encoded : {false, true}) {
        VURL url(text, encoded);
        Exercise(url);
        VURL relative;
        relative.FromString(text, VString("http://user:pw@host:81/a/b/c?q#f"), encoded);
        Exercise(relative);
    }
    // Relative file paths of each style only: full ones ask the real disk.
    for (EURLPathStyle style : {eURL_POSIX_STYLE, eURL_HFS_STYLE, eURL_WIN_STYLE}) {
        VURL path(text, style, VString("file:///base/dir/"));
        Exercise(path);
    }
    VURL parts(VString("http://h/p/"), true);
    parts.SetQuery(text, false);
    parts.SetFragment(text, true);
    parts.SetParameters(text, false);
    parts.SetNetWorkLocation(text, true);
    AskEverything(parts);
    Coders(text);
    quiet.Flush();
    return 0;
}
