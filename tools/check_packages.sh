#!/usr/bin/env bash
# Makes the packages of a configured and built directory with cpack and
# checks that each holds exactly the shipped programs with their manual
# pages (Linux: .tar.gz and .deb) or their .exe files with the sysop's text
# (Windows: .zip): nothing missing, no test program or tool slipped in.
#   tools/check_packages.sh <build directory>
set -euo pipefail
build=$(cd "$1" && pwd)
# VLM_VERSION, VLM_SHIPPED_PROGRAMS and VLM_PACKAGES (the cpack generators),
# written when the build was configured.
. "$build/shipped.sh"
out=$build/packages
rm -rf "$out"
if ! said=$(cd "$build" && cpack -B "$out" 2>&1); then
  echo "$said" >&2
  exit 1
fi

failed=0
expect() {  # the names each program brings, from patterns with @ for its name
  local p pattern
  for p in $VLM_SHIPPED_PROGRAMS; do
    for pattern in "$@"; do echo "${pattern//@/$p}"; done
  done
}
check() {  # package, the names it should hold, the names it holds
  local expected found
  expected=$(echo "$2" | sort)
  found=$(echo "$3" | sort)
  if [ "$expected" = "$found" ]; then
    echo "$(basename "$1"):"
    echo "$found" | sed 's/^/  /'
  else
    echo "$1 does not hold what it should:" >&2
    diff <(echo "$expected") <(echo "$found") | sed -n 's/^</  missing:/p; s/^>/  unexpected:/p' >&2 || true
    failed=1
  fi
}
one() {  # the one package of a kind that cpack made
  local made=("$out"/*."$1")
  if [ ${#made[@]} -ne 1 ] || [ ! -f "${made[0]}" ]; then
    echo "cpack made no single .$1 in $out" >&2
    exit 1
  fi
  echo "${made[0]}"
}
below_top() {  # archive names below the package's top directory, files only
  sed -n 's|^[^/]*/||; /[^/]$/p'
}

for generator in $VLM_PACKAGES; do
  case $generator in
    TGZ)
      tgz=$(one tar.gz)
      check "$tgz" "$(expect bin/@ share/man/man1/@.1.gz)" "$(tar tzf "$tgz" | below_top)"
      ;;
    DEB)
      deb=$(one deb)
      check "$deb" "$(expect ./usr/bin/@ ./usr/share/man/man1/@.1.gz)" "$(dpkg-deb -c "$deb" | awk '/^-/ {print $NF}')"
      version=$(dpkg-deb -f "$deb" Version)
      case $version in
        "$VLM_VERSION"-*) echo "  version $version" ;;
        *) echo "$deb has version $version, not $VLM_VERSION" >&2; failed=1 ;;
      esac
      ;;
    ZIP)
      zip=$(one zip)
      check "$zip" "$(expect @.exe; echo README.TXT)" "$(cmake -E tar tf "$zip" | below_top)"
      ;;
    *) echo "no check for the $generator package" >&2; failed=1 ;;
  esac
done

# Every manual page must read without a complaint from the formatter.
if [ -d "$build/man" ] && command -v groff >/dev/null; then
  for p in $VLM_SHIPPED_PROGRAMS; do
    [ -f "$build/man/$p.1.gz" ] || continue  # reported as missing above
    complaints=$(gzip -dc "$build/man/$p.1.gz" | groff -man -ww -z -Tutf8 2>&1 || true)
    if [ -n "$complaints" ]; then
      echo "doc/$p.1: $complaints" >&2
      failed=1
    fi
  done
fi
exit $failed
