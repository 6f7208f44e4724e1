#!/usr/bin/env bash
# The demo store's point-of-sale software. Round-robin over the terminals
# registered in the server's LICENCA_IF (only those on 127.0.0.1), one event
# every QS_SIM_INTERVAL seconds: a till rings up an NFC-e sale (TRANSACOES,
# TRANSITENS, TRANSPARCELAS, FECHAMENTO_CUPOM, COMPL_NFCEFISCAL and, when paid
# by cheque, CHEQUES_RECEBIDOS, all with EXPORTADO 0) or, every eleventh
# event, cancels its latest sale (EXPORTADO 3 and a NOTAS_CANCELADAS_NFCE
# row); then the terminal's IMPORTACAO is set to 1 on the server and "venda"
# is raised. Every ninth event the back office also changes a customer and
# raises "clientes".
#   simulator.sh PORT LOGFILE
# Appends one tab-separated line per event to LOGFILE:
#   when  event(venda|cancelamento|clientes)  ecf  num_doc  transacao  valor  pagamento  itens
# Runs until SIGTERM or SIGINT (finishing the event in hand), or until a bound
# is reached. Environment:
#   QS_SIM_INTERVAL     seconds between two events (2)
#   QS_SIM_WAIT         whole seconds a till waits for the server to have served
#                       its previous import request before ringing again (4)
#   QS_SIM_USER, QS_SIM_PASSWORD  login to the server database
#   QS_SIM_SERVER_DB    server database (quibor_server)
#   QS_SIM_PARENT       stop as soon as this process is gone
#   QS_SIM_SEED         seed of the random choices
#   QS_SIM_ECF          only this terminal (NUM_ECF, e.g. 002): one simulator per
#                       till rings up in parallel with the others
#   QS_SIM_MAX_SECONDS  (28800), QS_SIM_MAX_EVENTS (20000): hard bounds
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 PORT LOGFILE" >&2
  exit 2
fi
port=$1
log=$2
interval=${QS_SIM_INTERVAL:-2}
wait_limit=${QS_SIM_WAIT:-4}
srv_user=${QS_SIM_USER:-quibor}
srv_password=${QS_SIM_PASSWORD:-'Loja "Centro" #1'}
srv_db=${QS_SIM_SERVER_DB:-quibor_server}
only_ecf=${QS_SIM_ECF:-}
if [ -n "$only_ecf" ] && ! [[ $only_ecf =~ ^[0-9]{3}$ ]]; then
  echo "simulator: QS_SIM_ECF takes a terminal number of three digits" >&2
  exit 2
fi
parent=${QS_SIM_PARENT:-}
max_seconds=${QS_SIM_MAX_SECONDS:-28800}
max_events=${QS_SIM_MAX_EVENTS:-20000}
[ -n "${QS_SIM_SEED:-}" ] && RANDOM=$QS_SIM_SEED
for n in "$wait_limit" "$max_seconds" "$max_events"; do
  if ! [[ $n =~ ^[0-9]+$ ]]; then
    echo "simulator: QS_SIM_WAIT, QS_SIM_MAX_SECONDS and QS_SIM_MAX_EVENTS take whole numbers" >&2
    exit 2
  fi
done

# The store lives on this machine only.
readonly host=127.0.0.1
export PGCONNECT_TIMEOUT=5
export PGOPTIONS="-c statement_timeout=15000"

stop=0
sleep_pid=
trap 'stop=1; [ -n "$sleep_pid" ] && kill "$sleep_pid" 2>/dev/null' TERM INT HUP

srv() {
  PGPASSWORD=$srv_password timeout 30 psql -X -q -At -F $'\t' -v ON_ERROR_STOP=1 \
    -h "$host" -p "$port" -U "$srv_user" -d "$srv_db" "$@"
}
pdv() {
  local i=$1
  shift
  PGPASSWORD=${t_pass[i]} timeout 30 psql -X -q -At -F $'\t' -v ON_ERROR_STOP=1 \
    -h "$host" -p "${t_port[i]}" -U "${t_user[i]}" -d "${t_db[i]}" "$@"
}

# Interruptible pause: a stop request ends it at once.
nap() {
  sleep "$1" &
  sleep_pid=$!
  wait "$sleep_pid" 2>/dev/null
  kill "$sleep_pid" 2>/dev/null
  sleep_pid=
}

