#!/usr/bin/env bash
# Drives the bash completion of chunklens as bash-completion would and checks
# the candidates offered for each command line, run on the example files.
# Usage: bash_completion_test.sh CHUNKLENS_BINARY SOURCE_DIR
set -uo pipefail

binary=$1
source_dir=$2
failures=0

# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1091
source "$source_dir/completion/chunklens.bash"
# The completion runs chunklens from PATH; it must be the one just built.
PATH="$(dirname "$binary"):$PATH"
cd "$source_dir" || exit 1
work_dir=$(mktemp -d)
writers=()
trap 'kill "${writers[@]}" 2>/dev/null; rm -rf "$work_dir"' EXIT

# Splits LINE into COMP_WORDS as bash does: at blanks outside quotes, with
# "=" a word of its own; the cursor is at the end of the line.
set_completion_words() {
    local line=$1 word="" quote="" char i
    COMP_WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
        char=${line:i:1}
        if [[ $quote ]]; then
            [[ $char == "$quote" ]] && quote=""
            word+=$char
        elif [[ $char == [\'\"] ]]; then
            quote=$char
            word+=$char
        elif [[ $char == "\\" ]]; then
            word+=${line:i:2}
            ((i++))
        elif [[ $char == " " ]]; then
            [[ $word ]] && COMP_WORDS+=("$word")
            word=""
        elif [[ $char == "=" ]]; then
            [[ $word ]] && COMP_WORDS+=("$word")
            COMP_WORDS+=("=")
            word=""
        else
            word+=$char
        fi
    done
    if [[ $word || $line == *" " ]]; then
        COMP_WORDS+=("$word")
    fi
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
}

# libinstpatch reads the sizes of a RIFX file byte-swapped on a big-endian
# host (RifxExample.ListsAsTheLibraryReadsItOnThisHost in the suite shows
# what it gives), so for a big-endian chunklens (the fifth byte of its ELF
# header is 2) the lines on the RIFX example are skipped.
rifx_skipped=0
skips_rifx() {
    [[ $1 == *.rifx* && $(od -An -tu1 -j5 -N1 "$binary") -eq 2 ]] || return 1
    rifx_skipped=$((rifx_skipped + 1))
}

# expect LINE EXPECTED: the candidates for LINE, joined with "|", must be
# EXPECTED exactly and in this order.
expect() {
    local line=$1 expected=$2 actual
    skips_rifx "$line" && return
    set_completion_words "$line"
    COMPREPLY=()
    _chunklens chunklens "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    actual=$(IFS="|"; echo "${COMPREPLY[*]}")
    if [[ $actual != "$expected" ]]; then
        echo "FAIL: '$line' offers '$actual', expected '$expected'" >&2
        failures=$((failures + 1))
    fi
}

wav_ids="WAVE|'fmt '|INFO|INAM|ISFT|data"

# Options and their argument forms.
expect 'chunklens -' '-d|-t|-r|--dump=|--dump-type=|--raw'
expect 'chunklens --dump' '--dump=|--dump-type='
expect 'chunklens --r' '--raw'
expect 'chunklens examples/sample.wav --' '--dump=|--dump-type=|--raw'

# FILE from the file system, and only once.
expect 'chunklens examples/sample.w' 'examples/sample.wav'
expect 'chunklens -r examples/sample.s' 'examples/sample.sf2'
expect 'chunklens examples/sample.wav examples/' ''

# Chunk IDs of the FILE on the line, each once, in file order; IDs with a
# blank quoted in the quotes the word was begun with.
expect 'chunklens examples/sample.wav -t ' "$wav_ids"
expect 'chunklens examples/sample.wav --dump-type ' "$wav_ids"
expect 'chunklens examples/sample.wav --dump-t ' "$wav_ids"
expect 'chunklens examples/sample.wav -t I' 'INFO|INAM|ISFT'
expect 'chunklens examples/sample.wav -t f' "'fmt '"
expect "chunklens examples/sample.wav -t 'f" "'fmt '"
expect "chunklens examples/sample.wav -t 'I" "'INFO'|'INAM'|'ISFT'"
expect 'chunklens examples/sample.wav -t "f' '"fmt "'
expect 'chunklens examples/sample.wav -t fmt\ ' "'fmt '"
expect 'chunklens examples/sample.wav --dump-type=f' "'fmt '"
expect 'chunklens examples/sample.wav -t x' ''
expect 'chunklens examples/sample.sf2 -t i' 'ifil|isng|inst|ibag|imod|igen'
expect 'chunklens -t ' ''

# Chunk indices of the FILE on the line, in file order.
expect 'chunklens examples/sample.wav -d ' '0|1|2|3|4|5'
expect 'chunklens examples/sample.sf2 --dump=1' '1|10|11|12|13|14|15|16'
expect 'chunklens examples/sample.sf2 --dump 1' '1|10|11|12|13|14|15|16'
expect 'chunklens examples/sample.rifx -rd ' '0|1|2'
expect 'chunklens -d ' ''

# The FILE is found among options and their arguments as getopt_long reads
# them: an option's argument is never FILE, an attached one takes no word.
expect 'chunklens -d 3 examples/sample.rifx -t ' 'WAVE|'"'fmt '"'|data'
expect 'chunklens -t data examples/sample.rifx -d ' '0|1|2'
expect 'chunklens -rd5 examples/sample.rifx -d ' '0|1|2'
expect 'chunklens --dump-type=data examples/sample.rifx -d ' '0|1|2'
# "--dum" is ambiguous, so it takes no argument and the next word is FILE.
expect 'chunklens --dum examples/sample.rifx -d ' '0|1|2'
# After "--" every word is an operand: "-d" here is not the option.
expect 'chunklens examples/sample.wav -- -' ''
expect 'chunklens -- examples/sample.rifx -d ' ''

# FILE typed with quotes or backslashes, or with a blank in its name.
cp examples/sample.rifx "$work_dir/big endian.rifx"
expect "chunklens 'examples/sample.rifx' -t d" 'data'
expect "chunklens \"$work_dir/big endian.rifx\" -t d" 'data'
expect "chunklens $work_dir/big\\ endian.rifx -t d" 'data'
# Nothing on the line is run while completing.
expect 'chunklens "$(touch '"$work_dir"'/ran)" -d ' ''
expect 'chunklens "`touch '"$work_dir"'/ran`" -d ' ''
[[ -e $work_dir/ran ]] && { echo "FAIL: completing ran a command on the line" >&2; failures=$((failures + 1)); }

# With POSIXLY_CORRECT the first operand ends the options.
export POSIXLY_CORRECT=1
expect 'chunklens examples/sample.wav -d ' ''
expect 'chunklens examples/sample.wav -' ''
expect 'chunklens -d ' ''
expect 'chunklens -r examples/sample.wav' 'examples/sample.wav'
unset POSIXLY_CORRECT

# A damaged file offers the chunks listed before the damage.
head -c 28 examples/sample.wav >"$work_dir/cut.wav"
expect "chunklens $work_dir/cut.wav -d " '0|1'

# IDs with more than one blank at the end.
printf 'RIFF\x14\x00\x00\x00TESTab  \x00\x00\x00\x00a   \x00\x00\x00\x00' >"$work_dir/blanks.riff"
expect "chunklens $work_dir/blanks.riff -t " "TEST|'ab  '|'a   '"
expect "chunklens $work_dir/blanks.riff -t \"a" '"ab  "|"a   "'

# A FILE that is a stream is not read while completing: the completion
# neither takes the data meant for the command nor waits for a writer.
#
# expect_nothing_soon LINE FIFO: LINE offers nothing, and within 5 s. A
# reader waiting in open() for a writer, or in read() for data, would keep
# the completion for ever; so it runs in the background, and when it is late
# FIFO is opened for writing and closed, which lets a reader waiting there
# go on to the end of the data. Standard input is passed on.
expect_nothing_soon() {
    local line=$1 fifo=$2 completion tenths
    (
        failures=0
        expect "$line" ''
        exit $failures
    ) <&0 &
    completion=$!
    for ((tenths = 0; tenths < 50; tenths++)); do
        kill -0 $completion 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 $completion 2>/dev/null; then
        echo "FAIL: completing '$line' still waits after 5 s" >&2
        failures=$((failures + 1))
        : <>"$fifo"
    fi
    wait $completion || failures=$((failures + 1))
}

# expect_unread NAME: what is left to read from NAME is all of the example
# WAV, as the command will need it. Reading a FIFO whose writer has gone
# would wait for another one, so the reader is given a few seconds.
expect_unread() {
    timeout 5 cat "$1" >"$work_dir/unread"
    if ! cmp -s examples/sample.wav "$work_dir/unread"; then
        echo "FAIL: the data in $1 was read while completing" >&2
        failures=$((failures + 1))
    fi
}

# A FIFO whose writer waits for the command to open it.
mkfifo "$work_dir/fifo"
cat examples/sample.wav >"$work_dir/fifo" &
writers+=($!)
expect_nothing_soon "chunklens $work_dir/fifo -t " "$work_dir/fifo"
expect_nothing_soon "chunklens $work_dir/fifo -d " "$work_dir/fifo"
expect_unread "$work_dir/fifo"

# A pipe, named as /dev/stdin, /dev/fd/N or /proc/self/fd/N; the
# completion's own commands get the same descriptors as the shell. Its
# writer has written all and gone, so a reader would not wait here.
for name in /dev/stdin /dev/fd/PIPE /proc/self/fd/PIPE; do
    exec {pipe}< <(cat examples/sample.wav)
    expect "chunklens ${name/PIPE/$pipe} -t " '' <&$pipe
    expect_unread "/dev/fd/$pipe"
    exec {pipe}<&-
done

# A FIFO that no one writes to.
mkfifo "$work_dir/idle"
expect_nothing_soon "chunklens $work_dir/idle -t " "$work_dir/idle"

[ "$rifx_skipped" -eq 0 ] || echo "skipped $rifx_skipped lines on RIFX files: a big-endian host"
[ "$failures" -eq 0 ]
