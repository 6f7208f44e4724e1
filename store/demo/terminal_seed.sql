-- Demo store, one terminal database: what the till itself recorded before
-- today. Loaded after store/terminal.sql and after make_store.sh has copied
-- the terminal's own LICENCA_IF row, CONFIG and the reference tables from the
-- server (as the last synchronisation left them), so it reads its number and
-- fiscal serial from LICENCA_IF:
--   psql -v ON_ERROR_STOP=1 -f terminal_seed.sql
-- Yesterday's fiscal day records are already exported (EXPORTADO 2); the
-- day's sales come from the store simulator.

BEGIN;

CREATE TEMP TABLE esta_ecf ON COMMIT DROP AS
SELECT NUM_ECF, CAST(NUM_ECF AS integer) AS n, SERIAL FROM LICENCA_IF;

DO $$
BEGIN
    IF (SELECT count(*) FROM esta_ecf) <> 1 THEN
        RAISE EXCEPTION 'LICENCA_IF must hold exactly this terminal''s row';
    END IF;
END
$$;

-- End-of-day reduction of yesterday.
INSERT INTO REDUCOES_Z (DT_IMPRESSORA, HR_IMPRESSORA, NUM_SERIE, MODELO_ECF, MF_ADICIONAL, NUM_ECF,
                        NUM_LOJA, COO_INICIAL, DT_MOVIMENTO, COO, GNF, CRO, CRZ, CCF, CFD, CDC, GRG,
                        GNFC, CFC, GRANDE_TOTAL, VENDA_BRUTA, CANCELAMENTO_ICMS, DESCONTO_ICMS,
                        TOTAL_ISSQN, CANCELAMENTO_ISSQN, DESCONTO_ISSQN, VENDA_LIQUIDA, ACRESCIMO_ICMS,
                        ACRESCIMO_ISSQN, SUBSTITUICAO_ICMS, ISENTO_ICMS, NAO_TRIBUTADO_ICMS,
                        SUBSTITUICAO_ISSQN, ISENTO_ISSQN, NAO_TRIBUTADO_ISSQN, OPERACAO_NAO_FISCAL,
                        TOTAL_TROCO, TOTAL_ICMS, EXPORTADO)
SELECT CURRENT_DATE - 1, TIME '22:04:31', e.SERIAL, 'NFC-E SAT', ' ', e.NUM_ECF,
       '0001', 800 * e.n + 1, CURRENT_DATE - 1, 800 * e.n + 212, 14, 1, 311 + e.n, 800 * e.n + 211, 0, 0, 2,
       1, 0, 1843020.55 + 9000 * e.n, 6120.40 + 310 * e.n, 48.90, 21.35,
       0, 0, 0, 6050.15 + 310 * e.n, 0,
       0, 1380.70, 1175.20, 0,
       0, 0, 0, 0,
       412.60, 512.34, 2
  FROM esta_ecf e;

INSERT INTO REGISTRO_60M (DT_EMISSAO, NUM_SERIE, NUM_ORDEM, MODELO_DOC, COO_INICIAL, COO_FINAL, CRZ,
                          CRO, VENDA_BRUTA, GRANDE_TOTAL, EXPORTADO)
SELECT CURRENT_DATE - 1, e.SERIAL, e.n, '2D', 800 * e.n + 1, 800 * e.n + 212, 311 + e.n,
       1, 6120.40 + 310 * e.n, 1843020.55 + 9000 * e.n, 2
  FROM esta_ecf e;

INSERT INTO REGISTRO_60A (DT_EMISSAO, NUM_SERIE, SIT_TRIBUTARIA, VALOR_TOTALIZADOR, EXPORTADO)
SELECT CURRENT_DATE - 1, e.SERIAL, t.sit, t.valor + 40 * e.n, 2
  FROM esta_ecf e
 CROSS JOIN (VALUES ('1800', 1490.25), ('1200', 610.80), ('0700', 1413.45),
                    ('F', 1380.70), ('I', 1175.20), ('CANC', 48.90), ('DESC', 21.35)) AS t(sit, valor);

COMMIT;
