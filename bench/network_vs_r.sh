#!/usr/bin/env bash
# Side by side: the full report with all three exact tests from
# `kelvorin --batch` (the network algorithm, as chosen automatically) and,
# when R is installed, R's fisher.test computing its single p value for the
# same table. Prints the wall-clock seconds of our whole process, the time
# the report itself gives ("Used time": the analysis, without starting the
# program), R's elapsed time of the call, the workspace R was given, and
# both Fisher p values. Each side's time is the least of RUNS runs.
#
# R is called as a user would call it: with its default workspace (2e5),
# raised tenfold only when R stops because the workspace is too small; the
# failed calls are not timed. (fisher.test takes longer the larger its
# workspace, whatever the table: with 2e8 about 0.05-0.06 s more a call on
# this machine, more than its whole answer for the smaller tables.) A call
# that takes less than a fifth of a second is timed as the mean of enough
# calls in a row to take about that.
#
# Usage: bench/network_vs_r.sh [path/to/kelvorin]; LIMIT (seconds, default
# 120) bounds each of our runs (an empty p value means it was not reached);
# RUNS (default 3) runs of each; TABLES names the folder of tables (default
# bench/tables; bench/tables/large holds tables with large totals, which
# take seconds to a minute each: RUNS=1 there). ONE_CORE=1 runs our program
# on one core only (taskset), where its passes otherwise share two threads.
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
PROGRAM="${1:-$HERE/../build/shell/kelvorin}"
RUNS="${RUNS:-3}"
PINNED=()
if [[ "${ONE_CORE:-0}" == 1 ]]; then PINNED=(taskset -c 0); fi
printf '%-22s %10s %10s %10s %10s %12s %12s\n' table process analysis R workspace p-kelvorin p-R
for file in "${TABLES:-$HERE/tables}"/*.dat; do
  name="$(basename "$file" .dat)"
  seconds=""; used=""; ours=""
  for ((run = 0; run < RUNS; ++run)); do
    start=$(date +%s.%N)
    report="$(timeout "${LIMIT:-120}" "${PINNED[@]}" "$PROGRAM" --batch "$file" --no-settings --option Observed=0 \
              --option ExaLRtest=1 --option ExaCStest=1 --option CountPos=1 2>/dev/null || true)"
    end=$(date +%s.%N)
    ours=$(printf '%s\n' "$report" | awk '/Fisher test/ {f=1} f && /p =/ {print $(NF-1); exit}')
    this_used=$(printf '%s\n' "$report" | awk -F'[:]' '/Used time/ {print $(NF-2)*3600 + $(NF-1)*60 + $NF; exit}')
    this_seconds=$(echo "$end - $start" | bc)
    if [[ -z "$seconds" ]] || (($(echo "$this_seconds < $seconds" | bc))); then seconds=$this_seconds; fi
    if [[ -n "$this_used" ]] && { [[ -z "$used" ]] || (($(echo "$this_used < $used" | bc))); }; then used=$this_used; fi
  done
  r_seconds=-; r_p=-; r_workspace=-
  if command -v Rscript >/dev/null; then
    values=$(tr '\n' ' ' < "$file")
    rows=$(grep -c . "$file")
    read -r r_seconds r_workspace r_p < <(Rscript -e "m <- matrix(c($(echo $values | tr ' ' ',')), nrow=$rows, byrow=TRUE);
      for (w in c(2e5, 2e6, 2e7, 2e8)) {
        r <- tryCatch(fisher.test(m, workspace=w), error=function(e) NULL)
        if (!is.null(r)) break
      }
      if (is.null(r)) { cat('- - -\n'); quit() }
      once <- system.time(r <- fisher.test(m, workspace=w))[['elapsed']]
      reps <- max(1, min(200, ceiling(0.2 / max(once, 1e-4))))
      best <- Inf
      for (i in seq_len($RUNS))
        best <- min(best, system.time(for (k in seq_len(reps)) r <- fisher.test(m, workspace=w))[['elapsed']] / reps)
      cat(sprintf('%.4f', best), format(w, scientific=TRUE), sprintf('%.6f', r\$p.value), '\n')")
  fi
  printf '%-22s %10.3f %10s %10s %10s %12s %12s\n' "$name" "$seconds" "${used:--}" "$r_seconds" "$r_workspace" "$ours" "$r_p"
done
