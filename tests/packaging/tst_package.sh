#!/usr/bin/env bash
# Usage: tst_package.sh SOURCE_DIR. Builds build/korvan-controller_*.deb and
# reports every check that fails, not only the first.
set -uo pipefail
deb=$(bash "$1/scripts/package" | tail -n 1) && [ -f "$deb" ] || { echo "FAIL: no package"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
field() { dpkg-deb -f "$deb" "$1"; }
version=$(field Version)

[ "$(basename "$deb")" = "korvan-controller_${version}_$(field Architecture).deb" ] ||
    fail "file name $(basename "$deb")"
# lintian: stripping, the copyright file, the changelog, unit and doc paths.
lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
while IFS='|' read -r name pattern; do
    # shellcheck disable=SC2053 # the right side is a pattern on purpose
    [[ $(field "$name") == $pattern ]] || fail "$name: '$(field "$name")' is not '$pattern'"
done <<'ROWS'
Section|utils
Recommends|qt6-translations-l10n, xdg-utils
Suggests|gnome-shell-extension-appindicator
Depends|*libqt6core6*libqt6widgets6*
ROWS

dpkg-deb -c "$deb" | awk '{ print $6 }' >"$scratch/list"
for path in bin/korvan-controller bin/korvanctl share/applications/korvan-controller.desktop \
    share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/korvan-controller.png \
    share/icons/hicolor/scalable/apps/korvan-controller.svg \
    share/metainfo/example.korvan.Controller.metainfo.xml share/man/man1/{korvanctl,korvan-controller}.1.gz \
    share/{bash-completion/completions/korvanctl,zsh/vendor-completions/_korvanctl,fish/vendor_completions.d/korvanctl.fish} \
    lib/systemd/user/korvan-metrics.{service,timer} share/doc/korvan-controller/{copyright,changelog.gz,README.md}; do
    grep -qx "./usr/$path" "$scratch/list" || fail "the package lacks /usr/$path"
done
! grep -q autostart "$scratch/list" || fail "the package holds an autostart entry"

root=$scratch/root
dpkg -x "$deb" "$root"
desktop=$root/usr/share/applications/korvan-controller.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
for line in 'Exec=korvan-controller %u' 'MimeType=x-scheme-handler/korvan;' 'Categories=Network;'; do
    grep -qxF "$line" "$desktop" || fail "the desktop entry lacks $line"
done
appstreamcli validate --no-net "$root/usr/share/metainfo/example.korvan.Controller.metainfo.xml" ||
    fail "appstreamcli validate"
for page in "$root"/usr/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
done

# Without a display, a session bus or a running controller: an empty environment.
for program in korvan-controller korvanctl; do
    binary=$root/usr/bin/$program
    out=$(env -i HOME="$scratch" timeout 20 "$binary" --version) &&
        [ "$out" = "$program $version" ] || fail "$program --version: '$out'"
    out=$(env -i HOME="$scratch" timeout 20 "$binary" --help) &&
        [[ $out == "usage: $program "* ]] || fail "$program --help: '$out'"
done

# korvanctl --help, its manual page and each completion (fish: `-l name`) agree.
longs() { grep -o -- '--[a-z][a-z-]*' | sort -u; }
same() { got=$(longs) && [ "$got" = "$want" ] || fail "$1 lists $(xargs <<<"$got"), --help $(xargs <<<"$want")"; }
want=$(env -i HOME="$scratch" "$root/usr/bin/korvanctl" --help | longs)
same korvanctl.1 < <(zcat "$root/usr/share/man/man1/korvanctl.1.gz" | sed 's/\\-/-/g; /^\.SH OPTIONS/,/^\.SH [^O]/!d')
same bash < <(grep -v '^ *#' "$root/usr/share/bash-completion/completions/korvanctl")
same zsh < <(grep -v '^ *#' "$root/usr/share/zsh/vendor-completions/_korvanctl")
same fish < <(grep '^complete' "$root/usr/share/fish/vendor_completions.d/korvanctl.fish" | sed 's/ -l / --/g')

[ "$failures" -eq 0 ] && echo "package: $deb passes" || exit 1
