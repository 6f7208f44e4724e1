#!/usr/bin/env bash
# Proves that every SQL text in statements.txt and statements/*.txt parses and
# type-checks against
# the store schemas, the way the synchroniser sends it: each ":NAME" becomes a
# positional parameter of unknown type, so the server infers its type.
#
#   check_statements.sh [-v]                  on a throw-away cluster
#   check_statements.sh --test-cluster [-v]   on the test suite's cluster
#
#   -v also lists the inferred parameter types.
#
# On its own it starts a throw-away PostgreSQL 15 cluster (as the postgres
# user, data under /tmp, 127.0.0.1:55999 only, socket in /tmp), stopped and
# removed on exit. With --test-cluster (the ctest "statements_prepare") it
# uses the running cluster the tests use, named as they name it by
# QS_TEST_PGHOST, QS_TEST_PGPORT, QS_TEST_PGUSER and QS_TEST_PGPASSWORD, and
# makes two databases of its own there, dropped on exit. Either way it loads
# server.sql and terminal.sql into two databases and then:
#   1. PREPAREs every statement on its side (statements that cannot be
#      prepared, ALTER TABLE, run inside a transaction that is rolled back);
#   2. feeds the text forms the program binds (dates as date-times, times with
#      milliseconds, numbers with a dot, empty texts, sequence names) to every
#      parameter type that step 1 inferred;
#   3. compares the columns of the tables that are copied between server and
#      terminal: a copied column must have the same type on both sides.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
PGBIN=/usr/lib/postgresql/15/bin
verbose=0
test_cluster=0
for arg in "$@"; do
  case $arg in
    -v) verbose=1 ;;
    --test-cluster) test_cluster=1 ;;
    *) echo "usage: check_statements.sh [--test-cluster] [-v]" >&2; exit 2 ;;
  esac
done

as_postgres() {
  if [ "$(id -un)" = postgres ]; then
    sh -c "$1"
  elif [ "$(id -u)" -eq 0 ]; then
    su postgres -s /bin/sh -c "$1"
  else
    echo "run as root or as postgres" >&2
    exit 2
  fi
}

work=$(mktemp -d /tmp/qs-store-check.XXXXXX)
chmod 755 "$work"

if [ "$test_cluster" = 1 ]; then
  HOST=${QS_TEST_PGHOST:-127.0.0.1}
  PORT=${QS_TEST_PGPORT:-5432}
  USER_NAME=${QS_TEST_PGUSER:-postgres}
  [ -n "${QS_TEST_PGPASSWORD:-}" ] && export PGPASSWORD=$QS_TEST_PGPASSWORD
  DB_SERVER=qs_stmt_server_$$
  DB_TERMINAL=qs_stmt_terminal_$$
else
  HOST=127.0.0.1
  PORT=55999
  USER_NAME=postgres
  DB_SERVER=qs_check_server
  DB_TERMINAL=qs_check_terminal
fi
psql_admin() { psql -X -q -v ON_ERROR_STOP=1 -h "$HOST" -p "$PORT" -U "$USER_NAME" "$@"; }

