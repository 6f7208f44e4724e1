#!/usr/bin/env bash
# Soak: the demo store's tills (scripts/simulator.sh, one per terminal, all at
# once) ring up several sales a second over three terminals, with
# cancellations and customer changes, for
# QS_SOAK_MINUTES against the program, which runs offscreen from a folder of
# its own. At the end the tills stop, the last requests are served, and the
# report says what was rung up and imported, what still waits on the
# terminals, and the program's resident memory and open descriptors at the
# start, after warm-up and at the end (target: nothing lost; memory and
# descriptors within 10 % of the warm-up figures). The tills ring at their
# pace whatever the program does (open loop), so a backlog can form; memory
# is judged by its slope over the per-minute samples after warm-up,
# extrapolated to a week, rather than by two samples.
#
#   bash bench/soak.sh                        (30 minutes)
#   QS_SOAK_MINUTES=5 bash bench/soak.sh      (a short run)
#
# Settings (environment):
#   QS_SOAK_MINUTES    minutes the tills ring up (30)
#   QS_SOAK_INTERVAL   seconds between two events of one till (0.5)
#   QS_SOAK_TILL_WAIT  whole seconds a till waits for its previous sale to be
#                      imported before the next one (0: it does not wait)
#   QS_SOAK_WARMUP     seconds before the warm-up sample (300, at most a third of the
#                      run): the monitor panes fill up to their bound meanwhile
#   QS_BUILD_DIR       build folder holding quiborsync (build)
#   QS_SOAK_WRAP       a command to run the program under (heaptrack, valgrind ...)
# Runs as root (the cluster runs as the postgres user). Everything it starts
# is stopped again on exit; its files stay in /tmp/quiborsync-soak.XXXXXX.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
minutes=${QS_SOAK_MINUTES:-30}
interval=${QS_SOAK_INTERVAL:-0.5}
till_wait=${QS_SOAK_TILL_WAIT:-0}
warmup=${QS_SOAK_WARMUP:-300}
build=${QS_BUILD_DIR:-$root/build}
for n in "$minutes" "$warmup" "$till_wait"; do
  [[ $n =~ ^[0-9]+$ ]] || { echo "QS_SOAK_MINUTES, QS_SOAK_WARMUP and QS_SOAK_TILL_WAIT take whole numbers" >&2; exit 2; }
done
seconds=$((minutes * 60))
[ "$warmup" -gt $((seconds / 3)) ] && warmup=$((seconds / 3))
if [ "$(id -u)" -ne 0 ]; then
  echo "Run it as root: the cluster runs as the postgres user" >&2
  exit 1
fi
exe=$build/quiborsync
[ -x "$exe" ] || { echo "no $exe: build the target quiborsync first" >&2; exit 1; }

user=quibor
password='Loja "Centro" #1'
server_db=quibor_server
terminals=(001 002 003)

work=$(mktemp -d /tmp/quiborsync-soak.XXXXXX)
chmod 755 "$work"
pgdir=$work/pg
prog=$work/program
samples=$work/samples.tsv
sim_pids=() prog_pid=

say() { printf '\033[1m==> %s\033[0m\n' "$*"; }

