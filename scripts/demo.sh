#!/usr/bin/env bash
# Skiff's main job on a demo machine: builds skiff, makes a throwaway root
# holding a fake macOS tree with one installation of Folian Pro (Evergreen,
# 23.008.20470), asks skiff for the product's status and prints the response
# document, has skiff launch the product twice (plainly, then in the upsell
# workflow that starts it with "/z") and shows what was started, and shows the
# installer log. The machine's own /Applications and /Library are not touched.
set -euo pipefail
# shellcheck source=scripts/lib/setup.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/setup.sh"

skiff_install_missing_packages
skiff_build "$SKIFF_BUILD_DIR" -- skiff skiff-root fake_product

build="$(skiff_build_path "$SKIFF_BUILD_DIR")"
root="${TMPDIR:-/tmp}/skiff-demo-$(id -u)"
bundle="$root/Applications/Orvane Folian.app"

skiff_say "Making the demo machine in $root"
rm -rf "$root"
mkdir -p "$bundle/Contents/MacOS" "$root/Library/Application Support" \
  "$root/Library/InstallerSandboxes" "$root/Users/tester/Applications" "$root/tmp"
chmod 1777 "$root/tmp"
# The stand-in executable records its arguments in /tmp/launched.txt.
cp "$build/tests/support/fake_product" "$bundle/Contents/MacOS/Folian"
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

# skiff MODE INPUT: one skiff run inside the demo root; prints its exit code.
skiff() {
  local code=0
  printf '$ skiff --mode=%s --inputXml=%s --outputXml=/tmp/status-out.xml --pipeName=demo\n' "$1" "$2"
  "$build/tools/skiff-root/skiff-root" --bind "$build/app/skiff:/opt/skiff/bin/skiff:ro" "$root" -- \
    /opt/skiff/bin/skiff --mode="$1" --inputXml="$2" --outputXml=/tmp/status-out.xml \
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

skiff_say "The installer log, /Library/Logs/Orvane/Installers/FLNXInstaller.log"
cat "$root/Library/Logs/Orvane/Installers/FLNXInstaller.log"

skiff_say "Done. The demo machine stays in $root for a look around, e.g.:"
echo "  $build/tools/skiff-root/skiff-root $root -- sh -c 'ls -R /Applications /Library'"
