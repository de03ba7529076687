#!/usr/bin/env bash
# What bash completes for clipwren-cut: its options from --help, audio files and folders
# for the input, any file after an option taking FILE, cue sheets after --cue, nothing
# after one taking a time.
# Arguments: the folder of the clipwren-cut to complete for, the completion script.
set -uo pipefail
program_dir=$(cd "$1" && pwd) script=$(realpath "$2")
export PATH=$program_dir:$PATH
shopt -s extglob progcomp
source /usr/share/bash-completion/bash_completion
source "$script"

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder" && mkdir songs && touch song.mp3 Loud.WAV ring.m4r notes.txt album.cue

# The words offered for a command line typed up to its end.
completions() {
  COMP_LINE=$1 COMP_POINT=${#1}
  read -ra COMP_WORDS <<<"$1"
  [[ $1 == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _clipwren_cut clipwren-cut "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' '
}

# Long names as --help lists them ("--normalize[=LUFS]" is --normalize).
every_option=$(clipwren-cut --help | grep -oE '^ {2,7}(-[[:alnum:]], )?--[^ ,[]+' | grep -oE -- '--[^ ,[]+$' | sort |
  paste -sd' ')
[ -n "$every_option" ] || { echo "clipwren-cut --help lists no option"; exit 1; }
status=0
while IFS='|' read -r line expected; do
  got=$(completions "$line")
  [ "$got" = "$expected" ] || { echo "'$line': expected '$expected', got '$got'"; status=1; }
done <<TABLE
clipwren-cut --|$every_option
clipwren-cut --be|--begin
clipwren-cut |Loud.WAV ring.m4r song.mp3 songs
clipwren-cut so|song.mp3 songs
clipwren-cut song.mp3 --begin |
clipwren-cut song.mp3 -e |
clipwren-cut song.mp3 -o |Loud.WAV album.cue notes.txt ring.m4r song.mp3 songs
clipwren-cut song.mp3 --output n|notes.txt
clipwren-cut song.mp3 --copy |Loud.WAV ring.m4r song.mp3 songs
clipwren-cut --cue |album.cue songs
TABLE
exit $status
