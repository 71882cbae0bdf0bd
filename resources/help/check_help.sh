#!/bin/sh
# check_help.sh DIR: every page of the help is in the CHM project, and every
# link of the pages, the contents and the index leads to a page (and anchor)
# that exists. Prints each fault; exits 1 if there is one.
set -u
cd "$1" || exit 1
faults=0
fault() { echo "help: $*" >&2; faults=1; }
for page in *.html *.css; do
  grep -qx "$page" brevant.hhp || fault "$page is not listed in brevant.hhp"
done
targets=$( (grep -o 'href="[^"]*"' ./*.html | sed 's/.*href="//; s/"$//' | grep -v '^[a-z]*:'
            grep -ho 'name="Local" value="[^"]*"' toc.hhc index.hhk | sed 's/.*value="//; s/"$//') | sort -u)
for t in $targets; do
  file=${t%%#*}
  [ -f "$file" ] || { fault "link to missing $t"; continue; }
  case $t in
    *#*) grep -q "id=\"${t#*#}\"" "$file" || fault "link to missing anchor $t" ;;
  esac
done
exit $faults
