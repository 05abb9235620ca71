#!/usr/bin/env bash
# Installs a built quillo into a temporary prefix and uses it the way a third-party host does:
#
#   1. checks the installed layout (library, header, extension, tools, pkg-config, CMake);
#   2. builds tests/install/host/host.c with pkg-config flags and runs it;
#   3. moves the whole prefix elsewhere, builds the same host with CMake's
#      find_package(quillo) against the moved tree and runs it: the library must still find
#      its web-process extension beside itself;
#   4. runs the installed quillo-shot from the moved tree on the built-in page.
#
# usage: install_test.sh BUILD_DIR C_COMPILER HAS_WEBEXT(0|1) HAS_SHOT(0|1)
set -euo pipefail

build=$1 cc=$2 has_webext=$3 has_shot=$4
cmake=${CMAKE_COMMAND:-cmake}
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/quillo-install.XXXXXX")
work=$(realpath "$work")  # the paths the hosts compare with /proc maps are canonical
trap 'rm -rf "$work"' EXIT
# Nothing may come from the build tree or from elsewhere on the loader's path.
unset LD_LIBRARY_PATH PKG_CONFIG_PATH CMAKE_PREFIX_PATH

fail() { echo "install test: $*" >&2; exit 1; }
step() { echo "== $*"; }

step "cmake --install into $work/prefix"
"$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log" ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }

# Where GNUInstallDirs put things (lib, lib64 or a multiarch folder), from the installed files.
pc=$(find "$work/prefix" -name quillo.pc -path '*/pkgconfig/*' | head -n1)
[ -n "$pc" ] || fail "no pkgconfig/quillo.pc installed"
libdir_rel=$(dirname "$(dirname "${pc#"$work/prefix/"}")")

step "installed layout"
expect() { [ -e "$work/prefix/$1" ] || fail "missing from the install: $1"; }
expect "$libdir_rel/libquillo.so"
expect include/quillo.h
expect include/quillo/views.h
expect "$libdir_rel/cmake/quillo/quilloConfig.cmake"
expect "$libdir_rel/cmake/quillo/quilloConfigVersion.cmake"
expect "$libdir_rel/cmake/quillo/quilloTargets.cmake"
webext_args=()
if [ "$has_webext" = 1 ]; then
  expect "$libdir_rel/quillo-webext/libquillo-webext.so"
fi
if [ "$has_shot" = 1 ]; then
  expect bin/quillo-shot
fi
nm -D --defined-only "$work/prefix/$libdir_rel/libquillo.so" | awk '$2 == "T" {print $3}' |
  sort >"$work/exports"
for f in GoBackForwardHome ExecuteJavaScript InputWeb LoadWeb ReserveInvalidRedirectUrlSchemes \
  SetDebugEnable UnloadWeb UpdateWeb; do
  grep -qx "$f" "$work/exports" || fail "the installed library does not export $f"
done
# The Debian symbols file lists exactly what the library exports, so a new function cannot
# ship without its entry (dpkg-gensymbols would then fail the package build).
sed -n 's/^ \([A-Za-z_][A-Za-z0-9_]*\)@Base .*/\1/p' "$here/../../cmake/debian/symbols.in" |
  sort >"$work/symbols"
diff -u "$work/symbols" "$work/exports" >"$work/symbols.diff" ||
  { cat "$work/symbols.diff" >&2; fail "cmake/debian/symbols.in and the exports differ"; }

step "pkg-config: build and run a host"
export PKG_CONFIG_PATH="$work/prefix/$libdir_rel/pkgconfig"
[ "$(pkg-config --modversion quillo)" = "$(sed -n 's/^Version: //p' "$pc")" ] ||
  fail "pkg-config does not read quillo.pc"
libdir=$(pkg-config --variable=libdir quillo)
[ "$libdir" = "$work/prefix/$libdir_rel" ] || fail "quillo.pc names libdir $libdir"
# shellcheck disable=SC2046  # pkg-config prints several words on purpose
"$cc" -std=c99 -Wall -Wextra -Werror -pedantic -o "$work/host-pc" "$here/host/host.c" \
  $(pkg-config --cflags --libs quillo) -Wl,-rpath,"$libdir"
[ "$has_webext" = 1 ] && webext_args=("$libdir/quillo-webext")
"$work/host-pc" "$libdir" "${webext_args[@]}"

step "move the prefix to $work/moved"
mv "$work/prefix" "$work/moved"
moved_libdir="$work/moved/$libdir_rel"
[ "$(pkg-config --define-variable=prefix="$work/moved" \
  --with-path="$moved_libdir/pkgconfig" --variable=libdir quillo)" = "$moved_libdir" ] ||
  fail "quillo.pc paths do not follow --define-variable=prefix"

step "CMake find_package(quillo): build and run a host against the moved tree"
"$cmake" -S "$here/host" -B "$work/host-build" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_PREFIX_PATH="$work/moved" >"$work/host-configure.log" ||
  { cat "$work/host-configure.log" >&2; fail "configuring the CMake host failed"; }
"$cmake" --build "$work/host-build" >"$work/host-build.log" ||
  { cat "$work/host-build.log" >&2; fail "building the CMake host failed"; }
[ "$has_webext" = 1 ] && webext_args=("$moved_libdir/quillo-webext")
"$work/host-build/quillo-install-host" "$moved_libdir" "${webext_args[@]}"

if [ "$has_shot" = 1 ]; then
  step "installed quillo-shot from the moved tree"
  "$work/moved/bin/quillo-shot" --demo --width 320 --height 240 --out "$work/demo.png" \
    >"$work/shot.log" 2>&1 || { cat "$work/shot.log" >&2; fail "quillo-shot failed"; }
  [ "$(head -c 8 "$work/demo.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
    fail "quillo-shot did not write a PNG"
fi
echo "install test: passed"
