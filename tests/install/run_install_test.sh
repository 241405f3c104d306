#!/usr/bin/env bash
# Installs the built library into a scratch prefix, then builds and runs a C and
# a C++ program (the latter with the C++ API) against it through pkg-config and
# through find_package, and builds the C++ example component from it.
set -euo pipefail
src=$1 build=$2 cc=$3 cxx=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libquorbit.so' | head -n 1)")
export PKG_CONFIG_PATH="$libdir/pkgconfig"
export LD_LIBRARY_PATH="$libdir"

# The exported symbols are exactly the API: nothing C++-mangled leaks out.
if [ "$(nm -D --defined-only "$libdir/libquorbit.so" | awk '{print $3}' | grep -c '^_Z')" != 0 ]; then
  echo "C++ symbols exported:"; nm -D --defined-only "$libdir/libquorbit.so" | grep ' _Z' | head; exit 1
fi

# ... and every function the headers declare with QB_API is exported, nothing more.
# Preprocessed with the installed sdk_config.h, so declarations of switched-off
# components drop out; QB_API becomes a marker the preprocessor leaves alone.
for h in "$prefix"/include/quorbit/*.h; do
  "$cc" -E -P -DQB_EXPORT_H -DQB_API=QB_API_MARK -DQB_BEGIN_DECLS= -DQB_END_DECLS= -I"$prefix/include/quorbit" "$h"
done | grep -o -P 'QB_API_MARK[^;(]*?\b\K\w+(?=\s*\()' | sort -u >"$work/declared"
nm -D --defined-only "$libdir/libquorbit.so" | awk '{print $3}' | sort -u >"$work/exported"
if ! diff -u "$work/declared" "$work/exported"; then
  echo "declared (-) and exported (+) functions differ"; exit 1
fi

"$cc" -std=c11 -Wall -Werror "$src/tests/install/hello.c" -o "$work/hello_c_pc" $(pkg-config --cflags --libs quorbit)
"$cxx" -std=c++20 -Wall -Werror "$src/tests/install/hello.cc" -o "$work/hello_cxx_pc" $(pkg-config --cflags --libs quorbit)
"$work/hello_c_pc" | grep -q "installed library works (42)"
"$work/hello_cxx_pc" | grep -q "HELLO_CXX"

cmake -S "$src/tests/install/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/hello_c" | grep -q "installed library works (42)"
"$work/consumer/hello_cxx" | grep -q "HELLO_CXX"
test -x "$work/consumer/echo_component_cpp/echo_component_cpp"
echo "install test passed"
