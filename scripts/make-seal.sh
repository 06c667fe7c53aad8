#!/bin/sh
# Seals an install folder and packs it for the update feed.
#
#   scripts/make-seal.sh KEYFILE FOLDER.app OUT.zip [DOWNLOAD-URL]
#
# Writes FOLDER's code seal (after the app-info is final), zips FOLDER as the
# archive's top entry and prints the feed's "download" object. The tool is
# orrery-seal from the build tree (ORRERY_SEAL overrides where it is).
#
# In the feed document, "minimumSystemVersion" is compared with the version
# of the GNU C library on the user's system (`ldd --version`: 2.36 on
# Debian 12), not with a distribution or kernel version.
set -eu
[ $# -ge 3 ] || { echo "usage: $0 KEYFILE FOLDER.app OUT.zip [DOWNLOAD-URL]" >&2; exit 2; }
key=$1 folder=$2 out=$3 url=${4:-https://example.invalid/update.zip}
here=$(cd "$(dirname "$0")/.." && pwd)
tool=${ORRERY_SEAL:-$here/build/OrreryKit/tools/orrery-seal/orrery-seal}
case $folder in *.app) ;; *) echo "$0: the folder's name must end in .app" >&2; exit 2 ;; esac
"$tool" seal "$key" "$folder"
"$tool" verify "$folder"
rm -f "$out"
"$tool" zip "$folder" "$out"
length=$(wc -c < "$out" | tr -d ' ')
signature=$("$tool" sign "$key" "$out")
printf '{"url": "%s", "length": %s, "edSignature": "%s"}\n' "$url" "$length" "$signature"
