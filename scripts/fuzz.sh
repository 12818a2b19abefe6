#!/usr/bin/env bash
# Builds the fuzzers with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each: scripts/fuzz.sh [RUNS] (default
# 1,000,000 executions): the hive reader from a corpus of the repository's
# own hive shapes, and the reader of a KDC's error e-data from Samba's.
# Not part of CI. Needs clang and libclang-rt (apt-get install clang).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000000}
out=build/fuzz
mkdir -p "$out/corpus"
linux=platform/linux
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I. \
  tests/fuzz/hive_fuzzer.cc $linux/hosts/world/*.cc $linux/machine/*.cc $linux/hosts/*.cc $linux/hosts/smb/smb_host.cc \
  $linux/*.cc $linux/console/*.cc platform/extended_keys.cc \
  -o "$out/hive_fuzzer"
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n"DIST"=hex(1):\n"OLD"=""\n\n' \
  > "$out/corpus/list.reg"
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n@="x\\\\y\\"z"\n"d"=dword:0000002a\n"b"=hex:00,ff,\\\n  10\n; note\n"e\\x0a"=hex(7):61,00,00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n"more"=""\n' \
  > "$out/corpus/shapes.reg"
"$out/hive_fuzzer" -runs="$runs" -max_len=4096 -print_final_stats=1 "$out/corpus" 2>&1 | tail -n 20

# The KDC's e-data: a disabled account's, as Samba's KDC sends it.
mkdir -p "$out/kdc-corpus"
clang -std=c11 -O1 -g -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -I. \
  -c platform/linux/hosts/smb/kdc_refusal.c -o "$out/kdc_refusal.o"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I. \
  tests/fuzz/kdc_refusal_fuzzer.cc "$out/kdc_refusal.o" -o "$out/kdc_refusal_fuzzer"
printf '\x12\x30\x16\x30\x14\xa1\x03\x02\x01\x03\xa2\x0d\x04\x0c\x72\x00\x00\xc0\x00\x00\x00\x00\x01\x00\x00\x00' \
  > "$out/kdc-corpus/disabled"
"$out/kdc_refusal_fuzzer" -runs="$runs" -max_len=512 -print_final_stats=1 "$out/kdc-corpus" 2>&1 | tail -n 20
