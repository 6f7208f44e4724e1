#!/usr/bin/perl
# Keeps the statement list honest without a database: fails when a text
# listed in store/statements.txt or store/statements/*.txt stands nowhere in
# src/, or when an SQL text in src/ is listed nowhere.
#
#   perl store/check_statement_list.pl [project folder]
#
# What counts as an SQL text of the code: a string literal (adjacent
# literals joined, escapes read) that begins with SELECT, INSERT, UPDATE,
# DELETE, ALTER, WITH or TRUNCATE followed by a blank, in any case.
# Successive X.addLine("...") calls on one statement make one text, their
# lines joined with line breaks, as the statement joins them; so does an
# array of literals that a loop hands to addLine element by element
# ("for (line : kLines) X.addLine(line)"). A literal
# joined to something else with "+" is a piece of a text assembled from the
# database's own catalogue (the copy engine's per-table INSERT, COPY and
# lookup texts) and is not checked.
#
# Texts built at run time: a text of the code holding %1, %2, ... (filled
# with QString::arg) is a pattern. A listed text matches it when every
# placeholder stands for a literal of src/ (a column list, a table name, a
# condition) or for a sample value made of digits and quotes only (a
# terminal number '001', a company id 1). So a listed copy reader reads
# "SELECT <the columns> FROM <the table> <its condition>" in full.
#
# Texts the code extends: a text of the code followed by further literals
# of src/ that begin no SQL text themselves (a condition, an order the code
# appends) is how the server gets it, so the list holds it whole in that
# form, once for each way the code completes it.
use strict;
use warnings;
use File::Find;
use re 'eval';

my $root = $ARGV[0] // do { (my $d = $0) =~ s{/store/[^/]*\z}{}; $d eq $0 ? '.' : $d };
my @lists = ("$root/store/statements.txt", sort glob("$root/store/statements/*.txt"));

# --- the lists -------------------------------------------------------------
my @listed;    # { text, where }
for my $file (@lists) {
    open my $in, '<:raw', $file or die "$file: $!\n";
    my $cur;
    while (my $line = <$in>) {
        $line =~ s/\r?\n\z//;
        if ($line eq '') { $cur = undef; next; }
        next if $line =~ /^#/;
        if ($line =~ /^(?:server|terminal): (.*)\z/s) {
            my $text = $1;
            (my $short = $file) =~ s{^\Q$root\E/}{};
            $cur = { text => $text, where => "$short:$." };
            push @listed, $cur;
        } elsif ($cur) {
            $cur->{text} .= "\n" . $line;
        } else {
            die "$file:$.: line outside a block\n";
        }
    }
    close $in;
}

# --- the code --------------------------------------------------------------
my @sources;
find(sub { push @sources, $File::Find::name if /\.(?:cpp|h)\z/ }, "$root/src");
@sources = sort @sources;

my $sqlStart = qr/^\s*(?:SELECT|INSERT|UPDATE|DELETE|ALTER|WITH|TRUNCATE)\s/i;
my (%literal, @texts);    # every literal run; SQL texts { text, where }

sub unescape {
    my ($s) = @_;
    $s =~ s/\\(x[0-9A-Fa-f]+|[0-7]{1,3}|.)/
        my $e = $1;
        $e eq 'n' ? "\n" : $e eq 't' ? "\t" : $e eq 'r' ? "\r"
      : $e =~ m{^x} ? chr(hex substr $e, 1) : $e =~ m{^[0-7]} ? chr(oct $e) : $e/ge;
    return $s;
}

my $stringRe = qr/(?:u8|u|L)?"((?:[^"\\\n]|\\.)*)"/s;

