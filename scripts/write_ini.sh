#!/usr/bin/env bash
# Writes Quibor.ini as the store's installer would: Windows line ends, the
# user name and password stored with every character's code raised by 3.
#   write_ini.sh FILE HOST PORT DATABASE USER PASSWORD
set -euo pipefail
file=$1 host=$2 port=$3 database=$4 user=$5 password=$6

shift3() {
  perl -CSA -e 'binmode(STDOUT, ":encoding(UTF-8)"); print join "", map { chr(ord($_) + 3) } split //, $ARGV[0]' "$1"
}

{
  printf '[Conexão Postgres]\r\n'
  printf 'Server Name=%s\r\n' "$host"
  printf 'Porta=%s\r\n' "$port"
  printf 'Base Name=%s\r\n' "$database"
  printf 'User Name=%s\r\n' "$(shift3 "$user")"
  printf 'Password=%s\r\n' "$(shift3 "$password")"
} > "$file"
