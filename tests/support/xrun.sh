#!/bin/sh
# xrun.sh DEPTH COMMAND ARGS...: runs COMMAND on a private Xvfb server of
# the given screen depth (8, 15, 16, 24 or 30).
depth=$1
shift
exec xvfb-run -a -s "-screen 0 800x600x${depth} -nolisten tcp" "$@"
