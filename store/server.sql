-- Store server database: the central PostgreSQL database of the shop.
--
-- Holds the terminal registry (LICENCA_IF), the store configuration, the
-- master data sent to the point-of-sale terminals and every sale and fiscal
-- record imported from them. Plain DDL for an empty database:
--   psql -v ON_ERROR_STOP=1 -d <db> -f server.sql
--
-- Conventions of this schema:
--   * identifiers are unquoted (they fold to lower case);
--   * money and rates numeric(15,2), quantities and unit prices numeric(15,3),
--     all with default 0 so that rows written with a partial column list still
--     add up in sums;
--   * DT_* columns are date, HR_* columns bound as a time of day are time;
--     hours that travel as text (HORA, HR_SAIDA) are varchar(8);
--   * codes and flags that the programs write as text are varchar, states and
--     request codes are integer;
--   * no data rows: CONFIG, abertura and EMPRESAS are filled by the store's
--     own software (or by a test fixture).

-- ---------------------------------------------------------------------------
-- Identifier sequences (drawn with SELECT NEXTVAL('<name>')).

CREATE SEQUENCE GEN_TRANSACOES AS integer;
CREATE SEQUENCE GEN_FECHAMENTO AS integer;

-- ---------------------------------------------------------------------------
-- Configuration and company.

-- One row; every reader uses the first.
CREATE TABLE CONFIG (
    VERSAO_SYNC                varchar(30),
    CONSISTIR_PDV              varchar(5)  DEFAULT 'False',  -- 'True' / 'False'
    DIAS_CONSISTIR             integer     DEFAULT 0,
    TIMEOUT_ECFS               integer     DEFAULT 0,        -- milliseconds
    CONTROLE_ESTQ_LOC          varchar(5)  DEFAULT 'False',  -- 'True' / 'False'
    LOCALIZACAO_ID_PDV         integer     DEFAULT 0,
    LOCALIZACAO_DESCRICAO_PDV  varchar(60),
    CARGA_MANUAL_PROD          varchar(5)  DEFAULT 'False',  -- 'True' / 'False'
    CONTA_ESTOQUE              integer,
    CONTA_CONSUMO              integer,
    TAM_PESAVEIS               integer,
    TAM_BARRAS                 integer,
    VER_DESATIVADOS            varchar(5),
    CONTA_DESCONTO             integer,
    CONTA_JUROS                integer,
    CARENCIA                   integer,
    BLOQ_DEVEDORES             varchar(5),
    VERSAO_NFE                 varchar(10),
    EMAIL_NFCE                 varchar(100),
    CONTINGENCIA               varchar(5)
);

-- The store's day-opening record.
CREATE TABLE ABERTURA (
    DT_MOVIMENTO  date,        -- current business date
    DT_SYNC       date,
    HR_SYNC       time,
    RESET         integer DEFAULT 0
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
    STATUS        varchar(1)  DEFAULT 'A'                   -- 'A' active
);

CREATE TABLE CONFIG_NFISCAL (
    CONFIG_NFISCAL_ID  integer PRIMARY KEY,
    EMPRESA_ID         integer,
    AMBIENTE           integer DEFAULT 2,                   -- 1 production, 2 homologation
    SERIE_NFCE         varchar(3),
    ID_CSC             varchar(6),
    CSC                varchar(36),
    CERTIFICADO        varchar(255),
    SENHA_CERTIFICADO  varchar(60),
    VERSAO_LAYOUT      varchar(10),
    UF                 varchar(2)
);

-- ---------------------------------------------------------------------------
-- Terminal registry: one row per point-of-sale terminal.

CREATE TABLE LICENCA_IF (
    NUM_ECF       varchar(3)  PRIMARY KEY,                  -- '001' .. '033'
    BANCO         varchar(60),
    USUARIO       varchar(30),
    SENHA         varchar(30),
    IP            varchar(60),
    PORTA         varchar(6),
    STATUS        varchar(1)  NOT NULL DEFAULT 'A',         -- 'A' active, 'D' inactive
    ECF_STATUS    integer     NOT NULL DEFAULT 0,           -- 1 marked unreachable
    IMPORTACAO    integer     NOT NULL DEFAULT 0,           -- pending work request
    EXPORTACAO    integer     NOT NULL DEFAULT 0,
    CARGA_TOTAL   integer     NOT NULL DEFAULT 0,
    TODAS_ECFS    integer     NOT NULL DEFAULT 0,
    DT_SYNC       date,
    HR_SYNC       time,
    DT_SYNC_CLI   date,
    HR_SYNC_CLI   time,
    ULTIMA_TRANS  integer     DEFAULT 0,
    SERIAL        varchar(30)                               -- fiscal serial number
);

