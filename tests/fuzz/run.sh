#!/usr/bin/env bash
# Builds and runs the libFuzzer targets in a clang build of their own.
#
#   run.sh build SOURCE_DIR BUILD_DIR              configure and build the targets with clang
#   run.sh run   SOURCE_DIR BUILD_DIR TARGET SECS  fuzz TARGET for SECS seconds from the checked-in
#                                                  corpus; any broken property or crash fails
#   run.sh merge SOURCE_DIR BUILD_DIR TARGET SECS  the same, then merges what it found into the
#                                                  checked-in corpus (minimised)
# Exit 77 (skipped) when clang or its fuzzer runtime is missing.
set -euo pipefail
action=${1:?usage: run.sh build|run|merge SOURCE_DIR BUILD_DIR [TARGET SECONDS]}
source_dir=$(cd "${2:?source dir}" && pwd)
build_dir=${3:?build dir}
here=$source_dir/tests/fuzz

case "$action" in
build)
  command -v clang++ >/dev/null || { echo "SKIPPED: clang++ is not installed"; exit 77; }
  probe=$(mktemp -d)
  trap 'rm -rf "$probe"' EXIT
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' >"$probe/p.cpp"
  clang++ -fsanitize=fuzzer "$probe/p.cpp" -o "$probe/p" 2>/dev/null ||
    { echo "SKIPPED: clang's libFuzzer runtime is missing (libclang-rt-14-dev)"; exit 77; }
  flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  cmake -S "$source_dir" -B "$build_dir" -DKESTRINE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    >"$build_dir.configure.log" 2>&1 || { cat "$build_dir.configure.log"; exit 1; }
  cmake --build "$build_dir" -j2 --target fuzz_addresses fuzz_compose fuzz_dialogue
  ;;
run | merge)
  target=${4:?target}
  seconds=${5:?seconds}
  binary=$build_dir/tests/fuzz/$target
  [ -x "$binary" ] || { echo "SKIPPED: $binary was not built"; exit 77; }
  seeds=$here/corpus/$target
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/corpus" "$build_dir/artifacts"
  # GMime and GLib keep their type tables for the life of the process.
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export LSAN_OPTIONS=suppressions=$source_dir/tests/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  "$binary" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=8192 -max_len=8192 \
    -dict="$here/mail.dict" -print_final_stats=1 -error_exitcode=1 -timeout_exitcode=1 -artifact_prefix="$build_dir/artifacts/$target-" \
    "$work/corpus" "$seeds"
  if [ "$action" = merge ]; then
    mkdir -p "$work/merged"
    "$binary" -merge=1 -dict="$here/mail.dict" "$work/merged" "$seeds" "$work/corpus"
    rm -f "$seeds"/*
    cp "$work/merged"/* "$seeds"/
    echo "corpus of $target: $(ls "$seeds" | wc -l) inputs, $(du -sh "$seeds" | cut -f1)"
  fi
  ;;
*)
  echo "unknown action $action" >&2
  exit 2
  ;;
esac
