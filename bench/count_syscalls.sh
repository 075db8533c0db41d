#!/usr/bin/env bash
# System calls per new phone message of each store: strace -f -c over
# write_count storing 0 and then 100 messages, each on a fresh device root;
# the difference divided by 100 leaves out start-up and set-up.
#
#     bench/count_syscalls.sh [build directory, default build-release]
set -euo pipefail
build=${1:-build-release}
program="$build/bench/write_count"
[ -x "$program" ] || { echo "build $program first" >&2; exit 1; }
command -v strace >/dev/null || { echo "strace is needed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Calls by system call name, from strace -c output.
calls() {
  awk '$NF != "total" && $1 ~ /^[0-9.]+$/ && NF >= 5 { print $NF, $4 }' "$1"
}

for store in sms mms email; do
  for n in 0 100; do
    mkdir -p "$work/$store-$n"
    strace -f -c -o "$work/$store-$n.txt" "$program" "$store" "$n" "$work/$store-$n" >/dev/null
    calls "$work/$store-$n.txt" | sort >"$work/$store-$n.calls"
  done
  join -a 2 -e 0 -o 0,1.2,2.2 "$work/$store-0.calls" "$work/$store-100.calls" |
    awk -v store="$store" '{ d = ($3 - $2) / 100; if (d >= 0.05) { total += d; line = line sprintf(" %s %.1f", $1, d) } }
      END { printf "%-6s %5.1f per message:%s\n", store, total, line }'
done
