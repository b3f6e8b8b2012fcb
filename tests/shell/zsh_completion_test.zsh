#!/usr/bin/env zsh
# Drives the zsh completion of chunklens in an interactive zsh on a pseudo
# terminal: what a Tab inserts, and what the list that it shows offers, on
# the example files.
# Usage: zsh_completion_test.zsh CHUNKLENS_BINARY SOURCE_DIR
emulate -L zsh
zmodload zsh/zpty zsh/datetime || exit 1

binary=$1
source_dir=$2
failures=0
work_dir=$(mktemp -d)
writers=()
trap 'zpty -d shell 2>/dev/null; kill $writers 2>/dev/null; rm -rf $work_dir' EXIT
marker_count=0
pending_output=""

fail() {
  print -r -- "FAIL: $*" >&2
  (( failures++ ))
}

# Types KEYS and keeps what the shell prints until it has been quiet for a
# while, so that the next keys do not arrive while it is still completing.
# The quiet spell is long enough for a completion that runs chunklens under the
# sanitizers on a busy machine; half a second was not.
type_keys() {
  local chunk last=$EPOCHREALTIME deadline=$(( EPOCHREALTIME + 20 ))
  zpty -n -w shell "$1"
  while (( EPOCHREALTIME < deadline && EPOCHREALTIME - last < 1.5 )); do
    if zpty -rt shell chunk; then
      pending_output+=$chunk
      last=$EPOCHREALTIME
    else
      sleep 0.05
    fi
  done
}

