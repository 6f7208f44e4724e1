SELECT ':a', ":b", E'\':c', $$ :d $$, $t$ :e $t$, x::text, a$b, /* :f /* :g */ :h */ :i -- :j
, :K_2
