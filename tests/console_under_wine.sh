#!/bin/sh
# corvandel.exe at a real console (tmux's): a non-ASCII path shows as itself, and the closing
# prompt's read ends on a typed line. Usage: console_under_wine.sh WINE_LOADER CORVANDEL_EXE PREFIX
set -u
command -v tmux >/dev/null && [ -f "$2" ] || { echo "no tmux or no corvandel.exe: skipped"; exit 77; }
exe=$(realpath "$2") prefix=$(realpath -m "${WINEPREFIX:-$3}")
dir=$(mktemp -d) && cd "$dir" || exit 1
tmux="tmux -u -f /dev/null -S $dir/tmux"
trap '$tmux kill-server 2>/dev/null; rm -rf "$dir"' EXIT
lists="$dir/Ελληνικά/日本語/DicLists"
mkdir -p "$lists" && printf DOG >"$lists/master.txt" && printf CAT >"$lists/reduced.txt" &&
  : >"$lists/update_words.txt" || exit 1
base="Z:$(dirname "$lists" | tr / '\\')\\"
cat >run.sh <<END
export LANG=C.UTF-8 WINEDEBUG=-all WINEPREFIX='$prefix' QUILLMERE_DIR='$base'
'$1' '$exe'; echo \$? >status; sleep 60
END
screen() { $tmux capture-pane -J -p 2>/dev/null; }
fail() { echo "$1"; screen; exit 1; }
# Waits up to $2 tenths of a second for the command $1 to succeed.
wait_for() { n=0; until eval "$1"; do sleep 0.1; n=$((n + 1)); [ $n -lt "$2" ] || return 1; done; }
$tmux new-session -d -x 250 -y 50 "sh run.sh" || exit 1
wait_for "screen | grep -q 'Press Enter to exit'" 1200 || fail "no closing prompt"
screen | grep -qF "Update words file, ${base}DicLists\\update_words.txt, is empty." ||
  fail "the message does not show the path as it is"
$tmux send-keys -l 'typed words' && sleep 2
[ ! -e status ] || fail "the run ended before Enter"
$tmux send-keys Enter
wait_for '[ "$(cat status 2>/dev/null)" = 1 ]' 600 || fail "no exit with status 1 after Enter"
echo "passed"
