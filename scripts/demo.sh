#!/usr/bin/env bash
# Runs QuiborSync against a living demo store: installs what is missing,
# builds the program, starts a PostgreSQL cluster on 127.0.0.1 holding the
# store's server database and three terminal databases (made from store/ and
# store/demo/), writes Quibor.ini beside the executable, and starts the till
# simulator (scripts/simulator.sh) and QuiborSync.
#
# With a display ($DISPLAY) the program runs until you close it. Without one
# it runs under a virtual display for QS_DEMO_SECONDS, gets QS_DEMO_DRAIN
# seconds to import the last sales, its windows are photographed into
# build/demo-screenshots/, and a report says what reached the server.
# Everything started here is stopped again at the end, on Ctrl-C too; the
# store's files stay in demo/ (or /var/tmp/quiborsync-demo when the postgres
# user cannot reach the checkout).
#
# QuiborSync runs under the Brazilian Portuguese locale (pt_BR.UTF-8, made
# with locale-gen when missing), so dates, times and money read as the store
# reads them; when that locale cannot be had it runs under the system's, and
# the demo says so.
#
# Settings (environment):
#   QS_DEMO_SECONDS   seconds to run without a display (60)
#   QS_DEMO_DRAIN     seconds at most for the last sales to arrive (20)
#   QS_DEMO_RESET     1 rebuilds the store's databases each run (default);
#                     0 keeps the rows of the previous run
#   QS_DEMO_HEADLESS  1 uses the virtual display even when $DISPLAY is set
#   QS_BUILD_DIR      build folder (build)
#   QS_DEMO_DOCS      1 also copies the two windows' screenshots to docs/
#                     (the pictures the README shows)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${QS_DEMO_SECONDS:-60}
drain_seconds=${QS_DEMO_DRAIN:-20}
reset=${QS_DEMO_RESET:-1}
build=${QS_BUILD_DIR:-$root/build}
for n in "$seconds" "$drain_seconds"; do
  if ! [[ $n =~ ^[0-9]+$ ]]; then
    echo "QS_DEMO_SECONDS and QS_DEMO_DRAIN take whole seconds" >&2
    exit 2
  fi
done

# The login the program and the tills use. Its password holds a blank, a
# quote and '#', which the INI encoding and every connection string must
# carry through unharmed.
user=quibor
password='Loja "Centro" #1'
server_db=quibor_server
terminals=(001 002 003)

demo_dir=$root/demo
run_dir=$demo_dir/run
sim_log=$demo_dir/simulator.log
exe=$build/quiborsync
shots=$build/demo-screenshots

say() { printf '\033[1m==> %s\033[0m\n' "$*"; }
note() { printf '    %s\n' "$*"; }

if [ "$(id -u)" -ne 0 ]; then
  echo "Run it as root: sudo bash scripts/demo.sh" >&2
  exit 1
fi

headless=0
if [ -z "${DISPLAY:-}" ] || [ "${QS_DEMO_HEADLESS:-0}" = 1 ]; then
  headless=1
fi

# ---------------------------------------------------------------------------
# Processes of this demo: pid files in demo/run, so a run that was killed
# outright is cleaned up by the next one. A pid is only signalled while its
# command line still is the one this script started.

