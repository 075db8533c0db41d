#!/usr/bin/env bash
# Shows the message store at work on the default device (MSGSTORE_ROOT when
# set): makes the message trees, stores a few text messages, two MMS and an
# e-mail in the inbox of an e-mail account (one message on the memory card
# when it is inserted), lists and shows them. Each run first removes the
# messages that the previous run stored, so the device does not fill up.
set -euo pipefail
msgstore=${1:?usage: demo.sh PATH-TO-msgstore}

# Echoes a command line the way one would type it.
echo_cmd() {
  local line='$ msgstore' arg
  for arg in "$@"; do
    if [[ "$arg" =~ ^[A-Za-z0-9+_./:=-]+$ ]]; then line+=" $arg"; else line+=" '$arg'"; fi
  done
  printf '\n%s\n' "$line"
}

run() {
  echo_cmd "$@"
  "$msgstore" "$@"
}

# Stores a message and remembers its store, storage and identifier ("mms phone
# 4"); prints the tool's output.
stored=()
add() {
  local out store="" prev="" arg
  for arg in "$@"; do
    [[ "$prev" == add ]] && store=$arg
    prev=$arg
  done
  echo_cmd "$@"
  out=$("$msgstore" "$@")
  printf '%s\n' "$out"
  stored+=("$store $(printf '%s\n' "$out" | sed -n 's/^message \([0-9]*\) stored in \([a-z]*\) .*/\2 \1/p')")
}

printf '$ msgstore init\n'
init=$("$msgstore" init)
printf '%s\n' "$init"
root=$(printf '%s\n' "$init" | sed -n 's/^device root //p')
state="$root/.demo-messages"

if [[ -s "$state" ]]; then
  printf '\n(removing the messages of the previous demo run)\n'
  while read -r store storage id; do
    # Runs before MMS were stored wrote "storage id" lines.
    [[ -n "$id" ]] || { id=$storage storage=$store store=sms; }
    [[ -n "$id" ]] || continue
    flag=()
    [[ "$storage" == card ]] && flag=(--card)
    # A message that is gone already (or on an ejected card) is simply skipped.
    "$msgstore" "${flag[@]}" rm "$store" "$id" >/dev/null 2>&1 || true
  done <"$state"
  rm -f "$state"
fi

card=no
if "$msgstore" card state | grep -q '^card *inserted'; then card=yes; fi

add add sms inbox --auto --to +4915112345678 --subject "Welcome" \
  --text "Hello from the message store. Every message is a file of its own."
add add sms inbox --auto --to +4917098765432 --text "Lunch at noon? 🍜" --read
add add sms draft --to +4915112345678 --text "Not sent yet"
add add mms inbox --auto --to +4917098765432 --subject "Holiday photo" \
  --text "Greetings from the coast" --mms-text "<smil><body><par/></body></smil>" --mms-value1 1
picture=$(mktemp)
trap 'rm -f "$picture"' EXIT
printf '\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR' >"$picture"
add add mms draft --subject "Picture to send" --body "$picture"

# The e-mail account of the demo, made by the first run and kept since.
account=$("$msgstore" account ls 1 2>/dev/null | awk '$NF == "Demo" { print $1; exit }')
if [[ -z "$account" ]]; then
  echo_cmd account add --folder 1 --text Demo
  out=$("$msgstore" account add --folder 1 --text Demo)
  printf '%s\n' "$out"
  account=$(printf '%s\n' "$out" | sed -n 's/^account \([0-9]*\) added.*/\1/p')
fi
run account use "$account"
add add email inbox --account "$account" --to demo@example.org --subject "Welcome aboard" \
  --text "An e-mail in the inbox of account $account." --email-text1 "X-Demo: yes"
if [[ "$card" == yes ]]; then
  add --card add sms inbox --auto --to +4930123456 --subject "On the card" \
    --text "This one lives on the memory card."
else
  printf '\n(no memory card is inserted: "msgstore card insert" inserts one)\n'
fi
printf '%s\n' "${stored[@]}" >"$state"

run ls sms inbox
run ls sms draft
if [[ "$card" == yes ]]; then run --card ls sms inbox; fi
run show sms "${stored[0]##* }"
run count
run check
run ls mms inbox
run show mms "${stored[3]##* }"
run show mms "${stored[4]##* }"
run check mms
run account ls
run ls email inbox
run show email "${stored[5]##* }"
run count email
