#!/usr/bin/env bash
# The package routines behind `scripts/setup --check`, run against canned
# apt-cache and dpkg-query answers: which alternative and which provider a
# fresh install takes, and how files map to their packages.
# Usage: setup_check_test.sh PATH/TO/scripts/setup
set -euo pipefail
# shellcheck source=/dev/null
source "$1"

fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir "$fake/bin"
export PATH="$fake/bin:$PATH" FAKE="$fake"
failures=0
passes=0

words() { LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//'; }

expect() { # name expected actual
  if [ "$2" == "$3" ]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    printf 'FAILED %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  fi
}

# apt-cache depends --recurse answers with the graph in $FAKE/depends.
cat >"$fake/bin/apt-cache" <<'SH'
#!/bin/sh
cat "$FAKE/depends"
SH
# dpkg-query -S answers from "path<TAB>line" pairs in $FAKE/owners.
cat >"$fake/bin/dpkg-query" <<'SH'
#!/bin/bash
[ "$1" = -S ] || exit 2
shift
status=0
for p in "$@"; do
  line=$(awk -F '\t' -v p="$p" '$1 == p { print $2 }' "$FAKE/owners")
  if [ -n "$line" ]; then printf '%s\n' "$line"; else echo "dpkg-query: no path found matching pattern $p" >&2; status=1; fi
done
exit $status
SH
chmod +x "$fake/bin/"*

cat >"$fake/depends" <<'EOF2'
app
  Depends: libfoo
 |Depends: first-choice
  Depends: second-choice
 |Depends: other
  Depends: already
  Depends: <virtual-thing>
    provider-b
    provider-a
  PreDepends: <python3:any>
    python3
  Depends: libbar:amd64
  Depends: <nobody-provides>
libfoo
  Depends: already
 |Depends: <gone>
  Depends: fallback
first-choice
second-choice
  Depends: only-via-second
already
other
provider-b
  Depends: from-provider
provider-a
python3
libbar
  Depends: libsystemd0
    libelogind0
fallback
from-provider
libsystemd0
only-via-second
<virtual-thing>
<python3:any>
<nobody-provides>
<gone>
EOF2
expect "closure: first alternatives, first providers, groups satisfied elsewhere add nothing" \
  "already app fallback first-choice from-provider libbar libfoo libsystemd0 provider-b python3" \
  "$(dependency_closure app | words)"
expect "closure: a root that satisfies a group keeps the first alternative out" \
  "already app fallback libbar libfoo libsystemd0 only-via-second provider-a python3 second-choice" \
  "$(dependency_closure app second-choice provider-a | words)"

touch "$fake/real-compiler"
ln -s "$fake/real-compiler" "$fake/c++"
printf '%s\t%s\n' \
  /usr/lib/x86_64-linux-gnu/cmake/Foo/FooConfig.cmake "libfoo-dev:amd64: /usr/lib/x86_64-linux-gnu/cmake/Foo/FooConfig.cmake" \
  /usr/include/shared.h "liba, libb:i386: /usr/include/shared.h" \
  /lib/x86_64-linux-gnu/libz.so.1 "zlib1g:amd64: /lib/x86_64-linux-gnu/libz.so.1" \
  /bin/sh "diversion by dash from: /bin/sh" \
  /usr/bin/sh "dash: /usr/bin/sh" \
  "$fake/real-compiler" "g++-12: $fake/real-compiler" >"$fake/owners"
expect "owners: architecture suffixes go, several owners stay, merged /usr, links, diversions" \
  "/usr/lib/x86_64-linux-gnu/cmake/Foo/FooConfig.cmake	libfoo-dev
/usr/include/shared.h	liba,libb
/usr/lib/x86_64-linux-gnu/libz.so.1	zlib1g
/bin/sh	dash
$fake/c++	g++-12
/usr/local/lib/libhand.so	-" \
  "$(printf '%s\n' /usr/lib/x86_64-linux-gnu/cmake/Foo/FooConfig.cmake /usr/include/shared.h \
    /usr/lib/x86_64-linux-gnu/libz.so.1 /bin/sh "$fake/c++" /usr/local/lib/libhand.so | path_owners)"

echo "setup check: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
