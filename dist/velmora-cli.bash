# bash completion for velmora-cli
_velmora_cli()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --folders) COMPREPLY=($(compgen -W "yyyymm yyyymmdd yymmdd yy_mmdd yymm" -- "$cur")); return ;;
        --names) COMPREPLY=($(compgen -W "1 2 3 4 5 6" -- "$cur")); return ;;
        --dest) COMPREPLY=($(compgen -W "source desktop documents" -- "$cur")); return ;;
        --suffix) COMPREPLY=($(compgen -W "number letter" -- "$cur")); return ;;
        --settings|--undo) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--folders --dest --names --lower-name --lower-ext --yyyy
            --model --suffix --media-dates --name-dates --move --recursive --skip-same --keep-going --undo
            --dry-run --settings --verbose
            --json --null -0 --quiet --help --version" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -d -- "$cur"))
}
complete -o filenames -F _velmora_cli velmora-cli
