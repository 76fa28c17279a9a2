#!/usr/bin/env bash
# Fuzzes for SECONDS seconds in all, half each, under AddressSanitizer and
# UndefinedBehaviorSanitizer:
# - boot-file reading and command-line assembly, with inputs up to 512 KiB
#   (room for deep nesting) and a 2 MiB stack, no more than the Windows exes
#   reserve, so that input too deep for them crashes here too; seeds from
#   fuzz/corpus;
# - forwarding the launcher's own arguments at code pages 932 and 1252; seeds
#   from fuzz/args_corpus (the unit table's arguments among them).
# Inputs found along the way collect in build/fuzz/corpus and
# build/fuzz/args_corpus, and anything that crashes, leaks, hangs or breaks a
# property is saved in build/fuzz/findings and fails the run.
# Usage: fuzz/run.sh SECONDS
set -euo pipefail

seconds="${1:?usage: fuzz/run.sh SECONDS}"
half=$(( (seconds + 1) / 2 ))
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target boot_file_fuzzer forwarded_args_fuzzer >/dev/null
mkdir -p build/fuzz/corpus build/fuzz/args_corpus build/fuzz/findings build/fuzz/generated

# A seed near the input limit: items beside a branch 70,000 levels deep, far
# deeper than any stack survives, which also lifts libFuzzer's length limit.
levels=70000
{
    printf '<boot><item key="java" value="${APP_DIR}java"/><item key="main" value="Main"/>'
    printf '<a>%.0s' $(seq "$levels")
    printf '</a>%.0s' $(seq "$levels")
    printf '</boot>\n'
} >build/fuzz/generated/deep_branch.xml

# close_fd_mask=1 drops the reader's log lines on standard output.
ulimit -s 2048
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
build/fuzz/fuzz/boot_file_fuzzer \
    -max_total_time="$half" -timeout=10 -close_fd_mask=1 -print_final_stats=1 \
    -max_len=524288 \
    -dict=fuzz/boot.dict -artifact_prefix=build/fuzz/findings/ \
    build/fuzz/corpus fuzz/corpus build/fuzz/generated
build/fuzz/fuzz/forwarded_args_fuzzer \
    -max_total_time="$half" -timeout=10 -print_final_stats=1 \
    -dict=fuzz/args.dict -artifact_prefix=build/fuzz/findings/args- \
    build/fuzz/args_corpus fuzz/args_corpus
