#!/usr/bin/env bash
# Skiff's main job on a demo machine: builds skiff, makes a throwaway root
# holding a fake macOS tree with one installation of Folian Pro (Evergreen,
# 23.008.20470), and runs all four operations in it:
#   - getAppStatus, printing the response document;
#   - launchApp twice (plainly, then in the upsell workflow that starts the
#     product with "/z"), showing what was started;
#   - install of a demo package signed by a demo certificate chain, checked
#     by our pkgutil and installed by a stand-in system installer, under
#     skiff-host with its progress bar;
#   - uninstall of the Evergreen installation through its remover tool.
# The log of each run is shown at the end. The machine's own /Applications,
# /Library and /tmp are not touched.
set -euo pipefail
# shellcheck source=scripts/lib/setup.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/setup.sh"

skiff_install_missing_packages
skiff_build "$SKIFF_BUILD_DIR" -- skiff skiff-root skiff-host pkgutil make_test_package fake_product

build="$(skiff_build_path "$SKIFF_BUILD_DIR")"
root="${TMPDIR:-/tmp}/skiff-demo-$(id -u)"
bundle="$root/Applications/Orvane Folian.app"

skiff_say "Making the demo machine in $root"
rm -rf "$root"
mkdir -p "$bundle/Contents/MacOS" "$root/Library/Application Support" \
  "$root/Library/InstallerSandboxes" "$root/Users/tester/Applications" "$root/tmp"
chmod 1777 "$root/tmp"
# The stand-in executable records its arguments in /tmp/launched.txt.
cp "$build/tools/fake_product/fake_product" "$bundle/Contents/MacOS/Folian"
cat >"$bundle/Contents/Info.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleIdentifier</key>
  <string>com.orvane.Folian.Pro</string>
  <key>CFBundleExecutable</key>
  <string>Folian</string>
  <key>CFBundleVersion</key>
  <string>23.008.20470</string>
  <key>TrackName</key>
  <string>Evergreen</string>
  <key>FoliSCA</key>
  <true/>
  <key>CFBundleDocumentTypes</key>
  <array>
    <dict>
      <key>CFBundleTypeExtensions</key>
      <array><string>pdf</string></array>
      <key>CFBundleTypeRole</key>
      <string>Editor</string>
    </dict>
  </array>
</dict>
</plist>
PLIST
# A single-client installation whose full application is not installed yet:
# the upsell launch starts it with the upgrade argument.
preferences="$root/Library/Application Support/Orvane/Folian/Evergreen/SupportFiles/Preferences"
mkdir -p "$preferences"
cat >"$preferences/com.orvane.folian.scainstaller.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
  <key>bIsSingleClientApp</key>
  <true/>
  <key>bIsSCFoliAppInstalled</key>
  <false/>
</dict>
</plist>
PLIST
cat >"$root/tmp/status-in.xml" <<'XML'
<request>
  <bundleInfo>com.orvane.Folian.Pro_23.0,com.orvane.Folian.Pro_20.1,</bundleInfo>
  <workflow>upsell</workflow>
</request>
XML
cat >"$root/tmp/launch-in.xml" <<'XML'
<request>
  <bundleInfo>com.orvane.Folian.Pro</bundleInfo>
</request>
XML
cat >"$root/tmp/upsell-launch-in.xml" <<'XML'
<request>
  <bundleInfo>com.orvane.Folian.Pro</bundleInfo>
  <workflow>upsell</workflow>
</request>
XML

# The system tools of the demo machine, mounted over its /usr/sbin: our
# pkgutil, and a stand-in for the system installer that takes its time.
tools="$root/opt/demo-sbin"
mkdir -p "$tools" "$root/tmp/Pkg Dir"
cp "$build/tools/pkgutil/pkgutil" "$tools/pkgutil"
cat >"$tools/installer" <<'SH'
#!/bin/sh
echo "installer: Package name is Folian Pro"
echo "installer: Installing at base path $4 from $2"
sleep 3
echo "installer: The install was successful."
SH
# The demo package, signed by a demo chain whose root is the machine's only
# trust anchor.
"$build/tools/make_test_package/make_test_package" "$root/tmp/Pkg Dir/Folian Installer.pkg" \
  "$root/Library/Skiff/TrustAnchors"
# The installation's remover tool.
remover="$bundle/Contents/Helpers/Folian Uninstaller.app/Contents/Library/LaunchServices"
mkdir -p "$remover"
cat >"$remover/com.orvane.Folian.RemoverTool" <<'SH'
#!/bin/sh
echo "Removing $2"
sleep 2
echo "Folian Pro removed."
SH
chmod 755 "$tools/installer" "$remover/com.orvane.Folian.RemoverTool"

