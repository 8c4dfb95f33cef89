# What docs/DESK.md's examples need: the packages and recordings it sends (three visits of unit
# 4321, a unit 1234 package with a damaged copy, what came by mail, three units for the servers of
# the last sections), a line of text that is no package, a server with a certificate nobody signed,
# and the page's addresses mapped onto this machine: its folders into the examples' folder, its
# ports onto free ones, its PostgreSQL onto the cluster of tests/desk/with-postgresql, under which
# the docs check runs (scripts/test runs it under tests/desk/with-s3 as well).

source "$TRAWLER_DOCS_ROOT/tests/docs/setup/collect.bash"

if [ -z "${TRAWLER_TEST_CATALOGUE:-}" ] || [ -z "${TRAWLER_TEST_STORE:-}" ]; then
    echo "docs/DESK.md needs PostgreSQL and S3: run the docs check under" \
        "tests/desk/with-postgresql tests/desk/with-s3" >&2
    return 1
fi

# This machine's tools may be told where its certificates are; rclone then refuses an http://
# endpoint, and no reader's machine needs the variable.
unset AWS_CA_BUNDLE

# A free port below the system's range for outgoing connections: one taken from that range may,
# by the time a later section binds it, be the local end of a desk's connection to PostgreSQL
# or S3, and the bind fails.
docs_free_port() {
    python3 - <<'PY'
import random, socket
low = int(open("/proc/sys/net/ipv4/ip_local_port_range").read().split()[0])
while True:
    port = random.randrange(10000, max(low, 10001))
    if port == 18443:  # a port the page shows, which the replacements would take for it
        continue
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port))
    except OSError:
        continue
    print(port)
    break
PY
}

# Bounded wait until something listens on 127.0.0.1:PORT.
docs_wait_port() {
    local i
    for ((i = 0; i < 300; i++)); do
        python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)' \
            "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

