#!/bin/sh
# The library's dynamic symbol table defines Tintwell and nothing else.
set -eu
symbols=$(nm -D --defined-only "$1" | awk '{print $NF}')
if [ "$symbols" != "Tintwell" ]; then
    echo "unexpected exports:" $symbols
    exit 1
fi
echo "exports: $symbols"
