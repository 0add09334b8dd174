#!/bin/sh
# xrun.sh DEPTH COMMAND ARGS...: runs COMMAND on a private Xvfb server of
# the given screen depth (8, 15, 16, 24 or 30).
depth=$1
shift
# A sanitizer preload is meant for COMMAND only, not for xvfb-run's own
# helpers (Xvfb, xauth), whose leaks would fail the run.
preload=${LD_PRELOAD:-}
unset LD_PRELOAD
if [ -n "$preload" ]; then
    set -- env LD_PRELOAD="$preload" "$@"
fi
exec xvfb-run -a -s "-screen 0 800x600x${depth} -nolisten tcp" "$@"
