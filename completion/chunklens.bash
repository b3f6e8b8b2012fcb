# bash completion for chunklens                            -*- shell-script -*-
#
# Completes the options, FILE from the file system, and the arguments of
# --dump and --dump-type from the FILE already on the line: its chunk
# indices and its chunk IDs, read from chunklens's own listing of it.

# The word as the shell would pass it on: quotes and backslashes taken away
# and a leading ~/ made the home directory. Nothing else is expanded, so
# that completing never runs what is on the line.
_chunklens_dequote()
{
    local word=$1 text="" quote="" char i
    [[ $word == "~/"* ]] && word=$HOME${word:1}
    for ((i = 0; i < ${#word}; i++)); do
        char=${word:i:1}
        if [[ $quote == "'" ]]; then
            [[ $char == "'" ]] && quote="" || text+=$char
        elif [[ $char == "\\" && $((i + 1)) -lt ${#word} ]]; then
            # Within double quotes a backslash escapes only these characters.
            [[ $quote && ${word:i+1:1} != [\"\\\$\`] ]] && text+=$char
            ((i++))
            text+=${word:i:1}
        elif [[ $char == '"' ]]; then
            [[ $quote ]] && quote="" || quote=$char
        elif [[ $char == "'" && -z $quote ]]; then
            quote=$char
        else
            text+=$char
        fi
    done
    printf '%s' "$text"
}

# Fills the caller's arrays chunk_indices and chunk_ids from the lines of
# chunklens's listing of FILE. A damaged file gives the chunks before the
# damage.
#
# chunklens is run only on a regular file. It reads streams too, but a FIFO
# or a pipe (also when named as /dev/stdin, /dev/fd/N or a process
# substitution) would hand its data to the completion instead of to the
# command, or keep the completion waiting for a writer; a terminal would
# take the keys being typed, and a device such as /dev/zero never ends. -f
# follows symlinks, /dev/stdin and the /proc/self/fd links included, so it
# sees what the name leads to. Block devices are left out too: reading a
# disk or a drive that has to wake up is no part of completing a word.
_chunklens_read_listing()
{
    local program=$1 file=$2 line
    local pattern='^ *[(<](.{0,4})[)>]\[ *(-?[0-9]+)\] \(ofs = 0x[0-9a-f]+, size = [0-9]+\)$'
    [[ $file && -f $file ]] || return
    while IFS= read -r line; do
        if [[ $line =~ $pattern ]]; then
            chunk_indices+=("${BASH_REMATCH[2]}")
            chunk_ids+=("${BASH_REMATCH[1]}")
        fi
    done < <(LC_ALL=C "$program" -- "$file" 2>/dev/null)
}

# d or t when the long option WORD takes the next word as its argument.
# Abbreviations count as getopt_long takes them; "--dum" is ambiguous.
_chunklens_long_option_argument()
{
    local name=${1#--}
    [[ $name == *=* ]] && return
    if [[ $name == dump ]]; then
        echo d
    elif [[ ${#name} -gt 4 && dump-type == "$name"* ]]; then
        echo t
    fi
}

# d or t when the short option group WORD ends in -d or -t, whose argument
# is then the next word; in "-rd5" the argument is inside the group.
_chunklens_short_option_argument()
{
    local group=${1#-} i
    for ((i = 0; i < ${#group}; i++)); do
        case ${group:i:1} in
            d | t)
                ((i == ${#group} - 1)) && echo "${group:i:1}"
                return
                ;;
        esac
    done
}

# Reads the words around the cursor as getopt_long would and sets the
# caller's file_word (the FILE operand as typed, or empty), argument_of (d or
# t when the word under the cursor is that option's argument) and
# options_ended (set when the word under the cursor can only be an operand).
_chunklens_scan_words()
{
    local i word pending="" ended="" posix=""
    # glibc's getopt reads it from the environment, not from the shell.
    printenv POSIXLY_CORRECT >/dev/null && posix=1
    for ((i = 1; i < ${#words[@]}; i++)); do
        word=${words[i]}
        if [[ $pending ]]; then
            ((i == cword)) && argument_of=$pending
            pending=""
        elif ((i == cword)); then
            options_ended=$ended
        elif [[ $ended || $word != -?* ]]; then
            [[ $file_word ]] || file_word=$word
            [[ $posix ]] && ended=1
        elif [[ $word == -- ]]; then
            ended=1
        elif [[ $word == --* ]]; then
            pending=$(_chunklens_long_option_argument "$word")
        else
            pending=$(_chunklens_short_option_argument "$word")
        fi
    done
}

_chunklens_complete_indices()
{
    local chunk_indices=() chunk_ids=() index
    _chunklens_read_listing "$1" "$(_chunklens_dequote "$file_word")"
    for index in "${chunk_indices[@]}"; do
        [[ $index == "$cur"* ]] && COMPREPLY+=("$index")
    done
    compopt -o nosort 2>/dev/null
}

# An ID as it has to be typed. The reader takes IDs of letters and digits
# with blanks at the end; those with blanks go in quotes: in those that the
# word was begun with, or else in single quotes.
_chunklens_quote_id()
{
    local id=$1 quote=$2
    if [[ -z $quote && $id =~ ^[[:alnum:]]+$ ]]; then
        printf '%s' "$id"
    else
        quote=${quote:-"'"}
        printf '%s%s%s' "$quote" "$id" "$quote"
    fi
}

# The IDs of the file, each once, in the order in which they first appear.
_chunklens_complete_ids()
{
    local chunk_indices=() chunk_ids=() offered=() id known typed quote=""
    _chunklens_read_listing "$1" "$(_chunklens_dequote "$file_word")"
    typed=$(_chunklens_dequote "$cur")
    [[ $cur == [\'\"]* ]] && quote=${cur:0:1}
    for id in "${chunk_ids[@]}"; do
        [[ $id == "$typed"* ]] || continue
        for known in "${offered[@]}"; do
            [[ $known == "$id" ]] && continue 2
        done
        offered+=("$id")
        COMPREPLY+=("$(_chunklens_quote_id "$id" "$quote")")
    done
    compopt -o nosort 2>/dev/null
}

_chunklens()
{
    local cur prev words cword split
    _init_completion -s || return

    local file_word="" argument_of="" options_ended=""
    _chunklens_scan_words
    # "--dump=3": _init_completion has split the word at the "=".
    [[ -z $argument_of ]] && $split && argument_of=$(_chunklens_long_option_argument "$prev")

    case $argument_of in
        d) _chunklens_complete_indices "$1" ;;
        t) _chunklens_complete_ids "$1" ;;
        *)
            if [[ -z $options_ended && $cur == -* ]]; then
                COMPREPLY=($(compgen -W '-d -t -r --dump= --dump-type= --raw' -- "$cur"))
                [[ ${COMPREPLY-} == *= ]] && compopt -o nospace 2>/dev/null
            elif [[ -z $file_word ]]; then
                _filedir
            fi
            ;;
    esac
} &&
    complete -F _chunklens chunklens

# ex: filetype=sh
