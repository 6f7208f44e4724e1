-- Point-of-sale terminal (PDV) database: one per terminal.
--
-- Holds what the terminal records (sales, closings, NFC-e records, cheques,
-- fiscal day records, each with its EXPORTADO row state) and its copies of
-- the store's master and reference data. Plain DDL for an empty database:
--   psql -v ON_ERROR_STOP=1 -d <db> -f terminal.sql
--
-- Tables that travel between server and terminal have the same columns and
-- types on both sides for every column that is copied. Conventions as in the
-- server schema: unquoted identifiers, numeric(15,2) money, numeric(15,3)
-- quantities, date DT_* columns, varchar codes, integer states.
--
-- EXPORTADO (integer, new rows 0):
--   0 new, 1 taken by the running import, 2 imported,
--   3 sale cancelled here (TRANSACOES only), 4 cancellation carried out.

-- ---------------------------------------------------------------------------
-- The terminal's own registry row (a copy of its server row) and the
-- configuration tables copied from the server.

-- The point-of-sale software acts on IMPORTACAO 100, 101 and 102 here.
CREATE TABLE LICENCA_IF (
    NUM_ECF       varchar(3)  PRIMARY KEY,
    BANCO         varchar(60),
    USUARIO       varchar(30),
    SENHA         varchar(30),
    IP            varchar(60),
    PORTA         varchar(6),
    STATUS        varchar(1)  NOT NULL DEFAULT 'A',
    ECF_STATUS    integer     NOT NULL DEFAULT 0,
    IMPORTACAO    integer     NOT NULL DEFAULT 0,
    EXPORTACAO    integer     NOT NULL DEFAULT 0,
    CARGA_TOTAL   integer     NOT NULL DEFAULT 0,
    TODAS_ECFS    integer     NOT NULL DEFAULT 0,
    DT_SYNC       date,
    HR_SYNC       time,
    DT_SYNC_CLI   date,
    HR_SYNC_CLI   time,
    ULTIMA_TRANS  integer     DEFAULT 0,
    SERIAL        varchar(30)
);

CREATE TABLE CONFIG (
    CONTA_ESTOQUE      integer,
    CONTA_CONSUMO      integer,
    TAM_PESAVEIS       integer,
    TAM_BARRAS         integer,
    VER_DESATIVADOS    varchar(5),
    CARGA_MANUAL_PROD  varchar(5)  DEFAULT 'False',
    CONTA_DESCONTO     integer,
    CONTA_JUROS        integer,
    CARENCIA           integer,
    BLOQ_DEVEDORES     varchar(5),
    VERSAO_NFE         varchar(10),
    EMAIL_NFCE         varchar(100),
    CONTINGENCIA       varchar(5)
);

CREATE TABLE EMPRESAS (
    EMPRESA_ID    integer PRIMARY KEY,
    RAZAO_SOCIAL  varchar(60),
    FANTASIA      varchar(60),
    CNPJ          varchar(18),
    INSCRICAO     varchar(20),
    ENDERECO      varchar(60),
    NUMERO        varchar(6),
    COMPLEMENTO   varchar(30),
    BAIRRO        varchar(40),
    MUNICIPIO     varchar(30),
    ESTADO        varchar(2),
    CEP           varchar(9),
    IBGE          varchar(7),
    TELEFONE      varchar(15),
    STATUS        varchar(1)  DEFAULT 'A'
);

CREATE TABLE CONFIG_NFISCAL (
    CONFIG_NFISCAL_ID  integer PRIMARY KEY,
    EMPRESA_ID         integer,
    AMBIENTE           integer DEFAULT 2,
    SERIE_NFCE         varchar(3),
    ID_CSC             varchar(6),
    CSC                varchar(36),
    CERTIFICADO        varchar(255),
    SENHA_CERTIFICADO  varchar(60),
    VERSAO_LAYOUT      varchar(10),
    UF                 varchar(2)
);

-- ---------------------------------------------------------------------------
-- Customers with the balances computed on the server. Rows are added or
-- updated by CLIENTE_ID, never deleted by the synchroniser.