for my $file (@sources) {
    open my $fh, '<:raw', $file or die "$file: $!\n";
    my $src = do { local $/; <$fh> };
    close $fh;
    (my $short = $file) =~ s{^\Q$root\E/}{};

    # Comments and preprocessor lines carry no statements; blank them out
    # keeping line breaks, so line numbers stay right.
    $src =~ s{(//[^\n]*)|(/\*.*?\*/)|$stringRe|('(?:[^'\\\n]|\\.)*')}{
        defined $1 || defined $2 ? ($& =~ s/[^\n]//gr) : $&
    }gse;
    $src =~ s/^[ \t]*#[^\n]*//mg;

    # An array handed to addLine element by element: one literal, its
    # elements joined with line breaks.
    my %fed;
    while ($src =~ /\bfor\s*\([^;:()]*:\s*(\w+)\s*\)\s*\{?\s*\w+\.addLine\(/g) { $fed{$1} = 1 }
    for my $name (sort keys %fed) {
        $src =~ s{(\b\Q$name\E\s*\[\s*\]\s*=\s*\{)(.*?)(\}\s*;)}{
            my ($open, $body, $close) = ($1, $2, $3);
            my (@elements, $element);
            while ($body =~ m{$stringRe|(,)}g) {
                if (defined $1) { $element .= $1 }
                elsif (defined $element) { push @elements, $element; undef $element }
            }
            push @elements, $element if defined $element;
            my $breaks = ($body =~ tr/\n//);
            $open . '"' . join("\\n", @elements) . '"' . ("\n" x $breaks) . $close
        }se;
    }

    # Successive addLine calls on one statement: one literal, lines joined.
    $src =~ s{((\w+)\.addLine\(\s*$stringRe\s*\)\s*;(?:\s*\2\.addLine\(\s*$stringRe\s*\)\s*;)+)}{
        my $block = $1;
        my @lines;
        while ($block =~ /\.addLine\(\s*$stringRe\s*\)/g) { push @lines, $1 }
        my $joined = join "\\n", @lines;
        my $breaks = ($block =~ tr/\n//);
        "\"$joined\";" . ("\n" x $breaks)
    }gse;

    # Runs of adjacent literals, and what stands either side of each run.
    my @runs;
    my $run;
    while ($src =~ m{$stringRe|(\S)}g) {
        if (defined $1) {
            my $text = unescape($1);
            if ($run && $run->{open}) {
                $run->{text} .= $text;
            } else {
                my $line = 1 + (substr($src, 0, $-[0]) =~ tr/\n//);
                my $before = substr($src, 0, $-[0]) =~ /(\S)\s*\z/ ? $1 : '';
                $run = { text => $text, open => 1, line => $line, before => $before, after => '' };
                push @runs, $run;
            }
        } else {
            if ($run && $run->{open}) {
                $run->{open} = 0;
                $run->{after} = $2;
            }
        }
    }
    for my $r (@runs) {
        $literal{$r->{text}} = 1;
        next unless $r->{text} =~ $sqlStart;
        next if $r->{before} eq '+' || $r->{after} eq '+';
        push @texts, { text => $r->{text}, where => "$short:$r->{line}" };
    }
}

# A placeholder stands for a literal of the code or a sample value.
sub fits_placeholder { my ($piece) = @_; return $literal{$piece} || $piece =~ /^['0-9]+\z/; }

sub pattern_of {
    my ($text) = @_;
    my $re = join '', map {
        /^%\d+\z/ ? '(.*?)(?(?{ main::fits_placeholder($^N) })|(*FAIL))' : quotemeta
    } split /(%\d+)/, $text;
    return qr/\A$re\z/s;
}

# The rest of a listed text after a text of the code, made of literals of
# src/ that begin no SQL text.
sub made_of_tails {
    my ($rest) = @_;
    my $n = length $rest;
    return 0 unless $n;
    my @reach = (1);
    for my $i (0 .. $n - 1) {
        next unless $reach[$i];
        for my $j ($i + 1 .. $n) {
            my $piece = substr($rest, $i, $j - $i);
            $reach[$j] = 1 if $literal{$piece} && $piece !~ $sqlStart;
        }
    }
    return $reach[$n] // 0;
}

my %inCode;       # listed index => found
my @unlisted;
my %listedText = map { ($_->{text} => 1) } @listed;
for my $t (@texts) {
    if ($t->{text} =~ /%\d/) {
        my $re = pattern_of($t->{text});
        my $hit = 0;
        for my $i (0 .. $#listed) {
            next unless $listed[$i]{text} =~ $re;
            $inCode{$i} = 1;
            $hit = 1;
        }
        push @unlisted, $t unless $hit;
    } elsif ($listedText{$t->{text}}) {
        for my $i (0 .. $#listed) { $inCode{$i} = 1 if $listed[$i]{text} eq $t->{text} }
    } else {
        my $hit = 0;
        my $head = $t->{text};
        for my $i (0 .. $#listed) {
            my $l = $listed[$i]{text};
            next unless length $l > length $head && substr($l, 0, length $head) eq $head;
            next unless made_of_tails(substr($l, length $head));
            $inCode{$i} = 1;
            $hit = 1;
        }
        push @unlisted, $t unless $hit;
    }
}

my $failed = 0;
sub first_line { my ($text) = @_; my $f = (split /\n/, $text)[0] // ''; length $f > 100 ? substr($f, 0, 97) . '...' : $f }
for my $i (0 .. $#listed) {
    next if $inCode{$i};
    print "LISTED, NOT IN src/: $listed[$i]{where}: ", first_line($listed[$i]{text}), "\n";
    $failed++;
}
for my $t (@unlisted) {
    print "IN src/, NOT LISTED: $t->{where}: ", first_line($t->{text}), "\n";
    $failed++;
}
printf "%d listed texts, %d SQL texts in src/: %s\n", scalar @listed, scalar @texts,
    $failed ? "$failed problem(s)" : 'the list follows the code';
exit($failed ? 1 : 0);