data="$work/data"
cleanup() {
  if [ "$test_cluster" = 1 ]; then
    for db in "$DB_SERVER" "$DB_TERMINAL"; do
      psql_admin -d postgres -c "DROP DATABASE IF EXISTS $db WITH (FORCE)" >/dev/null 2>&1 || true
    done
  elif [ -f "$data/postmaster.pid" ]; then
    as_postgres "'$PGBIN/pg_ctl' -D '$data' -m fast -w -t 60 stop" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

if [ "$test_cluster" = 0 ]; then
  if (echo >"/dev/tcp/$HOST/$PORT") 2>/dev/null; then
    echo "port $PORT on $HOST is already in use" >&2
    exit 2
  fi
  mkdir "$data"
  [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$data"
  chmod 700 "$data"
  as_postgres "'$PGBIN/initdb' -D '$data' -U postgres --auth=trust -E UTF8 --locale=C.UTF-8" >/dev/null
  as_postgres "'$PGBIN/pg_ctl' -D '$data' -w -t 60 -l '$data/server.log' start \
    -o \"-p $PORT -k /tmp -c listen_addresses=$HOST -c fsync=off\"" >/dev/null
fi

for db in "$DB_SERVER:server" "$DB_TERMINAL:terminal"; do
  psql_admin -d postgres -c "CREATE DATABASE ${db%%:*}" >/dev/null
  psql_admin -d "${db%%:*}" -f "$here/${db##*:}.sql" >/dev/null
done

lists=("$here/statements.txt")
for extra in "$here"/statements/*.txt; do [ -f "$extra" ] && lists+=("$extra"); done

QS_HOST=$HOST QS_PORT=$PORT QS_USER=$USER_NAME QS_DB_SERVER=$DB_SERVER QS_DB_TERMINAL=$DB_TERMINAL \
QS_VERBOSE=$verbose QS_WORK=$work \
perl - "${lists[@]}" <<'PERL'
use strict;
use warnings;

my ($host, $port, $user, $verbose, $work) = @ENV{qw(QS_HOST QS_PORT QS_USER QS_VERBOSE QS_WORK)};
my %database = (server => $ENV{QS_DB_SERVER}, terminal => $ENV{QS_DB_TERMINAL});

# Runs an SQL script on one side; returns (ok, output).
sub run_sql {
    my ($side, $sql) = @_;
    my $path = "$work/stmt.sql";
    open my $fh, '>:raw', $path or die "$path: $!";
    print $fh $sql;
    close $fh;
    my $out = `psql -X -q -At -v ON_ERROR_STOP=1 -h $host -p $port -U $user -d $database{$side} -f $path 2>&1`;
    return ($? == 0, $out);
}

# ":NAME" -> "$n" (one number per name, names without regard to case);
# quoted texts, quoted identifiers and "::" casts are left alone.
sub positional {
    my ($sql) = @_;
    my (%num, @names);
    my $out = '';
    my $i = 0;
    my $n = length $sql;
    while ($i < $n) {
        my $c = substr($sql, $i, 1);
        if ($c eq "'" || $c eq '"') {
            my $j = index($sql, $c, $i + 1);
            $j = $n - 1 if $j < 0;
            $out .= substr($sql, $i, $j - $i + 1);
            $i = $j + 1;
        } elsif ($c eq ':' && substr($sql, $i + 1, 1) eq ':') {
            $out .= '::';
            $i += 2;
        } elsif ($c eq ':' && substr($sql, $i + 1) =~ /^([A-Za-z_][A-Za-z0-9_]*)/) {
            my $name = uc $1;
            unless ($num{$name}) { push @names, $name; $num{$name} = scalar @names; }
            $out .= '$' . $num{$name};
            $i += 1 + length $1;
        } else {
            $out .= $c;
            $i++;
        }
    }
    return ($out, @names);
}

# Blocks: "server:" / "terminal:" + first line, further lines up to a blank line.
my @stmts;
for my $file (@ARGV) {
    (my $short = $file) =~ s{.*/(statements/)}{$1};
    $short =~ s{.*/}{} unless $short =~ m{^statements/};
    open my $in, '<:raw', $file or die "$file: $!";
    my $cur;
    while (my $line = <$in>) {
        $line =~ s/\r?\n\z//;
        if ($line eq '') { $cur = undef; next; }
        next if $line =~ /^#/;
        if ($line =~ /^(server|terminal): (.*)\z/s) {
            $cur = { side => $1, text => $2, line => $., file => $short };
            push @stmts, $cur;
        } elsif ($cur) {
            $cur->{text} .= "\n" . $line;
        } else {
            die "$file:$.: line outside a block\n";
        }
    }
    close $in;
}

