#!/usr/bin/env bash
# Cross-process SendMessageA against a bare Unix-socket ping-pong of the same
# frame. Uses the release build in $VANDREL_BUILD (bench/run.sh sets it).
set -euo pipefail
: "${VANDREL_BUILD:?set VANDREL_BUILD to a build folder (bench/run.sh does)}"
"$VANDREL_BUILD/bin/send_message_bench" "${ROUNDS:-100000}"
