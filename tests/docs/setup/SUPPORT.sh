# The packages and recordings docs/SUPPORT.md talks about, made in the examples' folder: two
# visits of unit 4321 and a damaged copy, a spooler with five printers, the recording of a
# collection whose log broke part way (also as one .ztr file) and that of one the driver refused.

source "$TRAWLER_DOCS_ROOT/tests/docs/setup/collect.bash"

mkdir -p .fixtures
echo '{"unit_number": 4321, "log": {"size": 120000}}' > .fixtures/visit-1.json
docs_collect "2026-12-07 20:49" .fixtures/visit-1.json visit-1 \
    --customer "Hotel Aurora" --comment "fuser noise" || return 1

# The second visit: the clock moved on, one byte of block 0x8006 changed, the log grew.
trawler-cli extract visit-1/No4321_20261207_2049.zlg --to .fixtures/x >/dev/null || return 1
python3 - .fixtures/x/11_B006.bin > .fixtures/visit-2.json <<'PY' || return 1
import json, sys
record = open(sys.argv[1], "rb").read()
size = int.from_bytes(record[8:12], "big")
data = bytearray(record[12:12 + size])
data[19] += 1
print(json.dumps({"unit_number": 4321, "clock": "20 06 12 14 09 30 05 00",
                  "eeprom": {"0x8006": {"data": data.hex(" ")}},
                  "log": {"size": 150000}}))
PY
docs_collect "2026-12-07 20:49" .fixtures/visit-2.json visit-2 \
    --customer "Hotel Aurora" --comment "fuser replaced" || return 1
head -c 60000 visit-2/No4321_20261207_2049.zlg > visit-2/No4321_20261207_2049-copy.zlg

cat > printers.json <<'JSON'
{"printers": [
  {"name": "PV-730 B"},
  {"name": "PV-730 A"},
  {"name": "PV-730 FileOutput"},
  {"name": "PV-730 Bench", "online": false},
  {"name": "Office Laser", "driver": "Generic Laser"}
]}
JSON

# Two bytes of the 41st log packet lost on the way: the link loses its footing at the next one.
echo '{"faults": [{"kind": "drop", "command": "log_data", "packet": 40, "offset": 100, "count": 2}]}' \
    > .fixtures/field-printer.json
mkdir -p .fixtures/field
trawler-cli collect --device .fixtures/field-printer.json --folder .fixtures/field \
    --record field.json --progress none 2>/dev/null
[ -f field.json ] || return 1
# A recording of a collection that the driver refused after the printer search, on a system
# whose text for the refusal names the printer.
cat > .fixtures/refused-printer.json <<'JSON'
{"printers": [{"name": "Aurora Back Office", "online": false}, {"name": "Aurora Front Desk"}],
 "faults": [{"kind": "open-refused", "printer": "Aurora Front Desk", "skip": 1}],
 "error_texts": {"5": "Access to Aurora Front Desk is denied."}}
JSON
mkdir -p .fixtures/refused
trawler-cli collect --device .fixtures/refused-printer.json --folder .fixtures/refused \
    --record refused.json --progress none 2>/dev/null
[ -f refused.json ] || return 1
# The same field printer recorded as the wizard's -record leaves a failed run: one file. Little
# patience for the silence after the break, which the replay then has too: the page has a time
# limit.
mkdir -p .fixtures/wizard
trawler-cli collect --device .fixtures/field-printer.json --folder .fixtures/wizard \
    --setting EmptyReadCount=5 --setting ReadWaitMillisec=10 \
    --record Failed_No1234_20261207_2049.ztr --progress none 2>/dev/null
[ -f Failed_No1234_20261207_2049.ztr ] || return 1

mkdir -p out
rm -rf .fixtures
