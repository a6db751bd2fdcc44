#!/usr/bin/env bash
# The installed Vandrel as a user and another project meet it:
#   1. `cmake --install` of a build tree into a DESTDIR staging folder;
#   2. every public header compiles on its own;
#   3. a small client program (tests/install/app) builds outside the source
#      tree against the installed package, with find_package (shared and
#      static library) and with pkg-config;
#   4. with a private session and empty XDG folders, the installed
#      `vandrel` lists the installed samples (served read-only), then
#      `vandrel dic install` compiles a dictionary into the user's folder
#      (created with mode 0700);
#   5. each client program starts the installed service from its installed
#      place and looks a word of that dictionary up.
# usage: run.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vandrel-install.XXXXXX")

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
cleanup() {
  # A service of this test's session that outlived its clients.
  if [ -n "${VANDREL_RUNTIME_DIR:-}" ] && [ -x "${root:-}/bin/vandrel" ]; then
    pid=$("$root/bin/vandrel" status --json 2>/dev/null |
      sed -n 's/.*"process_id": \([0-9]*\).*/\1/p') || true
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  fi
  rm -rf "$work"
}
trap cleanup EXIT

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
echo "== install into DESTDIR=$work/stage (prefix $prefix)"
DESTDIR="$work/stage" cmake --install "$build" >"$work/install.log"
root="$work/stage$prefix"
libdir=$(dirname "$(find "$root" -name 'libvandrel-client.so.*.*' | head -n1)")
[ -x "$root/bin/vandrel" ] || fail "vandrel not installed"
service=$(find "$root" -type f -name vandrel-service | head -n1)
[ -x "$service" ] || fail "vandrel-service not installed"
[ -L "$libdir/libvandrel-client.so" ] || fail "libvandrel-client.so link missing"
soname=$(objdump -p "$libdir/libvandrel-client.so" | awk '/SONAME/ {print $2}')
[ "$soname" = "libvandrel-client.so.0" ] || fail "soname is '$soname'"
[ -f "$libdir/libvandrel-client.a" ] || fail "static library missing"
for f in share/man/man1/vandrel.1 share/man/man1/vandrel-service.1 \
         share/bash-completion/completions/vandrel share/vandrel/dic/EnRu.dic; do
  [ -f "$root/$f" ] || fail "$f not installed"
done
if command -v groff >/dev/null; then
  for page in vandrel vandrel-service; do
    warnings=$(groff -man -Tutf8 -ww -z "$root/share/man/man1/$page.1" 2>&1)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
  done
fi
bash -n "$root/share/bash-completion/completions/vandrel" || fail "completion script"

echo "== every public header compiles alone"
inc="$root/include/vandrel"
(cd "$inc" && find . -name '*.h' | sed 's|^\./||' | sort) >"$work/headers"
[ -s "$work/headers" ] || fail "no headers installed"
while read -r h; do
  echo "#include \"$h\"" | c++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I"$inc" -x c++ - ||
    fail "header $h does not compile alone"
done <"$work/headers"

echo "== client program with find_package"
cmake -S "$src/tests/install/app" -B "$work/app-cmake" -G Ninja \
  -DCMAKE_PREFIX_PATH="$root" -DCMAKE_CXX_COMPILER_LAUNCHER= >"$work/app-cmake.log" ||
  { cat "$work/app-cmake.log"; fail "configuring against the package"; }
cmake --build "$work/app-cmake" >>"$work/app-cmake.log" ||
  { cat "$work/app-cmake.log"; fail "building against the package"; }

echo "== client program with pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig" PKG_CONFIG_SYSROOT_DIR="$work/stage"
flags=$(pkg-config --cflags --libs vandrel-client) || fail "pkg-config vandrel-client"
[ "$(pkg-config --modversion vandrel-client)" = "0.1.0" ] || fail "pkg-config version"
# shellcheck disable=SC2086
c++ -std=c++20 -o "$work/app-pc" "$src/tests/install/app/lookup_app.cpp" $flags \
  -Wl,-rpath,"$libdir" || fail "building with pkg-config"
unset PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR

# Waits until the session's service has ended (it does after its last client).
service_gone() {
  for _ in $(seq 200); do
    "$root/bin/vandrel" status >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  fail "the service did not end"
}

echo "== a private session, empty user folders"
export VANDREL_RUNTIME_DIR="$work/run" XDG_DATA_HOME="$work/data" XDG_STATE_HOME="$work/state"
mkdir -p "$VANDREL_RUNTIME_DIR" && chmod 700 "$VANDREL_RUNTIME_DIR"
unset VANDREL_SERVICE XDG_RUNTIME_DIR
cd "$work"

# No folder of the user's own: the installed samples are served.
list=$("$root/bin/vandrel" list) || fail "vandrel list"
[ "$list" = $'EnDe.dic\nEnRu.dic' ] || fail "samples not served: $list"
[ ! -e "$XDG_DATA_HOME/vandrel" ] || fail "a user folder was made without need"
"$root/bin/vandrel" lookup house -d EnRu >/dev/null || fail "lookup in the samples"

printf '#!language\tfr\n#!trans-language\ten\nmaison\thouse\nchat\tcat\n' >"$work/fr-en.tsv"
service_gone
"$root/bin/vandrel" dic install "$work/fr-en.tsv" --as FrEn --quiet || fail "dic install"
userdir="$XDG_DATA_HOME/vandrel/dic"
[ -f "$userdir/FrEn.dic" ] || fail "FrEn.dic not in $userdir"
[ "$(stat -c %a "$userdir")" = 700 ] || fail "user folder mode $(stat -c %a "$userdir")"
[ "$(stat -c %a "$XDG_DATA_HOME/vandrel")" = 700 ] || fail "vandrel folder mode"
"$root/bin/vandrel" dic install "$work/fr-en.tsv" --as FrEn --quiet 2>/dev/null &&
  fail "dic install replaced a dictionary without --force"
[ "$("$root/bin/vandrel" list)" = "FrEn.dic" ] || fail "the user's folder is not served"

echo "== the client programs start the installed service"
# The shared library finds the service relative to itself; a program
# linked statically looks at the configured place, which a DESTDIR staging
# tree is not, so it is told.
for app in "$work/app-cmake/lookup_app" "$work/app-pc" "$work/app-cmake/lookup_app_static"; do
  service_gone
  case $app in
    *static) out=$(VANDREL_SERVICE="$service" "$app" FrEn.dic maison) || fail "$app: $out" ;;
    *) out=$("$app" FrEn.dic maison) || fail "$app: $out" ;;
  esac
  echo "$out"
  [ "$(echo "$out" | head -n1)" = "service: $service" ] ||
    fail "$app did not start the installed service: $out"
  [ "$(echo "$out" | tail -n1)" = "maison: house" ] || fail "$app: $out"
done
echo "PASS"
