# bash completion for dbpftool: commands, the package commands, each command's options, and
# file or directory names for their arguments. Installed as
# share/bash-completion/completions/dbpftool; by hand: `. tools/completion/dbpftool.bash`.

_dbpftool() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null 2>&1; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    local commands="compress decompress info demo md5 path tokens version image package"
    local package_commands="list extract verify pack recompress"

    # The command (and, under package, its command) is the first word not starting with "-".
    local i command="" sub="" ended=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        --) ended=1 ;;
        -*) ;;
        *)
            if [[ -z $command ]]; then
                command=${words[i]}
            elif [[ $command == package && -z $sub ]]; then
                sub=${words[i]}
            fi
            ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help -h --version" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi
    if [[ $command == package && -z $sub ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help -h" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$package_commands" -- "$cur"))
        fi
        return
    fi

    # Values of options.
    case $prev in
    --format)
        COMPREPLY=($(compgen -W "1.1 2.0" -- "$cur"))
        return
        ;;
    --jobs | -j | --partial)
        return
        ;;
    --base)
        COMPREPLY=($(compgen -d -- "$cur"))
        return
        ;;
    --png)
        COMPREPLY=($(compgen -f -- "$cur"))
        return
        ;;
    esac

    local options="--help"
    local dirs=""
    case $command in
    compress) options+=" --best" ;;
    decompress) options+=" --partial" ;;
    path) options+=" --dir --args --json --stat --base --self" ;;
    version) options+=" --json" ;;
    image) options+=" --resource --png" ;;
    demo) dirs=1 ;;
    package)
        case $sub in
        list) options+=" --json --quiet" ;;
        extract) options+=" --jobs --raw --quiet" ;;
        verify) options+=" --jobs --md5 --quiet" ;;
        pack) options+=" --format --jobs --store --best --quiet" ;;
        recompress) options+=" --jobs --quiet" ;;
        esac
        ;;
    esac

    if [[ $cur == -* && -z $ended ]]; then
        COMPREPLY=($(compgen -W "$options --" -- "$cur"))
        return
    fi
    # extract PKG DIR and pack DIR OUT: a directory where one is wanted.
    local positional=0
    for ((i = 1; i < cword; i++)); do
        [[ ${words[i]} != -* && ${words[i]} != "$command" && ${words[i]} != "$sub" ]] &&
            [[ ${words[i - 1]} != --@(format|jobs|partial|base|png|resource) && ${words[i - 1]} != -j ]] &&
            ((positional++))
    done
    if [[ -n $dirs || ($sub == extract && $positional -eq 1) || ($sub == pack && $positional -eq 0) ]]; then
        COMPREPLY=($(compgen -d -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
    compopt -o filenames 2>/dev/null
}
complete -F _dbpftool dbpftool
