// The platform's standard folders.
#ifndef SKIFF_PLATFORM_FOLDERS_H_
#define SKIFF_PLATFORM_FOLDERS_H_

#include <string>

// The machine-wide Library folder, "/Library".
std::string LocalLibraryFolder();
// The machine-wide Application Support folder, "/Library/Application Support".
std::string LocalApplicationSupportFolder();
// The per-user temporary folder with a trailing slash: $TMPDIR when set and
// not empty, else the user's private folder "skiff-<uid>/" in `sharedFolder`
// (a path with a trailing slash), made with mode 0700 when missing. "" when
// that folder cannot be made, or is a link, no directory, another user's or
// writable by group or others: nobody else may place anything in it.
std::string TemporaryFolder(const std::string& sharedFolder = "/tmp/");
// The user's home folder: $HOME, else the password database's entry, else "".
std::string HomeFolder();

#endif  // SKIFF_PLATFORM_FOLDERS_H_
