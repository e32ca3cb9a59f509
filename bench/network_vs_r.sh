#!/usr/bin/env bash
# Side by side: the full report with all three exact tests from
# `kelvorin --batch` (the network algorithm, as chosen automatically) and,
# when R is installed, R's fisher.test computing its single p value for the
# same table. Prints the wall-clock seconds of our whole process, the time
# the report itself gives ("Used time": the analysis, without starting the
# program), R's elapsed time of the call, and both Fisher p values.
# Usage: bench/network_vs_r.sh [path/to/kelvorin]; LIMIT (seconds, default
# 120) bounds each of our runs (an empty p value means it was not reached);
# TABLES names the folder of tables (default bench/tables; bench/tables/large
# holds tables with large totals, which take seconds to a minute each).
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
PROGRAM="${1:-$HERE/../build/shell/kelvorin}"
printf '%-22s %10s %10s %10s %12s %12s\n' table process analysis R p-kelvorin p-R
for file in "${TABLES:-$HERE/tables}"/*.dat; do
  name="$(basename "$file" .dat)"
  start=$(date +%s.%N)
  report="$(timeout "${LIMIT:-120}" "$PROGRAM" --batch "$file" --no-settings --option Observed=0 \
            --option ExaLRtest=1 --option ExaCStest=1 --option CountPos=1 2>/dev/null || true)"
  end=$(date +%s.%N)
  ours=$(printf '%s\n' "$report" | awk '/Fisher test/ {f=1} f && /p =/ {print $(NF-1); exit}')
  used=$(printf '%s\n' "$report" | awk -F'[:]' '/Used time/ {print $(NF-2)*3600 + $(NF-1)*60 + $NF; exit}')
  seconds=$(echo "$end - $start" | bc)
  r_seconds=-; r_p=-
  if command -v Rscript >/dev/null; then
    values=$(tr '\n' ' ' < "$file")
    rows=$(grep -c . "$file")
    read -r r_seconds r_p < <(Rscript -e "m <- matrix(c($(echo $values | tr ' ' ',')), nrow=$rows, byrow=TRUE);
      t <- system.time(r <- fisher.test(m, workspace=2e8)); cat(t[['elapsed']], sprintf('%.6f', r\$p.value), '\n')")
  fi
  printf '%-22s %10.2f %10s %10s %12s %12s\n' "$name" "$seconds" "${used:--}" "$r_seconds" "$ours" "$r_p"
done
