# bash completion for reelforge-cli: its options, the values each takes, folders for --output-dir
# and files for the sources. "--quality=6" is completed as well as "--quality 6".

_reelforge_cli_values() {
  case "$1" in
    -r|--frame-rate) echo "standard max min" ;;
    -s|--size) echo "320x240 640x480" ;;
    -q|--quality) echo "100 95 90 85 80 75 70 65 60 55 50 45 40 35 30 25 20 15 10 5" ;;
    -b|--bitrate)
      echo "16/8kbit 32/16kbit 48/24kbit 64/32kbit 80/40kbit 96/48kbit 112/56kbit 128/64kbit" \
           "160/80kbit 192/96kbit 224/112kbit 256/128kbit 320/160kbit" ;;
    --rate) echo "22.05 44.1" ;;
    --playback-mode) echo "frame time" ;;
    --original-frame) echo "auto 30 24 15" ;;
    --encoder) echo "mp3 ogg" ;;
    --progress) echo "auto plain json" ;;
    *) return 1 ;;
  esac
}

_reelforge_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=""
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  # bash splits "--quality=6" at the "=": the option is then two words back.
  if [[ $cur == "=" ]]; then
    cur=""
  elif [[ $prev == "=" ]] && ((COMP_CWORD > 1)); then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  fi
  COMPREPLY=()
  local values
  if values=$(_reelforge_cli_values "$prev"); then
    COMPREPLY=($(compgen -W "$values" -- "$cur"))
    return
  fi
  case "$prev" in
    -o|--output-dir)
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -d -- "$cur"))
      return ;;
    -j|--jobs|--progress-fd) return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "-r --frame-rate -s --size -q --quality -b --bitrate --rate --stereo --mono
      --force-media-framework --playback-mode --original-frame --encoder -j --jobs -n --no-overwrite
      --progress --progress-fd -o --output-dir --output-beside-source -h --help --version" -- "$cur"))
    return
  fi
  compopt -o filenames 2>/dev/null
  COMPREPLY=($(compgen -f -- "$cur"))
}

complete -F _reelforge_cli reelforge-cli
