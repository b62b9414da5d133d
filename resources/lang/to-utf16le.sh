#!/bin/sh
# Turns a UTF-8 language source into the file layout the viewer reads: UTF-16LE, CR LF line
# ends, no byte-order mark. Comment lines ('#' first) are dropped. Usage: to-utf16le.sh IN OUT
set -eu
in=$1
out=$2
tmp="$out.tmp.$$"
trap 'rm -f "$tmp" "$tmp.crlf"' EXIT
# Drop comments and any CR already present, then end every line with CR LF.
sed -e '/^#/d' -e 's/\r$//' -e 's/$/\r/' "$in" > "$tmp.crlf"
iconv -f UTF-8 -t UTF-16LE "$tmp.crlf" > "$tmp"
mv "$tmp" "$out"