-- ---------------------------------------------------------------------------
-- Master data.

-- No BANCO_ID column here: the cheque balance query names BANCO_ID unqualified.
CREATE TABLE CLIENTES (
    CLIENTE_ID      integer PRIMARY KEY,
    NOME            varchar(100),
    CNPJ            varchar(18),
    ENDERECO        varchar(60),
    NUMERO          varchar(6),
    BAIRRO          varchar(40),
    MUNICIPIO       varchar(30),
    ESTADO          varchar(2),
    IBGE            varchar(7),
    COD_PAIS        varchar(5),
    EMAIL           varchar(60),
    LIMITE          numeric(15,2) DEFAULT 0,
    LIMITE_CHEQUE   numeric(15,2) DEFAULT 0,
    BLOQUEADO       varchar(3),
    BLOQ_CHEQUE     varchar(3),
    STATUS          varchar(1),
    CARTAO_IDENT1   varchar(13),
    CARTAO_IDENT2   varchar(13),
    CARTAO_IDENT3   varchar(13),
    CARTAO_IDENT4   varchar(13),
    SENHA           varchar(9),
    OBSERVACAO      varchar(150),
    DT_ATUALIZACAO  date                                    -- day of last change
);
CREATE INDEX CLIENTES_DT_ATUALIZACAO ON CLIENTES (DT_ATUALIZACAO);

CREATE TABLE PRODUTOS (
    PRODUTO_ID        integer PRIMARY KEY,
    COD_BARRA         varchar(14),
    CODRED            varchar(10),
    NCM               varchar(8),
    DESCRICAO         varchar(60),
    FANTASIA          varchar(40),
    PROVQT            varchar(1),
    UNIDADE_VENDA     varchar(3),
    FRACAO_VENDA      varchar(1),
    PESAVEL           varchar(1),
    ETIQUETADO        varchar(1),
    TIPO_ITEM         varchar(40),                          -- '00 - MERCADORIA PARA REVENDA', ...
    EMPRESA_ID        integer,
    TRIBUTO_ID        integer,
    ALIQUOTA_ICMS     numeric(15,2) DEFAULT 0,
    PRECO_VAREJO      numeric(15,2) DEFAULT 0,
    PRECO_ATACADO     numeric(15,2) DEFAULT 0,
    PRECO_PROMOCAO    numeric(15,2) DEFAULT 0,
    PRECO_PRAZO       numeric(15,2) DEFAULT 0,
    PROMO_INICIAL     date,
    PROMO_FINAL       date,
    STATUS            varchar(1),
    COD_BARRA_AUX1    varchar(14),
    COD_BARRA_AUX2    varchar(14),
    COD_BARRA_AUX3    varchar(14),
    COD_BARRA_AUX4    varchar(14),
    COD_ORIGINAL      varchar(20),
    REFERENCIA        varchar(20),
    QUANTIDADE_C      numeric(15,3) DEFAULT 0,              -- stock
    QUANT_MAXIMA      numeric(15,3) DEFAULT 0,
    DT_ATUALIZACAO    date,                                 -- day of last change
    HR_SYNC           time,                                 -- time of day of last change
    DT_HR_ALTERACAO   timestamp                             -- kept by PRODUTOS_UP
);
CREATE INDEX PRODUTOS_DT_ATUALIZACAO ON PRODUTOS (DT_ATUALIZACAO);

-- Update stamp of a product row. It leaves every other column alone, so an
-- update that writes a row's own values back changes nothing visible to the
-- synchroniser.
CREATE FUNCTION PRODUTOS_CARIMBA_ALTERACAO() RETURNS trigger
LANGUAGE plpgsql AS $$
BEGIN
    NEW.DT_HR_ALTERACAO := clock_timestamp();
    RETURN NEW;
END
$$;

