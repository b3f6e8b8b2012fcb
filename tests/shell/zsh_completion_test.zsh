#!/usr/bin/env zsh
# Drives the zsh completion of chunklens in an interactive zsh on a pseudo
# terminal: what a Tab inserts, and what the list that it shows offers, on
# the example files.
# Usage: zsh_completion_test.zsh CHUNKLENS_BINARY SOURCE_DIR
emulate -L zsh
zmodload zsh/zpty zsh/zselect zsh/datetime || exit 1

binary=$1
source_dir=$2
failures=0
work_dir=$(mktemp -d)
writers=()
lines_begun=0
pending_output=""

# A completion that waits in open() on the FIFO without a writer is let go,
# so that it does not outlive the test.
clean_up() {
  [[ -p $work_dir/idle ]] && : <>$work_dir/idle
  zpty -d shell 2>/dev/null
  kill $writers 2>/dev/null
  rm -rf $work_dir
}
trap clean_up EXIT

fail() {
  print -r -- "FAIL: $*" >&2
  (( failures++ ))
}

# Keys are sent only while the shell edits a line, which its zle-line-init
# hook announces, and never by how long it has been quiet. Keys that arrive
# while a command runs are echoed by the terminal driver into that command's
# output (on a loaded machine the echo of the next command line once stuck
# to the front of what show_words printed), and the driver's own line
# editing would act on a ^U. While zle edits, the terminal neither echoes
# nor edits, and zle reads the keys in order: a Tab's completion has been
# done, and its list drawn, before the keys after it are read.
#
# type_line KEYS: types KEYS, which end in a Return, and waits until the
# shell begins the next line. REPLY is what the shell printed meanwhile,
# without carriage returns.
type_line() {
  zpty -n -w shell "$1"
  wait_for_next_line "after '${(V)1}'"
}

# The deadline is there only to end the test if the shell hangs, and is far
# beyond the longest step seen with the test at nice 19 on a machine kept
# busy (10 s); once it has passed, or the shell has gone, it is in no known
# state, and the test stops. "zpty -t shell" is no test of a shell that
# hangs: it waits to read a character.
wait_for_next_line() {
  local output=$pending_output chunk next=$(( lines_begun + 1 )) read_status
  local deadline=$(( EPOCHREALTIME + 120 ))
  pending_output=""
  until [[ $output =~ "@@line $next ([a-z]+)@@" ]]; do
    if (( EPOCHREALTIME > deadline )); then
      fail "the shell began no new line $1; it showed:"$'\n'"${(V)output}"
      exit 1
    fi
    zselect -t 50 -r $shell_fd || continue
    zpty -rt shell chunk
    read_status=$?
    if (( read_status == 0 )); then
      output+=$chunk
    elif (( read_status == 2 )); then
      fail "the shell ended $1; it showed:"$'\n'"${(V)output}"
      exit 1
    fi
  done
  lines_begun=$next
  pending_output=${output[MEND+1,-1]}
  REPLY=${${output[1,MBEGIN-1]}//$'\r'/}
  # A line left open, say by a quote, has the shell ask for more of it, and
  # the keys of the next check would go into that command.
  if [[ $match[1] != start ]]; then
    fail "the shell was left inside a command ($match[1]) $1"
    exit 1
  fi
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
  rm -f $work_dir/words
  type_line "$line"$'\t\C-a'"show_words "$'\n'
  local -a actual
  [[ -f $work_dir/words ]] && actual=(${(f)"$(<$work_dir/words)"})
  [[ ${(j:|:)actual} == ${(j:|:)@} ]] ||
    fail "'$line' completes to '${(j:|:)actual}', expected '${(j:|:)@}'"
}

# expect_list LINE PATTERN...: LINE and a Tab list a line matching each
# PATTERN, in this order.
expect_list() {
  local line=$1 pattern listing
  skips_rifx $line && return
  shift
  type_line "$line"$'\t\C-e\C-u\n'
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
  type_line "$line"$'\t\C-e\C-u\n'
  [[ $REPLY =~ "(^|"$'\n'")$pattern" ]] && fail "'$line' lists '$pattern'; the shell showed:"$'\n'"$REPLY"
}

# The shell is set up by its own .zshrc (-d leaves out the system's), so
# that not even the first keys arrive before it edits a line. show_words
# writes the words to a file: the terminal also shows the line being edited,
# redrawn and cut to its width.
cp $source_dir/completion/_chunklens $work_dir/
cat >$work_dir/.zshrc <<EOF
PS1='%% '
fpath=(${(q)work_dir} \$fpath)
autoload -U compinit; compinit -u -d ${(q)work_dir}/dump
zstyle ':completion:*' format '-- %d --'
cd ${(q)source_dir}
show_words() { print -rl -- "\$@" >${(q)work_dir}/words }
zle-line-init() { print -rn -- "@@line \$(( ++lines_begun )) \$CONTEXT@@" }
zle -N zle-line-init
EOF
zpty shell "env -i HOME=${(q)work_dir} TERM=dumb PATH=${(q)binary:h}:${(q)PATH} zsh -d -i"
shell_fd=$REPLY
wait_for_next_line "on starting"

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
type_line $'export POSIXLY_CORRECT=1\n'
expect_list 'chunklens -' "$raw_line"
expect_unlisted 'chunklens examples/sample.wav -' "$raw_line"
type_line $'unset POSIXLY_CORRECT\n'

# A FILE that is a stream is not read while completing: the completion
# neither takes the data meant for the command nor waits for a writer. The
# ID "data" is the only one that "da" begins, so a Tab would insert it.
sample=$source_dir/examples/sample.wav

# A FIFO whose writer waits for the command to open it; afterwards all of
# its data is still there. Reading a FIFO whose writer has gone would wait
# for another one, so the reader is given half a minute.
mkfifo $work_dir/fifo
cat $sample >$work_dir/fifo &
writers+=($!)
expect_words "chunklens $work_dir/fifo -t da" chunklens $work_dir/fifo -t da
timeout 30 cat $work_dir/fifo >$work_dir/unread
cmp -s $sample $work_dir/unread || fail "the data in the FIFO was read while completing"

# A pipe named as /dev/fd/N, which the completion's own commands share with
# the shell; its writer has written all and gone.
type_line "exec 5< <(cat examples/sample.wav)"$'\n'
expect_words 'chunklens /dev/fd/5 -t da' chunklens /dev/fd/5 -t da
type_line "cmp -s examples/sample.wav - <&5 && print -r -- UN''READ; exec 5<&-"$'\n'
[[ $REPLY == *$'\n'UNREAD$'\n'* ]] || fail "the data in the pipe was read while completing"

# A FIFO that no one writes to: a reader would wait in open() for ever and
# keep the shell from answering. Opening it for writing and closing it
# afterwards lets such a reader go on, should one wait there.
mkfifo $work_dir/idle
expect_words "chunklens $work_dir/idle -t da" chunklens $work_dir/idle -t da
: <>$work_dir/idle

(( rifx_skipped == 0 )) || print "skipped $rifx_skipped lines on RIFX files: a big-endian host"
(( failures == 0 ))
