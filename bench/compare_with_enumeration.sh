#!/usr/bin/env bash
# Random tables analysed twice, with the network algorithm forced and with
# the enumeration, all three exact tests on: every report line must be the
# same but the time lines and the enumeration's "Warning : 1 - sum of
# probabilities" (its own rounding). Tables with more than MAXN sample
# points (default 3e7; written 5e9 or 5000000000 alike) are analysed by the
# network only; a network run that does not finish within LIMIT seconds
# (default 120) is reported.
#
# Usage: bench/compare_with_enumeration.sh [path/to/kelvorin]; COUNT tables
# (default 200) from SEED (default 1); SHAPES "small" (2 x 3 to 5 x 6 with
# N mostly up to 60: uniform, sparse, one large cell, near independence, cyclic,
# equal cells, a heavy diagonal), "three" (three lines or stages, and a
# few of two, with N mostly from 40 to 220, where the network completes long
# lines in runs) or "medium" (4 x 4 to 5 x 5 and 3 x 6, N mostly from 35
# to 60, more with uniform counts or a heavy diagonal: the size of the
# benchmark tables; with MAXN raised, the enumeration takes up to minutes
# a table). Exits 1 if any report differs. Takes minutes: the enumeration
# of tens of millions of points takes seconds each.
set -uo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
PROGRAM="${1:-$HERE/../build/shell/kelvorin}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
OPTS=(--no-settings --option Observed=0 --option ExaLRtest=1 --option ExaCStest=1 --option CountPos=1)

# One table per file, rows of counts; no empty row or column.
awk -v seed="${SEED:-1}" -v count="${COUNT:-200}" -v shapes="${SHAPES:-small}" -v dir="$WORK" '
function pick(n) { return int(rand() * n) }
function weighted(w, n,   s, i, u) { s = 0; for (i = 0; i < n; i++) s += w[i]; u = rand() * s
  for (i = 0; i < n; i++) { u -= w[i]; if (u < 0) return i } return n - 1 }
BEGIN {
  srand(seed); made = 0
  split("uniform sparse skew indep cyclic equal diagonal", kinds, " ")
  split("3x3 3x3 3x4 4x3 2x4 2x5 5x2 3x5", threes, " ")
  split("4x4 4x4 4x5 5x4 5x5 3x6", mediums, " ")
  while (made < count) {
    if (shapes == "three") { split(threes[1 + pick(8)], rc, "x"); r = rc[1]; c = rc[2] }
    else if (shapes == "medium") { split(mediums[1 + pick(6)], rc, "x"); r = rc[1]; c = rc[2] }
    else { r = 2 + pick(4); c = 2 + pick(5); if (r == 2 && c == 2) continue }
    kind = kinds[1 + pick(7)]
    for (i = 0; i < r; i++) { a[i] = 0.2 + rand(); for (j = 0; j < c; j++) t[i, j] = 0 }
    for (j = 0; j < c; j++) b[j] = 0.2 + rand()
    n = shapes == "three" ? 40 + pick(r * c <= 9 ? 181 : 51) : shapes == "medium" ? 35 + pick(26) : 10 + pick(31)
    if (kind == "equal") { for (i = 0; i < r; i++) a[i] = 1; for (j = 0; j < c; j++) b[j] = 1 }
    if (kind == "uniform" || kind == "sparse") {
      m = 1 + pick(6)
      for (i = 0; i < r; i++) for (j = 0; j < c; j++)
        t[i, j] = kind == "uniform" ? pick(m + 1) : (rand() < 0.45 ? 0 : 1 + pick(3))
    } else if (kind == "cyclic") {
      for (k = 0; k < c; k++) base[k] = pick(5)
      for (i = 0; i < r; i++) for (j = 0; j < c; j++) t[i, j] = base[(i + j) % c]
    } else {
      for (s = 0; s < n; s++) t[weighted(a, r), weighted(b, c)]++
      if (kind == "skew") t[pick(r), pick(c)] += shapes == "three" ? 10 + pick(51) : 5 + pick(11)
      if (kind == "diagonal") for (i = 0; i < r && i < c; i++) t[i, i] += shapes == "three" ? 5 + pick(26) : 3 + pick(7)
    }
    ok = 1
    for (i = 0; i < r; i++) { s = 0; for (j = 0; j < c; j++) s += t[i, j]; if (s == 0) ok = 0 }
    for (j = 0; j < c; j++) { s = 0; for (i = 0; i < r; i++) s += t[i, j]; if (s == 0) ok = 0 }
    if (!ok) continue
    file = sprintf("%s/t%04d_%dx%d_%s.dat", dir, made, r, c, kind)
    for (i = 0; i < r; i++) { line = ""; for (j = 0; j < c; j++) line = line (j ? " " : "") t[i, j]; print line > file }
    close(file); made++
  }
}'

# The report without the lines that differ by right: the date and time, the
# used time, the enumeration's own rounding.
report() {
  KELVORIN_NETWORK_FROM="$1" timeout "$2" "$PROGRAM" --batch "$3" "${OPTS[@]}" 2>&1 |
    grep -v -E 'Used time|Warning :|[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}'
}
# (Bash compares whole numbers only: MAXN is read through awk.)
maxn=$(awk -v m="${MAXN:-3e7}" 'BEGIN { printf "%.0f", m }')
same=0; large=0; unfinished=0; differ=0
for file in "$WORK"/*.dat; do
  network="$(report 0 "${LIMIT:-120}" "$file")"
  points=$(printf '%s\n' "$network" | awk '/Number of sample points/ {print $NF}')
  if [[ -z "$points" ]]; then
    echo "unfinished: $(basename "$file") $(tr '\n' '/' < "$file")"; unfinished=$((unfinished + 1)); continue
  fi
  if ((points > maxn)); then large=$((large + 1)); continue; fi
  if [[ "$network" == "$(report never 600 "$file")" ]]; then
    same=$((same + 1))
  else
    echo "differs: $(basename "$file") $(tr '\n' '/' < "$file")"; differ=$((differ + 1))
  fi
done
echo "same: $same  differ: $differ  network only (more points): $large  unfinished: $unfinished"
((differ == 0))
