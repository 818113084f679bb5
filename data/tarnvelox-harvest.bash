# bash completion for tarnvelox-harvest
_tarnvelox_harvest() {
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"
    case "$prev" in
        --scope)
            COMPREPLY=($(compgen -W "url directory path server nolimit" -- "$cur")); return ;;
        --project)
            COMPREPLY=($(compgen -f -X '!*.tvp' -- "$cur")); return ;;
        --export)
            if [[ "$cur" == *:* ]]; then
                COMPREPLY=($(compgen -f -- "${cur#*:}"))
                COMPREPLY=("${COMPREPLY[@]/#/${cur%%:*}:}")
            else
                COMPREPLY=($(compgen -S : -W "addresses-txt urls-txt addressbook bookmarks addresses-html urls-html" -- "$cur"))
                compopt -o nospace 2>/dev/null
            fi
            return ;;
        --import)
            if [[ "$cur" == *:* ]]; then
                COMPREPLY=($(compgen -f -- "${cur#*:}"))
                COMPREPLY=("${COMPREPLY[@]/#/${cur%%:*}:}")
            else
                COMPREPLY=($(compgen -S : -W "addressbook bookmarks project text" -- "$cur"))
                compopt -o nospace 2>/dev/null
            fi
            return ;;
        --merge)
            COMPREPLY=($(compgen -W "skip delete delete-only" -- "$cur")); return ;;
        --crawl-if|--extract-if|--connections|--timeout|--proxy|--web-search|--name-search|--engines|--page-limit)
            return ;;
    esac
    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "--project --new --force --refetch --scope --crawl-if --extract-if
            --connections --timeout --proxy --no-proxy --robots --modern --page-limit --export --import
            --merge --web-search --name-search --engines --quiet --verbose --help --version" -- "$cur"))
    fi
}
complete -F _tarnvelox_harvest tarnvelox-harvest
