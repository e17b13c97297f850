#!/usr/bin/env bash
# Installs what building, running and testing Quorvane needs on Debian 12, and nothing that is
# already there. Safe to run again; needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config git clang-format
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev valgrind
  # core, net, database
  libjsoncpp-dev liburiparser-dev libsqlite3-dev
  # spooler: CUPS, poppler, cairo, JPEG, ACLs
  libcups2-dev libpoppler-glib-dev libcairo2-dev libjpeg62-turbo-dev libacl1-dev
  # a real CUPS with a virtual IPP Everywhere printer for the print tests
  cups cups-client cups-ipp-utils cups-filters avahi-daemon dbus poppler-utils
  # the console, and looking at it: real windows under Xvfb, a tray to embed into, screenshots
  qt6-base-dev fonts-dejavu-core fonts-dejavu-extra xdg-utils xvfb xauth libproxy-dev
  imagemagick xdotool wmdocker x11-apps librsvg2-bin
  # the console's translations: lupdate and lrelease, and Qt's own translations (qtbase_de.qm ...)
  qt6-l10n-tools qt6-translations-l10n
  # the console's images rendered from their SVGs on high-DPI screens (Qt's SVG image plugin)
  libqt6svg6
  # a notification daemon on a private session bus for the notification tests (dbus-daemon is in dbus)
  dunst
  # a Secret Service (the login keyring) on a private session bus for the proxy password tests
  gnome-keyring
  # receiving jobs from phones over IPP, advertised with DNS-SD
  libpappl-dev avahi-utils
  # signing in to printers with an access list (PAM), the sign-in's key in the DNS-SD records (Avahi)
  libpam0g-dev libavahi-client-dev
  # the console's Phones and Tablets window: QR codes, reading them back in the tests, the firewall it checks
  libqrencode-dev zbar-tools nftables
  # the printers' web page in a real browser (headless chromium driven by selenium)
  chromium chromium-driver python3-selenium
  # fuzzing (libFuzzer with clang's sanitizers)
  clang libclang-rt-14-dev
  # installing: desktop entries, AppStream, manual pages, the Debian package
  desktop-file-utils appstream man-db lintian dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  # The package lists are fetched once, when none are present yet.
  if [ -z "$(ls -A /var/lib/apt/lists 2>/dev/null | grep -v -e '^lock$' -e '^partial$' -e '^auxfiles$')" ]; then
    $sudo apt-get update -qq
  fi
  if ! $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi

# The print service checks the names and passwords given for a printer with an access list with the PAM
# service "quorvane" (what the Debian package installs); without it PAM would fall back to /etc/pam.d/other.
if [ ! -e /etc/pam.d/quorvane ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo install -m 0644 "$(dirname "$0")/../packaging/quorvane.pam" /etc/pam.d/quorvane
fi
