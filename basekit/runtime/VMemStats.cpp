// VMemStats.cpp - statistics of the own allocator and the leak counter.
#include "basekit/runtime/VMemStats.h"

#include <ctime>
#include <string>

#include "basekit/files/VStream.h"
#include "basekit/platform/BundleInfo.h"
#include "basekit/runtime/VCriticalSection.h"
#include "basekit/runtime/mac/XMacStackCrawl.h"
#include "basekit/text/VString.h"

namespace bkit {

VCriticalSection gDumpMemMutex;

namespace {

std::string TagText(OsType tag)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = static_cast<char>((tag >> shift) & 0xFF);
        text += (c >= 32 && c < 127) ? c : '?';
    }
    return text;
}

std::string Line(const char* label, size_t value)
{
    return std::string(label) + std::to_string(value) + "\n";
}

// The lines both reports open with.
std::string MemLines(const VMemStats& stats)
{
    return Line("Used Mem = ", stats.fUsedMem) + Line("Free Mem = ", stats.fFreeMem);
}

// The section both reports close with.
std::string TagSection(const std::map<OsType, VMemStats::TagInfo>& tags)
{
    std::string text = "\n\nBlocks by Tags\n\n";
    for (const auto& entry : tags) {
        text += TagText(entry.first) + " : " + std::to_string(entry.second.fCount) + "   ,  mem = " +
                std::to_string(entry.second.fMemory) + "\n";
    }
    return text;
}

}  // namespace

void VMemStats::Clear()
{
    *this = VMemStats();
}

void VMemStats::AddTag(OsType tag, size_t size)
{
    TagInfo& info = fTags[tag];
    ++info.fCount;
    info.fMemory += size;
}

VError VMemStats::DumpToStream(VStream* stream) const
{
    if (!stream)
        return VE_INVALID_PARAMETER;
    std::string text = MemLines(*this) + Line("Biggest Free Block = ", fBiggestFreeBlock) + "\n\n" +
                       Line("Nb Objects = ", fNbObjects) + "\n\n";
    for (const auto& entry : fObjects) {
        text += entry.second.fName + " : " + std::to_string(entry.second.fCount) + "   ,  mem = " +
                std::to_string(entry.second.fMemory) + "\n";
    }
    text += TagSection(fTags);
    return stream->PutData(text.data(), text.size());
}

VString VMemStats::Dump() const
{
    std::string text = MemLines(*this) + Line("Nb Big Blocks = ", fNbBigBlocks) +
                       Line("Nb Used Big Blocks = ", fNbUsedBigBlocks) + Line("Nb Free Big Blocks = ", fNbFreeBigBlocks) +
                       Line("Nb Pages containing small blocks = ", fNbPages) +
                       Line("Nb Small Blocks = ", fNbSmallBlocks) + Line("Nb Used Small Blocks = ", fNbUsedSmallBlocks) +
                       Line("Nb Free Small Blocks = ", fNbFreeSmallBlocks) + Line("Biggest Block = ", fBiggestBlock) +
                       Line("Biggest Free Block = ", fBiggestFreeBlock) + "\n\nSmall Blocks\n\n";
    for (const auto& entry : fSmallBlocks) {
        text += std::to_string(entry.first) + " : NbUsed = " + std::to_string(entry.second.first) + " , NbFree = " +
                std::to_string(entry.second.second) + "\n";
    }
    text += "\n\nAllocation Pages\n\n";
    for (const auto& entry : fPages) {
        text += std::to_string(entry.first) + " : NbFull = " + std::to_string(entry.second.first) +
                " , NbPartial = " + std::to_string(entry.second.second) + "\n";
    }
    text += "\n\nOther Big Blocks\n\n";
    for (const auto& entry : fOtherBigBlocks)
        text += std::to_string(entry.first) + " : " + std::to_string(entry.second) + "\n";
    text += TagSection(fTags);
    return VString(text.c_str());
}

// --- VLeaksChecker ---

bool VLeaksChecker::SetLeaksCheck(bool on)
{
    bool previous = fEnabled;
    fEnabled = on;
    return previous;
}

void VLeaksChecker::RegisterBlock(XMacStackCrawl& crawl)
{
    if (!fEnabled)
        return;
    crawl.LoadFrames(static_cast<uint32_t>(fFramesToSkip), 8);
    if (!crawl.IsEmpty())
        ++fRegistered;
}

void VLeaksChecker::UnregisterBlock(XMacStackCrawl& crawl)
{
    if (!crawl.IsEmpty() && fRegistered > 0)
        --fRegistered;
}

FILE* VLeaksChecker::OpenDumpFile(const char* name)
{
    std::string path = platform::BundleInfo::GetMainBundlePath();
    if (path.empty())
        return nullptr;
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        path.erase(dot);
    path += std::string(".") + (name ? name : "") + ".leaks";
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return nullptr;
    std::time_t now = std::time(nullptr);
    std::tm local;
    ::localtime_r(&now, &local);
    char date[128];
    std::strftime(date, sizeof(date), "%A, %B %d, %Y %I:%M:%S %p\n", &local);
    std::fputs(date, file);
    if (fRegistered == 0)
        std::fputs("No memory leaks.\n", file);
    else if (fRegistered == 1)
        std::fputs("You have one leak:\n\n", file);
    else
        std::fprintf(file, "You have %i leaks:\n\n", fRegistered);
    return file;
}

}  // namespace bkit
