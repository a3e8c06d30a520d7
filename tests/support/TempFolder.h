// TempFolder.h - a fresh temporary folder for each test.
//
// This file defines TempFolder, a scoped owner of a new folder below $TMPDIR
// (else /tmp) that is removed with everything in it (links removed, never
// followed; locked and read-only items unlocked first) when it goes out of
// scope, and TempFolderTest, the GoogleTest fixture that gives every test its
// own. Helpers write and read small files by POSIX path, so that tests can set
// up and check the disk without the classes under test.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "basekit/files/VFilePath.h"
#include "basekit/text/VString.h"

namespace bkit::test {

class TempFolder {
public:
    TempFolder()
    {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp");
        if (templ.back() != '/')
            templ += '/';
        templ += "bkit-test-XXXXXX";
        char* made = mkdtemp(templ.data());
        if (made)
            fPath = made;
    }
    ~TempFolder() { RemoveTree(fPath); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool IsValid() const { return !fPath.empty(); }

    // The folder's POSIX path, without a final '/'.
    const std::string& Path() const { return fPath; }
    // The POSIX path of a name (or relative path) inside it.
    std::string Path(const std::string& name) const { return fPath + "/" + name; }

    // The internal form of a file or folder inside it.
    VFilePath FilePath(const std::string& name) const
    {
        VString text;
        text.FromCString(Path(name).c_str());
        return VFilePath(text, FPS_POSIX);
    }
    VFilePath FolderPath(const std::string& name = "") const
    {
        VString text;
        text.FromCString((name.empty() ? fPath + "/" : Path(name) + "/").c_str());
        return VFilePath(text, FPS_POSIX);
    }

    // Writes content into a new or truncated file; true on success.
    bool WriteFile(const std::string& name, const std::string& content, mode_t mode = 0644) const
    {
        int fd = ::open(Path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
        if (fd < 0)
            return false;
        bool ok = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
        ::close(fd);
        return ok;
    }

    // The whole content, or "<missing>" when the file cannot be read.
    std::string ReadFile(const std::string& name) const
    {
        int fd = ::open(Path(name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return "<missing>";
        std::string out;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof(buffer))) > 0)
            out.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        return out;
    }

    bool MakeFolder(const std::string& name, mode_t mode = 0755) const { return ::mkdir(Path(name).c_str(), mode) == 0; }
    bool MakeLink(const std::string& name, const std::string& target) const
    {
        return ::symlink(target.c_str(), Path(name).c_str()) == 0;
    }
    // lstat: a link counts, dangling or not.
    bool ItemExists(const std::string& name) const
    {
        struct stat st;
        return ::lstat(Path(name).c_str(), &st) == 0;
    }

    // The names inside a folder of it ("" for itself), hidden ones included,
    // sorted; empty when it cannot be read.
    std::vector<std::string> List(const std::string& folder) const
    {
        std::vector<std::string> names;
        DIR* dir = ::opendir(folder.empty() ? fPath.c_str() : Path(folder).c_str());
        if (dir == nullptr)
            return names;
        while (struct dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    // Removes a tree without following links, unlocking what stands in the way.
    static void RemoveTree(const std::string& path)
    {
        if (path.empty())
            return;
        ::nftw(path.c_str(), &_Unlock, 32, FTW_PHYS);
        ::nftw(path.c_str(), &_Remove, 32, FTW_PHYS | FTW_DEPTH);
    }

private:
    static int _Unlock(const char* path, const struct stat* st, int type, struct FTW*)
    {
        if (type != FTW_SL && type != FTW_SLN) {
            ::removexattr(path, "user.bkit.st_flags");
            ::chmod(path, (st->st_mode & 07777) | (type == FTW_F ? 0600 : 0700));
        }
        return 0;
    }
    static int _Remove(const char* path, const struct stat*, int, struct FTW*)
    {
        ::remove(path);
        return 0;
    }

    std::string fPath;
};

// Gives every test a fresh folder (fTemp), removed afterwards.
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fTemp.IsValid()); }
    TempFolder fTemp;
};

}  // namespace bkit::test