CREATE TABLE CLIENTES (
    CLIENTE_ID     integer PRIMARY KEY,
    NOME           varchar(70),
    CNPJ           varchar(18),
    ENDERECO       varchar(60),
    BAIRRO         varchar(40),
    MUNICIPIO      varchar(30),
    LIMITE         numeric(15,2) DEFAULT 0,
    SALDO          numeric(15,2) DEFAULT 0,                 -- open instalments
    BLOQUEADO      varchar(3),
    STATUS         varchar(1),
    CARTAO_IDENT1  varchar(13),
    CARTAO_IDENT2  varchar(13),
    CARTAO_IDENT3  varchar(13),
    CARTAO_IDENT4  varchar(13),
    SENHA          varchar(9),
    OBSERVACAO     varchar(150),
    BLOQ_CHEQUE    varchar(3),
    PR_VENCIMENTO  date,                                    -- earliest due date up to today
    VALOR_CONTA    numeric(15,2) DEFAULT 0,
    LIMITE_CHEQUE  numeric(15,2) DEFAULT 0,
    SALDO_CHEQUE   numeric(15,2) DEFAULT 0,                 -- cheques held
    ESTADO         varchar(2),
    IBGE           varchar(7),
    NUMERO         varchar(6),
    COD_PAIS       varchar(5),
    EMAIL          varchar(60)
);

-- ---------------------------------------------------------------------------
-- Reference tables (same layout as on the server).

CREATE TABLE FINALIZADORAS (
    FINALIZADORA_ID  integer PRIMARY KEY,
    DESCRICAO        varchar(30),
    LEGENDA          varchar(30),
    LIMITE           numeric(15,2) DEFAULT 0,
    FATOR            numeric(15,2) DEFAULT 0,
    NUMAUT           integer       DEFAULT 0,
    COMISSAO         numeric(15,2) DEFAULT 0,
    LIMTROCO         numeric(15,2) DEFAULT 0,
    F_TROCO          varchar(1),
    F_CHEQUE         varchar(1),
    F_DIG_VALOR      varchar(1),
    F_AUTO           varchar(1),
    GAVETA           varchar(1),
    PONTOS           varchar(1),
    FINTROCO         integer       DEFAULT 0,
    TIPO_TRANSACAO   varchar(1),
    PARCELAS         integer       DEFAULT 0,
    T_TEF            varchar(1),
    C_DEBITO         varchar(1),
    C_CREDITO        varchar(1),
    CLIENTE_ID       integer       DEFAULT 0,
    FINCARTAOECF     varchar(10)
);

CREATE TABLE TRIBUTOS (
    TRIBUTO_ID     integer PRIMARY KEY,
    DESCRICAO      varchar(30),
    ALIQUOTA_ICMS  numeric(15,2) DEFAULT 0,
    CODIGO_ECF     varchar(4),
    ORIGEM         varchar(1),
    TRIBUTACAO     varchar(3),
    CFOP           varchar(5)
);

CREATE TABLE ENTIDADES_DOACAO (
    ENTIDADE_ID  integer PRIMARY KEY,
    NOME         varchar(60),
    CNPJ         varchar(18),
    ENDERECO     varchar(60),
    NUMERO       varchar(6),
    COMPLEMENTO  varchar(30),
    BAIRRO       varchar(40),
    MUNICIPIO    varchar(30),
    CEP          varchar(9),
    DDD          varchar(3),
    TELEFONE_1   varchar(15),
    INSCRICAO    varchar(20)
);

CREATE TABLE OPERADORES (
    FUNCIONARIO_ID         integer PRIMARY KEY,
    NOME                   varchar(40),
    DESCONTO_MAX_ITEM      numeric(15,2) DEFAULT 0,
    DESCONTO_MAX_SUBTOTAL  numeric(15,2) DEFAULT 0,
    LIMITE_APROVA          numeric(15,2) DEFAULT 0,
    CANCELA_CUPOM          varchar(1),
    CANCELA_ITEM           varchar(1),
    LEITURA_Z              varchar(1),
    SAIDA_OPERADOR         varchar(1),
    ENTRADA_OPERADOR       varchar(1),
    SAIDA_SISTEMA          varchar(1),
    DESLIGAR               varchar(1),
    SAIDA_VENDA            varchar(1),
    ENTRADA_SISTEMA        varchar(1),
    ENTRADA_VENDA          varchar(1),
    OPERADOR_ID            integer,
    RECEBIMENTO_PDV        varchar(1),
    GERENCIAR_NFCE         varchar(1)
);

CREATE TABLE IBTP (
    IBTP_ID  integer PRIMARY KEY,
    CODIGO   varchar(10),
    EX       varchar(3),
    TABELA   integer,
    ALIQIMP  numeric(15,2) DEFAULT 0,
    ALIQNAC  numeric(15,2) DEFAULT 0,
    VERSAO   varchar(10),
    ALIQEST  numeric(15,2) DEFAULT 0,
    CARGA    numeric(15,2) DEFAULT 0
);

-- ---------------------------------------------------------------------------
-- Sales recorded by the terminal.