CREATE TRIGGER PRODUTOS_UP BEFORE UPDATE ON PRODUTOS
    FOR EACH ROW EXECUTE FUNCTION PRODUTOS_CARIMBA_ALTERACAO();

-- ---------------------------------------------------------------------------
-- Reference tables copied whole to the terminals (same layout there).

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
    TIPO_TRANSACAO   varchar(1),                            -- 'T' = receivable
    PARCELAS         integer       DEFAULT 0,
    T_TEF            varchar(1),
    C_DEBITO         varchar(1),
    C_CREDITO        varchar(1),
    CLIENTE_ID       integer       DEFAULT 0,               -- > 0: bound to a customer
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

-- IBPT tax-burden table (the table keeps its historical name).
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
-- Sales imported from the terminals.

-- Sale header. TRANSACAO_ID is the server's own id (GEN_TRANSACOES);
-- TRANSACAO_ORIGEM + BANCO_ID + DT_TRANS link it to the terminal's rows.
-- No TRANSACAO_ORIGEM / DT_TRANS / MODELO in TRANSITENS and no VR_TOTAL /
-- VALOR_ICMS_ST / DESC_RODAPE / VALOR_ICMS_DESON here: the consistency check
-- joins both tables and names those columns unqualified.
CREATE TABLE TRANSACOES (
    TRANSACAO_ID       integer PRIMARY KEY DEFAULT nextval('GEN_TRANSACOES'),
    TRANSACAO_ORIGEM   integer,
    BALANCO            varchar(1),
    BANCO_ID           integer,                             -- terminal number
    BASE_ICMS_NORMAL   numeric(15,2) DEFAULT 0,
    BASE_ICMS_ST       numeric(15,2) DEFAULT 0,
    C_CUSTO_ID         integer,
    CFOP               varchar(5),
    CLIENTE_ID         integer,
    COMPLEMENTO        varchar(60),
    COND_PAGTO         varchar(20),                         -- 'A PRAZO', ...
    CONDUTA            varchar(2),
    CONTA_ID           integer,
    CONTAAUX_ID        integer,
    DEPTO              varchar(2),
    DT_MOVIMENTO       date,
    DT_TRANS           date,
    DT_ENT_SAI         date,
    DT_SPED            date,
    EMPRESA_ID         integer,
    FINALIZADORA_ID    integer,
    HISTORICO          varchar(100),
    NUM_CHEQUE         varchar(20),
    NUM_DOC            varchar(20),                         -- receipt number, digits
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
    MODELO             varchar(2),                          -- '2D', '65'
    HORA               varchar(8),
    ITENS              integer,
    UNIDADES           numeric(15,3) DEFAULT 0,
    FLUXO_CAIXA_ID     integer,
    TIPO_VENDA         varchar(20),
    FUNCIONARIO_ID     integer,
    AUTORIZ_ID         integer,
    OPERADOR           varchar(30)
);
CREATE INDEX TRANSACOES_ORIGEM ON TRANSACOES (TRANSACAO_ORIGEM, BANCO_ID, DT_TRANS);
CREATE INDEX TRANSACOES_DOC ON TRANSACOES (NUM_DOC, BANCO_ID);
CREATE INDEX TRANSACOES_DT_TRANS ON TRANSACOES (DT_TRANS);
CREATE INDEX TRANSACOES_CLIENTE ON TRANSACOES (CLIENTE_ID);

