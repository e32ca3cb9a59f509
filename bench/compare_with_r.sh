#!/usr/bin/env bash
# Cross-checks kelvorin's batch reports against R on random tables
# (bench/compare_with_r.R), for several seeds, each with the program's own
# choice of algorithm and with the network algorithm wherever it applies.
#
#   bench/compare_with_r.sh                  # seeds 1-4, 80 two-way and 30 one-way each
#   SEEDS="7 8" TWO=100 ONE=40 bench/compare_with_r.sh
#   PROGRAM=/path/to/kelvorin bench/compare_with_r.sh
#
# Before the seeds, one small round runs against a copy of the program's
# output with one count changed, and must be caught; otherwise the script
# stops with status 2.
# Exit status: 0 when every report agrees, 1 when any difference was found.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
program=${PROGRAM:-$here/build/shell/kelvorin}
seeds=${SEEDS:-1 2 3 4}
two=${TWO:-80}
one=${ONE:-30}
runs=${RUNS:-default,0}
[ -x "$program" ] || { echo "no program at $program (set PROGRAM)"; exit 2; }
command -v Rscript >/dev/null || { echo "Rscript not found"; exit 2; }

# A program that changes the first "Same prob" count of its report by one.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat >"$tmp/altered" <<EOF
#!/usr/bin/env bash
out=
prev=
for a in "\$@"; do [ "\$prev" = --output ] && out=\$a; prev=\$a; done
"$program" "\$@"; status=\$?
awk '!done && /^  Same prob: / { n = \$3 + 1; sub(/ +[0-9]+ points/, sprintf("%9d points", n)); done = 1 } { print }' \\
  "\$out" >"\$out.tmp" && mv "\$out.tmp" "\$out"
exit \$status
EOF
chmod +x "$tmp/altered"
if Rscript "$here/bench/compare_with_r.R" --program "$tmp/altered" --seed 99 --two 5 --one 0 \
     --network-from default >"$tmp/selfcheck.txt" 2>&1; then
  echo "the comparison did not notice an altered report:"; cat "$tmp/selfcheck.txt"; exit 2
fi
grep -q '\[exactP\] program:' "$tmp/selfcheck.txt" ||
  { echo "the altered report was not reported as such:"; cat "$tmp/selfcheck.txt"; exit 2; }
echo "self-check: an altered report is caught"

start=$(date +%s)
status=0
for s in $seeds; do
  Rscript "$here/bench/compare_with_r.R" --program "$program" --seed "$s" --two "$two" --one "$one" \
    --network-from "$runs" || status=1
done
echo "all seeds: $(( $(date +%s) - start )) s, status $status"
exit $status