cat >"$root/tmp/install-proxy.xml" <<'XML'
<Proxy><ThirdPartyComponent><Metadata><Name>Folian Installer.pkg</Name></Metadata></ThirdPartyComponent></Proxy>
XML
cat >"$root/tmp/install-in.xml" <<'XML'
<Deployment><Properties>
  <Property name="installSourcePath">/tmp/Pkg Dir</Property>
  <Property name="proxyFile">/tmp/install-proxy.xml</Property>
</Properties></Deployment>
XML
cat >"$root/tmp/uninstall-proxy.xml" <<'XML'
<Proxy>
  <InstallDir><Platform>[OrvaneProgramFiles]</Platform></InstallDir>
  <ThirdPartyComponent><Metadata><Properties>
    <Property name="path">[INSTALLDIR]/Orvane Folian.app/Contents/Helpers/Folian Uninstaller.app/Contents/Library/LaunchServices/com.orvane.Folian.RemoverTool</Property>
  </Properties></Metadata></ThirdPartyComponent>
</Proxy>
XML
cat >"$root/tmp/uninstall-in.xml" <<'XML'
<Deployment><Properties>
  <Property name="proxyFile">/tmp/uninstall-proxy.xml</Property>
  <Property name="bundleInfo">com.orvane.Folian.Pro</Property>
</Properties></Deployment>
XML

# in_root COMMAND...: runs a command inside the demo root.
in_root() {
  "$build/tools/skiff-root/skiff-root" --bind "$build/app/skiff:/opt/skiff/bin/skiff:ro" \
    --bind "$build/tools/skiff-host/skiff-host:/opt/skiff/bin/skiff-host:ro" \
    --bind "$tools:/usr/sbin:ro" "$root" -- "$@"
}

# skiff MODE INPUT: one skiff run inside the demo root; prints its exit code.
skiff() {
  local code=0
  printf '$ skiff --mode=%s --inputXml=%s --outputXml=/tmp/status-out.xml --pipeName=demo\n' "$1" "$2"
  in_root /opt/skiff/bin/skiff --mode="$1" --inputXml="$2" --outputXml=/tmp/status-out.xml \
    --pipeName=demo || code=$?
  echo "exit code: $code"
  return "$code"
}

# host MODE INPUT: skiff-host starts skiff for MODE and plays the installer
# host over the pipes /tmp/demo_IN and /tmp/demo_OUT.
host() {
  local code=0
  printf '$ skiff-host --mode=%s --inputXml=%s --outputXml=/tmp/out.xml --pipeName=demo\n' "$1" "$2"
  in_root /opt/skiff/bin/skiff-host --mode="$1" --inputXml="$2" --outputXml=/tmp/out.xml \
    --pipeName=demo || code=$?
  echo "exit code: $code"
  return "$code"
}

# The product runs on its own after skiff has ended; wait for its record.
wait_for_launches() {
  local tries=0
  while (($(grep -c -- '^--end--$' "$root/tmp/launched.txt" 2>/dev/null || true) < $1)); do
    ((++tries > 100)) && {
      echo "the product was not started" >&2
      return 1
    }
    sleep 0.05
  done
}

skiff_say "getAppStatus: the status document"
cat "$root/tmp/status-in.xml"
skiff getAppStatus /tmp/status-in.xml
echo "--- /tmp/status-out.xml:"
cat "$root/tmp/status-out.xml"
echo

skiff_say "launchApp: the desktop's opening (no arguments)"
skiff launchApp /tmp/launch-in.xml
wait_for_launches 1
skiff_say "launchApp in the upsell workflow: started directly with the upgrade argument"
skiff launchApp /tmp/upsell-launch-in.xml
wait_for_launches 2
echo "--- /tmp/launched.txt (argv of each start, one line each, then --end--):"
cat "$root/tmp/launched.txt"

skiff_say "install: the signature check, then the system installer, with progress"
in_root /usr/sbin/pkgutil --check-signature "/tmp/Pkg Dir/Folian Installer.pkg"
host install /tmp/install-in.xml

skiff_say "uninstall: the Evergreen installation's remover tool"
host uninstall /tmp/uninstall-in.xml

skiff_say "The installer log, /Library/Logs/Orvane/Installers/FLNXInstaller.log"
cat "$root/Library/Logs/Orvane/Installers/FLNXInstaller.log"

skiff_say "Done. The demo machine stays in $root for a look around, e.g.:"
echo "  $build/tools/skiff-root/skiff-root $root -- sh -c 'ls -R /Applications /Library'"
