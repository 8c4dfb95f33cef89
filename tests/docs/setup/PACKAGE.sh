# The packages docs/PACKAGE.md's batch example reads: a saved collection, a copy whose gzip
# trailer records another CRC-32, and a demonstration package whose customer was typed with a
# tab, a line break and an escape sequence.
at=$(date -u -d "2026-12-07 12:53" +%s)
TRAWLER_DOCS_NOW=$at trawler-cli collect --simulate --folder . --progress none \
    --customer "ACME Corp" --comment "paper jam" || return 1
cp No1234_20261207_1253.zlg broken.zlg
size=$(stat -c %s broken.zlg)
printf '\xFB\x0B\x97\xD3' | dd of=broken.zlg bs=1 seek=$((size - 8)) conv=notrunc status=none
mkdir sub
TRAWLER_DOCS_NOW=$at trawler-cli collect --demo --folder sub --progress none \
    --customer $'Evil\tName\nInc\x1b[31m' --comment demo || return 1
