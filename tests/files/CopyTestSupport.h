// CopyTestSupport.h - what the file and folder copy tests share.
//
// The status of an item, the ids of the unprivileged user that items are
// given to, and a set of sparse files with the check that a copy kept their
// holes and their bytes.
#pragma once

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "support/TempFolder.h"

namespace bkit::test {

inline struct stat StatOf(const std::string& path)
{
    struct stat st = {};
    EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
    return st;
}

// The user and group "nobody" (65534 where the system has no such user).
inline std::pair<uid_t, gid_t> NobodyIds()
{
    const struct passwd* nobody = getpwnam("nobody");
    return {nobody ? nobody->pw_uid : 65534, nobody ? nobody->pw_gid : 65534};
}

// Names of the files MakeSparseFiles makes.
inline const std::vector<std::string>& SparseFileNames()
{
    static const std::vector<std::string> names = {"holes", "leading", "empty"};
    return names;
}

// Makes the sparse files of SparseFileNames in the folder of temp (which must
// exist; "" for temp itself): a hole inside and at the end, a hole at the start, nothing but a
// hole. False when the volume does not keep holes (the caller skips).
inline bool MakeSparseFiles(const TempFolder& temp, const std::string& folder)
{
    const off_t kMiB = 1024 * 1024;
    struct File {
        std::vector<std::pair<off_t, std::string>> writes;
        off_t size;
    } files[] = {
        {{{0, "head"}, {2 * kMiB, "middle"}}, 4 * kMiB},
        {{{1 * kMiB, "tail"}}, 1 * kMiB + 4},
        {{}, 2 * kMiB},
    };
    bool keepsHoles = true;
    for (size_t i = 0; i < SparseFileNames().size(); ++i) {
        const std::string& name = SparseFileNames()[i];
        const std::string path = temp.Path(folder.empty() ? name : folder + "/" + name);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        EXPECT_LE(0, fd) << path;
        for (const auto& [offset, text] : files[i].writes)
            EXPECT_EQ(static_cast<ssize_t>(text.size()), pwrite(fd, text.data(), text.size(), offset));
        EXPECT_EQ(0, ftruncate(fd, files[i].size));
        EXPECT_EQ(0, fsync(fd));
        close(fd);
        struct stat st = StatOf(path);
        keepsHoles = keepsHoles && st.st_blocks * 512 < st.st_size;
    }
    return keepsHoles;
}

// Expects the file copy (a path inside temp) to hold the bytes of source in
// as many blocks.
inline void ExpectSameHolesAndBytes(const TempFolder& temp, const std::string& source, const std::string& copy)
{
    SCOPED_TRACE(copy);
    int fd = open(temp.Path(copy).c_str(), O_RDONLY);
    ASSERT_LE(0, fd);
    EXPECT_EQ(0, fsync(fd));
    close(fd);
    struct stat from = StatOf(temp.Path(source));
    struct stat to = StatOf(temp.Path(copy));
    EXPECT_EQ(from.st_size, to.st_size);
    EXPECT_EQ(from.st_blocks, to.st_blocks);
    EXPECT_TRUE(temp.ReadFile(source) == temp.ReadFile(copy));
}

}  // namespace bkit::test