stop_pid() {
  local pid=$1 k
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  k=0
  while [ "$k" -lt 100 ] && kill -0 "$pid" 2>/dev/null; do
    sleep 0.1
    k=$((k + 1))
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

cleanup() {
  set +e
  for pid in "${sim_pids[@]}"; do stop_pid "$pid"; done
  stop_pid "$prog_pid"
  "$root/scripts/pg_cluster.sh" stop "$pgdir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

say "Store on a cluster of its own"
port=56432
while (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
"$root/scripts/pg_cluster.sh" start "$pgdir" "$port"
QS_DEMO_USER=$user QS_DEMO_PASSWORD=$password bash "$root/store/demo/make_store.sh" "$port" fresh
admin() { psql -X -q -At -F $'\t' -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U postgres "$@"; }

# The program reads Quibor.ini and writes its logs beside its executable.
mkdir -p "$prog/QuiborSync_Logs"
cp "$exe" "$prog/quiborsync"
"$root/scripts/write_ini.sh" "$prog/Quibor.ini" 127.0.0.1 "$port" "$server_db" "$user" "$password"

say "QuiborSync, offscreen"
# shellcheck disable=SC2086 # the wrapper may carry its own arguments
QT_QPA_PLATFORM=offscreen ${QS_SOAK_WRAP:-} "$prog/quiborsync" >"$work/quiborsync.log" 2>&1 &
prog_pid=$!
# Under a wrapper the program is a child of it: measure the program itself.
program_pid() {
  local p
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/exe" 2>/dev/null)" = "$prog/quiborsync" ] && { echo "${p#/proc/}"; return; }
  done
  echo "$prog_pid"
}
# Started once both windows have connected (two server sessions).
for ((k = 0; k < 300; k++)); do
  [ "$(admin -d postgres -c "SELECT count(*) FROM pg_stat_activity WHERE datname = '$server_db' AND usename = '$user'")" -ge 2 ] && break
  kill -0 "$prog_pid" 2>/dev/null || { tail -20 "$work/quiborsync.log"; echo "QuiborSync ended" >&2; exit 1; }
  sleep 0.2
done
prog_pid=$(program_pid)

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$prog_pid/status" 2>/dev/null || echo 0; }
fds() { find "/proc/$prog_pid/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
printf 'second\trss_kb\tfds\trung\tserver_sales\n' >"$samples"
sim_logs() { cat "$work"/simulator-*.log 2>/dev/null; }
count_events() { sim_logs | awk -F'\t' -v e="$1" '$2 == e { n++ } END { print n + 0 }'; }
server_sales() {
  admin -d "$server_db" -c "SELECT count(*) FROM TRANSACOES WHERE MODELO = '65' AND CONDUTA IS DISTINCT FROM '18'
                              AND BANCO_ID IN (SELECT CAST(NUM_ECF AS integer) FROM LICENCA_IF)" 2>/dev/null || echo "?"
}
sample() { printf '%s\t%s\t%s\t%s\t%s\n' "$1" "$(rss_kb)" "$(fds)" "$(count_events venda)" "$(server_sales)" >>"$samples"; }

start_rss=$(rss_kb) start_fds=$(fds)
sample 0

say "Tills ringing up, each every ${interval}s, for $minutes min"
for ecf in "${terminals[@]}"; do
  QS_SIM_ECF=$ecf QS_SIM_INTERVAL=$interval QS_SIM_WAIT=$till_wait QS_SIM_PARENT=$$ QS_SIM_USER=$user QS_SIM_PASSWORD=$password \
    QS_SIM_MAX_SECONDS=$((seconds + 60)) QS_SIM_SEED=$((10#$ecf)) \
    bash "$root/scripts/simulator.sh" "$port" "$work/simulator-$ecf.log" >"$work/simulator-$ecf.out" 2>&1 &
  sim_pids+=($!)
done

warm_rss= warm_fds=
for ((s = 1; s <= seconds; s++)); do
  sleep 1
  kill -0 "$prog_pid" 2>/dev/null || { echo "QuiborSync ended by itself after $s s; see $work/quiborsync.log" >&2; exit 1; }
  if [ "$s" -eq "$warmup" ]; then
    warm_rss=$(rss_kb) warm_fds=$(fds)
  fi
  if ((s % 60 == 0)) || [ "$s" -eq "$warmup" ]; then
    sample "$s"
    printf '    %4d s: %s sales rung up, %s on the server, RSS %s kB, %s fds\n' "$s" \
      "$(count_events venda)" "$(server_sales)" "$(rss_kb)" "$(fds)"
  fi
done

say "Tills stopped; serving the last requests"
for pid in "${sim_pids[@]}"; do stop_pid "$pid"; done
sim_pids=()
waiting_rows() {
  admin -d "quibor_pdv$1" <<'SQL'
SELECT sum(n) FROM (
  SELECT count(*) FROM TRANSACOES WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT count(*) FROM TRANSITENS WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT count(*) FROM TRANSPARCELAS WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT count(*) FROM FECHAMENTO_CUPOM WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT count(*) FROM COMPL_NFCEFISCAL WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT count(*) FROM NOTAS_CANCELADAS_NFCE WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT count(*) FROM CHEQUES_RECEBIDOS WHERE EXPORTADO NOT IN (2, 4)
) AS w(n);
SQL
}
# Rows written between a terminal's last request and the tills' stop wait
# for a request: ask again, as "Atualizar Dados" would, a bounded number of
# times.
for ((k = 0; k < 15; k++)); do
  pending=()
  for ecf in "${terminals[@]}"; do
    [ "$(waiting_rows "$ecf")" != 0 ] && pending+=("'$ecf'")
  done
  [ ${#pending[@]} -eq 0 ] && break
  admin -d "$server_db" -c "UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF IN ($(IFS=,; echo "${pending[*]}"))" \
    -c "NOTIFY venda" >/dev/null
  sleep 4
done
end_rss=$(rss_kb) end_fds=$(fds)
sample "$seconds"

say "Report"
rung=$(count_events venda)
cancelled=$(count_events cancelamento)
touched=$(count_events clientes)
values=$(sim_logs | awk -F'\t' '$2 == "venda" { printf "%s(%d, %c%s%c, %d)", sep, $3 + 0, 39, $4, 39, $8; sep = ",\n" }')
once=0 missing=0 twice=0 complete=0
if [ "$rung" -gt 0 ]; then
  IFS=$'\t' read -r once missing twice complete < <(admin -d "$server_db" <<SQL
WITH rung(ecf, num_doc, itens) AS (VALUES $values),
hits AS (
  SELECT r.itens,
         (SELECT count(*) FROM TRANSACOES t
           WHERE t.BANCO_ID = r.ecf AND t.NUM_DOC = r.num_doc AND t.MODELO = '65') AS n,
         (SELECT count(*) FROM TRANSITENS i JOIN TRANSACOES t ON t.TRANSACAO_ID = i.TRANSACAO_ID
           WHERE t.BANCO_ID = r.ecf AND t.NUM_DOC = r.num_doc AND t.MODELO = '65') AS itens_servidor
    FROM rung r)
SELECT count(*) FILTER (WHERE n = 1), count(*) FILTER (WHERE n = 0), count(*) FILTER (WHERE n > 1),
       count(*) FILTER (WHERE n = 1 AND itens_servidor = itens)
  FROM hits;
SQL
  )
fi
left=0
for ecf in "${terminals[@]}"; do left=$((left + $(waiting_rows "$ecf"))); done
pct() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) print "-"; else printf "%+.1f %%", 100 * (a - b) / b }'; }
within() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; if (d < 0) d = -d; print (b > 0 && d <= 0.1 * b) ? "yes" : "no" }'; }
rate=$(awk -v n="$rung" -v s="$seconds" 'BEGIN { printf "%.2f", n / s }')

printf '    %-40s %s\n' "run:" "$minutes min, ${#terminals[@]} tills at once, each ringing every ${interval}s$( [ "$till_wait" -gt 0 ] && echo ", waiting up to ${till_wait}s for its previous sale")"
printf '    %-40s %s\n' "sales rung up:" "$rung ($rate a second; $cancelled cancelled on the till later)"
printf '    %-40s %s\n' "customer changes (\"clientes\"):" "$touched"
printf '    %-40s %s\n' "sales on the server exactly once:" "$once of $rung ($missing missing, $twice more than once)"
printf '    %-40s %s\n' "with all their items:" "$complete of $rung"
printf '    %-40s %s\n' "rows left waiting on the terminals:" "$left"
printf '    %-40s %s\n' "resident memory (kB):" "start $start_rss, after ${warmup}s $warm_rss, end $end_rss ($(pct "$end_rss" "$warm_rss") since warm-up; within 10 %: $(within "$end_rss" "$warm_rss"))"
# Least squares over the samples from warm-up to the tills' stop: a leak
# shows as a steady slope even when two samples happen to agree.
rss_slope=$(awk -F'\t' -v warm="$warmup" -v total="$seconds" '
  NR > 1 && $1 >= warm && $1 <= total { n++; sx += $1; sy += $2; sxx += $1 * $1; sxy += $1 * $2 }
  END {
    d = n * sxx - sx * sx
    if (n < 3 || d == 0) { print "too few samples after warm-up"; exit }
    b = (n * sxy - sx * sy) / d
    printf "%+.1f kB an hour, %+.1f MB over a week (%d samples after warm-up)", b * 3600, b * 604800 / 1024, n
  }' "$samples")
printf '    %-40s %s\n' "resident memory, slope:" "$rss_slope"
backlog=$(awk -F'\t' 'NR > 1 { b = $4 - $5; if (b > max) max = b } END { print max + 0 }' "$samples")
printf '    %-40s %s\n' "largest backlog at a sample (sales):" "$backlog"
printf '    %-40s %s\n' "open descriptors:" "start $start_fds, after ${warmup}s $warm_fds, end $end_fds ($(pct "$end_fds" "$warm_fds") since warm-up; within 10 %: $(within "$end_fds" "$warm_fds"))"
# One sample moves with the terminal links an import happens to hold open;
# growth shows in the highest count of the last third against the middle one.
fds_growth=$(awk -F'\t' -v warm="$warmup" -v total="$seconds" '
  NR > 1 && $1 >= warm && $1 <= total {
    if ($1 < warm + (total - warm) * 2 / 3) { if ($3 > mid) mid = $3 } else if ($3 > last) last = $3
    if (min == "" || $3 < min) min = $3; if ($3 > max) max = $3
  }
  END { printf "%s to %s after warm-up; highest in the last third %s against %s before: %s", min, max, last, mid,
        (last <= mid * 1.1 || last <= mid + 1) ? "flat" : "growing" }' "$samples")
printf '    %-40s %s\n' "open descriptors, each minute:" "$fds_growth"
printf '    %-40s %s\n' "samples each minute:" "$samples"
printf '    %-40s %s\n' "logs:" "$work/quiborsync.log, $work/simulator-*.log, $work/simulator-*.out"