-- TRANSACAO_ID is the terminal's own id; items, instalments and NFC-e rows
-- carry TRANSACAO_ORIGEM of their sale in their TRANSACAO_ID.
-- No SERIAL column here: the cancellation query joins LICENCA_IF and names
-- SERIAL unqualified.
CREATE TABLE TRANSACOES (
    TRANSACAO_ID       integer PRIMARY KEY,
    TRANSACAO_ORIGEM   integer,
    BALANCO            varchar(1),
    BANCO_ID           integer,                             -- this terminal's number
    BASE_ICMS_NORMAL   numeric(15,2) DEFAULT 0,
    BASE_ICMS_ST       numeric(15,2) DEFAULT 0,
    C_CUSTO_ID         integer,
    CFOP               varchar(5),
    CLIENTE_ID         integer,
    COMPLEMENTO        varchar(60),
    COND_PAGTO         varchar(20),
    CONDUTA            varchar(2),
    CONTA_ID           integer,
    DEPTO              varchar(2),
    DT_MOVIMENTO       date,
    DT_TRANS           date,
    DT_ENT_SAI         date,
    EMPRESA_ID         integer,
    FINALIZADORA_ID    integer,
    HISTORICO          varchar(100),
    NUM_CHEQUE         varchar(20),
    NUM_DOC            varchar(20),
    PARCELA_ID         varchar(10),
    PEDIDO_ID          integer,
    SERIE              varchar(3),
    SUB_CODIGO         varchar(10),
    CHAVE_NFE          varchar(44),
    TPCTB              varchar(1),
    VALOR              numeric(15,2) DEFAULT 0,
    VALOR_PRODUTOS     numeric(15,2) DEFAULT 0,
    VENDEDOR_ID        integer,
    VR_ACRESCIMO       numeric(15,2) DEFAULT 0,
    VR_DESCONTO        numeric(15,2) DEFAULT 0,
    VR_FRETE           numeric(15,2) DEFAULT 0,
    VR_ICMS_NORMAL     numeric(15,2) DEFAULT 0,
    VR_ICMS_ST         numeric(15,2) DEFAULT 0,
    VR_IPI             numeric(15,2) DEFAULT 0,
    DESCONTO_ESPECIAL  numeric(15,2) DEFAULT 0,
    MODELO             varchar(2),
    HORA               varchar(8),
    ITENS              integer,
    UNIDADES           numeric(15,3) DEFAULT 0,
    FLUXO_CAIXA_ID     integer,
    TIPO_VENDA         varchar(20),
    FUNCIONARIO_ID     integer,
    OPERADOR           varchar(30),
    EXPORTADO          integer NOT NULL DEFAULT 0
);
CREATE INDEX TRANSACOES_EXPORTADO ON TRANSACOES (EXPORTADO);

CREATE TABLE TRANSITENS (
    TRANSACAO_ID      integer NOT NULL,
    SEQUENCIA         integer NOT NULL,
    BANCO_ID          integer,
    DATA              date,
    PRODUTO_ID        integer,
    DESCRICAO         varchar(60),
    CONTA_ID          integer,
    TRIBUTO_ID        integer,
    CST               varchar(3),
    CFOP              varchar(5),
    TP_PROD_SERV      varchar(1),
    QUANTIDADE        numeric(15,3) DEFAULT 0,
    VR_UNITARIO       numeric(15,3) DEFAULT 0,
    VR_DESCONTO       numeric(15,2) DEFAULT 0,
    VR_ACRESCIMO      numeric(15,2) DEFAULT 0,
    DESC_RODAPE       numeric(15,2) DEFAULT 0,
    VR_IPI            numeric(15,2) DEFAULT 0,
    VR_TOTAL          numeric(15,2) DEFAULT 0,
    ALIQUOTA_ICMS     numeric(15,2) DEFAULT 0,
    BASE_CALC_ICMS    numeric(15,2) DEFAULT 0,
    VALOR_ICMS        numeric(15,2) DEFAULT 0,
    MVA               numeric(15,2) DEFAULT 0,
    BASE_CALC_ST      numeric(15,2) DEFAULT 0,
    VALOR_ICMS_ST     numeric(15,2) DEFAULT 0,
    VR_REDUCAO_BC     numeric(15,2) DEFAULT 0,
    BASE_CALC_PIS     numeric(15,2) DEFAULT 0,
    ALIQUOTA_PIS      numeric(15,2) DEFAULT 0,
    VR_PIS            numeric(15,2) DEFAULT 0,
    BASE_CALC_COFINS  numeric(15,2) DEFAULT 0,
    ALIQUOTA_COFINS   numeric(15,2) DEFAULT 0,
    VR_COFINS         numeric(15,2) DEFAULT 0,
    EXPORTADO         integer NOT NULL DEFAULT 0,
    PRIMARY KEY (TRANSACAO_ID, SEQUENCIA)
);

