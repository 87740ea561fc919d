#!/usr/bin/env bash
# desktop_files_test.sh CMAKE BUILD_DIR SCRATCH_ROOT
#
# Installs BUILD_DIR into a scratch prefix and checks each file the desktop reads there with the
# tool made for it: the MIME type through update-mime-database and xdg-mime (a movie is known by
# its name and, renamed, by its first bytes), the desktop entries with desktop-file-validate, the
# metainfo with appstreamcli (no network), and the manual pages rendered by man without a warning.
# The tools come from scripts/install-deps.sh.
set -euo pipefail
cmake=$1
build=$(cd "$2" && pwd)
mkdir -p "$3"
work=$(mktemp -d "$3/desktop-XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in update-mime-database xdg-mime mimetype desktop-file-validate appstreamcli man; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/install-deps.sh"
done

prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }
share=$prefix/share

# The MIME type: by the extension, and by the magic "QRX1" for a movie whose name has none; a file
# of other bytes without the extension is not taken for a movie.
update-mime-database "$share/mime" || fail "update-mime-database refused $share/mime"
"$build/bin/qrxsample" "$work/movie.qrx" --frames 3 >/dev/null || fail "qrxsample"
cp "$work/movie.qrx" "$work/movie-without-extension"
printf 'not a movie\n' > "$work/notes"
filetype() {
  env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID \
    XDG_DATA_HOME="$work/data-home" XDG_DATA_DIRS="$share:/usr/share" xdg-mime query filetype "$1"
}
for movie in movie.qrx movie-without-extension; do
  type=$(filetype "$work/$movie") || fail "xdg-mime could not tell $movie's type"
  [[ "$type" == video/x-qrx ]] || fail "$movie is taken for $type, not video/x-qrx"
done
[[ "$(filetype "$work/notes")" != video/x-qrx ]] || fail "a text file is taken for a movie"

# The desktop entries, as Debian's desktop-file-validate reads them (warnings fail too).
for entry in reelforge reelview; do
  file=$share/applications/$entry.desktop
  [[ -f "$file" ]] || fail "$entry.desktop is not installed"
  report=$(desktop-file-validate "$file" 2>&1) || fail "desktop-file-validate refused $entry.desktop: $report"
  [[ -z "$report" ]] || fail "desktop-file-validate: $report"
done
grep -qx 'Exec=reelview %f' "$share/applications/reelview.desktop" || fail "reelview.desktop does not open a file"
grep -qx 'MimeType=video/x-qrx;' "$share/applications/reelview.desktop" || fail "reelview.desktop does not take video/x-qrx"
grep -qx 'Exec=reelforge %f' "$share/applications/reelforge.desktop" || fail "reelforge.desktop does not open a file"
[[ -f "$share/icons/hicolor/scalable/apps/reelview.svg" ]] || fail "Reelview's icon is not installed"

# The metainfo, each file alone and together with the desktop entries they name.
shopt -s nullglob
metainfo=("$share"/metainfo/*.metainfo.xml)
[[ ${#metainfo[@]} -eq 2 ]] || fail "expected two metainfo files, found ${#metainfo[@]}"
for file in "${metainfo[@]}"; do
  appstreamcli validate --no-net "$file" >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log"; fail "appstreamcli refused $file"; }
done
grep -q '<image type="source"[^>]*>https://[^<]*/reelforge-dialog.png</image>' "$share"/metainfo/*Reelforge.metainfo.xml ||
  fail "the dialog's metainfo shows no screenshot"
mkdir -p "$work/root/usr"
ln -s "$share" "$work/root/usr/share"
appstreamcli validate-tree --no-net "$work/root" >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log"; fail "appstreamcli validate-tree"; }

# The manual pages, rendered as lintian renders them: any warning fails.
for program in reelforge reelforge-cli reelview qrxtool; do
  page=$share/man/man1/$program.1.gz
  [[ -f "$page" ]] || fail "no manual page for $program"
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) ||
    fail "man could not render $program.1"
  [[ -z "$warnings" ]] || fail "man warns about $program.1: $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "$program" || fail "$program.1 does not name $program"
done
echo "MIME type, desktop entries, metainfo and manual pages pass their validators"
