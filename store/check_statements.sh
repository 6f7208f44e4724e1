#!/usr/bin/env bash
# Proves that every SQL text in statements.txt and statements/*.txt parses and
# type-checks against
# the store schemas, the way the synchroniser sends it: each ":NAME" becomes a
# positional parameter of unknown type, so the server infers its type.
#
#   check_statements.sh [-v]     -v also lists the inferred parameter types
#
# Starts a throw-away PostgreSQL 15 cluster (as the postgres user, data under
# /tmp, 127.0.0.1:55999 only, socket in /tmp), loads server.sql and
# terminal.sql into two databases and then:
#   1. PREPAREs every statement on its side (statements that cannot be
#      prepared, ALTER TABLE, run inside a transaction that is rolled back);
#   2. feeds the text forms the program binds (dates as date-times, times with
#      milliseconds, numbers with a dot, empty texts, sequence names) to every
#      parameter type that step 1 inferred;
#   3. compares the columns of the tables that are copied between server and
#      terminal: a copied column must have the same type on both sides.
# The cluster is stopped and removed on exit.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
PGBIN=/usr/lib/postgresql/15/bin
PORT=55999
HOST=127.0.0.1
verbose=0
[ "${1:-}" = "-v" ] && verbose=1

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

if (echo >"/dev/tcp/$HOST/$PORT") 2>/dev/null; then
  echo "port $PORT on $HOST is already in use" >&2
  exit 2
fi

work=$(mktemp -d /tmp/qs-store-check.XXXXXX)
chmod 755 "$work"
data="$work/data"
mkdir "$data"
[ "$(id -u)" -eq 0 ] && chown postgres:postgres "$data"
chmod 700 "$data"

cleanup() {
  if [ -f "$data/postmaster.pid" ]; then
    as_postgres "'$PGBIN/pg_ctl' -D '$data' -m fast -w -t 60 stop" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

as_postgres "'$PGBIN/initdb' -D '$data' -U postgres --auth=trust -E UTF8 --locale=C.UTF-8" >/dev/null
as_postgres "'$PGBIN/pg_ctl' -D '$data' -w -t 60 -l '$data/server.log' start \
  -o \"-p $PORT -k /tmp -c listen_addresses=$HOST -c fsync=off\"" >/dev/null

psql_admin() { psql -X -q -v ON_ERROR_STOP=1 -h "$HOST" -p "$PORT" -U postgres "$@"; }
for side in server terminal; do
  psql_admin -d postgres -c "CREATE DATABASE qs_check_$side" >/dev/null
  psql_admin -d "qs_check_$side" -f "$here/$side.sql" >/dev/null
done

lists=("$here/statements.txt")
for extra in "$here"/statements/*.txt; do [ -f "$extra" ] && lists+=("$extra"); done

QS_HOST=$HOST QS_PORT=$PORT QS_VERBOSE=$verbose QS_WORK=$work \
perl - "${lists[@]}" <<'PERL'
use strict;
use warnings;

my ($host, $port, $verbose, $work) = @ENV{qw(QS_HOST QS_PORT QS_VERBOSE QS_WORK)};

# Runs an SQL script on one side; returns (ok, output).
sub run_sql {
    my ($side, $sql) = @_;
    my $path = "$work/stmt.sql";
    open my $fh, '>:raw', $path or die "$path: $!";
    print $fh $sql;
    close $fh;
    my $out = `psql -X -q -At -v ON_ERROR_STOP=1 -h $host -p $port -U postgres -d qs_check_$side -f $path 2>&1`;
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

my (%count, @failures, %types_seen);
my $k = 0;
for my $s (@stmts) {
    $k++;
    my ($sql, @names) = positional($s->{text});
    my ($ok, $out);
    if ($sql =~ /^\s*(SELECT|INSERT|UPDATE|DELETE)\b/i) {
        ($ok, $out) = run_sql($s->{side},
            "PREPARE qs_stmt AS $sql;\n"
          . "SELECT array_to_string(parameter_types::text[], ',') FROM pg_prepared_statements WHERE name = 'qs_stmt';\n");
    } else {
        ($ok, $out) = run_sql($s->{side}, "BEGIN;\n$sql;\nROLLBACK;\n");
        $out = '' if $ok;
    }
    my $first = (split /\n/, $s->{text})[0];
    $first = substr($first, 0, 90) . '...' if length $first > 93;
    if ($ok) {
        $count{"$s->{side} ok"}++;
        chomp $out;
        my @types = split /,/, $out;
        $types_seen{$_} = 1 for @types;
        if ($verbose) {
            my $params = join ', ', map { ":$names[$_]=" . ($types[$_] // '?') } 0 .. $#names;
            printf "ok   %-8s #%-3d %s\n", $s->{side}, $k, $first;
            print  "                    $params\n" if @names;
        }
    } else {
        $count{"$s->{side} failed"}++;
        $out =~ s/^psql:[^:]*:\d+: //mg;
        push @failures, sprintf("FAIL %-8s #%-3d (%s line %d) %s\n%s",
                                $s->{side}, $k, $s->{file}, $s->{line}, $first, $out);
    }
}

# Text forms the program binds, per inferred parameter type.
my %forms = (
    'date'                   => ["2024-05-01", "2024-05-01 00:00:00", "2024-05-01T13:45:10", "2024-05-01 13:45:10.123", "1899-12-30 00:00:00"],
    'time without time zone' => ["13:45:10", "13:45:10.123", "00:00:00"],
    'integer'                => ["7", "0", "-1", "2147483647"],
    'numeric'                => ["12.5", "1234.56", "0", "-3.75", "0.01", "1e-05"],
    'character varying'      => ["", "abc"],
    'text'                   => ["", "abc"],
    'regclass'               => ["GEN_TRANSACOES", "GEN_FECHAMENTO"],
    'oid'                    => ["16384"],
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