-- Sale items. Rows are also written with a partial column list (the items of
-- a cancellation sale), hence the zero defaults.
CREATE TABLE TRANSITENS (
    TRANSACAO_ID      integer NOT NULL,
    SEQUENCIA         integer,
    BANCO_ID          integer,
    DATA              date,
    PRODUTO_ID        integer,
    DESCRICAO         varchar(60),
    CONTA_ID          integer,
    TRIBUTO_ID        integer,
    CST               varchar(3),
    CFOP              varchar(5),
    TP_PROD_SERV      varchar(1),
    MOVIMENTO         integer       DEFAULT 0,
    QUANTIDADE        numeric(15,3) DEFAULT 0,
    VR_UNITARIO       numeric(15,3) DEFAULT 0,
    VR_DESCONTO       numeric(15,2) DEFAULT 0,
    VR_ACRESCIMO      numeric(15,2) DEFAULT 0,
    DESC_RODAPE       numeric(15,2) DEFAULT 0,
    VR_FRETE          numeric(15,2) DEFAULT 0,
    VR_IPI            numeric(15,2) DEFAULT 0,
    VR_TOTAL          numeric(15,2) DEFAULT 0,
    ALIQUOTA_ICMS     numeric(15,2) DEFAULT 0,
    BASE_CALC_ICMS    numeric(15,2) DEFAULT 0,
    VALOR_ICMS        numeric(15,2) DEFAULT 0,
    MVA               numeric(15,2) DEFAULT 0,
    BASE_CALC_ST      numeric(15,2) DEFAULT 0,
    VALOR_ICMS_ST     numeric(15,2) DEFAULT 0,
    VALOR_ICMS_DESON  numeric(15,2) DEFAULT 0,
    VR_REDUCAO_BC     numeric(15,2) DEFAULT 0,
    BASE_CALC_PIS     numeric(15,2) DEFAULT 0,
    ALIQUOTA_PIS      numeric(15,2) DEFAULT 0,
    VR_PIS            numeric(15,2) DEFAULT 0,
    BASE_CALC_COFINS  numeric(15,2) DEFAULT 0,
    ALIQUOTA_COFINS   numeric(15,2) DEFAULT 0,
    VR_COFINS         numeric(15,2) DEFAULT 0
);
CREATE INDEX TRANSITENS_TRANSACAO ON TRANSITENS (TRANSACAO_ID);

-- Instalments. BANCO_ID is the bank holding the instalment (0 = the store),
-- ECF the terminal that sold it.
CREATE TABLE TRANSPARCELAS (
    TRANSACAO_ID    integer NOT NULL,
    PARCELA_ID      varchar(10),
    TIPO_TRANSACAO  varchar(1),                             -- 'T' = receivable
    BANCO_ID        integer       DEFAULT 0,
    ECF             integer,
    DATA            date,
    DT_VENCIMENTO   date,
    VALOR           numeric(15,2) DEFAULT 0,
    DUPLICATA       varchar(20),
    AGRUPAMENTO     integer       DEFAULT 0
);
CREATE INDEX TRANSPARCELAS_TRANSACAO ON TRANSPARCELAS (TRANSACAO_ID);

-- Receipt closings: one row per payment method of a receipt.
CREATE TABLE FECHAMENTO_CUPOM (
    FECHAMENTO_ID       integer PRIMARY KEY DEFAULT nextval('GEN_FECHAMENTO'),
    CUPOM               varchar(8),                         -- receipt number, 8 digits
    CAIXA_ID            integer,                            -- terminal number
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
    CLIENTE_ID          integer
);
CREATE INDEX FECHAMENTO_CUPOM_CUPOM ON FECHAMENTO_CUPOM (CUPOM, CAIXA_ID, DATA);

-- NFC-e complement of a sale (keyed by the server sale id).
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
    ERRO_ENVIO         text
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
    SINTEGRA       varchar(1)
);

-- Fiscal complement of the store's own invoices (written by the back office).
CREATE TABLE COMPL_NFISCAL (
    TRANSACAO_ID  integer PRIMARY KEY,
    DT_SAIDA      date,
    HR_SAIDA      varchar(8),
    CHAVE_NFE     varchar(44),
    RECIBO        varchar(20),
    PROTOCOLO     varchar(20),
    TRANSMISSAO   varchar(20)
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
    BANCO_ID       integer                                  -- NULL or 0: held by the store
);
CREATE INDEX CHEQUES_RECEBIDOS_CLIENTE ON CHEQUES_RECEBIDOS (CLIENTE_ID);

CREATE TABLE LOCALIZACAO_ESTOQUE_PRODUTOS (
    PRODUTO_ID      integer,
    LOCALIZACAO_ID  integer,
    DESCRICAO       varchar(60),
    DT_SAIDA        date,
    QUANTIDADE      numeric(15,3) DEFAULT 0,
    TRANSACAO_ID    integer
);
CREATE INDEX LOCALIZACAO_ESTOQUE_TRANSACAO ON LOCALIZACAO_ESTOQUE_PRODUTOS (TRANSACAO_ID);

