#!/usr/bin/env bash
# Tries from outside, with the built msgstore tool, that a change the file
# system refuses ends in a reported failure with nothing lost: on a small file
# system filled up, under a file size limit and with read-only folders. New
# messages, moves (to the spam folder and back too), rewrites, deletions and
# new accounts are tried in every store. After each command:
#   - when it failed, every message and account is as it was;
#   - when it succeeded, exactly its change is there;
#   - no message is lost or held twice, no identifier is handed out twice,
#     no temporary file is left, and 'msgstore check' finds every phone index
#     in step with its folder.
#
#   scripts/failure_check.sh [TOOL]   (default: build/tools/msgstore/msgstore)
#
# Run it as root (it is not part of the test command): the full file system
# is a small tmpfs (mount), and read-only folders are read-only bind mounts
# and, since root ignores permission bits, folders without write permission
# for the user nobody, whom the tool then runs as (setpriv). Without root only
# the file size limit and the folders without write permission are tried;
# what cannot be done here is reported as skipped. Needs jq. Exit status 0
# when nothing was lost, 1 otherwise, 2 when it could not run.
set -uo pipefail
cd "$(dirname "$0")/.."
TOOL=$(realpath "${1:-build/tools/msgstore/msgstore}")
[ -x "$TOOL" ] || { echo "failure_check: no tool at $TOOL (build it first)" >&2; exit 2; }
command -v jq >/dev/null || { echo "failure_check: needs jq" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/msgstore-failure-check.XXXXXX")
MOUNTS=()
cleanup() {
  for ((i = ${#MOUNTS[@]} - 1; i >= 0; --i)); do umount "${MOUNTS[i]}" 2>/dev/null; done
  rm -rf "$WORK"
}
trap cleanup EXIT

DEV=""          # the device root in use
AS=()           # prefix that runs the tool as another user
LIMIT=""        # file size limit of the tool, in KiB
FS=""           # the small file system, when one is filled
FREE=0          # bytes left free on it before each command
tried=0 failed=0 bad=0
declare -A handed  # store:identifier of every message handed out

big() { head -c "$1" /dev/zero | tr '\0' "$2"; }  # a subject of $1 characters

# The tool on DEV, as the user that the commands run as.
on() { "${AS[@]}" "$TOOL" --root "$DEV" "$@"; }
# Runs the tool on DEV; its status in rc, its output in out.
tool() {
  out=$(
    if [ -n "$LIMIT" ]; then ulimit -f "$LIMIT"; trap '' XFSZ; fi
    on "$@" 2>&1
  )
  rc=$?
}
# What is stored, one line per message and account, without what a failed
# command may change (identifier counters, positions, the registry counter).
state() {
  on export 2>/dev/null | jq -c '
    if .type == "message" then
      ["m", .store, .storage, .folder, .id, .read, .status, .account, .subject, .content_base64]
    elif .type == "account" then ["a", .id, .folder, .text] else empty end' | sort
}
# Leaves FREE bytes free on FS before a command.
refill() {
  [ -n "$FS" ] || return 0
  rm -f "$FS/filler"
  local avail=$(( $(stat -f -c '%a' "$FS") * $(stat -f -c '%S' "$FS") ))
  [ "$avail" -gt "$FREE" ] && fallocate -l $((avail - FREE)) "$FS/filler" 2>/dev/null
  return 0
}
fault() { echo "LOST  $*"; bad=$((bad + 1)); }

# Tries one command: kind (add, mv, mark, rm, account) and the tool's
# arguments; checks what it left.
try() {
  local kind=$1; shift
  refill
  local before after
  before=$(state)
  tool "$@"
  [ -n "$FS" ] && rm -f "$FS/filler"
  after=$(state)
  tried=$((tried + 1))
  local gone added
  gone=$(comm -23 <(echo "$before") <(echo "$after"))
  added=$(comm -13 <(echo "$before") <(echo "$after"))
  local ng=0 na=0
  [ -n "$gone" ] && ng=$(wc -l <<<"$gone")
  [ -n "$added" ] && na=$(wc -l <<<"$added")
  local what="$* (limit ${LIMIT:-none} KiB, free ${FS:+$FREE}${FS:-any} bytes${AS:+, as nobody})"
  if [ "$rc" -ne 0 ]; then
    failed=$((failed + 1))
    [ "$ng$na" = "00" ] || fault "$what failed ($out) yet changed: -$gone +$added"
  else
    local want
    case $kind in
      add | account) want="0 1" ;;
      rm) want="1 0" ;;
      *) want="1 1" ;;
    esac
    [ "$ng $na" = "$want" ] || fault "$what succeeded with $ng gone and $na added: -$gone +$added"
    # A move or a rewrite keeps the message's subject and content.
    if [ "$kind" = mv ] || [ "$kind" = mark ]; then
      [ "$(jq -c '.[-2:]' <<<"$gone")" = "$(jq -c '.[-2:]' <<<"$added")" ] ||
        fault "$what changed the message: -$gone +$added"
    fi
    if [ "$kind" != rm ] && [ "$kind" != mark ] && [ -n "$added" ]; then
      local id
      id=$(jq -r 'if .[0] == "m" then "\(.[1]):\(.[4])" else "account:\(.[1])" end' <<<"$added")
      [ -z "${handed[$id]:-}" ] || fault "$what handed out $id again"
      handed[$id]=1
    fi
  fi
  local temp
  temp=$(find "$DEV" -name '*.tmp' ! -path '*/.platform/mutex/*' | head -3)
  [ -z "$temp" ] || fault "$what left $temp"
  local s
  for s in sms mms email; do
    on check "$s" >/dev/null 2>&1 || fault "$what: check $s fails"
  done
}

# The first message of a folder of a store ("" when none).
first() {
  on export 2>/dev/null |
    jq -r --arg s "$1" --arg f "$2" 'select(.type == "message" and .store == $s and .folder == $f
      and .storage == "phone") | .id' | head -1
}

