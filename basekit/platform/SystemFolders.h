// SystemFolders.h - the well-known folders of the user and the machine.
//
// This file defines the Linux stand-in for the file manager's directory
// lookup and the temporary-folder query: the XDG base directories and the
// user's home replace the user-domain folders, fixed system folders the
// local-domain ones, $TMPDIR (else /tmp/) the temporary folder.
//
// Kinds (those of ESystemFolderKind): 0 the running executable's folder,
// 1 documents ($XDG_DOCUMENTS_DIR, else ~/Documents), 2 temporary,
// 4 and 6 /usr/local/share, 5 and 7 $XDG_DATA_HOME (else ~/.local/share),
// 8 desktop ($XDG_DESKTOP_DIR, else ~/Desktop), 9 /opt, 10 /var/cache,
// 11 $XDG_CACHE_HOME (else ~/.cache), 12 ~/.local, 13 the home ($HOME, else the
// password entry). Relative XDG values are ignored, as the XDG rules say.
//
// Shortcomings: the user-dirs.dirs file of desktops is not read (only the
// environment); kind 3 and kinds past 13 have no folder. Thread-safe (reads
// the environment only).
#pragma once

#include <cstdint>
#include <string>

namespace bkit {

// Sets out to the folder's POSIX path ending with '/'. Returns 0, ENOENT for a
// kind without a folder (out empty), or the errno of creating it (create true
// makes a missing folder with its parents, mode 0755; kinds 0, 2 and 13 are
// never created). Without create, a missing folder is still answered.
int GetSystemFolderPath(uint32_t kind, bool create, std::string& out);

}  // namespace bkit