# Every statement of one side in one psql session, each in a chunk of
# lines of its own: PREPAREd and followed by a line "qs_ok:K:<parameter
# types>", or (statements that cannot be prepared) run in a transaction
# that is rolled back, its "qs_ok:K:" line read before the rollback. A
# statement without its line failed; psql names the line of each error, so
# the chunk tells whose error it is.
my (%result, %errors);    # K => parameter types; K => error text
for my $side (qw(server terminal)) {
    my ($script, $line, @chunks) = ('', 1);
    my $k = 0;
    for my $s (@stmts) {
        $k++;
        next unless $s->{side} eq $side;
        my ($sql) = positional($s->{text});
        my $chunk = $sql =~ /^\s*(SELECT|INSERT|UPDATE|DELETE)\b/i
            ? "PREPARE qs_stmt AS $sql;\nSELECT 'qs_ok:$k:' || array_to_string(parameter_types::text[], ',') "
              . "FROM pg_prepared_statements WHERE name = 'qs_stmt';\nDEALLOCATE ALL;\n"
            : "BEGIN;\n$sql;\nSELECT 'qs_ok:$k:';\nROLLBACK;\n";
        my $lines = ($chunk =~ tr/\n//);
        push @chunks, [$k, $line, $line + $lines - 1];
        $script .= $chunk;
        $line += $lines;
    }
    my $path = "$work/$side.sql";
    open my $fh, '>:raw', $path or die "$path: $!";
    print $fh $script;
    close $fh;
    my $out = `psql -X -q -At -h $host -p $port -U $user -d $database{$side} -f $path 2>$work/$side.err`;
    for (split /\n/, $out) { $result{$1} = $2 if /^qs_ok:(\d+):(.*)\z/ }
    open my $err, '<:raw', "$work/$side.err" or die "$work/$side.err: $!";
    # The first error of a chunk is the statement's own; what follows it in
    # the chunk only says the transaction was already lost.
    my $current;
    while (my $e = <$err>) {
        if ($e =~ /^psql:[^:]*:(\d+): (.*)\z/s) {
            my ($at, $text) = ($1, $2);
            ($current) = map { $_->[0] } grep { $at >= $_->[1] && $at <= $_->[2] } @chunks;
            $current = undef if defined $current && (exists $result{$current} || exists $errors{$current});
            $errors{$current} = $text if defined $current;
        } elsif (defined $current) {
            $errors{$current} .= $e;    # a message's further lines
        }
    }
    close $err;
}

my (%count, @failures, %types_seen);
my $k = 0;
for my $s (@stmts) {
    $k++;
    my (undef, @names) = positional($s->{text});
    my $first = (split /\n/, $s->{text})[0];
    $first = substr($first, 0, 90) . '...' if length $first > 93;
    if (exists $result{$k}) {
        $count{"$s->{side} ok"}++;
        my @types = split /,/, $result{$k};
        $types_seen{$_} = 1 for @types;
        if ($verbose) {
            my $params = join ', ', map { ":$names[$_]=" . ($types[$_] // '?') } 0 .. $#names;
            printf "ok   %-8s #%-3d %s\n", $s->{side}, $k, $first;
            print  "                    $params\n" if @names;
        }
    } else {
        $count{"$s->{side} failed"}++;
        push @failures, sprintf("FAIL %-8s #%-3d (%s line %d) %s\n%s",
                                $s->{side}, $k, $s->{file}, $s->{line}, $first, $errors{$k} // "no answer\n");
    }
}

# Text forms the program binds, per inferred parameter type.
my %forms = (
    'date'                   => ["2024-05-01", "2024-05-01 00:00:00", "2024-05-01T13:45:10", "2024-05-01 13:45:10.123", "1899-12-30 00:00:00"],
    'time without time zone' => ["13:45:10", "13:45:10.123", "00:00:00"],
    'integer'                => ["7", "0", "-1", "2147483647"],
    'bigint'                 => ["7", "0", "-1", "9223372036854775807"],
    'numeric'                => ["12.5", "1234.56", "0", "-3.75", "0.01", "1e-05"],
    'character varying'      => ["", "abc"],
    'text'                   => ["", "abc"],
    'regclass'               => ["GEN_TRANSACOES", "GEN_FECHAMENTO"],
    'oid'                    => ["16384"],
    'name'                   => ["", "quibor"],
    'double precision'       => ["0", "1.5", "12"],
    'timestamp with time zone' => ["2024-05-01 13:45:10.123456+00", "2024-05-01 13:45:10-03"],
);
my @form_failures;
for my $type (sort keys %types_seen) {
    my $samples = $forms{$type};
    unless ($samples) { push @form_failures, "no sample forms for parameter type $type\n"; next; }
    for my $v (@$samples) {
        (my $lit = $v) =~ s/'/''/g;
        my ($ok, $out) = run_sql('server', "SELECT '$lit'::$type;\n");
        push @form_failures, "'$v' is not accepted as $type: $out" unless $ok;
    }
}

# Columns of the tables present on both sides must have the same type.
# CLIENTES travels through the customer export table, which cuts texts to
# the terminal's widths, so only its type names are compared.
my $colq = "SELECT table_name || '.' || column_name || '|' || data_type || '|' || "
         . "coalesce(character_maximum_length::text, '') || '|' || coalesce(numeric_precision::text, '') || '|' || "
         . "coalesce(numeric_scale::text, '') FROM information_schema.columns WHERE table_schema = 'public';\n";
my %cols;
for my $side (qw(server terminal)) {
    my ($ok, $out) = run_sql($side, $colq);
    die "column listing failed on $side: $out" unless $ok;
    for (split /\n/, $out) {
        my ($col, @t) = split /\|/, $_, -1;
        $cols{$side}{$col} = \@t;
    }
}
my %tables = map { (split /\./)[0] => 1 } keys %{ $cols{terminal} };
my %server_tables = map { (split /\./)[0] => 1 } keys %{ $cols{server} };
my @copy_failures;
for my $col (sort keys %{ $cols{terminal} }) {
    my ($table) = split /\./, $col;
    next unless $server_tables{$table};
    my $t = $cols{terminal}{$col};
    my $s = $cols{server}{$col};
    next unless $s;    # terminal-only column (EXPORTADO, computed balances...)
    my @ts = $table eq 'clientes' ? ($t->[0]) : @$t;
    my @ss = $table eq 'clientes' ? ($s->[0]) : @$s;
    push @copy_failures, "$col: server " . join('/', @$s) . ", terminal " . join('/', @$t) . "\n"
        if join('|', @ts) ne join('|', @ss);
}
# Tables copied with SELECT * need the same column set on both sides.
for my $table (qw(empresas licenca_if config_nfiscal registro_60r)) {
    for my $pair (['server', 'terminal'], ['terminal', 'server']) {
        my ($a, $b) = @$pair;
        for my $col (grep { /^\Q$table\E\./ } keys %{ $cols{$a} }) {
            push @copy_failures, "$col exists on $a only\n" unless $cols{$b}{$col};
        }
    }
}

print @failures;
print "FORM $_" for @form_failures;
print "COPY $_" for @copy_failures;
my $total = scalar @stmts;
my $bad = scalar @failures;
printf "\n%d statements: server %d ok, %d failed; terminal %d ok, %d failed\n",
    $total, $count{'server ok'} // 0, $count{'server failed'} // 0,
    $count{'terminal ok'} // 0, $count{'terminal failed'} // 0;
printf "parameter types inferred: %s\n", join(', ', sort keys %types_seen);
printf "bind forms: %s\n", @form_failures ? scalar(@form_failures) . " problem(s)" : "all accepted";
printf "copied columns: %s\n", @copy_failures ? scalar(@copy_failures) . " mismatch(es)" : "same types on both sides";
exit(($bad || @form_failures || @copy_failures) ? 1 : 0);
PERL
