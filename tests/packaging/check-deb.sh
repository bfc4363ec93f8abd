#!/usr/bin/env bash
# Builds the .deb from an installed build folder and checks what it holds and what it depends on.
#   check-deb.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" > "$work/cpack.log" || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/*.deb)
contents=$(dpkg-deb --contents "$deb")
depends=$(dpkg-deb --field "$deb" Depends)
echo "package: $(basename "$deb")"
echo "Depends: $depends"

status=0
for file in ./usr/bin/tarnel ./usr/bin/tarnel-cli ./usr/share/applications/tarnel.desktop \
            ./usr/share/metainfo/org.tarnel.Tarnel.metainfo.xml ./usr/share/tarnel/tarnelformat.ini \
            ./usr/share/icons/hicolor/256x256/apps/tarnel.png; do
  if ! grep -q " $file\$" <<<"$contents"; then
    echo "missing from the package: $file"
    status=1
  fi
done
# The libraries come from Debian's packages, found from what the programs link.
for package in libavcodec libavformat libsdl2 libqt6widgets6 qt6-qpa-plugins; do
  if ! grep -q "$package" <<<"$depends"; then
    echo "not among the dependencies: $package"
    status=1
  fi
done
exit $status
