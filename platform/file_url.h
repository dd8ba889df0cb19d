// File URLs in the platform's absolute string form.
#ifndef SKIFF_PLATFORM_FILE_URL_H_
#define SKIFF_PLATFORM_FILE_URL_H_

#include <string>

// "file://" + the percent-encoded absolute path, + "/" when `isDirectory` and
// the path does not already end in one. Empty for a relative path.
std::string FileUrlStringFromPath(const std::string& path, bool isDirectory);

// Undoes the encoding: the path of a "file://" URL without a trailing slash
// ("/" stays "/"). False for anything that is not a well-formed file URL.
bool PathFromFileUrlString(const std::string& url, std::string* path);

#endif  // SKIFF_PLATFORM_FILE_URL_H_
