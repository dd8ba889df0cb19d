// The printed outcome of a signature check:
//
//   Package "Folian Installer.pkg":
//      Status: signed by a developer certificate issued by the platform ...
//      Certificate Chain:
//       1. <common name>
//          Expires: 2031-09-17 00:00:00 +0000
//          SHA256 Fingerprint:
//              3D 4A ... (16 bytes per line)
//          ------------------------------------------------------------------------
//       2. ...
//
// Readers look for certificate names line by line, so every name and the file
// name are kept to one line: control characters are shown as "\xNN".
#ifndef SKIFF_TOOLS_PKGUTIL_SIGNATURE_REPORT_H_
#define SKIFF_TOOLS_PKGUTIL_SIGNATURE_REPORT_H_

#include <string>

#include "tools/pkgutil/signature_verifier.h"

namespace pkgutil {

// `packagePath` as given; the report names its last component.
std::string FormatSignatureReport(const std::string& packagePath, const VerificationResult& result);

}  // namespace pkgutil

#endif  // SKIFF_TOOLS_PKGUTIL_SIGNATURE_REPORT_H_
