#!/usr/bin/env bash
# Fetches one Debian source package at a pinned version and unpacks it with Debian's own patches
# applied. apt runs on a configuration of our own (a sources list holding the main archive's
# deb-src entry, private package lists and cache under WORK_DIR), so the system's sources stay
# as they are; apt checks every file against the archive's signed index.
# Usage: debian_source.sh PACKAGE=VERSION WORK_DIR SOURCE_DIR
set -euo pipefail
package=$1
work=$2
dest=$3
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
suite=${DEBIAN_SUITE:-bookworm}

mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/sources.list.d" "$work/download"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" \
    >"$work/sources.list"
apt=(apt-get -q
     -o Dir::Etc::sourcelist="$work/sources.list"
     -o Dir::Etc::sourceparts="$work/sources.list.d"
     -o Dir::State::Lists="$work/lists"
     -o Dir::Cache="$work/cache"
     -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
     -o Debug::NoLocking=1)
# As root apt hands the download to its sandbox user, who cannot write into a build folder.
[ "$(id -u)" -eq 0 ] && apt+=(-o APT::Sandbox::User=root)

"${apt[@]}" update >/dev/null
(cd "$work/download" && "${apt[@]}" source --download-only "$package" >/dev/null)
dsc=$(ls "$work/download/${package%%=*}_${package#*=}.dsc" 2>/dev/null | head -n 1)
dsc=${dsc:-$(ls "$work/download/${package%%=*}"_*.dsc | head -n 1)}
rm -rf "$work/unpacked"
# The signature was checked by apt through the signed index; dpkg-source only applies the patches.
dpkg-source --no-check -x "$dsc" "$work/unpacked" >/dev/null
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
mv "$work/unpacked" "$dest"
echo "Unpacked $(basename "$dsc" .dsc) into $dest"