# Everything the shell prints from the last call on, up to the marker line
# that `print` writes (the echo of the command itself shows the unexpanded
# "$((...))" form).
read_until_marker() {
  local output=$pending_output chunk deadline=$(( SECONDS + 20 ))
  pending_output=""
  (( marker_count++ ))
  zpty -w shell "print -r -- END\$(( $marker_count ))"
  while (( SECONDS < deadline )); do
    if zpty -rt shell chunk; then
      output+=$chunk
      [[ $output == *$'\n'"END$marker_count"$'\r'* ]] && break
    else
      sleep 0.05
    fi
  done
  [[ $output == *"END$marker_count"$'\r'* ]] || fail "the shell gave no answer: $output"
  REPLY=${output//$'\r'/}
}

# libinstpatch reads the sizes of a RIFX file byte-swapped on a big-endian
# host (RifxExample.ListsAsTheLibraryReadsItOnThisHost in the suite shows
# what it gives), so for a big-endian chunklens (the fifth byte of its ELF
# header is 2) the lines on the RIFX example are skipped.
rifx_skipped=0
skips_rifx() {
  [[ $1 == *.rifx* && $(od -An -tu1 -j5 -N1 $binary) -eq 2 ]] || return 1
  (( rifx_skipped++ ))
  return 0
}

# expect_words LINE WORD...: LINE and a Tab give a command line whose
# arguments are exactly WORD...
expect_words() {
  local line=$1
  skips_rifx $line && return
  shift
  # Tab, then run "show_words" in front of the completed line.
  type_keys "$line"$'\t'
  zpty -w shell $'\C-a'"show_words "
  read_until_marker
  local -a actual
  actual=(${(f)"$(print -r -- $REPLY | sed -n 's/^<\(.*\)>$/\1/p')"})
  [[ ${(j:|:)actual} == ${(j:|:)@} ]] ||
    fail "'$line' completes to '${(j:|:)actual}', expected '${(j:|:)@}'"
}

# expect_list LINE PATTERN...: LINE and a Tab list a line matching each
# PATTERN, in this order.
expect_list() {
  local line=$1 pattern listing
  skips_rifx $line && return
  shift
  type_keys "$line"$'\t'
  zpty -n -w shell $'\C-e\C-u'
  read_until_marker
  listing=$REPLY
  for pattern in "$@"; do
    if [[ $listing =~ "(^|"$'\n'")$pattern *"$'\n' ]]; then
      listing=${listing[MEND,-1]}
    else
      fail "'$line' lists no line '$pattern' in its place; the shell showed:"$'\n'"$REPLY"
      return
    fi
  done
}

# expect_unlisted LINE PATTERN: LINE and a Tab show no line matching PATTERN.
expect_unlisted() {
  local line=$1 pattern=$2
  type_keys "$line"$'\t'
  zpty -n -w shell $'\C-e\C-u'
  read_until_marker
  [[ $REPLY =~ "(^|"$'\n'")$pattern" ]] && fail "'$line' lists '$pattern'; the shell showed:"$'\n'"$REPLY"
}

cp $source_dir/completion/_chunklens $work_dir/
zpty shell "env -i HOME=$work_dir TERM=dumb PATH=${binary:h}:$PATH zsh -f -i"
zpty -w shell "PS1='%% '; fpath=($work_dir \$fpath); autoload -U compinit; compinit -u -d $work_dir/dump"
zpty -w shell "zstyle ':completion:*' format '-- %d --'; cd ${(q)source_dir}"
zpty -w shell 'show_words() { local word; for word; print -r -- "<$word>" }'
read_until_marker

# FILE, options and their argument forms.
expect_words 'chunklens examples/sample.w' chunklens examples/sample.wav
expect_words 'chunklens --r' chunklens --raw
expect_list 'chunklens -' '--dump +-d +-- dump the chunk with this index' \
  '--dump-type +-t +-- dump every chunk with this ID' '--raw +-r +-- raw dump: one line of hex pairs'

# Chunk IDs of the FILE on the line, quoted where they hold a blank.
expect_words 'chunklens examples/sample.wav -t f' chunklens examples/sample.wav -t 'fmt '
expect_words "chunklens examples/sample.wav -t 'f" chunklens examples/sample.wav -t 'fmt '
expect_words 'chunklens examples/sample.wav --dump-type=IS' chunklens examples/sample.wav --dump-type=ISFT
expect_words 'chunklens -d 3 examples/sample.rifx -t d' chunklens -d 3 examples/sample.rifx -t data
expect_list 'chunklens examples/sample.wav -t ' 'WAVE +-- <WAVE>, first at index 0' \
  'fmt +-- \(fmt \), first at index 1' 'INFO +-- <INFO>, first at index 2' \
  'INAM +-- \(INAM\), first at index 3' 'ISFT +-- \(ISFT\), first at index 4' \
  'data +-- \(data\), first at index 5'

# Chunk indices, described by their chunks.
expect_words 'chunklens examples/sample.sf2 -d 1' chunklens examples/sample.sf2 -d 1
expect_words 'chunklens examples/sample.sf2 -d 16' chunklens examples/sample.sf2 -d 16
expect_list 'chunklens -r examples/sample.wav --dump=' '0 +-- <WAVE>' '1 +-- \(fmt \)' \
  '2 +-- <INFO>' '3 +-- \(INAM\)' '4 +-- \(ISFT\)' '5 +-- \(data\)'
expect_list 'chunklens examples/sample.rifx -rd ' '0 +-- <WAVE>' '1 +-- \(fmt \)' '2 +-- \(data\)'

# Options may follow FILE, unless POSIXLY_CORRECT is in the environment.
raw_line='--raw +-r +-- raw dump: one line of hex pairs'
expect_list 'chunklens examples/sample.wav -' "$raw_line"
zpty -w shell 'export POSIXLY_CORRECT=1'
expect_list 'chunklens -' "$raw_line"
expect_unlisted 'chunklens examples/sample.wav -' "$raw_line"
zpty -w shell 'unset POSIXLY_CORRECT'

# A FILE that is a stream is not read while completing: the completion
# neither takes the data meant for the command nor waits for a writer. The
# ID "data" is the only one that "da" begins, so a Tab would insert it.
sample=$source_dir/examples/sample.wav

# A FIFO whose writer waits for the command to open it; afterwards all of
# its data is still there. Reading a FIFO whose writer has gone would wait
# for another one, so the reader is given a few seconds.
mkfifo $work_dir/fifo
cat $sample >$work_dir/fifo &
writers+=($!)
expect_words "chunklens $work_dir/fifo -t da" chunklens $work_dir/fifo -t da
timeout 5 cat $work_dir/fifo >$work_dir/unread
cmp -s $sample $work_dir/unread || fail "the data in the FIFO was read while completing"

# A pipe named as /dev/fd/N, which the completion's own commands share with
# the shell; its writer has written all and gone.
zpty -w shell "exec 5< <(cat examples/sample.wav)"
expect_words 'chunklens /dev/fd/5 -t da' chunklens /dev/fd/5 -t da
zpty -w shell "cmp -s examples/sample.wav - <&5 && print -r -- UN''READ; exec 5<&-"
read_until_marker
[[ $REPLY == *$'\n'UNREAD$'\n'* ]] || fail "the data in the pipe was read while completing"

# A FIFO that no one writes to: a reader would wait in open() for ever and
# keep the shell from answering. Opening it for writing and closing it
# afterwards lets such a reader go on, should one wait there.
mkfifo $work_dir/idle
expect_words "chunklens $work_dir/idle -t da" chunklens $work_dir/idle -t da
: <>$work_dir/idle

(( rifx_skipped == 0 )) || print "skipped $rifx_skipped lines on RIFX files: a big-endian host"
(( failures == 0 ))
