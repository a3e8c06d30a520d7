// XMacStackCrawl.cpp - loading and dumping a calling stack with backtrace and dladdr.
#include "basekit/runtime/mac/XMacStackCrawl.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <algorithm>
#include <cstdlib>

#include "basekit/runtime/VSystem.h"
#include "basekit/text/VString.h"

namespace bkit {

namespace {

constexpr int kMostAddresses = 58;

}  // namespace

void XMacStackCrawl::LoadFrames(uint32_t skip, uint32_t mostFrames)
{
    void* addresses[kMostAddresses];
    int found = ::backtrace(addresses, kMostAddresses);
    fCount = 0;
    if (found <= 0 || static_cast<uint32_t>(found) <= skip) return;
    uint32_t keep = std::min<uint32_t>({static_cast<uint32_t>(found) - skip, mostFrames, kMaxFrames});
    std::copy(addresses + skip, addresses + skip + keep, fFrames);
    fCount = static_cast<int32_t>(keep);
}

void XMacStackCrawl::Dump(FILE* file) const
{
    if (!file || fCount == 0) return;
    char** symbols = ::backtrace_symbols(fFrames, fCount);
    for (int32_t i = 0; i < fCount; ++i)
        std::fprintf(file, "  :: frame %u: %s\n", static_cast<unsigned>(fCount - 1 - i), symbols ? symbols[i] : "?");
    std::free(symbols);
}

void XMacStackCrawl::Dump(VString& out) const
{
    for (int32_t i = 0; i < fCount; ++i) {
        VString address;
        address.FromHexLong(static_cast<long long>(reinterpret_cast<uintptr_t>(fFrames[i])), true);
        VString name("<inline>");
        Dl_info info;
        if (::dladdr(fFrames[i], &info) != 0 && info.dli_sname)
            VSystem::DemangleSymbol(info.dli_sname, name);
        out.AppendCString("   {").AppendLong(fCount - 1 - i).AppendCString("} ");
        out.AppendString(address).AppendCString(" - ").AppendString(name).AppendUniChar(u'\n');
    }
}

bool XMacStackCrawl::operator<(const XMacStackCrawl& other) const
{
    if (fCount != other.fCount) return fCount < other.fCount;
    return std::lexicographical_compare(fFrames, fFrames + fCount, other.fFrames, other.fFrames + other.fCount);
}

}  // namespace bkit
