# bash completion for velmora-cli
_velmora_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local opt value prefix=
    # An option's value, given as "--opt value" or "--opt=value". Bash splits words at "="
    # (COMP_WORDBREAKS), so "=" may be a word of its own; where it does not, the value is
    # completed behind "--opt=".
    if [[ $cur == = ]]; then
        opt=$prev value=
    elif [[ $prev == = && COMP_CWORD -ge 2 ]]; then
        opt=${COMP_WORDS[COMP_CWORD-2]} value=$cur
    elif [[ $cur == --*=* ]]; then
        opt=${cur%%=*} value=${cur#*=} prefix=$opt=
    else
        opt=$prev value=$cur
    fi
    local words=
    case $opt in
        --folders) words="yyyymm yyyymmdd yymmdd yy_mmdd yymm yyyy/mm/dd yyyy/mm yyyy/yyyymmdd" ;;
        --names) words="1 2 3 4 5 6" ;;
        --suffix) words="number letter" ;;
        --dest)
            COMPREPLY=($(compgen -W "source desktop documents" -- "$value")
                       $(compgen -d -- "$value"))
            ;;
        --settings) COMPREPLY=($(compgen -f -- "$value")) ;;
        --undo) COMPREPLY=($(compgen -d -- "$value")) ;;
        *) opt= ;;
    esac
    if [[ -n $opt ]]; then
        [[ -n $words ]] && COMPREPLY=($(compgen -W "$words" -- "$value"))
        [[ -n $prefix ]] && COMPREPLY=("${COMPREPLY[@]/#/$prefix}")
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--folders= --dest= --names= --lower-name --lower-ext --yyyy
            --model --suffix= --media-dates --name-dates --move --recursive --skip-same
            --keep-going --keep-together --undo
            --runs --dry-run --settings --verbose
            --json --null -0 --quiet --help --version" -- "$cur"))
        # "--folders=" and the like wait for their value: no space after them.
        [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
        return
    fi
    COMPREPLY=($(compgen -d -- "$cur"))
}
complete -o filenames -F _velmora_cli velmora-cli
