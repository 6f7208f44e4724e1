#!/usr/bin/env bash
# Builds the demo store in a running cluster on 127.0.0.1: the login role the
# program and the tills use, the server database quibor_server and the
# terminal databases quibor_pdv001..003, all owned by that role and loaded
# from store/server.sql, store/terminal.sql and the seeds beside this script.
#   make_store.sh PORT [fresh|keep]
# fresh (the default) drops and recreates the four databases. keep leaves an
# existing store's rows alone and only brings the terminal registry and the
# business date up to today and to PORT (it builds a fresh store when there
# is none).
# The superuser postgres must log in over 127.0.0.1 without a password (as
# scripts/pg_cluster.sh sets it up). QS_DEMO_USER / QS_DEMO_PASSWORD name the
# login role.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
store=$(cd "$here/.." && pwd)
port=$1
mode=${2:-fresh}
user=${QS_DEMO_USER:-quibor}
password=${QS_DEMO_PASSWORD:-'Loja "Centro" #1'}
terminals=(001 002 003)
server_db=quibor_server

admin() { psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U postgres "$@"; }
# The store's own role loads the schemas, so it owns every table.
owner() { PGPASSWORD=$password psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$port" -U "$user" "$@"; }

# Rows of a server query straight into a terminal table, in COPY text form.
copy_to_terminal() {
  local db=$1 target=$2 query=$3
  owner -d "$server_db" -c "COPY ($query) TO STDOUT" | owner -d "$db" -c "COPY $target FROM STDIN"
}

db_exists() {
  [ "$(admin -d postgres -At -v db="$1" <<'SQL'
SELECT count(*) FROM pg_database WHERE datname = :'db';
SQL
)" = 1 ]
}

ensure_role() {
  admin -d postgres -v user="$user" -v pw="$password" <<'SQL'
SELECT format('CREATE ROLE %I LOGIN', :'user')
 WHERE NOT EXISTS (SELECT FROM pg_roles WHERE rolname = :'user') \gexec
ALTER ROLE :"user" LOGIN PASSWORD :'pw';
SQL
}

recreate_db() {
  admin -d postgres -v db="$1" -v user="$user" <<'SQL'
SET client_min_messages = warning;
DROP DATABASE IF EXISTS :"db" WITH (FORCE);
CREATE DATABASE :"db" OWNER :"user" ENCODING 'UTF8' TEMPLATE template0;
SQL
}

# Customers as the terminals keep them: master data with the balance, held
# cheques and earliest due instalment as the last customer export computed
# them.
clientes_query="
SELECT c.CLIENTE_ID, left(c.NOME, 70), c.CNPJ, c.ENDERECO, c.BAIRRO, c.MUNICIPIO, c.LIMITE,
       COALESCE((SELECT sum(p.VALOR)
                   FROM TRANSPARCELAS p
                   JOIN TRANSACOES t ON t.TRANSACAO_ID = p.TRANSACAO_ID
                   JOIN FINALIZADORAS f ON f.FINALIZADORA_ID = t.FINALIZADORA_ID
                    AND (f.CLIENTE_ID = 0 OR (f.CLIENTE_ID > 0 AND t.PARCELA_ID IN ('0000F', 'F')))
                  WHERE p.TIPO_TRANSACAO = 'T' AND COALESCE(p.AGRUPAMENTO, 0) = 0
                    AND p.VALOR > 0 AND p.BANCO_ID = 0 AND t.CONDUTA = '01'
                    AND t.COND_PAGTO = 'A PRAZO' AND t.CLIENTE_ID = c.CLIENTE_ID
                    AND t.EMPRESA_ID = (SELECT max(EMPRESA_ID) FROM EMPRESAS WHERE STATUS = 'A')), 0),
       c.BLOQUEADO, c.STATUS, c.CARTAO_IDENT1, c.CARTAO_IDENT2, c.CARTAO_IDENT3, c.CARTAO_IDENT4,
       c.SENHA, c.OBSERVACAO, c.BLOQ_CHEQUE,
       COALESCE(d.DT_VENCIMENTO, DATE '1899-12-30'), COALESCE(d.VALOR, 0),
       c.LIMITE_CHEQUE,
       COALESCE((SELECT sum(q.VALOR) FROM CHEQUES_RECEBIDOS q
                  WHERE q.CLIENTE_ID = c.CLIENTE_ID AND COALESCE(q.BANCO_ID, 0) = 0), 0),
       c.ESTADO, c.IBGE, c.NUMERO, c.COD_PAIS, c.EMAIL
  FROM CLIENTES c
  LEFT JOIN LATERAL (SELECT p.DT_VENCIMENTO, p.VALOR
                       FROM TRANSPARCELAS p JOIN TRANSACOES t ON t.TRANSACAO_ID = p.TRANSACAO_ID
                      WHERE t.CLIENTE_ID = c.CLIENTE_ID AND p.DT_VENCIMENTO <= CURRENT_DATE
                        AND p.VALOR > 0 AND p.BANCO_ID = 0 AND p.TIPO_TRANSACAO = 'T'
                        AND t.COND_PAGTO = 'A PRAZO'
                      ORDER BY p.DT_VENCIMENTO LIMIT 1) d ON true"

config_columns="CONTA_ESTOQUE, CONTA_CONSUMO, TAM_PESAVEIS, TAM_BARRAS, VER_DESATIVADOS, CARGA_MANUAL_PROD,
                CONTA_DESCONTO, CONTA_JUROS, CARENCIA, BLOQ_DEVEDORES, VERSAO_NFE, EMAIL_NFCE, CONTINGENCIA"
licenca_columns="NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS, ECF_STATUS, IMPORTACAO, EXPORTACAO,
                 CARGA_TOTAL, TODAS_ECFS, DT_SYNC, HR_SYNC, DT_SYNC_CLI, HR_SYNC_CLI, ULTIMA_TRANS, SERIAL"
clientes_columns="CLIENTE_ID, NOME, CNPJ, ENDERECO, BAIRRO, MUNICIPIO, LIMITE, SALDO, BLOQUEADO, STATUS,
                  CARTAO_IDENT1, CARTAO_IDENT2, CARTAO_IDENT3, CARTAO_IDENT4, SENHA, OBSERVACAO,
                  BLOQ_CHEQUE, PR_VENCIMENTO, VALOR_CONTA, LIMITE_CHEQUE, SALDO_CHEQUE, ESTADO, IBGE,
                  NUMERO, COD_PAIS, EMAIL"

build_fresh() {
  recreate_db "$server_db"
  owner -d "$server_db" -f "$store/server.sql" >/dev/null
  owner -d "$server_db" -v port="$port" -v usuario="$user" -v senha="$password" \
    -f "$here/server_seed.sql" >/dev/null

  local ecf db
  for ecf in "${terminals[@]}"; do
    db=quibor_pdv$ecf
    recreate_db "$db"
    owner -d "$db" -f "$store/terminal.sql" >/dev/null
    copy_to_terminal "$db" "LICENCA_IF ($licenca_columns)" \
      "SELECT $licenca_columns FROM LICENCA_IF WHERE NUM_ECF = '$ecf'"
    copy_to_terminal "$db" "CONFIG ($config_columns)" "SELECT $config_columns FROM CONFIG"
    local table
    for table in EMPRESAS CONFIG_NFISCAL FINALIZADORAS TRIBUTOS ENTIDADES_DOACAO OPERADORES IBTP; do
      copy_to_terminal "$db" "$table" "SELECT * FROM $table"
    done
    copy_to_terminal "$db" "CLIENTES ($clientes_columns)" "$clientes_query"
    owner -d "$db" -f "$here/terminal_seed.sql" >/dev/null
  done
}

# A kept store starts the day as a fresh one would: every terminal active,
# reachable, synchronised today, nothing requested, and the cluster's port.
refresh_kept() {
  local sql="
UPDATE LICENCA_IF SET IP = '127.0.0.1', PORTA = :'port', USUARIO = :'usuario', SENHA = :'senha',
       STATUS = 'A', ECF_STATUS = 0, IMPORTACAO = 0, EXPORTACAO = 0, CARGA_TOTAL = 0,
       TODAS_ECFS = 0, DT_SYNC = CURRENT_DATE;"
  owner -d "$server_db" -v port="$port" -v usuario="$user" -v senha="$password" <<<"$sql
UPDATE ABERTURA SET DT_MOVIMENTO = CURRENT_DATE;"
  local ecf
  for ecf in "${terminals[@]}"; do
    owner -d "quibor_pdv$ecf" -v port="$port" -v usuario="$user" -v senha="$password" <<<"$sql"
  done
}

ensure_role
if [ "$mode" = keep ] && db_exists "$server_db" \
   && db_exists quibor_pdv001 && db_exists quibor_pdv002 && db_exists quibor_pdv003; then
  refresh_kept
else
  build_fresh
fi
