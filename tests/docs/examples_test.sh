#!/usr/bin/env bash
# The examples the README and the manual pages show, run as written against a
# fresh world, each in a home of its own and without a terminal, as a script
# would run them: every line must succeed. The accounts they type at the
# prompt come from a program that answers it as the comments say.
#
#   examples_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source=$1 build=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/veskcfg-examples-XXXXXX)
trap 'rm -rf "$work"' EXIT

# The README's block under "Make your own network".
awk '/^## Make your own network/ {on = 1} on && /^```sh/ {inside = 1; next} inside && /^```/ {exit}
     inside {print}' "$source/README.md" >"$work/readme.sh"
# A manual page's EXAMPLE(S) section, its roff escapes undone.
example() {
  awk '/^\.SH EXAMPLE/ {on = 1; next} on && /^\.SH/ {exit} on && /^\.nf/ {inside = 1; next}
       on && /^\.fi/ {inside = 0} inside {print}' "$1" |
    sed -e 's/\\-/-/g' -e "s/\\\\(aq/'/g" -e 's/\\\\/\\/g'
}
example "$source/docs/man/VeskCfg.1" >"$work/VeskCfg.1.sh"
example "$source/docs/man/vesknet.1" >"$work/vesknet.1.sh"

# What a person would type at each prompt.
cat >"$work/answers" <<'EOF'
#!/bin/sh
case $1 in
  *Username*) echo admin ;;
  "PRIM : Password = ") echo secret ;;
  "DIST : Password = ") echo other ;;
  "BACKUP1 : Password = ") echo secret ;;
  *) exit 1 ;;
esac
EOF
chmod 700 "$work/answers"

failed=0 count=0
for example in readme.sh VeskCfg.1.sh vesknet.1.sh; do
  lines=$(grep -c . "$work/$example" || true)
  if [ "$lines" -eq 0 ]; then
    echo "$example: no example found" >&2
    failed=1
    continue
  fi
  count=$((count + 1))
  home=$work/home-${example%.sh}
  mkdir -p "$home"
  if (cd "$home" && HOME=$home PATH=$build:$PATH VESKCFG_ASKPASS=$work/answers \
        setsid bash -e -o pipefail "$work/$example" </dev/null >"$work/$example.out" 2>&1); then
    echo "$example: $lines lines, each ran"
  else
    echo "$example failed; what it printed:" >&2
    cat "$work/$example.out" >&2
    failed=1
  fi
done
echo "$count examples run"
exit $failed
