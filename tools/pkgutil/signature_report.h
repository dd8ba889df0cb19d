// The printed outcome of a signature check:
//
//   Package "Folian Installer.pkg":
//      Status: signed by a developer certificate issued by Apple for distribution
//      Signed with a trusted timestamp on: 2024-03-01 10:00:00 +0000
//      Certificate Chain:
//       1. <common name>
//          Expires: 2031-09-17 00:00:00 +0000
//          SHA256 Fingerprint:
//              3D 4A ... (16 bytes per line)
//          ------------------------------------------------------------------------
//       2. ...
//
// The timestamp line only when a trusted time stamp was used. Readers look
// for certificate names line by line, so every name and the file name are
// kept to one line: C0 controls and DEL are shown as "\xNN", and the
// Unicode line breaks NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR as
// "\u0085", "\u2028" and "\u2029".
#ifndef SKIFF_TOOLS_PKGUTIL_SIGNATURE_REPORT_H_
#define SKIFF_TOOLS_PKGUTIL_SIGNATURE_REPORT_H_

#include <string>

#include "tools/pkgutil/signature_verifier.h"

namespace pkgutil {

// `packagePath` as given; the report names its last component.
std::string FormatSignatureReport(const std::string& packagePath, const VerificationResult& result);

// What failed, for standard error, kept to one line as the names are:
// "pkgutil: " + the detail + "\n"; empty when there is no detail.
std::string FormatFailureDetail(const VerificationResult& result);

}  // namespace pkgutil

#endif  // SKIFF_TOOLS_PKGUTIL_SIGNATURE_REPORT_H_