pid_alive() {
  local pid=$1 pattern=$2
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null \
    && { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -qF -- "$pattern"
}

stop_process() {
  local name=$1 pattern=$2 file=$run_dir/$1.pid pid k
  [ -f "$file" ] || return 0
  pid=$(cat "$file" 2>/dev/null || true)
  if pid_alive "$pid" "$pattern"; then
    kill -TERM "$pid" 2>/dev/null || true
    k=0
    while [ "$k" -lt 100 ] && pid_alive "$pid" "$pattern"; do
      sleep 0.1
      k=$((k + 1))
    done
    if pid_alive "$pid" "$pattern"; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
  fi
  rm -f "$file"
}

remember() { echo "$2" >"$run_dir/$1.pid"; }

# From /: the postgres user may not be allowed into the current folder.
pg_cluster() { (cd / && "$root/scripts/pg_cluster.sh" "$@"); }

cluster_candidates=("$demo_dir/pg" /var/tmp/quiborsync-demo/pg)
pgdir=
port=
shot_list=()

cleanup() {
  local status=$?
  set +e
  trap - INT TERM
  stop_process simulator simulator.sh
  stop_process quiborsync "$exe"
  stop_process xvfb Xvfb
  if [ -n "$pgdir" ]; then
    pg_cluster stop "$pgdir"
  fi
  return "$status"
}
trap cleanup EXIT
trap 'echo; say "Interrupted; stopping the demo"; exit 130' INT
trap 'exit 143' TERM

mkdir -p "$run_dir"
chmod 755 "$demo_dir"
# Leftovers of an earlier run that did not end cleanly.
stop_process simulator simulator.sh
stop_process quiborsync "$exe"
stop_process xvfb Xvfb
for dir in "${cluster_candidates[@]}"; do
  pg_cluster stop "$dir" 2>/dev/null || true
done

# ---------------------------------------------------------------------------
say "Installing what is missing"
"$root/scripts/setup.sh"

say "Preparing the store's locale"
# Brazilian dates (28/12/2024), times and money (1.234,50).
store_locale=pt_BR.UTF-8
locale_ready() { locale -a 2>/dev/null | grep -qix 'pt_BR\.utf-\?8'; }
if ! locale_ready && [ -f /etc/locale.gen ] && command -v locale-gen >/dev/null; then
  if grep -q '^# *pt_BR\.UTF-8 UTF-8' /etc/locale.gen; then
    sed -i 's/^# *\(pt_BR\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  elif ! grep -q '^pt_BR\.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'pt_BR.UTF-8 UTF-8' >>/etc/locale.gen
  fi
  locale-gen >"$demo_dir/locale-gen.log" 2>&1 || true
fi
if locale_ready; then
  program_env=(LANG=$store_locale LC_ALL=$store_locale LANGUAGE=pt_BR:pt)
  locale_note="$store_locale"
else
  program_env=()
  locale_note="the system's (${LC_ALL:-${LANG:-C}}): $store_locale could not be made, see demo/locale-gen.log"
fi
note "QuiborSync runs under $locale_note"

say "Building QuiborSync"
if ! { cmake -S "$root" -B "$build" && cmake --build "$build" -j"$(nproc)" --target quiborsync; } \
     >"$demo_dir/build.log" 2>&1; then
  tail -n 40 "$demo_dir/build.log"
  echo "The build failed; the whole log is in demo/build.log" >&2
  exit 1
fi
note "$exe"

# ---------------------------------------------------------------------------
say "Starting the demo store"
pgdir=${cluster_candidates[0]}
if ! runuser -u postgres -- test -x "$demo_dir"; then
  pgdir=${cluster_candidates[1]}
  mkdir -p "$(dirname "$pgdir")"
  chmod 755 "$(dirname "$pgdir")"
  note "The postgres user cannot reach $demo_dir; the store's cluster lives in $pgdir instead."
fi
port=55432
for ((k = 0; k < 100; k++)); do
  (echo >"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
  port=$((port + 1))
done
pg_cluster start "$pgdir" "$port"
if [ "$reset" = 0 ]; then mode=keep; else mode=fresh; fi
QS_DEMO_USER=$user QS_DEMO_PASSWORD=$password bash "$root/store/demo/make_store.sh" "$port" "$mode"
note "cluster $pgdir on 127.0.0.1:$port"
note "server database $server_db, terminals $(printf 'quibor_pdv%s ' "${terminals[@]}")"
note "login $user, password $password"

admin() {
  psql -X -q -At -F $'\t' -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U postgres "$@"
}

mkdir -p "$build/QuiborSync_Logs"
# As a store's IT would: the set-up checks the login before it writes the file.
if ! printf '%s\n' "$password" | "$exe" --configure --host 127.0.0.1 --port "$port" --database "$server_db" \
       --user "$user" --password-stdin >"$demo_dir/configure.log" 2>&1; then
  cat "$demo_dir/configure.log" >&2
  echo "quiborsync --configure failed; see demo/configure.log" >&2
  exit 1
fi
note "$build/Quibor.ini written by quiborsync --configure; $build/QuiborSync_Logs/ made"

# ---------------------------------------------------------------------------
if [ "$headless" = 1 ]; then
  say "Starting a virtual display"
  display_no=
  for ((n = 99; n < 140; n++)); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      display_no=$n
      break
    fi
  done
  if [ -z "$display_no" ]; then
    echo "No free X display number between :99 and :139" >&2
    exit 1
  fi
  Xvfb ":$display_no" -screen 0 1400x900x24 -nolisten tcp >"$demo_dir/xvfb.log" 2>&1 &
  remember xvfb $!
  export DISPLAY=:$display_no
  for ((k = 0; k < 50; k++)); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.2
  done
  if ! xdpyinfo >/dev/null 2>&1; then
    echo "The virtual display did not come up; see demo/xvfb.log" >&2
    exit 1
  fi
  export QT_QPA_PLATFORM=xcb
  note "DISPLAY=$DISPLAY"
elif [ -z "${XAUTHORITY:-}" ] && [ -n "${SUDO_USER:-}" ]; then
  # sudo keeps DISPLAY but not always the user's X authority.
  home=$(getent passwd "$SUDO_USER" | cut -d: -f6)
  [ -f "$home/.Xauthority" ] && export XAUTHORITY=$home/.Xauthority
fi

window_list() {
  # id <tab> title of every mapped top-level window
  local id title
  xwininfo -root -children 2>/dev/null \
    | sed -n 's/^ *\(0x[0-9a-f]*\) "\(.*\)": (.*$/\1\t\2/p' \
    | while IFS=$'\t' read -r id title; do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && printf '%s\t%s\n' "$id" "$title"
      done
}

say "Starting QuiborSync"
# env execs the program, so $! is its pid.
env "${program_env[@]}" "$exe" >"$demo_dir/quiborsync.log" 2>&1 &
prog_pid=$!
remember quiborsync "$prog_pid"
if [ "$headless" = 1 ]; then
  for ((k = 0; k < 60; k++)); do
    [[ $(window_list) == *"Atualizar Vendas(Servidor)"* ]] && break
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.5
  done
else
  sleep 3
fi
if ! kill -0 "$prog_pid" 2>/dev/null; then
  tail -n 20 "$demo_dir/quiborsync.log"
  echo "QuiborSync ended right away; see demo/quiborsync.log" >&2
  exit 1
fi

say "Starting the tills"
: >"$sim_log"
QS_SIM_PARENT=$$ QS_SIM_USER=$user QS_SIM_PASSWORD=$password \
  bash "$root/scripts/simulator.sh" "$port" "$sim_log" >"$demo_dir/simulator.out" 2>&1 &
remember simulator $!
note "one event every 2 s, logged in demo/simulator.log"

count_events() { awk -F'\t' -v e="$1" '$2 == e { n++ } END { print n + 0 }' "$sim_log" 2>/dev/null || echo 0; }
server_sales() {
  admin -d "$server_db" -c "SELECT count(*) FROM TRANSACOES WHERE MODELO = '65'
                              AND BANCO_ID IN (SELECT CAST(NUM_ECF AS integer) FROM LICENCA_IF)" 2>/dev/null || echo "?"
}

if [ "$headless" = 0 ]; then
  say "QuiborSync runs on $DISPLAY; close its sales window to end the demo"
  # Bounded like every wait here: twelve hours at most.
  k=0
  while [ "$k" -lt 43200 ] && kill -0 "$prog_pid" 2>/dev/null; do
    sleep 1
    k=$((k + 1))
  done
else
  say "Running for $seconds s"
  for ((s = 1; s <= seconds; s++)); do
    sleep 1
    if ! kill -0 "$prog_pid" 2>/dev/null; then
      note "QuiborSync ended by itself after $s s; see demo/quiborsync.log"
      break
    fi
    if ((s % 15 == 0)); then
      note "$s s: $(count_events venda) sales rung up, $(server_sales) on the server"
    fi
  done
fi

say "Stopping the tills"
stop_process simulator simulator.sh

# Rows still to be taken on each terminal, as "table<tab>count" lines.
waiting_rows() {
  admin -d "quibor_pdv$1" <<'SQL'
SELECT t, n FROM (
  SELECT 1, 'TRANSACOES', count(*) FROM TRANSACOES WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT 2, 'TRANSITENS', count(*) FROM TRANSITENS WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT 3, 'TRANSPARCELAS', count(*) FROM TRANSPARCELAS WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT 4, 'FECHAMENTO_CUPOM', count(*) FROM FECHAMENTO_CUPOM WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT 5, 'COMPL_NFCEFISCAL', count(*) FROM COMPL_NFCEFISCAL WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT 6, 'NOTAS_CANCELADAS_NFCE', count(*) FROM NOTAS_CANCELADAS_NFCE WHERE EXPORTADO NOT IN (2, 4)
  UNION ALL SELECT 7, 'CHEQUES_RECEBIDOS', count(*) FROM CHEQUES_RECEBIDOS WHERE EXPORTADO NOT IN (2, 4)
) AS w(o, t, n) WHERE n > 0 ORDER BY o;
SQL
}

if [ "$headless" = 1 ] && kill -0 "$prog_pid" 2>/dev/null; then
  say "Letting the last sales reach the server (at most $drain_seconds s)"
  # The tills' last request gets a moment; terminals that still hold rows
  # are then asked again, as "Atualizar Dados" would.
  deadline=$((SECONDS + drain_seconds))
  sleep 3
  while [ "$SECONDS" -lt "$deadline" ] && kill -0 "$prog_pid" 2>/dev/null; do
    pending=()
    for ecf in "${terminals[@]}"; do
      [ -n "$(waiting_rows "$ecf")" ] && pending+=("'$ecf'")
    done
    [ ${#pending[@]} -eq 0 ] && break
    list=$(IFS=,; echo "${pending[*]}")
    admin -d "$server_db" -c "UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF IN ($list)" \
      -c "NOTIFY venda" >/dev/null
    sleep 4
  done

  say "Taking screenshots"
  mkdir -p "$shots"
  rm -f "$shots"/*.png "$shots"/*.xwd
  # Without a window manager both windows open at the same spot: a small
  # Xlib helper lays them side by side and raises each before its picture.
  xwin=$build/demo-tools/qs_xwin
  mkdir -p "$(dirname "$xwin")"
  cat >"$xwin.c" <<'C'
#include <X11/Xlib.h>
#include <stdlib.h>
#include <string.h>
/* qs_xwin raise ID | qs_xwin move ID X Y */
int main(int argc, char **argv)
{
    if (argc < 3) return 2;
    Display *d = XOpenDisplay(NULL);
    if (!d) return 1;
    Window w = (Window)strtoul(argv[2], NULL, 0);
    if (strcmp(argv[1], "raise") == 0) XRaiseWindow(d, w);
    else if (strcmp(argv[1], "move") == 0 && argc == 5) XMoveWindow(d, w, atoi(argv[3]), atoi(argv[4]));
    else return 2;
    XSync(d, False);
    XCloseDisplay(d);
    return 0;
}
C
  cc -O2 -o "$xwin" "$xwin.c" -lX11 2>/dev/null || xwin=
  capture() {
    local id=$1 file=$2
    if command -v import >/dev/null; then
      import -window "$id" "$file.png" 2>/dev/null && return 0
    fi
    if command -v xwd >/dev/null; then
      if [ "$id" = root ]; then set -- -root; else set -- -id "$id"; fi
      xwd "$@" -silent -out "$file.xwd" || return 1
      if command -v convert >/dev/null && convert "xwd:$file.xwd" "$file.png" 2>/dev/null; then
        rm -f "$file.xwd"
      fi
      return 0
    fi
    return 1
  }
  mapfile -t windows < <(window_list)
  left=0
  for entry in "${windows[@]}"; do
    id=${entry%%$'\t'*} title=${entry#*$'\t'}
    case $title in
      *"Atualizar Vendas(Servidor)"*)
        [ -z "$xwin" ] || "$xwin" move "$id" 0 0 || true
        left=$(xwininfo -id "$id" | sed -n 's/^ *Width: //p') ;;
    esac
  done
  for entry in "${windows[@]}"; do
    id=${entry%%$'\t'*} title=${entry#*$'\t'}
    case $title in
      *"Atualizar Sistema Pdv(Caixas)"*) [ -z "$xwin" ] || "$xwin" move "$id" $((left + 16)) 0 || true ;;
    esac
  done
  sleep 1
  if capture root "$shots/screen"; then
    shot_list=("screen: the whole virtual display")
  else
    note "No screenshot tool (imagemagick's import, or xwd from x11-apps) is installed."
  fi
  other=0
  for entry in "${windows[@]}"; do
    id=${entry%%$'\t'*} title=${entry#*$'\t'}
    case $title in
      *"Atualizar Vendas(Servidor)"*) name=sales ;;
      *"Atualizar Sistema Pdv(Caixas)"*) name=update ;;
      *) other=$((other + 1)); name=window-$other ;;
    esac
    [ -z "$xwin" ] || "$xwin" raise "$id" || true
    sleep 0.7
    capture "$id" "$shots/$name" && shot_list+=("$name: \"$title\"")
  done
  if [ "${QS_DEMO_DOCS:-0}" = 1 ]; then
    mkdir -p "$root/docs"
    for name in sales update; do
      [ -f "$shots/$name.png" ] && cp "$shots/$name.png" "$root/docs/$name-window.png"
    done
    note "docs/sales-window.png and docs/update-window.png updated"
  fi
fi

if kill -0 "$prog_pid" 2>/dev/null; then
  say "Ending QuiborSync"
fi
stop_process quiborsync "$exe"

# ---------------------------------------------------------------------------
say "Report"
rung=$(count_events venda)
cancelled=$(count_events cancelamento)
touched=$(count_events clientes)
printf '    %-44s %s\n' "sales rung up by the tills:" "$rung ($cancelled of them cancelled later on the till)"
printf '    %-44s %s\n' "customer changes (\"clientes\"):" "$touched"
printf '    %-44s %s\n' "locale of QuiborSync:" "$locale_note"

srv_sales=? srv_bookings=? srv_notes=?
read -r srv_sales srv_bookings srv_notes < <(admin -d "$server_db" <<'SQL' | tr '\t' ' '
SELECT count(*) FILTER (WHERE CONDUTA IS DISTINCT FROM '18'),
       count(*) FILTER (WHERE CONDUTA = '18'),
       (SELECT count(*) FROM NOTAS_CANCELADAS_NFCE)
  FROM TRANSACOES WHERE BANCO_ID IN (SELECT CAST(NUM_ECF AS integer) FROM LICENCA_IF);
SQL
) || true
printf '    %-44s %s\n' "sales on the server from the terminals:" \
  "$srv_sales (plus $srv_bookings cancellation bookings; $srv_notes cancelled NFC-e notes)"

verdict=no
if [ "$rung" -gt 0 ]; then
  values=$(awk -F'\t' '$2 == "venda" { printf "%s(%d, %c%s%c, %d)", sep, $3 + 0, 39, $4, 39, $8; sep = ",\n" }' "$sim_log")
  once=? missing=? twice=? complete=? odd=
  IFS=$'\t' read -r once missing twice complete odd < <(admin -d "$server_db" <<SQL
WITH rung(ecf, num_doc, itens) AS (VALUES $values),
hits AS (
  SELECT r.ecf, r.num_doc, r.itens,
         (SELECT count(*) FROM TRANSACOES t
           WHERE t.BANCO_ID = r.ecf AND t.NUM_DOC = r.num_doc AND t.MODELO = '65') AS n,
         (SELECT count(*) FROM TRANSITENS i JOIN TRANSACOES t ON t.TRANSACAO_ID = i.TRANSACAO_ID
           WHERE t.BANCO_ID = r.ecf AND t.NUM_DOC = r.num_doc AND t.MODELO = '65') AS itens_servidor
    FROM rung r)
SELECT count(*) FILTER (WHERE n = 1), count(*) FILTER (WHERE n = 0), count(*) FILTER (WHERE n > 1),
       count(*) FILTER (WHERE n = 1 AND itens_servidor = itens),
       COALESCE(string_agg(CASE WHEN n <> 1 THEN lpad(ecf::text, 3, '0') || '/' || num_doc || ' ' || n || 'x' END,
                           ', ' ORDER BY ecf, num_doc), '')
  FROM hits;
SQL
  ) || true
  [ "$once" = "$rung" ] && verdict=yes
  printf '    %-44s %s\n' "every sale on the server exactly once:" \
    "$verdict ($once once, $missing missing, $twice more than once)"
  [ -n "$odd" ] && printf '    %-44s %s\n' "" "not once (terminal/receipt): $odd"
  printf '    %-44s %s\n' "sales with all their items on the server:" "$complete of $rung"
else
  printf '    %-44s %s\n' "every sale on the server exactly once:" "no sale was rung up"
fi

# What the store's IT would ask from a shell: every till reached, nothing
# left waiting (rows not yet imported, cancellations not carried out)?
echo "    quiborsync --status:"
status_rc=0
status_out=$(env "${program_env[@]}" "$exe" --status 2>&1) || status_rc=$?
sed 's/^/      /' <<<"$status_out"
case $status_rc in
  0) status_note="0: in step" ;;
  1) status_note="1: a terminal not reached, or rows waiting" ;;
  *) status_note="$status_rc: no report" ;;
esac
printf '    %-44s %s\n' "its exit status:" "$status_note"

if [ "$headless" = 1 ]; then
  if [ ${#shot_list[@]} -gt 0 ]; then
    echo "    screenshots in ${shots#"$root"/}/:"
    for s in "${shot_list[@]}"; do echo "      $s"; done
  fi
fi
echo "    logs: demo/quiborsync.log, demo/simulator.log, demo/simulator.out, ${build#"$root"/}/QuiborSync_Logs/"