CREATE TABLE TRANSPARCELAS (
    TRANSACAO_ID    integer NOT NULL,
    PARCELA_ID      varchar(10) NOT NULL,
    TIPO_TRANSACAO  varchar(1),
    BANCO_ID        integer       DEFAULT 0,
    ECF             integer,                                -- this terminal's number
    DATA            date,
    DT_VENCIMENTO   date,
    VALOR           numeric(15,2) DEFAULT 0,
    DUPLICATA       varchar(20),
    EXPORTADO       integer NOT NULL DEFAULT 0,
    PRIMARY KEY (TRANSACAO_ID, PARCELA_ID)
);

CREATE TABLE FECHAMENTO_CUPOM (
    FECHAMENTO_ID       integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    CUPOM               varchar(8),
    CAIXA_ID            integer,
    OPERADOR_ID         integer,
    FINALIZADORA_ID     integer,
    LEGENDA             varchar(30),
    DATA                date,
    HORA                varchar(8),
    VALOR_CUPOM         numeric(15,2) DEFAULT 0,
    ACRESCIMO           numeric(15,2) DEFAULT 0,
    DESCONTO            numeric(15,2) DEFAULT 0,
    VALOR_FINALIZADORA  numeric(15,2) DEFAULT 0,
    FISCAL              varchar(1),
    ENTIDADE_ID         integer,
    CLIENTE_ID          integer,
    EXPORTADO           integer NOT NULL DEFAULT 0
);

CREATE TABLE COMPL_NFCEFISCAL (
    TRANSACAO_ID       integer PRIMARY KEY,
    DT_SAIDA           date,
    HR_SAIDA           varchar(8),
    RECIBO             varchar(20),
    PROTOCOLO          varchar(20),
    CHAVE_NFCE         varchar(44),
    EMPRESA_ID         integer,
    ECF                varchar(3),
    TRANSMISSAO        varchar(20),
    PATHNFCE_SERVIDOR  varchar(255),
    PATHNFCE_LOCAL     varchar(255),
    DT_EMISSAO         date,
    DT_TRANSMISSAO     date,
    VALOR              numeric(15,2) DEFAULT 0,
    NO_DOC_FISCAL      integer,
    COND_PAGTO         varchar(20),
    ARQUIVO_XML        text,
    ERRO_ENVIO         text,
    EXPORTADO          integer NOT NULL DEFAULT 0
);

CREATE TABLE NOTAS_CANCELADAS_NFCE (
    TRANSACAO_ID   integer PRIMARY KEY,
    DT_SAIDA       date,
    HR_SAIDA       varchar(8),
    RECIBO         varchar(20),
    PROTOCOLO      varchar(20),
    CHAVE_NFCE     varchar(44),
    EMPRESA_ID     integer,
    ECF            varchar(3),
    VALOR          numeric(15,2) DEFAULT 0,
    NO_DOC_FISCAL  integer,
    ARQUIVO_XML    text,
    TRANSMISSAO    varchar(20),
    EXPORTADO      integer NOT NULL DEFAULT 0
);

CREATE TABLE CHEQUES_RECEBIDOS (
    CHEQUE_ID      integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,
    CPF_CNPJ       varchar(18),
    NUM_CHEQUE     varchar(20),
    DT_CHEQUE      date,
    EMPRESA_ID     integer,
    CLIENTE_ID     integer,
    NOME_CLIENTE   varchar(70),
    ENDERECO       varchar(60),
    BAIRRO         varchar(40),
    MUNICIPIO      varchar(30),
    DDD            varchar(3),
    TELEFONE       varchar(15),
    NOME_BANCO     varchar(40),
    VALOR          numeric(15,2) DEFAULT 0,
    DT_VENCIMENTO  date,
    DT_MOVIMENTO   date,
    OPERADOR       varchar(30),
    NUM_DOC        varchar(20),
    ECF            integer,
    EXPORTADO      integer NOT NULL DEFAULT 0
);

-- ---------------------------------------------------------------------------
-- Fiscal day records of the terminal's fiscal printer.

CREATE TABLE REGISTRO_60I (
    DT_EMISSAO      date,
    NUM_SERIE       varchar(20),
    MODELO_DOC      varchar(2),
    NUM_ORDEM       integer,
    NUM_ITEM        integer,
    COD_PRODUTO     varchar(14),
    QUANTIDADE      numeric(15,3) DEFAULT 0,
    VR_UNITARIO     numeric(15,3) DEFAULT 0,
    BASE_CALC_ICMS  numeric(15,2) DEFAULT 0,
    SIT_TRIBUTARIA  varchar(4),
    VALOR_ICMS      numeric(15,2) DEFAULT 0,
    EXPORTADO       integer NOT NULL DEFAULT 0
);

