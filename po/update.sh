#!/usr/bin/env bash
# Refreshes the template po/tintwell.pot from the host's sources and merges
# it into each language of po/LINGUAS (make update-po). Run it after adding
# or changing a line the host prints, then translate what msgmerge marked
# new or fuzzy in each language.
#   update.sh [TEMPLATE]   write the template to TEMPLATE instead (the tests
#                          compare a fresh one with the one kept here)
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
template=${1:-$source_dir/po/tintwell.pot}
cd "$source_dir"

common=(--from-code=UTF-8 --language=C++ --add-comments --add-location=file --sort-by-file
        --omit-header)
# Every string of host_messages.h is a line the host prints; elsewhere the
# English messages are marked N_("...") or passed to Translated("...").
xgettext "${common[@]}" --extract-all --output="$template" cli/host_messages.h
sources=$(ls cli/*.cpp cli/*.h | grep -v -x cli/host_messages.h)
xgettext "${common[@]}" -k --keyword=N_ --keyword=Translated --join-existing --output="$template" $sources
# The header is written here, without a date: the messages are what count.
{
    cat <<'HEADER'
# The host's lines, in English: the template of every language's catalog.
# Written by po/update.sh (make update-po); translate in po/LANGUAGE.po.
msgid ""
msgstr ""
"Project-Id-Version: KorvaneTintwell\n"
"Language: \n"
"MIME-Version: 1.0\n"
"Content-Type: text/plain; charset=UTF-8\n"
"Content-Transfer-Encoding: 8bit\n"

HEADER
    cat "$template"
} >"$template.new"
mv "$template.new" "$template"

if (($# == 0)); then
    for language in $(grep -v '^#' po/LINGUAS); do
        msgmerge --quiet --update --backup=none --no-wrap po/"$language".po "$template"
    done
fi