sandbox=$TRAWLER_DOCS_SANDBOX
pg_port=${TRAWLER_TEST_CATALOGUE##*:}
pg_port=${pg_port%%/*}
declare -A docs_port
for shown in 8730 8731 8732 8733 18443 4568; do
    docs_port[$shown]=$(docs_free_port)
done
{
    printf 'sudo -u postgres psql\tpsql postgresql://postgres@127.0.0.1:%s/postgres\n' "$pg_port"
    # The last section's servers run beside this check's own PostgreSQL and S3 server.
    printf 'tests/desk/with-postgresql tests/desk/with-s3 bash\t: already under both\n'
    printf 'tests/desk/s3/\t%s/tests/desk/s3/\n' "$TRAWLER_DOCS_ROOT"
    for shown in /srv/ /backup/ /tmp/desk-; do printf '%s\t%s%s\n' "$shown" "$sandbox" "$shown"; done
    for shown in "${!docs_port[@]}"; do
        printf '127.0.0.1:%s\t127.0.0.1:%s\n' "$shown" "${docs_port[$shown]}"
    done
    printf '127.0.0.1:5432\t127.0.0.1:%s\n' "$pg_port"
    printf -- '--port 4568\t--port %s\n' "${docs_port[4568]}"
} >.docs-replace

# The three visits of unit 4321: the second moved the clock and changed one byte of block
# 0x8002; the third moved the clock again and its log grew.
mkdir -p .fixtures
echo '{"unit_number": 4321, "log": {"size": 120000}}' >.fixtures/visit-1.json
docs_collect "2026-12-07 20:59" .fixtures/visit-1.json visit-1 \
    --customer "Hotel Aurora" --comment "fuser noise" || return 1
trawler-cli extract visit-1/No4321_20261207_2059.zlg --to .fixtures/x >/dev/null || return 1
python3 - .fixtures/x/*_B002.bin >.fixtures/visit-2.json <<'PY' || return 1
import json, sys
record = open(sys.argv[1], "rb").read()
size = int.from_bytes(record[8:12], "big")
data = bytearray(record[12:12 + size])
data[3] ^= 0x40
print(json.dumps({"unit_number": 4321, "clock": "20 06 12 14 09 30 05 00",
                  "eeprom": {"0x8002": {"data": data.hex(" ")}},
                  "log": {"size": 120000}}))
PY
jq -c '.clock = "20 07 01 20 10 05 41 00" | .log.size = 150000' .fixtures/visit-2.json \
    >.fixtures/visit-3.json
# The emulated printer takes its time over a log; the other packages are collected side by side.
echo '{"unit_number": 1234, "log": {"size": 120000}}' >.fixtures/unit-1234.json
collecting=()
docs_collect "2026-12-07 21:00" .fixtures/visit-2.json visit-2 \
    --customer "Hotel Aurora" --comment "fuser replaced" &
collecting+=($!)
docs_collect "2026-12-07 21:00" .fixtures/visit-3.json visit-3 \
    --customer "Hotel Aurora" --comment "fuser replaced" &
collecting+=($!)
docs_collect "2026-12-07 21:23" .fixtures/unit-1234.json visit-1 --customer "Kino Lumen" &
collecting+=($!)
for unit in 4321 4322 4323; do
    echo "{\"unit_number\": $unit, \"log\": {\"size\": 20000}}" >.fixtures/pk-$unit.json
    docs_collect "2026-12-08 00:5$((unit == 4323 ? 7 : 6))" .fixtures/pk-$unit.json \
        .fixtures/pk-$unit &
    collecting+=($!)
done
for pid in "${collecting[@]}"; do wait "$pid" || return 1; done
mkdir -p pk && mv .fixtures/pk-*/*.zlg pk/
head -c 60000 visit-1/No1234_20261207_2123.zlg >visit-1/No1234-copy.zlg

mkdir -p mail/visit-2 mail/visit-3
head -c 60000 visit-1/No4321_20261207_2059.zlg >mail/No4321_20261207_2059-copy.zlg
cp visit-2/No4321_20261207_2100.zlg mail/visit-2/
cp visit-3/No4321_20261207_2100.zlg mail/visit-3/
echo "The customer says the noise began after the printer was moved." >notes.txt


# The recordings the page sends: it records a run whose log information comes back cut short
# itself (flaky-log.json); a run that fails on block 0x8013, and a recording cut short.
echo '{"unit_number": 4321, "faults": [{"kind": "truncate", "command": "log_info", "after": 12}]}' \
    >flaky-log.json
echo '{"faults": [{"kind": "bad-checksum", "command": "eeprom", "block": 32787}]}' \
    >.fixtures/unit-block.json
mkdir -p out
docs_collect "2026-12-08 01:10" .fixtures/unit-block.json .fixtures/run \
    --record unit-block.ztr 2>/dev/null
docs_collect "2026-12-08 01:11" flaky-log.json .fixtures/run --record .fixtures/log-info.ztr \
    2>/dev/null
[ -s unit-block.ztr ] && [ -s .fixtures/log-info.ztr ] || return 1
head -c 2000 .fixtures/log-info.ztr >cut.ztr

# A TLS server whose certificate no authority signed; started outside the page's job table.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
    -keyout .fixtures/tls.key -out .fixtures/tls.crt >/dev/null 2>&1 || return 1
(openssl s_server -accept "127.0.0.1:${docs_port[18443]}" -cert .fixtures/tls.crt \
    -key .fixtures/tls.key -quiet -www </dev/null >/dev/null 2>&1 &
    echo $! >.docs-tls.pid)
docs_wait_port "${docs_port[18443]}" || return 1

# The desks' ports again, new ones first: a section that starts afresh binds ports that
# earlier sections' connections may still hold in TIME-WAIT, which nginx cannot bind over.
docs_new_desk_ports() {
    local shown mapped
    mapped=$(for shown in 8730 8731 8732 8733; do
        printf '127.0.0.1:%s\t127.0.0.1:%s\n' "$shown" "$(docs_free_port)"
    done)
    printf '%s\n' "$mapped" | cat - .docs-replace >.docs-replace.new && mv .docs-replace.new .docs-replace
    docs_nginx_conf
}

# The nginx configuration the last section shows, on the ports of the moment.
docs_nginx_conf() {
    python3 - "$TRAWLER_DOCS_ROOT/docs/DESK.md" .docs-replace >tmp/desk-nginx.conf <<'PY'
import sys
page = open(sys.argv[1], encoding="utf-8").read()
block = page.split("`/tmp/desk-nginx.conf`", 1)[1].split("```\n", 1)[1].split("```", 1)[0]
for line in open(sys.argv[2]):
    shown, real = line.rstrip("\n").split("\t", 1)
    if shown.startswith("127.0.0.1:"):
        block = block.replace(shown, real)
print(block, end="")
PY
}
mkdir -p srv backup/desk tmp
docs_nginx_conf || return 1

# The admin token the first start of a desk prints, as a reader would copy it; the S3 server
# is waited for before the desk that uses it starts.
docs_after_background() {
    if [ -z "${ADMIN:-}" ]; then
        ADMIN=$(sed -n 's/^admin token (shown once): //p' "$1")
        [ -n "$ADMIN" ] && export ADMIN || unset ADMIN
    fi
    if jobs | grep -q s3rver; then
        docs_wait_port "${docs_port[4568]}"
    fi
}

# A section that starts afresh has a machine with no desk on it yet.
docs_fresh() {
    unset ADMIN
    rm -rf srv backup tmp/desk-a tmp/desk-b
    mkdir -p srv backup/desk
    docs_new_desk_ports
}

docs_teardown() {
    [ -f tmp/desk-nginx/logs/nginx.pid ] && kill "$(cat tmp/desk-nginx/logs/nginx.pid)"
    kill "$(cat .docs-tls.pid)"
}

rm -rf .fixtures/x