# A device with an account and messages of several sizes in every store.
setup() {
  DEV=$1
  handed=()
  mkdir -p "$DEV"
  "$TOOL" --root "$DEV" init >/dev/null || { echo "failure_check: init failed" >&2; exit 2; }
  "$TOOL" --root "$DEV" account add --folder 1 --text acct >/dev/null
  "$TOOL" --root "$DEV" account use 805306371 >/dev/null
  for n in 1 2 3; do
    for size in 100 3000 12000; do
      "$TOOL" --root "$DEV" add sms inbox --subject "s$n$(big $size a)" --text "t$n" >/dev/null
      "$TOOL" --root "$DEV" add mms inbox --subject "m$n$(big $size b)" --text "t$n" >/dev/null
      "$TOOL" --root "$DEV" add email inbox --account 805306371 --subject "e$n$(big $size c)" \
        --text "t$n" >/dev/null
    done
  done
}

# Every kind of change in every store, on messages of every size.
round() {
  local id store size
  for store in sms mms email; do
    local account=()
    [ "$store" = email ] && account=(--account 805306371)
    for size in 100 3000 12000; do
      try add add "$store" inbox "${account[@]}" --subject "n$(big $size d)" --text new
    done
    for _ in 1 2 3; do
      id=$(first "$store" inbox)
      [ -n "$id" ] || continue
      if [ "$store" = email ]; then
        try mv mv email "$id" spam
        id=$(first email spam)
        [ -n "$id" ] && try mv mv email "$id" inbox
      else
        try mv mv "$store" "$id" draft
      fi
      id=$(first "$store" inbox)
      [ -n "$id" ] && try mark mark "$store" "$id" --status $((tried + 1))
    done
    id=$(first "$store" draft)
    [ -n "$id" ] && try rm rm "$store" "$id"
  done
  try account account add --folder 1 --text another
}

report() { echo "$1: $((tried - $2)) commands tried, $((failed - $3)) reported failures"; }

# 1. A small file system, full, or with a few KiB left.
echo "== a full file system"
mkdir -p "$WORK/fs"
if mount -t tmpfs -o size=2m tmpfs "$WORK/fs" 2>/dev/null; then
  MOUNTS+=("$WORK/fs")
  setup "$WORK/fs/dev"
  FS="$WORK/fs"
  t0=$tried f0=$failed
  for FREE in 0 4096 16384 65536; do round; done
  FS="" FREE=0
  report "full file system" "$t0" "$f0"
else
  echo "skipped: no small file system can be mounted here (needs root)"
fi

# 2. A file size limit: the larger messages, and then the indexes, no longer fit.
echo "== a file size limit"
setup "$WORK/limit"
t0=$tried f0=$failed
for LIMIT in 16 4; do round; done
LIMIT=""
for n in $(seq 70); do "$TOOL" --root "$DEV" add sms draft --text "$n" >/dev/null; done
LIMIT=1  # a new message fits, the draft index of 71 records does not
try add add sms draft --text one-more
try mv mv sms "$(first sms inbox)" draft
LIMIT=""
report "file size limit" "$t0" "$f0"

# 3. Read-only folders.
echo "== read-only folders"
ro=("EMS/INBOX" "MMS/INBOX" "Email/INBOX" "EMS/DRAFT" "Email/SPAM")
if [ "$(id -u)" -eq 0 ] && mount --bind "$WORK" "$WORK" 2>/dev/null; then
  umount "$WORK"
  setup "$WORK/ro"
  t0=$tried f0=$failed
  for dir in "${ro[@]}"; do  # a read-only file system under the folder
    d="$DEV/DiskOnChip/User/MESSAGING/$dir"
    mount --bind "$d" "$d" && MOUNTS+=("$d") && mount -o remount,bind,ro "$d" && round
    umount "$d" && unset 'MOUNTS[-1]'
  done
  report "read-only bind mounts" "$t0" "$f0"
else
  echo "skipped: read-only bind mounts (needs root)"
fi
if [ "$(id -u)" -eq 0 ]; then
  if command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
    AS=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
  else
    echo "skipped: folders without write permission (root ignores them; no setpriv or nobody)"
    AS=(skip)
  fi
fi
if [ "${AS[0]:-}" != skip ]; then
  setup "$WORK/perm"
  chmod 755 "$WORK"
  [ "$(id -u)" -eq 0 ] && chown -R nobody "$DEV"
  t0=$tried f0=$failed
  M="$DEV/DiskOnChip/User/MESSAGING"
  # A store's own folder without write permission, its counter file writable:
  # the counter cannot be replaced, so no identifier can be handed out.
  for dir in EMS MMS Email "${ro[@]}" "" "../../../.platform/registry"; do
    chmod a-w "$M/$dir"
    round
    chmod u+w "$M/$dir"
  done
  AS=()
  report "folders without write permission" "$t0" "$f0"
fi

echo "failure_check: $tried commands, $failed reported failures, $bad with something lost or wrong"
[ "$bad" -eq 0 ]
