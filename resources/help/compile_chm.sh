#!/bin/sh
# compile_chm.sh CHMCMD SOURCE_DIR STAGE_DIR OUTPUT: compiles the help pages
# of SOURCE_DIR into the CHM file OUTPUT, working in STAGE_DIR.
set -eu
chmcmd=$1 src=$2 stage=$3 out=$4
sh "$src/check_help.sh" "$src"
rm -rf "$stage"
mkdir -p "$stage"
cp "$src"/*.html "$src"/*.css "$stage"/
# Viewers read the project's title, contents and index in the code page of
# the help's language (936 for Chinese); the pages name their own charset.
for f in brevant.hhp toc.hhc index.hhk; do
  sed 's/charset=utf-8/charset=gb2312/' "$src/$f" | iconv -f UTF-8 -t GBK >"$stage/$f"
done
cd "$stage"
"$chmcmd" brevant.hhp >chmcmd.log 2>&1 || { cat chmcmd.log >&2; exit 1; }
[ -s brevant.chm ] || { cat chmcmd.log >&2; exit 1; }
cp brevant.chm "$out"
