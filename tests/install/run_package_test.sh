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

# What the build left out: its tools, and the libraries of its families in no
# package's dependencies.
config=$(find "$work/root" -name sdk_config.h | head -n 1)
has() { grep -q "^#define $1 " "$config"; }
tools=(firmata-sim)
has ENABLE_QB_MQ_REDIS && tools+=(qb-sim)
has ENABLE_WEBSOCKET_CLIENT && has ENABLE_QB_MQ_FAKE && tools+=(qb-ws-client)
depends=$(for d in "${debs[@]}"; do dpkg-deb -f "$d" Depends; done | tr '\n' ',')
for dep in WEBSOCKET_SERVER:libwebsockets MEDIA_PNG:libpng MEDIA_JPEG:libjpeg MEDIA_JPEG:libturbojpeg MEDIA_BMP:libgd \
           QB_MQ_REDIS:libhiredis ALSA_AUDIO:libasound CHANNEL_FT232H:libftdi1 MQTT_CLIENT:libpaho-mqtt \
           ZMQ:libczmq NANOMSG:libnanomsg HTTP_SERVER:libmicrohttpd; do
  has "ENABLE_${dep%%:*}" && continue
  if [[ ",$depends" =~ [,\ ]${dep#*:} ]]; then echo "ENABLE_${dep%%:*} is off, yet a package depends on ${dep#*:}"; exit 1; fi
done

for tool in "${tools[@]}"; do
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
if ! has ENABLE_QB_MQ_FAKE; then
  # A build without the stand-alone queue: the component stops at once, saying why.
  rc=0
  (cd "$work/run" && exec timeout 60 env -u QB_PARAM -u QB_MQ_TYPE "$component" >"$work/run/log" 2>&1) || rc=$?
  log=$(cat "$work/run/log")
  if [ "$rc" = 0 ] || [ "$rc" = 124 ] || [[ "$log" != *"Queue backend stand-alone is not available in this build"* ]] ||
     [[ "$log" != *"message queue unavailable"* ]]; then
    echo "component without the stand-alone queue: exit $rc"; echo "$log"; exit 1
  fi
  echo "package test passed (without the stand-alone queue)"
  exit 0
fi
(cd "$work/run" && exec env -u QB_PARAM -u QB_MQ_TYPE "$component" >"$work/run/log" 2>&1) &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  ss -ltnH "sport = :10000" 2>/dev/null | grep -q . && break
  sleep 0.1
done
if ! has ENABLE_WEBSOCKET_CLIENT; then
  # No client to ask: the queue at least listens.
  ss -ltnH "sport = :10000" | grep -q . || { echo "component not listening"; cat "$work/run/log"; exit 1; }
  echo "package test passed (without the WebSocket client)"
  exit 0
fi
answer=$("$work/root/usr/bin/qb-ws-client" -t 10 in1 'hello from the package test' 2>&1) ||
  { echo "no answer: $answer"; cat "$work/run/log"; exit 1; }
echo "$answer" | grep -q 'hello from the package test' || { echo "unexpected answer: $answer"; exit 1; }
echo "package test passed"
