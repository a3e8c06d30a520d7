// WholeFile.h - putting generated input on disk for the programs that feed
// readers from files: the benchmarks of the readers and the fuzz targets.
//
// WriteWhole replaces a file's content by POSIX path without the classes under
// measurement; FileAt answers a new VFile the caller owns through the VRefPtr.
// Neither follows nor refuses links specially: both act on the path as given.
#pragma once

#include <cstdio>
#include <string>

#include "basekit/files/VFile.h"
#include "basekit/files/VFilePath.h"
#include "basekit/text/VString.h"

namespace bkit::test {

// Replaces the file's content; false when it cannot be written whole.
inline bool WriteWhole(const std::string& path, const std::string& content)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    return std::fclose(file) == 0 && written;
}

inline VRefPtr<VFile> FileAt(const std::string& path)
{
    VString text;
    text.FromCString(path.c_str());
    return VRefPtr<VFile>::Adopt(new VFile(VFilePath(text, FPS_POSIX)));
}

}  // namespace bkit::test
