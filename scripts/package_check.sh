#!/usr/bin/env bash
# Builds the .deb from a finished build folder, installs it with apt-get as a
# store's IT person would, and starts the installed program as an ordinary
# user against a throw-away server database until its version stamp shows in
# CONFIG. The example Quibor.ini is put back afterwards; the package stays.
#   package_check.sh BUILD_DIR PGHOST PGPORT      (as root; templates loaded)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1") host=$2 port=$3
folder=/opt/quiborsync
exe=$folder/quiborsync
wait_seconds=${QS_PACKAGE_WAIT:-90}

say() { printf '==> %s\n' "$*"; }
fail() { echo "package check: $*" >&2; exit 1; }
admin() { PGOPTIONS="-c client_min_messages=warning" psql -X -q -At -v ON_ERROR_STOP=1 -h "$host" -p "$port" -U postgres "$@"; }

say "Building the package"
rm -f "$build"/quiborsync_*.deb
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { tail -n 30 "$build/cpack.log"; fail "cpack failed"; }
deb=$(ls "$build"/quiborsync_*.deb)
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "the package does not depend on Qt 6 Widgets"
dpkg-deb -f "$deb" Depends | grep -q 'libpq5' || fail "the package does not depend on libpq"

say "Installing $(basename "$deb")"
DEBIAN_FRONTEND=noninteractive apt-get install -y --reinstall "$deb" >"$build/apt-install.log" 2>&1 \
  || { tail -n 30 "$build/apt-install.log"; fail "apt-get install failed"; }

[ -x "$exe" ] || fail "$exe is missing"
grep -qF "$exe --configure" "$build/apt-install.log" || fail "the post-install does not say to run $exe --configure"
[ "$(stat -c %a "$folder/QuiborSync_Logs")" = 1777 ] || fail "$folder/QuiborSync_Logs is not writable by every user"
[ -f /usr/share/applications/quiborsync.desktop ] || fail "no menu entry"
grep -qx "Exec=$exe" /usr/share/applications/quiborsync.desktop || fail "the menu entry does not start $exe"
[ -f /usr/share/icons/hicolor/scalable/apps/quiborsync.svg ] || fail "no icon"
for key in 'Server Name' Porta 'Base Name' 'User Name' Password; do
  grep -q "^$key=.*"$'\r'"\$" "$folder/Quibor.ini" || fail "the example Quibor.ini lacks \"$key\" with a CRLF line end"
done
stamp=$(timeout 30 "$exe" --version) || fail "--version failed"
stamp=${stamp#QuiborSync }
timeout 30 "$exe" --help | grep -qF "$folder/Quibor.ini" || fail "--help does not name $folder/Quibor.ini"

say "Starting the installed program against 127.0.0.1:$port"
db=qs_package_check
role=qs_package_check
password='Loja "Centro" #1'
pid=
# The program's home, runtime and temporary folder (its single-instance
# mark lives there), so nothing of this check is left in /tmp.
scratch=$(mktemp -d /tmp/quiborsync-package-check.XXXXXX)
chown nobody:nogroup "$scratch"
chmod 700 "$scratch"
cleanup() {
  set +e
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null
    for ((k = 0; k < 50; k++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  [ -f "$folder/Quibor.ini.example" ] && mv -f "$folder/Quibor.ini.example" "$folder/Quibor.ini"
  rm -f "$folder/Quibor.ini.bak"
  admin -d postgres -c "DROP DATABASE IF EXISTS $db" -c "DROP ROLE IF EXISTS $role" >/dev/null 2>&1
  rm -rf "$scratch"
}
trap cleanup EXIT

admin -d postgres -c "DROP DATABASE IF EXISTS $db" -c "DROP ROLE IF EXISTS $role" >/dev/null
admin -d postgres -c "CREATE ROLE $role LOGIN PASSWORD '${password//\'/\'\'}'" \
  -c "CREATE DATABASE $db TEMPLATE qs_tpl_server OWNER $role" >/dev/null
admin -d "$db" >/dev/null <<SQL
INSERT INTO CONFIG (VERSAO_SYNC, CONSISTIR_PDV, DIAS_CONSISTIR, TIMEOUT_ECFS) VALUES (NULL, 'False', 0, 300);
INSERT INTO ABERTURA (DT_MOVIMENTO, RESET) VALUES (current_date, 0);
INSERT INTO EMPRESAS (EMPRESA_ID, RAZAO_SOCIAL, STATUS) VALUES (1, 'Loja', 'A');
GRANT ALL ON ALL TABLES IN SCHEMA public TO $role;
GRANT ALL ON ALL SEQUENCES IN SCHEMA public TO $role;
SQL

cp -p "$folder/Quibor.ini" "$folder/Quibor.ini.example"
# As the post-install says: the set-up checks the login, then writes the file.
printf '%s\n' "$password" | timeout 60 "$exe" --configure --host "$host" --port "$port" --database "$db" \
  --user "$role" --password-stdin >"$build/package-configure.log" 2>&1 \
  || { cat "$build/package-configure.log" >&2; fail "$exe --configure failed"; }
[ "$(stat -c %a "$folder/Quibor.ini")" = 644 ] || fail "--configure changed the mode of Quibor.ini"

# An ordinary account, as in the store; setpriv execs, so $! is the program.
log=$build/package-check.log
setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env HOME="$scratch" XDG_RUNTIME_DIR="$scratch" TMPDIR="$scratch" QT_QPA_PLATFORM=offscreen "$exe" >"$log" 2>&1 &
pid=$!
seen=
for ((k = 0; k < wait_seconds * 2; k++)); do
  seen=$(admin -d "$db" -c "SELECT VERSAO_SYNC FROM CONFIG")
  [ "$seen" = "$stamp" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
if [ "$seen" != "$stamp" ]; then
  tail -n 20 "$log" >&2
  fail "CONFIG.VERSAO_SYNC is \"$seen\", not \"$stamp\", after starting $exe"
fi
kill -0 "$pid" 2>/dev/null || fail "the installed program ended on its own; see $log"
say "The installed program stamped $stamp into CONFIG"

# The health report beside the running copy, as the same user: no terminal
# is registered, so the store is in step.
status_rc=0
setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env HOME="$scratch" TMPDIR="$scratch" timeout 60 "$exe" --status --json >"$build/package-status.json" 2>&1 \
  || status_rc=$?
[ "$status_rc" = 0 ] || { cat "$build/package-status.json" >&2; fail "$exe --status ended with $status_rc, not 0"; }
kill -0 "$pid" 2>/dev/null || fail "the running program ended while --status ran"
say "--status reports the store in step beside the running program"
