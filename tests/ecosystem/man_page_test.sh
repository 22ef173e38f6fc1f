#!/usr/bin/env bash
# The manual page against `tintwell --help` and the public header: the same
# synopsis, edits, options, exit statuses and result codes. With LANGUAGE
# (ko), the translated page against the help in that language.
#   man_page_test.sh TINTWELL MAN_PAGE HEADER [LANGUAGE]
source "$(dirname "$0")/lib.sh"
tintwell=$1
man_page=$2
header=$3
language=${4:-en}

# The words of the page and the help that the checks find things by.
unset LANGUAGE LC_MESSAGES LANG
case $language in
ko)
    locale -a | grep -qix 'ko_KR\.utf-\?8' || skip "the ko_KR.UTF-8 locale is missing"
    export LC_ALL=ko_KR.UTF-8
    usage_word='사용법' edits='편집' options='옵션' exit_status='종료 상태' result_codes='결과 코드'
    exit_title='종료 상태:' result_title='결과 코드:'
    ;;
*)
    export LC_ALL=C.UTF-8
    usage_word='Usage' edits='EDITS' options='OPTIONS' exit_status='EXIT STATUS' result_codes='RESULT CODES'
    exit_title='Exit status:' result_title='Result codes:'
    ;;
esac

"$tintwell" --help >"$scratch/help"

# "SECTION<TAB>tag" for every .TP item of the page.
man_tags() {
    plain_man "$man_page" | awk '/^\.SH / { section = substr($0, 5); gsub(/"/, "", section); next }
                     tag { sub(/^\.[BIR]+ /, ""); print section "\t" $0; tag = 0; next }
                     /^\.TP/ { tag = 1 }'
}

# The lines of the help's paragraph that starts with TITLE, joined.
help_paragraph() {
    awk -v title="$1" 'index($0, title) == 1 { found = 1 } found && /^$/ { exit } found' "$scratch/help" | tr '\n' ' '
}

# The leading number of each clause of a help paragraph, split at SEPARATOR.
leading_numbers() {
    tr "$2" '\n' <<<"${1#*:}" | grep -oE '^ *-?[0-9]+' | tr -d ' ' | sort
}

section_tags() { man_tags | awk -F'\t' -v section="$1" '$1 == section { print $2 }'; }

echo "-- synopsis"
help_usage=$(sed -n '1,/^$/p' "$scratch/help" | sed -e "s/^$usage_word: //" -e 's/^ *//' -e '/^$/d')
# The second section, after NAME, in every language.
man_synopsis=$(plain_man "$man_page" | awk '/^\.SH/ { section++; next } section == 2 && !/^\./')
expect_eq "SYNOPSIS against the usage lines" "$help_usage" "$man_synopsis"

echo "-- edits"
help_edits=$(grep -oE '^  [a-z-]+ \| [0-9]+' "$scratch/help" | sed 's/^  //' | sort)
man_edits=$(section_tags "$edits" | grep -oE '^[a-z-]+ \| [0-9]+' | sort)
expect_eq "EDITS against the help's edits" "$help_edits" "$man_edits"
header_functions=$(grep -oE 'TINTWELL_FUNCTION_[A-Z_]+ = [0-9]+' "$header" | grep -oE '[0-9]+$' | sort)
expect_eq "edit numbers against the header" "$header_functions" "$(cut -d' ' -f3 <<<"$help_edits" | sort)"

echo "-- options"
# An option with a short and a long name ("-q, --quiet") counts by its first.
help_options=$(grep -oE '^  (-[a-z]|--[a-z0-9-]*(=[a-z]+)?)(,| |$)' "$scratch/help" | tr -d ' ,' | sort)
man_options=$(section_tags "$options" | cut -d' ' -f1 | tr -d ',' | sort)
expect_eq "OPTIONS against the help's options" "$help_options" "$man_options"
usage_options=$(grep -oE '(^|[[( ])(-[a-z]|--[a-z0-9-]*)' <<<"$help_usage" | tr -d '[( ' | sort -u)
expect_eq "options of the usage lines, all described" "" "$(comm -23 <(echo "$usage_options") <(echo "$help_options"))"

echo "-- exit statuses and result codes"
help_statuses=$(leading_numbers "$(help_paragraph "$exit_title")" ';')
expect_eq "EXIT STATUS against the help" "$help_statuses" "$(section_tags "$exit_status" | sort)"
expect_eq "exit statuses in the help" "$(printf '%s\n' 0 1 2 3 4 5)" "$help_statuses"
help_results=$(leading_numbers "$(help_paragraph "$result_title")" ',')
expect_eq "RESULT CODES against the help" "$help_results" "$(section_tags "$result_codes" | sort)"
header_results=$(grep -oE 'TINTWELL_RESULT_[A-Z_]+ = -?[0-9]+' "$header" | grep -oE -- '-?[0-9]+$' | sort)
expect_eq "result codes against the header" "$header_results" "$help_results"
for name in $(grep -oE 'TINTWELL_RESULT_[A-Z_]+' "$header" | sort -u); do
    grep -q "$name" "$man_page" || fail "RESULT CODES does not name $name"
done

echo "-- the page renders without warnings"
if command -v groff >/dev/null; then
    warnings=$(groff -k -man -Tutf8 -ww -z "$man_page" 2>&1)
    expect_eq "groff warnings" "" "$warnings"
else
    skip_part_unless_required "groff is missing: the rendering is not checked"
fi

finish
