#!/usr/bin/env bash
# deb_package.sh BUILD SOURCE WORK
# Builds the Debian package from the build (cpack -G DEB) and checks it
# without installing it: its fields, that it holds exactly the program, the
# manual and the bash completion under /usr, and that what it holds works
# (the program is this build's, the manual is the source's and renders
# without warnings, the completion parses). Exit 77 (skipped) without the
# Debian tools. Installing the package is a step of scripts/demo.sh.
set -euo pipefail
build=$1 source=$2 work=$3
for tool in cpack dpkg-deb dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: no $tool"; exit 77; }
done
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB failed"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
deb=$work/vellicor_${version}_${arch}.deb
[[ -f $deb ]] || fail "no $deb (made: $(ls "$work"))"

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == vellicor ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
[[ $(field Architecture) == "$arch" ]] || fail "Architecture: $(field Architecture)"
[[ $(field Depends) == *libc6* ]] || fail "Depends: $(field Depends)"
[[ -n $(field Maintainer) && -n $(field Description) ]] || fail "no Maintainer or Description"

# Exactly these files, nothing outside /usr.
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)
expected=$(printf '%s\n' ./usr/bin/vellicor ./usr/share/bash-completion/completions/vellicor \
  ./usr/share/man/man1/vellicor.1.gz | sort)
[[ $files == "$expected" ]] || fail "the package holds:"$'\n'"$files"
dpkg-deb -c "$deb" | awk '{print $NF}' | grep -v '^\./usr/' | grep -v '^\./$' && fail "a path outside /usr"

root=$work/root
dpkg-deb -x "$deb" "$root"
program=$root/usr/bin/vellicor
[[ $("$program" --version) == "$("$build/tools/vellicor" --version)" ]] || fail "the packaged program is another build"
zcat "$root/usr/share/man/man1/vellicor.1.gz" | cmp - "$source/dist/vellicor.1" || fail "the manual differs from dist/vellicor.1"
if command -v groff >/dev/null; then
  warnings=$(zcat "$root/usr/share/man/man1/vellicor.1.gz" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1 || true)
  [[ -z $warnings ]] || fail "the manual renders with warnings:"$'\n'"$warnings"
fi
bash -n "$root/usr/share/bash-completion/completions/vellicor" || fail "the completion does not parse"

# The packaged program packs, tests and extracts.
mkdir -p "$work/in/site/docs"
printf 'hello\n' >"$work/in/site/docs/a.txt"
(cd "$work/in" && "$program" pack -q -o ../site.exe site)
"$program" test -q "$work/site.exe"
[[ $("$program" extract -c "$work/site.exe" 'site/docs/*' 2>/dev/null) == hello ]] || fail "extract -c"
echo "OK: $deb"
