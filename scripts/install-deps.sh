#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one is missing.
set -euo pipefail

packages=(
  build-essential cmake
  qtbase5-dev libqt5serialport5-dev libqt5sql5-sqlite libqwt-qt5-dev
  qttools5-dev-tools qttools5-dev
  clang libclang-rt-dev               # the fuzzing harnesses (libFuzzer)
  desktop-file-utils appstream unzip  # the install test validates the desktop entry, metainfo and zip
  qttranslations5-l10n               # Qt's own German texts (buttons, file dialogs)
  zlib1g-dev                         # the payload cipher inflates with zlib itself
  libqt5sql5-psql                    # results in a shared PostgreSQL database (--results-db)
  postgresql                         # the results tests start a server of their own
  libpcap-dev                        # line captures are pcap files
  tshark                             # the test of the Wireshark dissector (asks a debconf question:
                                     # answered by DEBIAN_FRONTEND=noninteractive below)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update </dev/null
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
