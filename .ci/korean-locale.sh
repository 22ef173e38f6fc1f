#!/usr/bin/env bash
# Generates the ko_KR.UTF-8 locale that the language tests run the host in,
# when the machine lacks it (Debian's locales package holds its data). As
# root; anyone else is shown the command.
set -euo pipefail
if locale -a 2>/dev/null | grep -qix 'ko_KR\.utf-\?8'; then exit 0; fi
if ((EUID != 0)); then
    echo "The ko_KR.UTF-8 locale is missing; generate it with: sudo localedef -i ko_KR -f UTF-8 ko_KR.UTF-8" >&2
    exit 1
fi
echo "Generating the ko_KR.UTF-8 locale"
localedef -i ko_KR -f UTF-8 ko_KR.UTF-8
