#!/usr/bin/env bash
# The catalogs of po/ against the sources: every line the host prints is in
# the template, and every language translates all of it, none fuzzy; the
# library's catalog is well formed and the README's table is the one it
# makes; the manual page's translations are complete.
#   catalogs_test.sh SOURCE_DIR
source "$(dirname "$0")/lib.sh"
source_dir=$1
for tool in xgettext msgcmp msgfmt python3; do
    command -v "$tool" >/dev/null || skip "$tool is missing (Debian's gettext, python3)"
done
cd "$source_dir"

echo "-- the template against the sources"
bash po/update.sh "$scratch/fresh.pot" 2>"$scratch/xgettext.log" || fail "po/update.sh: $(cat "$scratch/xgettext.log")"
msgcmp --use-untranslated po/tintwell.pot "$scratch/fresh.pot" 2>"$scratch/missing" ||
    fail "lines the host prints that po/tintwell.pot lacks (run make update-po): $(cat "$scratch/missing")"
msgcmp --use-untranslated "$scratch/fresh.pot" po/tintwell.pot 2>"$scratch/stale" ||
    fail "po/tintwell.pot holds lines the host no longer prints (run make update-po): $(cat "$scratch/stale")"

echo "-- each language translates every line, none fuzzy"
for language in $(grep -v '^#' po/LINGUAS); do
    msgcmp po/"$language".po "$scratch/fresh.pot" 2>"$scratch/untranslated" ||
        fail "po/$language.po leaves lines untranslated or fuzzy: $(cat "$scratch/untranslated")"
    statistics=$(msgfmt --check --statistics -o /dev/null po/"$language".po 2>&1)
    [[ $statistics =~ ^[0-9]+\ translated\ messages\.$ ]] || fail "po/$language.po: $statistics"
done

echo "-- the library's messages and the README's table"
msgfmt --check-format -o /dev/null po/library-messages.po || fail "po/library-messages.po does not compile"
python3 po/po_tables.py po/library-messages.po markdown >"$scratch/table"
grep -qF -- "$(cat "$scratch/table")" README.md ||
    fail "README's table of the library's messages is not the catalog's: $(cat "$scratch/table")"

echo "-- the manual page's translations"
for po in po/man/*.po; do
    statistics=$(msgfmt --check-format --statistics -o /dev/null "$po" 2>&1)
    [[ $statistics =~ ^[0-9]+\ translated\ messages\.$ ]] || fail "$po: $statistics"
done

finish
