#!/usr/bin/env bash
# Fuzzes boot-file reading and command-line assembly for SECONDS seconds under
# AddressSanitizer and UndefinedBehaviorSanitizer, with inputs up to 512 KiB
# (room for deep nesting) and a 2 MiB stack, no more than the Windows exes
# reserve, so that input too deep for them crashes here too. Seeds come from fuzz/corpus;
# inputs found along the way collect in build/fuzz/corpus, and anything that
# crashes, leaks or hangs is saved in build/fuzz/findings and fails the run.
# Usage: fuzz/run.sh SECONDS
set -euo pipefail

seconds="${1:?usage: fuzz/run.sh SECONDS}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target boot_file_fuzzer >/dev/null
mkdir -p build/fuzz/corpus build/fuzz/findings build/fuzz/generated

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
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
build/fuzz/fuzz/boot_file_fuzzer \
    -max_total_time="$seconds" -timeout=10 -close_fd_mask=1 -print_final_stats=1 \
    -max_len=524288 \
    -dict=fuzz/boot.dict -artifact_prefix=build/fuzz/findings/ \
    build/fuzz/corpus fuzz/corpus build/fuzz/generated
