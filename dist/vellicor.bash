# Bash completion of the vellicor program: its commands, each command's
# options, files and folders for the operands, and after an archive the
# names of its entries (from `vellicor list --json`, which decodes the whole
# archive: only for archives up to 64 MiB that need no password).
# Plain bash: it needs nothing of the bash-completion package.

_vellicor_entries() {
  local archive=$1
  [[ -f $archive ]] || return
  (($(stat -c %s -- "$archive" 2>/dev/null || echo 0) <= 67108864)) || return
  VELLICOR_PASSWORD= vellicor list --json -q "$archive" 2>/dev/null </dev/null |
    sed -n 's/^ *{"kind": "[a-z]*", "name": "\(\([^"\\]\|\\.\)*\)".*/\1/p'
}

# Files (or only folders with -d, or only .exe files and folders with -x).
_vellicor_files() {
  local IFS=$'\n'
  compopt -o filenames 2>/dev/null
  case $1 in
    -d) COMPREPLY+=($(compgen -d -- "$cur")) ;;
    -x) COMPREPLY+=($(compgen -d -- "$cur") $(compgen -f -X '!*.[eE][xX][eE]' -- "$cur")) ;;
    *) COMPREPLY+=($(compgen -f -- "$cur")) ;;
  esac
}

_vellicor() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W "pack list test extract --version -V --help -h" -- "$cur"))
    return
  fi

  local command=${COMP_WORDS[1]} options
  case $command in
    pack)
      options="-o --output --comment --comment-file --launch --password --password-file --mask
               --stub --level -j --threads --exclude --files-from --null -q --quiet -h --help"
      case $prev in
        -o|--output|--comment-file|--password-file|--stub|--files-from) _vellicor_files; return ;;
        --level) COMPREPLY=($(compgen -W "1 2 3 4 5" -- "$cur")); return ;;
        --comment|--launch|--exclude|-j|--threads) return ;;
      esac
      ;;
    list) options="--json -q --quiet --password-file -h --help" ;;
    test) options="-v --verbose -q --quiet --password-file -h --help" ;;
    extract)
      options="-o --output --overwrite= -c --stdout -q --quiet --password-file -h --help"
      case $prev in
        -o|--output) _vellicor_files -d; return ;;
      esac
      if [[ $cur == --overwrite=* ]]; then
        COMPREPLY=($(compgen -W "ask all none" -- "${cur#--overwrite=}"))
        return
      fi
      ;;
    *) return ;;
  esac
  if [[ $prev == --password-file ]]; then
    _vellicor_files
    return
  fi
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    [[ ${COMPREPLY[0]-} == *= ]] && compopt -o nospace 2>/dev/null
    return
  fi
  if [[ $command == pack ]]; then
    _vellicor_files
    return
  fi

  # The first operand of list, test and extract is an archive; after it
  # come the names of its entries (and, for list and test, more archives).
  local i archive=
  for ((i = 2; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      -o|--output|--password-file) ((i++)) ;;
      -*) ;;
      *) archive=${COMP_WORDS[i]}; break ;;
    esac
  done
  if [[ -n $archive ]]; then
    local IFS=$'\n'
    COMPREPLY=($(compgen -W "$(_vellicor_entries "$archive")" -- "$cur"))
    [[ $command != extract ]] && _vellicor_files -x
    # A folder's name goes on with what is below it.
    [[ ${#COMPREPLY[@]} == 1 && ${COMPREPLY[0]} == */ ]] && compopt -o nospace 2>/dev/null
    return
  fi
  _vellicor_files -x
}
complete -F _vellicor vellicor
