#!/bin/sh
# Times kelvo's SMTP client sending a mail with a 1 MB attachment to a local aiosmtpd,
# beside curl uploading the same message to the same server, in the same run: first in the
# clear, then over STARTTLS with a login (a test CA made here with openssl; kelvo trusts it
# through SSL_CERT_FILE, curl through --cacert).
#
#   bench/smtp-vs-curl.sh [BUILD_DIR] [ROUNDS] [ATTACHMENT_BYTES]
set -eu

cd "$(dirname "$0")/.."
BUILD=${1:-build}
ROUNDS=${2:-7}
BYTES=${3:-1048576}
BENCH=${SMTP_BENCH:-$BUILD/bench/smtp_bench}

if [ -z "${SMTP_BENCH:-}" ]; then
    cmake --build "$BUILD" --target smtp_bench -j 2 >/dev/null
fi

work=$(mktemp -d)
sink_pid=
cleanup() {
    [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir "$work/certs"
/usr/bin/python3 tests/support/smtp_sink.py certs "$work/certs"

now_ms() { date +%s%N | awk '{ printf "%.1f", $1 / 1e6 }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# measure NAME MODE [SECURITY USER PASSWORD]: starts a sink in MODE (plain or starttls) and
# runs the rounds. The two clients are interleaved, one round of each in turn, so that
# other load on the machine falls on both alike. kelvo's time is taken inside its process
# (Connect to Disconnect); curl's includes starting its process, a few milliseconds.
measure() {
    name=$1
    mode=$2
    shift 2
    rm -rf "$work/sink" "$work/stdin"
    mkdir "$work/sink"
    mkfifo "$work/stdin"
    if [ "$mode" = plain ]; then
        /usr/bin/python3 tests/support/smtp_sink.py serve "$work/sink" <"$work/stdin" >"$work/port" &
    else
        /usr/bin/python3 tests/support/smtp_sink.py serve "$work/sink" "$mode" "$work/certs" good \
            <"$work/stdin" >"$work/port" &
    fi
    sink_pid=$!
    exec 3>"$work/stdin" # the sink runs while this stays open
    for _ in $(seq 50); do
        grep -q PORT "$work/port" 2>/dev/null && break
        sleep 0.1
    done
    PORT=$(sed -n 's/^PORT //p' "$work/port")
    [ -n "$PORT" ] || { echo "the SMTP sink did not start" >&2; exit 1; }
    if [ $# -gt 0 ]; then
        curl_tls="--ssl-reqd --cacert $work/certs/ca.pem --user $2:$3"
    else
        curl_tls=
    fi

    echo "$name: attachment $BYTES bytes, $ROUNDS rounds of each"
    : >"$work/ours"
    : >"$work/curl"
    : >"$work/compose"
    for r in $(seq "$ROUNDS"); do
        SSL_CERT_FILE="$work/certs/ca.pem" QT_QPA_PLATFORM=offscreen \
            "$BENCH" "$PORT" 1 "$BYTES" "$work/message.eml" "$@" >"$work/round"
        grep -m1 ComposeMessage "$work/round" >>"$work/compose"
        sed -n "s/^round 1: /kelvo round $r: /p" "$work/round" | tee -a "$work/ours"
        t0=$(now_ms)
        # shellcheck disable=SC2086 # the TLS options are words
        curl -s $curl_tls "smtp://127.0.0.1:$PORT" --mail-from sender@example.com --mail-rcpt phone@example.jp \
            --upload-file "$work/message.eml"
        t1=$(now_ms)
        echo "$t0 $t1" | awk -v r="$r" '{ printf "curl  round %d: %.1f ms\n", r, $2 - $1 }' | tee -a "$work/curl"
    done

    ours=$(sed -n 's/.*session \([0-9.]*\) ms.*/\1/p' "$work/ours" | median)
    cpu=$(sed -n 's/.*CPU \([0-9.]*\) ms.*/\1/p' "$work/ours" | median)
    compose=$(sed -n 's/.*median \([0-9.]*\) ms.*/\1/p' "$work/compose" | median)
    theirs=$(awk '{ print $4 }' "$work/curl" | median)
    received=$(ls "$work/sink"/*.eml | wc -l)
    echo "$name: message after DATA: $(wc -c <"$work/message.eml") bytes; messages received by the sink: $received"
    echo "$name: median: kelvo $ours ms (CPU $cpu ms, of which composing $compose ms), curl $theirs ms," \
        "ratio kelvo/curl $(echo "$ours $theirs" | awk '{ printf "%.2f", $1 / $2 }')"
    exec 3>&-
    wait "$sink_pid" 2>/dev/null || true
    sink_pid=
}

measure plain plain
measure "STARTTLS + AUTH" starttls starttls kelvo secret
