#!/usr/bin/env bash
# Builds the hive fuzzer with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it: scripts/fuzz.sh [RUNS] (default
# 1,000,000 executions), from a corpus of the repository's own hive shapes.
# Not part of CI. Needs clang and libclang-rt (apt-get install clang).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000000}
out=build/fuzz
mkdir -p "$out/corpus"
sim=platform/simulated
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I. \
  tests/fuzz/hive_fuzzer.cc $sim/hive_scan.cc $sim/hive_model.cc $sim/hive_image.cc $sim/value_lines.cc platform/codepage.cc $sim/files.cc $sim/trace.cc $sim/faults.cc \
  $sim/world.cc $sim/world_host.cc $sim/fault_host.cc $sim/hosts.cc platform/smb/smb_host.cc $sim/registry.cc $sim/network.cc $sim/system.cc $sim/signals.cc $sim/console_lock.cc $sim/console.cc $sim/key_decoder.cc platform/extended_keys.cc \
  -o "$out/hive_fuzzer"
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tallmere\\Vesklane\\VeskDistributedServers]\n"DIST"=hex(1):\n"OLD"=""\n\n' \
  > "$out/corpus/list.reg"
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n@="x\\\\y\\"z"\n"d"=dword:0000002a\n"b"=hex:00,ff,\\\n  10\n; note\n"e\\x0a"=hex(7):61,00,00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n"more"=""\n' \
  > "$out/corpus/shapes.reg"
"$out/hive_fuzzer" -runs="$runs" -max_len=4096 -print_final_stats=1 "$out/corpus" 2>&1 | tail -n 20
