#!/bin/sh
# Times the archive splice against the floor of this machine and against
# xdelta3, and checks every output (see scripts/bench/run.sh). BENCH_ROUNDS=N.
exec "$(dirname "$0")/bench/run.sh" "$@"
