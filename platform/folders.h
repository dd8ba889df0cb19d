// The platform's standard folders.
#ifndef SKIFF_PLATFORM_FOLDERS_H_
#define SKIFF_PLATFORM_FOLDERS_H_

#include <string>

// The machine-wide Library folder, "/Library".
std::string LocalLibraryFolder();
// The machine-wide Application Support folder, "/Library/Application Support".
std::string LocalApplicationSupportFolder();
// The per-user temporary folder with a trailing slash: $TMPDIR when set and
// not empty, else "/tmp/".
std::string TemporaryFolder();
// The user's home folder: $HOME, else the password database's entry, else "".
std::string HomeFolder();

#endif  // SKIFF_PLATFORM_FOLDERS_H_