-- ---------------------------------------------------------------------------
-- Fiscal day records of the terminals' fiscal printers. No keys: the import
-- replaces a device's day by delete + insert, finds a REDUCOES_Z row by
-- device and reduction counter, and inserts every REGISTRO_60R row it gets.
-- The device and day (REDUCOES_Z: device and counter) are never null: a
-- record without them could never be replaced or found again.

CREATE TABLE REGISTRO_60I (
    DT_EMISSAO      date NOT NULL,
    NUM_SERIE       varchar(20) NOT NULL,
    MODELO_DOC      varchar(2),
    NUM_ORDEM       integer,
    NUM_ITEM        integer,
    COD_PRODUTO     varchar(14),
    QUANTIDADE      numeric(15,3) DEFAULT 0,
    VR_UNITARIO     numeric(15,3) DEFAULT 0,
    BASE_CALC_ICMS  numeric(15,2) DEFAULT 0,
    SIT_TRIBUTARIA  varchar(4),
    VALOR_ICMS      numeric(15,2) DEFAULT 0
);
CREATE INDEX REGISTRO_60I_DIA ON REGISTRO_60I (NUM_SERIE, DT_EMISSAO);

CREATE TABLE REGISTRO_60D (
    DT_EMISSAO      date NOT NULL,
    NUM_SERIE       varchar(20) NOT NULL,
    COD_PRODUTO     varchar(14),
    QUANTIDADE      numeric(15,3) DEFAULT 0,
    VR_UNITARIO     numeric(15,3) DEFAULT 0,
    BASE_CALC_ICMS  numeric(15,2) DEFAULT 0,
    SIT_TRIBUTARIA  varchar(4),
    VALOR_ICMS      numeric(15,2) DEFAULT 0
);
CREATE INDEX REGISTRO_60D_DIA ON REGISTRO_60D (NUM_SERIE, DT_EMISSAO);

CREATE TABLE REGISTRO_60M (
    DT_EMISSAO    date NOT NULL,
    NUM_SERIE     varchar(20) NOT NULL,
    NUM_ORDEM     integer,
    MODELO_DOC    varchar(2),
    COO_INICIAL   integer,
    COO_FINAL     integer,
    CRZ           integer,
    CRO           integer,
    VENDA_BRUTA   numeric(15,2) DEFAULT 0,
    GRANDE_TOTAL  numeric(18,2) DEFAULT 0
);
CREATE INDEX REGISTRO_60M_DIA ON REGISTRO_60M (NUM_SERIE, DT_EMISSAO);

-- Copied with all its columns, EXPORTADO included.
CREATE TABLE REGISTRO_60R (
    MES_ANO         varchar(6),                             -- MMYYYY
    COD_PRODUTO     varchar(14),
    QUANTIDADE      numeric(15,3) DEFAULT 0,
    VALOR_BRUTO     numeric(15,2) DEFAULT 0,
    BASE_CALC_ICMS  numeric(15,2) DEFAULT 0,
    SIT_TRIBUTARIA  varchar(4),
    EXPORTADO       integer       DEFAULT 0
);

CREATE TABLE REGISTRO_60A (
    DT_EMISSAO         date NOT NULL,
    NUM_SERIE          varchar(20) NOT NULL,
    SIT_TRIBUTARIA     varchar(4),
    VALOR_TOTALIZADOR  numeric(15,2) DEFAULT 0
);
CREATE INDEX REGISTRO_60A_DIA ON REGISTRO_60A (NUM_SERIE, DT_EMISSAO);

CREATE TABLE REDUCOES_Z (
    DT_IMPRESSORA        date,
    HR_IMPRESSORA        time,
    NUM_SERIE            varchar(20) NOT NULL,
    MODELO_ECF           varchar(20),
    MF_ADICIONAL         varchar(1),
    NUM_ECF              varchar(3),
    NUM_LOJA             varchar(4),
    COO_INICIAL          integer,
    DT_MOVIMENTO         date,
    COO                  integer,
    GNF                  integer,
    CRO                  integer,
    CRZ                  integer NOT NULL,
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
    TOTAL_ICMS           numeric(15,2) DEFAULT 0
);
CREATE INDEX REDUCOES_Z_DIA ON REDUCOES_Z (NUM_SERIE, DT_IMPRESSORA);
