# shellcheck shell=bash
# The machine's apt sources, as scripts/setup-debian needs them to add bookworm-backports from
# the mirror the machine uses already: a mirror named in the tree would be one that some
# machines cannot reach. Sourced, never run; needs only bash and awk, which every Debian has.

# Prints "<URI> <suite> <keyring or ->" for each enabled binary (deb) source in apt folder $1:
# sources.list and sources.list.d/*.list in the one-line format, sources.list.d/*.sources in
# the deb822 one. The file $2, if given, is left out. The keyring is that of signed-by when it
# names a file, else "-".
apt_binary_sources() {
    local dir=$1 skip=${2:-} file
    local -a one_line=() deb822=()
    for file in "$dir/sources.list" "$dir"/sources.list.d/*.list; do
        if [[ -f "$file" && "$file" != "$skip" ]]; then one_line+=("$file"); fi
    done
    for file in "$dir"/sources.list.d/*.sources; do
        if [[ -f "$file" && "$file" != "$skip" ]]; then deb822+=("$file"); fi
    done
    if ((${#one_line[@]})); then awk "$_apt_one_line_program" "${one_line[@]}"; fi
    if ((${#deb822[@]})); then awk "$_apt_deb822_program" "${deb822[@]}"; fi
}

# Reads apt_binary_sources' lines on stdin and prints the line of a one-line source for
# bookworm-backports from the mirror and with the keyring of the first bookworm source;
# prints nothing when a source of bookworm-backports is there already. Fails, printing
# nothing, when no source of bookworm names a mirror to take.
backports_source_line() {
    awk '$2 == "bookworm-backports" { present = 1 }
         $2 == "bookworm" && mirror == "" { mirror = $1; keyring = $3 }
         END {
             if (present) exit 0
             if (mirror == "") exit 1
             options = keyring == "-" ? "" : "[signed-by=" keyring "] "
             print "deb " options mirror " bookworm-backports main"
         }'
}

# deb [option=value ...] URI suite component...
# shellcheck disable=SC2016  # awk's fields, not the shell's
_apt_one_line_program='
{ sub(/#.*/, "") }
$1 == "deb" {
    keyring = "-"
    i = 2
    if ($i ~ /^\[/) {
        for (; i <= NF; i++) {
            option = $i
            gsub(/[][]/, "", option)
            if (option ~ /^signed-by=\//) keyring = substr(option, 11)
            if ($i ~ /\]$/) break
        }
        i++
    }
    if (i + 1 <= NF) print $i, $(i + 1), keyring
}'

# Stanzas of "Field: value" lines, apart by blank lines; a line that starts with a blank
# continues the field before it; field names have no letter case.
# shellcheck disable=SC2016  # awk's fields, not the shell's
_apt_deb822_program='
function flush(   uris, suites, keyring, u, s, uri_count, suite_count) {
    if (tolower(field["enabled"]) != "no" && (" " field["types"] " ") ~ /[ \t]deb[ \t]/) {
        keyring = field["signed-by"] ~ /^\/[^ \t]*$/ ? field["signed-by"] : "-"
        uri_count = split(field["uris"], uris, /[ \t]+/)
        suite_count = split(field["suites"], suites, /[ \t]+/)
        for (u = 1; u <= uri_count; u++)
            for (s = 1; s <= suite_count; s++)
                if (uris[u] != "" && suites[s] != "") print uris[u], suites[s], keyring
    }
    delete field
    name = ""
}
FNR == 1 { flush() }
/^[ \t]*#/ { next }
/^[ \t]*$/ { flush(); next }
/^[ \t]/ { if (name != "") field[name] = field[name] " " $0; next }
{
    name = tolower(substr($0, 1, index($0, ":") - 1))
    value = substr($0, index($0, ":") + 1)
    gsub(/^[ \t]+|[ \t]+$/, "", value)
    field[name] = value
}
END { flush() }'
