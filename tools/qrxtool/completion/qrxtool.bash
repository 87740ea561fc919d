# bash completion for qrxtool: its commands, each command's options and their values, and files.

_qrxtool() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=""
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W "info verify frame decode-frame code-jpeg code-picture export thumbnail
      help --help --version" -- "$cur"))
    return
  fi
  case "$prev" in
    --size) COMPREPLY=($(compgen -W "320x240 640x480" -- "$cur")); return ;;
    --quality|--from|--count) return ;;
    --frames) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")); return ;;
  esac
  if [[ $cur == -* ]]; then
    local options=""
    case "${COMP_WORDS[1]}" in
      info) options="--json" ;;
      frame|decode-frame) options="--raw565" ;;
      code-jpeg) options="--quality" ;;
      code-picture) options="--quality --size" ;;
      export) options="--frames --from --count" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  compopt -o filenames 2>/dev/null
  COMPREPLY=($(compgen -f -- "$cur"))
}

complete -F _qrxtool qrxtool
