#!/usr/bin/env bash
# Ordinary tables side by side: random two-way tables of the sizes users
# bring (3 x 3 to 5 x 5, 3 x 6, 2 x 6 and 2 x 8; N of 60 to 500; cells drawn from
# the products of random row and column weights, a third of them without
# association and the rest with some), each given to `kelvorin --batch`
# (the default report: the probability and likelihood-ratio orderings, both
# exact) and to R's fisher.test (its one p value), each bounded by LIMIT
# seconds. Prints per table its shape and N, our whole process's seconds,
# R's seconds for the call, the workspace R needed, and both Fisher p
# values; a dash where a side did not finish (or R stopped with an error at
# every workspace).
#
# R is needed (it draws the tables too). R's workspace starts at its default
# (2e5) and is raised tenfold up to 2e8 only where R stops for want of room;
# the failed calls are not timed, but the whole sequence is bounded by LIMIT.
#
# Usage: bench/ordinary_vs_r.sh [path/to/kelvorin]; SEED (default 1), COUNT
# tables (default 40), LIMIT (seconds, default 30).
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
PROGRAM="${1:-$HERE/../build/shell/kelvorin}"
SEED="${SEED:-1}"
COUNT="${COUNT:-40}"
LIMIT="${LIMIT:-30}"
command -v Rscript >/dev/null || { echo "Rscript is needed" >&2; exit 2; }
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

Rscript -e "
set.seed($SEED)
shapes <- list(c(3,3), c(3,4), c(2,6), c(4,4), c(3,5), c(4,5), c(2,8), c(5,5), c(3,6))
for (k in seq_len($COUNT)) {
  repeat {
    s <- shapes[[sample(length(shapes), 1)]]
    n <- sample(c(60, 100, 150, 200, 300, 500), 1)
    association <- sample(c(0, 0.5, 1.5), 1)
    w <- outer(runif(s[1], 0.3, 1), runif(s[2], 0.3, 1)) * (1 + association * matrix(runif(prod(s)), s[1]))
    m <- matrix(rmultinom(1, n, w), s[1])
    if (all(rowSums(m) > 0) && all(colSums(m) > 0)) break
  }
  write.table(m, file = sprintf('$WORK/t%03d_%dx%d_n%d.dat', k, s[1], s[2], n), row.names = FALSE, col.names = FALSE)
}"

printf '%-18s %10s %10s %10s %12s %12s\n' table kelvorin R workspace p-kelvorin p-R
for file in "$WORK"/t*.dat; do
  name="$(basename "$file" .dat)"
  start=$(date +%s.%N)
  report="$(timeout "$LIMIT" "$PROGRAM" --batch "$file" --no-settings --option Observed=0 2>/dev/null || true)"
  end=$(date +%s.%N)
  ours=$(printf '%s\n' "$report" | awk '/Fisher test/ {f=1} f && /p =/ {print $(NF-1); exit}')
  seconds=-
  [[ -n "$ours" ]] && seconds=$(printf '%.3f' "$(echo "$end - $start" | bc)")
  values=$(tr -s ' \n' ',' < "$file" | sed 's/,$//')
  rows=$(grep -c . "$file")
  r_line=$(timeout "$LIMIT" Rscript -e "m <- matrix(c($values), nrow=$rows, byrow=TRUE)
    for (w in c(2e5, 2e6, 2e7, 2e8)) {
      t <- system.time(r <- tryCatch(fisher.test(m, workspace=w), error=function(e) NULL))[['elapsed']]
      if (!is.null(r)) break
    }
    if (is.null(r)) cat('- - -\n') else cat(sprintf('%.3f', t), format(w, scientific=TRUE), sprintf('%.6f', r\$p.value), '\n')" \
    2>/dev/null || echo "- - -")
  read -r r_seconds r_workspace r_p <<< "$r_line"
  printf '%-18s %10s %10s %10s %12s %12s\n' "$name" "$seconds" "$r_seconds" "$r_workspace" "${ours:--}" "$r_p"
done