CREATE TABLE REGISTRO_60D (
    DT_EMISSAO      date,
    NUM_SERIE       varchar(20),
    COD_PRODUTO     varchar(14),
    QUANTIDADE      numeric(15,3) DEFAULT 0,
    VR_UNITARIO     numeric(15,3) DEFAULT 0,
    BASE_CALC_ICMS  numeric(15,2) DEFAULT 0,
    SIT_TRIBUTARIA  varchar(4),
    VALOR_ICMS      numeric(15,2) DEFAULT 0,
    EXPORTADO       integer NOT NULL DEFAULT 0
);

CREATE TABLE REGISTRO_60M (
    DT_EMISSAO    date,
    NUM_SERIE     varchar(20),
    NUM_ORDEM     integer,
    MODELO_DOC    varchar(2),
    COO_INICIAL   integer,
    COO_FINAL     integer,
    CRZ           integer,
    CRO           integer,
    VENDA_BRUTA   numeric(15,2) DEFAULT 0,
    GRANDE_TOTAL  numeric(18,2) DEFAULT 0,
    EXPORTADO     integer NOT NULL DEFAULT 0
);

-- Same columns as the server's table: it is copied with SELECT *.
CREATE TABLE REGISTRO_60R (
    MES_ANO         varchar(6),
    COD_PRODUTO     varchar(14),
    QUANTIDADE      numeric(15,3) DEFAULT 0,
    VALOR_BRUTO     numeric(15,2) DEFAULT 0,
    BASE_CALC_ICMS  numeric(15,2) DEFAULT 0,
    SIT_TRIBUTARIA  varchar(4),
    EXPORTADO       integer NOT NULL DEFAULT 0
);

CREATE TABLE REGISTRO_60A (
    DT_EMISSAO         date,
    NUM_SERIE          varchar(20),
    SIT_TRIBUTARIA     varchar(4),
    VALOR_TOTALIZADOR  numeric(15,2) DEFAULT 0,
    EXPORTADO          integer NOT NULL DEFAULT 0
);

CREATE TABLE REDUCOES_Z (
    DT_IMPRESSORA        date,
    HR_IMPRESSORA        time,
    NUM_SERIE            varchar(20),
    MODELO_ECF           varchar(20),
    MF_ADICIONAL         varchar(1),
    NUM_ECF              varchar(3),
    NUM_LOJA             varchar(4),
    COO_INICIAL          integer,
    DT_MOVIMENTO         date,
    COO                  integer,
    GNF                  integer,
    CRO                  integer,
    CRZ                  integer,
    CCF                  integer,
    CFD                  integer,
    CDC                  integer,
    GRG                  integer,
    GNFC                 integer,
    CFC                  integer,
    GRANDE_TOTAL         numeric(18,2) DEFAULT 0,
    VENDA_BRUTA          numeric(15,2) DEFAULT 0,
    CANCELAMENTO_ICMS    numeric(15,2) DEFAULT 0,
    DESCONTO_ICMS        numeric(15,2) DEFAULT 0,
    TOTAL_ISSQN          numeric(15,2) DEFAULT 0,
    CANCELAMENTO_ISSQN   numeric(15,2) DEFAULT 0,
    DESCONTO_ISSQN       numeric(15,2) DEFAULT 0,
    VENDA_LIQUIDA        numeric(15,2) DEFAULT 0,
    ACRESCIMO_ICMS       numeric(15,2) DEFAULT 0,
    ACRESCIMO_ISSQN      numeric(15,2) DEFAULT 0,
    SUBSTITUICAO_ICMS    numeric(15,2) DEFAULT 0,
    ISENTO_ICMS          numeric(15,2) DEFAULT 0,
    NAO_TRIBUTADO_ICMS   numeric(15,2) DEFAULT 0,
    SUBSTITUICAO_ISSQN   numeric(15,2) DEFAULT 0,
    ISENTO_ISSQN         numeric(15,2) DEFAULT 0,
    NAO_TRIBUTADO_ISSQN  numeric(15,2) DEFAULT 0,
    OPERACAO_NAO_FISCAL  numeric(15,2) DEFAULT 0,
    TOTAL_TROCO          numeric(15,2) DEFAULT 0,
    TOTAL_ICMS           numeric(15,2) DEFAULT 0,
    EXPORTADO            integer NOT NULL DEFAULT 0
);
