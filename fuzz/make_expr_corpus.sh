#!/bin/sh
# make_expr_corpus.sh --
#
#	Writes the seed corpus of the expression fuzz target, fuzz/corpus-expr/:
#	statements that reach every part of the parser (priorities, brackets,
#	unary signs, exponents, operators without a routine) and a few
#	malformed ones.
set -eu
out=$(cd "$(dirname "$0")" && pwd)/corpus-expr
mkdir -p "$out"
cd "$out"
printf 'a = 1 + 2 * 3' > assign_priorities
printf 'a = (1 + 2) * 3; b = a - -c ^ 2' > two_statements
printf 'x = -y; z = { x / 1.5e-3 } ^ 0.5\n' > braces_exponent
printf 'a = b min c; d = e' > no_routine
printf 'a = ((b + c) * (d - e)) / -2 ^ f idiv 3 %% g' > nested
printf 'a <= b == c >= d & e | f xor g ! initx' > comparisons
printf 'a = )' > bad_close
printf 'a = (b}' > bad_mismatch
printf ';;' > bad_empty