rnd() { R=$((RANDOM % $1)); }
# Money is kept in cents, quantities in thousandths.
money() { printf -v "$1" '%d.%02d' $(($2 / 100)) $(($2 % 100)); }
milli() { printf -v "$1" '%d.%03d' $(($2 / 1000)) $(($2 % 1000)); }
quote() { local s=${2//\'/\'\'}; printf -v "$1" "'%s'" "$s"; }

say() { printf '%(%H:%M:%S)T simulator: %s\n' -1 "$*"; }

# ---------------------------------------------------------------------------
# What the tills know: terminals, products, customers, payment methods,
# operators and the company, read once from the server.

t_ecf=() t_num=() t_db=() t_user=() t_pass=() t_port=()
while IFS=$'\t' read -r ecf banco usuario senha porta; do
  [ -n "$ecf" ] || continue
  t_ecf+=("$ecf") t_num+=($((10#$ecf))) t_db+=("$banco") t_user+=("$usuario")
  t_pass+=("$senha") t_port+=("$porta")
done < <(srv -c "SELECT NUM_ECF, BANCO, USUARIO, SENHA, PORTA FROM LICENCA_IF
                  WHERE IP = '127.0.0.1' ${only_ecf:+AND NUM_ECF = '$only_ecf'} ORDER BY NUM_ECF")
nterm=${#t_ecf[@]}
if [ "$nterm" -eq 0 ]; then
  echo "simulator: no terminal on 127.0.0.1 in LICENCA_IF of $srv_db on port $port" >&2
  exit 1
fi

p_id=() p_desc=() p_price=() p_pes=() p_trib=() p_aliq=() p_cst=() p_cfop=()
while IFS=$'\t' read -r id desc price pes trib aliq cst cfop; do
  [ -n "$id" ] || continue
  p_id+=("$id") p_desc+=("$desc") p_price+=("$price") p_pes+=("$pes") p_trib+=("$trib")
  p_aliq+=("$aliq") p_cst+=("$cst") p_cfop+=("$cfop")
done < <(srv -c "SELECT p.PRODUTO_ID, p.DESCRICAO,
                        (100 * CASE WHEN CURRENT_DATE BETWEEN p.PROMO_INICIAL AND p.PROMO_FINAL
                                     AND p.PRECO_PROMOCAO > 0 THEN p.PRECO_PROMOCAO
                                    ELSE p.PRECO_VAREJO END)::int,
                        COALESCE(p.PESAVEL, 'N'), p.TRIBUTO_ID, (100 * t.ALIQUOTA_ICMS)::int,
                        t.TRIBUTACAO, t.CFOP
                   FROM PRODUTOS p JOIN TRIBUTOS t ON t.TRIBUTO_ID = p.TRIBUTO_ID
                  WHERE p.STATUS = 'A' AND p.PRECO_VAREJO > 0 ORDER BY p.PRODUTO_ID")
nprod=${#p_id[@]}

# Customers who may buy on account or pay by cheque: active, not blocked, and
# not the holder of an agreement payment method.
c_id=() c_nome=() c_doc=() c_end=() c_bairro=() c_mun=() c_cheque=()
while IFS=$'\t' read -r id nome doc endereco bairro mun bloq_cheque; do
  [ -n "$id" ] || continue
  c_id+=("$id") c_nome+=("$nome") c_doc+=("$doc") c_end+=("$endereco") c_bairro+=("$bairro")
  c_mun+=("$mun") c_cheque+=("$bloq_cheque")
done < <(srv -c "SELECT CLIENTE_ID, left(NOME, 70), COALESCE(CNPJ, ''), COALESCE(ENDERECO, ''),
                        COALESCE(BAIRRO, ''), COALESCE(MUNICIPIO, ''), COALESCE(BLOQ_CHEQUE, 'NAO')
                   FROM CLIENTES
                  WHERE STATUS = 'A' AND COALESCE(BLOQUEADO, 'NAO') <> 'SIM'
                    AND CLIENTE_ID NOT IN (SELECT CLIENTE_ID FROM FINALIZADORAS WHERE CLIENTE_ID > 0)
                  ORDER BY CLIENTE_ID")
ncli=${#c_id[@]}

fin_cash= fin_pix= fin_prazo= fin_cheque= fin_cards=()
declare -A fin_legenda=()
while IFS=$'\t' read -r id legenda tipo; do
  [ -n "$id" ] || continue
  fin_legenda[$id]=$legenda
  case $tipo in
    D) : "${fin_cash:=$id}" ;;
    C) fin_cards+=("$id") ;;
    P) : "${fin_pix:=$id}" ;;
    T) : "${fin_prazo:=$id}" ;;
    Q) : "${fin_cheque:=$id}" ;;
  esac
done < <(srv -c "SELECT FINALIZADORA_ID, COALESCE(LEGENDA, DESCRICAO), TIPO_TRANSACAO
                   FROM FINALIZADORAS WHERE COALESCE(CLIENTE_ID, 0) = 0 ORDER BY FINALIZADORA_ID")

o_id=() o_nome=() o_num=()
while IFS=$'\t' read -r id nome num; do
  [ -n "$id" ] || continue
  o_id+=("$id") o_nome+=("$nome") o_num+=("$num")
done < <(srv -c "SELECT FUNCIONARIO_ID, NOME, COALESCE(OPERADOR_ID, 0) FROM OPERADORES ORDER BY FUNCIONARIO_ID")

mapfile -t entidades < <(srv -c "SELECT ENTIDADE_ID FROM ENTIDADES_DOACAO ORDER BY 1")
IFS=$'\t' read -r empresa_id empresa_cnpj < <(srv -c "SELECT EMPRESA_ID, regexp_replace(COALESCE(CNPJ, ''), '\D', '', 'g')
                   FROM EMPRESAS WHERE STATUS = 'A' ORDER BY EMPRESA_ID DESC LIMIT 1")

if [ "$nprod" -eq 0 ] || [ -z "$fin_cash" ] || [ ${#o_id[@]} -eq 0 ] || [ -z "${empresa_id:-}" ]; then
  echo "simulator: the server lacks products, a cash payment method, operators or an active company" >&2
  exit 1
fi
printf -v empresa_cnpj '%014d' "$((10#${empresa_cnpj:-0}))"

# Next terminal sale id and receipt number of each till; an empty till starts
# its receipts at 1000 times its number.
next_tid=() next_doc=()
read_counters() {
  local i=$1 tid doc
  IFS=$'\t' read -r tid doc < <(pdv "$i" -c "SELECT COALESCE(max(TRANSACAO_ID), 0),
                                                    COALESCE(max(CAST(NUM_DOC AS integer)), 0)
                                               FROM TRANSACOES")
  [ -n "${tid:-}" ] || return 1
  next_tid[i]=$((tid + 1))
  if [ "$doc" -gt 0 ]; then next_doc[i]=$((doc + 1)); else next_doc[i]=$((1000 * t_num[i] + 1)); fi
}
for ((i = 0; i < nterm; i++)); do
  if ! read_counters "$i"; then
    echo "simulator: cannot read terminal database ${t_db[i]}" >&2
    exit 1
  fi
done

# ---------------------------------------------------------------------------
# NFC-e access key: 43 digits and a mod-11 check digit.

nfce_key() {
  local -n out=$1
  local yymm=$2 serie=$3 nnf=$4 tpemis=$5 cnf base sum=0 weight=2 k dv
  printf -v cnf '%08d' $(((RANDOM * 32768 + RANDOM) % 100000000))
  printf -v base '35%s%s65%03d%09d%s%s' "$yymm" "$empresa_cnpj" "$serie" "$nnf" "$tpemis" "$cnf"
  for ((k = ${#base} - 1; k >= 0; k--)); do
    sum=$((sum + ${base:k:1} * weight))
    weight=$((weight == 9 ? 2 : weight + 1))
  done
  dv=$((sum % 11 < 2 ? 0 : 11 - sum % 11))
  out=$base$dv
}

log_event() {
  local line
  printf -v line '%(%Y-%m-%d %H:%M:%S)T\t%s\t%s\t%s\t%s\t%s\t%s\t%s' -1 "$@"
  printf '%s\n' "$line" >>"$log"
}

# ---------------------------------------------------------------------------
# One sale on till i.

ring_sale() {
  local i=$1
  local n=${t_num[i]} ecf=${t_ecf[i]} tid=${next_tid[i]} doc=${next_doc[i]}
  local today hora yymm cupom
  printf -v today '%(%Y-%m-%d)T' -1
  printf -v hora '%(%H:%M:%S)T' -1
  printf -v yymm '%(%y%m)T' -1
  printf -v cupom '%08d' "$doc"
  local op=$(((n - 1) % ${#o_id[@]}))
  local func_id=${o_id[op]} op_num=${o_num[op]} op_nome
  quote op_nome "${o_nome[op]}"

  # Items: distinct products (the server keeps one row per product of a sale).
  local nitems k idx attempts=0 chosen=" " items_sql="" sep=""
  rnd 6; nitems=$((R + 1))
  rnd 5; [ "$R" -eq 0 ] && nitems=$((nitems + 3))
  [ "$nitems" -gt "$nprod" ] && nitems=$nprod
  local valor=0 produtos=0 descontos=0 base_icms=0 icms_total=0 unidades=0
  for ((k = 1; k <= nitems && attempts < 200; attempts++)); do
    rnd "$nprod"; idx=$R
    [[ $chosen == *" $idx "* ]] && continue
    chosen+="$idx "
    local price=${p_price[idx]} qm gross disc total base icms pis cofins aliq=${p_aliq[idx]}
    if [ "${p_pes[idx]}" = S ]; then
      rnd 2350; qm=$((150 + R))
    else
      rnd 10
      case $R in 7 | 8) qm=2000 ;; 9) qm=6000 ;; *) qm=1000 ;; esac
    fi
    gross=$(((price * qm + 500) / 1000))
    rnd 25; disc=0; [ "$R" -eq 0 ] && disc=$((gross * 5 / 100))
    total=$((gross - disc))
    case ${p_cst[idx]} in
      000 | 020) base=$total; icms=$(((total * aliq + 5000) / 10000)) ;;
      *) base=0; icms=0 ;;
    esac
    pis=$(((total * 165 + 5000) / 10000))
    cofins=$(((total * 760 + 5000) / 10000))
    local s_qty s_unit s_disc s_total s_aliq s_base s_icms s_pis s_cofins s_desc
    milli s_qty "$qm"; money s_unit "$price"; s_unit+=0
    money s_disc "$disc"; money s_total "$total"; money s_aliq "$aliq"
    money s_base "$base"; money s_icms "$icms"; money s_pis "$pis"; money s_cofins "$cofins"
    quote s_desc "${p_desc[idx]}"
    items_sql+="$sep($tid, $k, $n, '$today', ${p_id[idx]}, $s_desc, 301, ${p_trib[idx]}, '${p_cst[idx]}', '${p_cfop[idx]}', 'P',
   $s_qty, $s_unit, $s_disc, 0, 0, 0, $s_total, $s_aliq, $s_base, $s_icms, 0, 0, 0, 0,
   $s_total, 1.65, $s_pis, $s_total, 7.60, $s_cofins, 0)"
    sep=$',\n '
    valor=$((valor + total)); produtos=$((produtos + gross)); descontos=$((descontos + disc))
    base_icms=$((base_icms + base)); icms_total=$((icms_total + icms)); unidades=$((unidades + qm))
    k=$((k + 1))
  done
  nitems=$((k - 1))

  # Payment. Receipts on account and by cheque need a registered customer.
  local kind cliente=0 ci=-1
  rnd 100
  if [ "$R" -lt 38 ]; then kind=cash
  elif [ "$R" -lt 64 ]; then kind=card
  elif [ "$R" -lt 76 ]; then kind=pix
  elif [ "$R" -lt 84 ]; then kind=split
  elif [ "$R" -lt 94 ]; then kind=prazo
  else kind=cheque
  fi
  [ "$kind" = pix ] && [ -z "$fin_pix" ] && kind=cash
  [ "$kind" = card ] && [ ${#fin_cards[@]} -eq 0 ] && kind=cash
  [ "$kind" = split ] && { [ ${#fin_cards[@]} -eq 0 ] || [ "$valor" -lt 2000 ]; } && kind=cash
  if [ "$kind" = prazo ] || [ "$kind" = cheque ]; then
    if [ "$ncli" -eq 0 ]; then kind=cash; else rnd "$ncli"; ci=$R; fi
    [ "$kind" = prazo ] && [ -z "$fin_prazo" ] && kind=cash
    if [ "$kind" = cheque ] && { [ -z "$fin_cheque" ] || [ "${c_cheque[ci]}" = SIM ]; }; then
      kind=${fin_prazo:+prazo}; kind=${kind:-cash}
    fi
  fi
  if [ "$ci" -lt 0 ] && [ "$ncli" -gt 0 ]; then
    # Some customers ask for their tax number on the receipt.
    rnd 100; [ "$R" -lt 15 ] && { rnd "$ncli"; ci=$R; }
  fi
  [ "$ci" -ge 0 ] && cliente=${c_id[ci]}

  local cond fin parcela_hdr="''" num_cheque="''"
  local -a pay_fin=() pay_val=() pay_tipo=() pay_venc=()
  case $kind in
    cash) cond="'A VISTA'"; pay_fin=("$fin_cash"); pay_val=("$valor"); pay_tipo=(D); pay_venc=(0) ;;
    pix) cond="'A VISTA'"; pay_fin=("$fin_pix"); pay_val=("$valor"); pay_tipo=(P); pay_venc=(0) ;;
    card)
      rnd ${#fin_cards[@]}
      cond="'CARTAO'"; pay_fin=("${fin_cards[R]}"); pay_val=("$valor"); pay_tipo=(C); pay_venc=(0) ;;
    split)
      # Part in cash (a round amount), the rest by card; never two equal lines.
      local cash_part=$(((valor / 2) / 500 * 500))
      [ "$cash_part" -lt 500 ] && cash_part=500
      [ $((valor - cash_part)) -eq "$cash_part" ] && cash_part=$((cash_part - 100))
      rnd ${#fin_cards[@]}
      cond="'A VISTA'"; pay_fin=("$fin_cash" "${fin_cards[R]}")
      pay_val=("$cash_part" $((valor - cash_part))); pay_tipo=(D C); pay_venc=(0 0) ;;
    prazo)
      local np share
      rnd 3; np=$((R + 1)); share=$((valor / np))
      cond="'A PRAZO'"; parcela_hdr="'0000F'"
      for ((k = 1; k <= np; k++)); do
        pay_fin+=("$fin_prazo"); pay_tipo+=(T); pay_venc+=($((30 * k)))
        if [ "$k" -lt "$np" ]; then pay_val+=("$share"); else pay_val+=($((valor - share * (np - 1)))); fi
      done ;;
    cheque)
      local cheque_no
      printf -v cheque_no '%06d' $(((RANDOM * 7 + n * 1000) % 1000000))
      cond="'CHEQUE'"; num_cheque="'$cheque_no'"
      pay_fin=("$fin_cheque"); pay_val=("$valor"); pay_tipo=(Q); pay_venc=(30) ;;
  esac
  fin=${pay_fin[0]}
  local npay=${#pay_fin[@]}

  # The NFC-e: now and then issued in contingency, without authorisation yet.
  local tpemis=1 transmissao="'AUTORIZADA'" recibo protocolo erro="''" key xml
  rnd 25
  if [ "$R" -eq 0 ]; then
    tpemis=9; transmissao="'CONTINGENCIA'"; recibo="''"; protocolo="''"
    erro="'Rejeicao 108: Servico Paralisado Momentaneamente (curto prazo)'"
  else
    printf -v recibo "'35%013d'" $(((RANDOM * 32768 + RANDOM) * 100 + tid % 100))
    printf -v protocolo "'135%s%010d'" "${yymm:0:2}" $(((RANDOM * 32768 + RANDOM) % 10000000000))
  fi
  nfce_key key "$yymm" "$n" "$doc" "$tpemis"
  local s_valor s_produtos s_descontos s_base_icms s_icms s_unidades
  money s_valor "$valor"; money s_produtos "$produtos"; money s_descontos "$descontos"
  money s_base_icms "$base_icms"; money s_icms "$icms_total"; milli s_unidades "$unidades"
  xml="'<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc versao=\"4.00\" xmlns=\"http://www.portalfiscal.inf.br/nfe\"><NFe><infNFe Id=\"NFe$key\" versao=\"4.00\"><ide><cUF>35</cUF><mod>65</mod><serie>$n</serie><nNF>$doc</nNF><dhEmi>${today}T$hora-03:00</dhEmi><tpEmis>$tpemis</tpEmis></ide><total><ICMSTot><vBC>$s_base_icms</vBC><vICMS>$s_icms</vICMS><vProd>$s_produtos</vProd><vDesc>$s_descontos</vDesc><vNF>$s_valor</vNF></ICMSTot></total></infNFe></NFe>"
  [ "$tpemis" = 1 ] && xml+="<protNFe versao=\"4.00\"><infProt><chNFe>$key</chNFe><nProt>${protocolo//\'/}</nProt><cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo></infProt></protNFe>"
  xml+="</nfeProc>'"

  # Instalments, one per payment line; closing lines, one per payment
  # method (the instalments of a sale on account close as a single line).
  local entidade=0 parcelas_sql="" fech_sql="" sep2="" v s_v legenda
  local -a fech_fin=() fech_val=()
  rnd 20; [ "$R" -eq 0 ] && [ ${#entidades[@]} -gt 0 ] && { rnd ${#entidades[@]}; entidade=${entidades[R]}; }
  for ((k = 0; k < npay; k++)); do
    money s_v "${pay_val[k]}"
    parcelas_sql+="$sep2($tid, '$((k + 1))/$npay', '${pay_tipo[k]}', 0, $n, '$today', DATE '$today' + ${pay_venc[k]}, $s_v, '$cupom-$((k + 1))', 0)"
    sep2=$',\n '
    v=${#fech_fin[@]}
    if [ "$v" -gt 0 ] && [ "${fech_fin[v - 1]}" = "${pay_fin[k]}" ]; then
      fech_val[v - 1]=$((fech_val[v - 1] + pay_val[k]))
    else
      fech_fin+=("${pay_fin[k]}"); fech_val+=("${pay_val[k]}")
    fi
  done
  sep2=""
  for ((k = 0; k < ${#fech_fin[@]}; k++)); do
    money s_v "${fech_val[k]}"
    quote legenda "${fin_legenda[${fech_fin[k]}]}"
    fech_sql+="$sep2('$cupom', $n, $op_num, ${fech_fin[k]}, $legenda, '$today', '$hora', $s_valor, 0, $s_descontos, $s_v, 'S', $entidade, $cliente, 0)"
    sep2=$',\n '
  done

  local cheque_sql=""
  if [ "$kind" = cheque ]; then
    local q_nome q_doc q_end q_bairro q_mun
    quote q_nome "${c_nome[ci]}"; quote q_doc "${c_doc[ci]}"; quote q_end "${c_end[ci]}"
    quote q_bairro "${c_bairro[ci]}"; quote q_mun "${c_mun[ci]}"
    cheque_sql="INSERT INTO CHEQUES_RECEBIDOS (CPF_CNPJ, NUM_CHEQUE, DT_CHEQUE, EMPRESA_ID, CLIENTE_ID, NOME_CLIENTE,
  ENDERECO, BAIRRO, MUNICIPIO, DDD, TELEFONE, NOME_BANCO, VALOR, DT_VENCIMENTO, DT_MOVIMENTO, OPERADOR,
  NUM_DOC, ECF, EXPORTADO)
VALUES ($q_doc, $num_cheque, '$today', $empresa_id, $cliente, $q_nome, $q_end, $q_bairro, $q_mun, '19',
  '9$((RANDOM % 9000 + 1000))-$((RANDOM % 9000 + 1000))', 'BANCO DO BRASIL', $s_valor, DATE '$today' + 30, '$today',
  $op_nome, '$doc', $n, 0);"
  fi

  local fluxo
  printf -v fluxo '%(%j)T' -1
  fluxo=$((n * 1000 + 10#$fluxo))

  local sql="BEGIN;
INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BALANCO, BANCO_ID, BASE_ICMS_NORMAL, BASE_ICMS_ST,
  C_CUSTO_ID, CFOP, CLIENTE_ID, COMPLEMENTO, COND_PAGTO, CONDUTA, CONTA_ID, DEPTO, DT_MOVIMENTO, DT_TRANS,
  DT_ENT_SAI, EMPRESA_ID, FINALIZADORA_ID, HISTORICO, NUM_CHEQUE, NUM_DOC, PARCELA_ID, PEDIDO_ID, SERIE,
  SUB_CODIGO, CHAVE_NFE, TPCTB, VALOR, VALOR_PRODUTOS, VENDEDOR_ID, VR_ACRESCIMO, VR_DESCONTO, VR_FRETE,
  VR_ICMS_NORMAL, VR_ICMS_ST, VR_IPI, DESCONTO_ESPECIAL, MODELO, HORA, ITENS, UNIDADES, FLUXO_CAIXA_ID,
  TIPO_VENDA, FUNCIONARIO_ID, OPERADOR, EXPORTADO)
VALUES ($tid, $tid, 'N', $n, $s_base_icms, 0,
  1, '5102', $cliente, '', $cond, '01', 301, '01', '$today', '$today',
  '$today', $empresa_id, $fin, 'VENDA NFC-E $ecf/$cupom', $num_cheque, '$doc', $parcela_hdr, 0, '$ecf',
  '', '$key', '1', $s_valor, $s_produtos, 0, 0, $s_descontos, 0,
  $s_icms, 0, 0, 0, '65', '$hora', $nitems, $s_unidades, $fluxo,
  'VAREJO', $func_id, $op_nome, 0);
INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, DATA, PRODUTO_ID, DESCRICAO, CONTA_ID, TRIBUTO_ID,
  CST, CFOP, TP_PROD_SERV, QUANTIDADE, VR_UNITARIO, VR_DESCONTO, VR_ACRESCIMO, DESC_RODAPE, VR_IPI, VR_TOTAL,
  ALIQUOTA_ICMS, BASE_CALC_ICMS, VALOR_ICMS, MVA, BASE_CALC_ST, VALOR_ICMS_ST, VR_REDUCAO_BC, BASE_CALC_PIS,
  ALIQUOTA_PIS, VR_PIS, BASE_CALC_COFINS, ALIQUOTA_COFINS, VR_COFINS, EXPORTADO)
VALUES $items_sql;
INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, TIPO_TRANSACAO, BANCO_ID, ECF, DATA, DT_VENCIMENTO,
  VALOR, DUPLICATA, EXPORTADO)
VALUES $parcelas_sql;
INSERT INTO FECHAMENTO_CUPOM (CUPOM, CAIXA_ID, OPERADOR_ID, FINALIZADORA_ID, LEGENDA, DATA, HORA, VALOR_CUPOM,
  ACRESCIMO, DESCONTO, VALOR_FINALIZADORA, FISCAL, ENTIDADE_ID, CLIENTE_ID, EXPORTADO)
VALUES $fech_sql;
INSERT INTO COMPL_NFCEFISCAL (TRANSACAO_ID, DT_SAIDA, HR_SAIDA, RECIBO, PROTOCOLO, CHAVE_NFCE, EMPRESA_ID, ECF,
  TRANSMISSAO, PATHNFCE_SERVIDOR, PATHNFCE_LOCAL, DT_EMISSAO, DT_TRANSMISSAO, VALOR, NO_DOC_FISCAL,
  COND_PAGTO, ARQUIVO_XML, ERRO_ENVIO, EXPORTADO)
VALUES ($tid, '$today', '$hora', $recibo, $protocolo, '$key', $empresa_id, '$ecf',
  $transmissao, '\\\\SERVIDOR\\NFCe\\$ecf\\', 'C:\\Quibor\\NFCe\\', '$today', '$today', $s_valor, $doc,
  $cond, $xml, $erro, 0);
$cheque_sql
COMMIT;"

  if ! pdv "$i" <<<"$sql" >/dev/null; then
    say "till $ecf: sale $doc failed; re-reading its counters"
    read_counters "$i"
    return 1
  fi
  next_tid[i]=$((tid + 1))
  next_doc[i]=$((doc + 1))
  log_event venda "$ecf" "$doc" "$tid" "$s_valor" "${cond//\'/}" "$nitems"
  say "till $ecf: sale $doc ($nitems items, R\$ $s_valor, ${cond//\'/})"
}

# The till cancels its latest sale of the day that is not being imported
# right now (EXPORTADO 0 or 2) and records the cancelled NFC-e.
cancel_sale() {
  local i=$1 ecf=${t_ecf[i]} n=${t_num[i]} hora yymm row protocolo
  printf -v hora '%(%H:%M:%S)T' -1
  printf -v yymm '%(%y)T' -1
  printf -v protocolo '135%s%010d' "$yymm" $(((RANDOM * 32768 + RANDOM) % 10000000000))
  row=$(pdv "$i" <<SQL
WITH alvo AS (
  SELECT t.TRANSACAO_ID FROM TRANSACOES t
   WHERE t.BANCO_ID = $n AND t.DT_TRANS = CURRENT_DATE AND t.MODELO = '65' AND t.EXPORTADO IN (0, 2)
     AND NOT EXISTS (SELECT FROM NOTAS_CANCELADAS_NFCE c WHERE c.TRANSACAO_ID = t.TRANSACAO_ORIGEM)
   ORDER BY t.TRANSACAO_ID DESC LIMIT 1),
cancelada AS (
  UPDATE TRANSACOES t SET EXPORTADO = 3 FROM alvo
   WHERE t.TRANSACAO_ID = alvo.TRANSACAO_ID AND t.EXPORTADO IN (0, 2)
  RETURNING t.TRANSACAO_ID, t.TRANSACAO_ORIGEM, t.NUM_DOC, t.VALOR, t.DT_TRANS)
INSERT INTO NOTAS_CANCELADAS_NFCE (TRANSACAO_ID, DT_SAIDA, HR_SAIDA, RECIBO, PROTOCOLO, CHAVE_NFCE, EMPRESA_ID,
  ECF, VALOR, NO_DOC_FISCAL, ARQUIVO_XML, TRANSMISSAO, EXPORTADO)
SELECT c.TRANSACAO_ORIGEM, c.DT_TRANS, '$hora', n.RECIBO, '$protocolo', n.CHAVE_NFCE, n.EMPRESA_ID,
       n.ECF, c.VALOR, n.NO_DOC_FISCAL,
       '<?xml version="1.0" encoding="UTF-8"?><procEventoNFe versao="1.00" xmlns="http://www.portalfiscal.inf.br/nfe"><evento versao="1.00"><infEvento><cOrgao>35</cOrgao><chNFe>'
         || n.CHAVE_NFCE || '</chNFe><tpEvento>110111</tpEvento><detEvento versao="1.00"><descEvento>Cancelamento</descEvento><nProt>'
         || COALESCE(n.PROTOCOLO, '') || '</nProt><xJust>DESISTENCIA DO CLIENTE NO CAIXA</xJust></detEvento></infEvento></evento><retEvento versao="1.00"><infEvento><cStat>135</cStat><nProt>$protocolo</nProt></infEvento></retEvento></procEventoNFe>',
       'CANCELADA', 0
  FROM cancelada c JOIN COMPL_NFCEFISCAL n ON n.TRANSACAO_ID = c.TRANSACAO_ORIGEM
RETURNING NO_DOC_FISCAL, TRANSACAO_ID, VALOR;
SQL
  ) || return 1
  [ -n "$row" ] || return 1
  local doc tid valor
  IFS=$'\t' read -r doc tid valor <<<"$row"
  log_event cancelamento "$ecf" "$doc" "$tid" "$valor" "" ""
  say "till $ecf: sale $doc cancelled"
}

# The back office reviews the credit limit of a customer who buys on account.
touch_customer() {
  [ "$ncli" -gt 0 ] || return 0
  local id limite
  rnd "$ncli"; id=${c_id[R]}
  rnd 40; limite=$((300 + 50 * R))
  srv -c "UPDATE CLIENTES SET LIMITE = $limite, DT_ATUALIZACAO = CURRENT_DATE WHERE CLIENTE_ID = $id" \
      -c "NOTIFY clientes" || return 1
  log_event clientes - - "$id" "$limite.00" "" ""
  say "back office: customer $id changed, \"clientes\" raised"
}

request_import() {
  srv -c "UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF = '$1'" -c "NOTIFY venda"
}

# A till rings again only once the server has served its previous request
# (IMPORTACAO back to 0): a sale written while the import is between the
# header and item phases would have its items taken without their header.
# Without an importer the wait shrinks to a second.
unserved=0
await_import() {
  local ecf=$1 v tries k
  [ "$wait_limit" -gt 0 ] || return 0
  tries=$(( (unserved ? 1 : wait_limit) * 4 ))
  for ((k = 0; k < tries && !stop; k++)); do
    v=$(srv -c "SELECT IMPORTACAO FROM LICENCA_IF WHERE NUM_ECF = '$ecf'") || return
    if [ "$v" != 1 ]; then unserved=0; return; fi
    nap 0.25
  done
  unserved=1
}

[ -s "$log" ] || printf '# when\tevent\tecf\tnum_doc\ttransacao\tvalor\tpagamento\titens\n' >>"$log"
say "ringing up on ${t_ecf[*]} every ${interval}s (port $port)"

started=$SECONDS
events=0
failures=0
while [ "$stop" -eq 0 ] && [ "$events" -lt "$max_events" ] && [ $((SECONDS - started)) -lt "$max_seconds" ]; do
  if [ -n "$parent" ] && ! kill -0 "$parent" 2>/dev/null; then
    say "parent $parent is gone"
    break
  fi
  i=$((events % nterm))
  await_import "${t_ecf[i]}"
  [ "$stop" -eq 0 ] || break
  # Every eleventh event the till cancels its latest sale instead (a
  # steady share, so even a one-minute run sees cancellations).
  ok=1
  if [ $((events % 11)) -eq 7 ] && cancel_sale "$i"; then :
  elif ! ring_sale "$i"; then ok=0
  fi
  if [ "$ok" -eq 1 ] && request_import "${t_ecf[i]}"; then
    failures=0
  else
    failures=$((failures + 1))
    if [ "$failures" -ge 10 ]; then
      say "ten failures in a row; giving up"
      exit 1
    fi
  fi
  [ $((events % 9)) -eq 4 ] && touch_customer
  events=$((events + 1))
  [ "$stop" -eq 0 ] && nap "$interval"
done
say "stopped after $events events"
