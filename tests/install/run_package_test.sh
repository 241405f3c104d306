#!/usr/bin/env bash
# Builds the Debian packages of a build tree, checks them with dpkg-deb and
# lintian, unpacks them into a scratch root and builds a C and a C++ consumer
# against the unpacked development package alone.
set -euo pipefail
src=$1 build=$2 cc=$3 cxx=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --build "$build" --target man_pages >/dev/null
(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
shopt -s nullglob
debs=("$work"/pkg/*.deb)
[ ${#debs[@]} -eq 3 ] || { echo "expected 3 packages, got: ${debs[*]}"; exit 1; }

for d in "${debs[@]}"; do
  name=$(dpkg-deb -f "$d" Package)
  echo "$name: $(dpkg-deb -f "$d" Depends)"
  # Errors fail the test; warnings are printed only when it fails.
  if lintian --fail-on error "$d" >"$work/lintian.log" 2>&1; then :; else
    cat "$work/lintian.log"; exit 1
  fi
  dpkg-deb -x "$d" "$work/root"
done

lib=$(find "$work/root" -name 'libquorbit.so.*.*' | head -n 1)
[ -n "$lib" ] || { echo "no versioned library in the runtime package"; exit 1; }
# Whole outputs first: grep -q stopping early would fail the pipe under pipefail.
soname=$(objdump -p "$lib" | sed -n 's/^ *SONAME *//p')
[[ "$soname" == libquorbit.so.[0-9]* ]] || { echo "library without SONAME"; exit 1; }
dpkg-deb -f "$work"/pkg/libquorbit[0-9]*.deb Depends | grep -q 'libc6' || { echo "runtime package lacks computed dependencies"; exit 1; }
for tool in qb-sim qb-ws-client; do
  [ -x "$work/root/usr/bin/$tool" ] || { echo "$tool missing from the tools package"; exit 1; }
  [ -f "$work/root/usr/share/man/man1/$tool.1.gz" ] ||
    { echo "man page of $tool missing"; exit 1; }
done

libdir=$(dirname "$lib")
export PKG_CONFIG_PATH="$libdir/pkgconfig" LD_LIBRARY_PATH="$libdir"
"$cc" -std=c11 -Wall -Werror "$src/tests/install/hello.c" -o "$work/hello_c" $(pkg-config --cflags --libs quorbit)
"$work/hello_c" | grep -q "installed library works (42)"
cmake -S "$src/tests/install/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$work/root/usr" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/hello_cxx" | grep -q "HELLO_CXX"

# The C++ echo component, built from the development package alone, answers a
# request stand-alone (its queue is then a WebSocket on port 10000), asked by
# the client of the tools package.
component="$work/consumer/echo_component_cpp/echo_component_cpp"
mkdir "$work/run" && printf '[env]\n' >"$work/run/qb_env.ini"
(cd "$work/run" && exec env -u QB_PARAM -u QB_MQ_TYPE "$component" >"$work/run/log" 2>&1) &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  ss -ltnH "sport = :10000" 2>/dev/null | grep -q . && break
  sleep 0.1
done
answer=$("$work/root/usr/bin/qb-ws-client" -t 10 in1 'hello from the package test' 2>&1) ||
  { echo "no answer: $answer"; cat "$work/run/log"; exit 1; }
echo "$answer" | grep -q 'hello from the package test' || { echo "unexpected answer: $answer"; exit 1; }
echo "package test passed"
