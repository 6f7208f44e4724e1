#include "sales/fiscal_tables.h"

namespace sales {

const std::array<FiscalTableCopy, 6>& fiscalTables()
{
    // clang-format off
    static const std::array<FiscalTableCopy, 6> all{{
        {FiscalTable::Registro60I, "REGISTRO_60I",
         "SELECT DT_EMISSAO,COD_PRODUTO,NUM_ORDEM,NUM_SERIE FROM REGISTRO_60I WHERE EXPORTADO = 0 ",
         "UPDATE REGISTRO_60I SET EXPORTADO =1 WHERE EXPORTADO = 0 ",
         "SELECT DISTINCT NUM_SERIE, DT_EMISSAO FROM REGISTRO_60I WHERE EXPORTADO = 1 ORDER BY NUM_SERIE, DT_EMISSAO",
         nullptr,
         "DELETE FROM REGISTRO_60I WHERE NUM_SERIE =:NUM_SERIE AND DT_EMISSAO = :DT_EMISSAO",
         true,
         "SELECT DT_EMISSAO,     NUM_SERIE,   MODELO_DOC, NUM_ORDEM,      NUM_ITEM,    COD_PRODUTO, QUANTIDADE,     "
         "VR_UNITARIO, BASE_CALC_ICMS, SIT_TRIBUTARIA, VALOR_ICMS  FROM REGISTRO_60I WHERE EXPORTADO = 1 ORDER BY "
         "NUM_ORDEM",
         "SELECT DT_EMISSAO,     NUM_SERIE,   MODELO_DOC, NUM_ORDEM,      NUM_ITEM,    COD_PRODUTO, QUANTIDADE,     "
         "VR_UNITARIO, BASE_CALC_ICMS, SIT_TRIBUTARIA, VALOR_ICMS FROM REGISTRO_60I",
         "QuiborSync_Logs\\Log_registro60i.log",
         "UPDATE REGISTRO_60I SET EXPORTADO = 2 WHERE EXPORTADO =1 ",
         nullptr},
        {FiscalTable::Registro60D, "REGISTRO_60D",
         "SELECT DT_EMISSAO,COD_PRODUTO,NUM_SERIE FROM REGISTRO_60D WHERE EXPORTADO = 0 ",
         "UPDATE REGISTRO_60D SET EXPORTADO =1 WHERE EXPORTADO = 0 ",
         "SELECT DISTINCT NUM_SERIE, DT_EMISSAO FROM REGISTRO_60D WHERE EXPORTADO = 1 ORDER BY NUM_SERIE, DT_EMISSAO",
         nullptr,
         "DELETE FROM REGISTRO_60D WHERE NUM_SERIE =:NUM_SERIE AND DT_EMISSAO = :DT_EMISSAO",
         true,
         "SELECT DT_EMISSAO,     NUM_SERIE, COD_PRODUTO, QUANTIDADE,     VR_UNITARIO, BASE_CALC_ICMS, SIT_TRIBUTARIA, "
         "VALOR_ICMS  FROM REGISTRO_60D WHERE EXPORTADO = 1 ",
         "SELECT DT_EMISSAO,     NUM_SERIE, COD_PRODUTO, QUANTIDADE,     VR_UNITARIO, BASE_CALC_ICMS, SIT_TRIBUTARIA, "
         "VALOR_ICMS FROM REGISTRO_60D",
         "QuiborSync_Logs\\Log_registro60D.log",
         "UPDATE REGISTRO_60D SET EXPORTADO = 2 WHERE EXPORTADO =1 ",
         nullptr},
        {FiscalTable::Registro60M, "REGISTRO_60M",
         "SELECT DT_EMISSAO, NUM_SERIE FROM REGISTRO_60M WHERE EXPORTADO = 0",
         "UPDATE REGISTRO_60M SET EXPORTADO =1 WHERE EXPORTADO = 0",
         "SELECT DISTINCT NUM_SERIE, DT_EMISSAO FROM REGISTRO_60M WHERE EXPORTADO = 1 ORDER BY NUM_SERIE, DT_EMISSAO",
         nullptr,
         "DELETE FROM REGISTRO_60M WHERE NUM_SERIE =:NUM_SERIE AND DT_EMISSAO = :DT_EMISSAO",
         false,
         "SELECT DT_EMISSAO, NUM_SERIE,   NUM_ORDEM, MODELO_DOC, COO_INICIAL, COO_FINAL, CRZ,        CRO,         "
         "VENDA_BRUTA, GRANDE_TOTAL FROM REGISTRO_60M WHERE EXPORTADO = 1",
         "SELECT DT_EMISSAO, NUM_SERIE,   NUM_ORDEM, MODELO_DOC, COO_INICIAL, COO_FINAL, CRZ,        CRO,         "
         "VENDA_BRUTA, GRANDE_TOTAL FROM REGISTRO_60M",
         "QuiborSync_Logs\\Log_Registro60m.log",
         "UPDATE REGISTRO_60M SET EXPORTADO = 2 WHERE EXPORTADO =1",
         nullptr},
        {FiscalTable::Registro60R, "REGISTRO_60R",
         "SELECT MES_ANO FROM REGISTRO_60R WHERE EXPORTADO = 0",
         "UPDATE REGISTRO_60R SET EXPORTADO = 1 WHERE EXPORTADO = 0",
         nullptr,
         "SELECT MES_ANO FROM REGISTRO_60R WHERE EXPORTADO = 1 LIMIT 1",
         nullptr,
         false,
         "SELECT * FROM REGISTRO_60R WHERE EXPORTADO = 1",
         "SELECT * FROM REGISTRO_60R",
         "QuiborSync_Logs\\Log_Registro60r.log",
         "UPDATE REGISTRO_60R SET EXPORTADO = 2 WHERE EXPORTADO = 1",
         // Always inserted, with every column the store's table has: a
         // monthly row names no device, so the same values sent by two
         // terminals are two records.
         nullptr},
        {FiscalTable::Registro60A, "REGISTRO_60A",
         "SELECT DT_EMISSAO, NUM_SERIE FROM REGISTRO_60A WHERE EXPORTADO = 0",
         "UPDATE REGISTRO_60A SET EXPORTADO = 1 WHERE EXPORTADO = 0",
         "SELECT DISTINCT NUM_SERIE, DT_EMISSAO FROM REGISTRO_60A WHERE EXPORTADO = 1 ORDER BY NUM_SERIE, DT_EMISSAO",
         nullptr,
         "DELETE FROM REGISTRO_60A WHERE NUM_SERIE =:NUM_SERIE AND DT_EMISSAO = :DT_EMISSAO",
         false,
         "SELECT DT_EMISSAO, NUM_SERIE,   SIT_TRIBUTARIA, VALOR_TOTALIZADOR FROM REGISTRO_60A WHERE EXPORTADO = 1",
         "SELECT DT_EMISSAO, NUM_SERIE,   SIT_TRIBUTARIA, VALOR_TOTALIZADOR FROM REGISTRO_60A",
         "QuiborSync_Logs\\Registro60a.log",
         "UPDATE REGISTRO_60A SET EXPORTADO = 2 WHERE EXPORTADO =1",
         nullptr},
        {FiscalTable::ReducoesZ, "REDUCOES_Z",
         "SELECT DT_IMPRESSORA FROM REDUCOES_Z WHERE EXPORTADO = 0",
         "UPDATE REDUCOES_Z SET EXPORTADO = 1 WHERE EXPORTADO = 0",
         nullptr,
         "SELECT DT_IMPRESSORA FROM REDUCOES_Z WHERE EXPORTADO = 1 LIMIT 1",
         nullptr,
         false,
         "SELECT dt_impressora, hr_impressora, num_serie, modelo_ecf, mf_adicional, num_ecf, num_loja, coo_inicial, "
         "dt_movimento, coo, gnf, cro, crz, ccf, cfd, cdc, grg, gnfc, cfc, grande_total, venda_bruta, "
         "cancelamento_icms, desconto_icms, total_issqn, cancelamento_issqn, desconto_issqn, venda_liquida, "
         "acrescimo_icms, acrescimo_issqn, substituicao_icms, isento_icms, nao_tributado_icms, substituicao_issqn, "
         "isento_issqn, nao_tributado_issqn, operacao_nao_fiscal, total_troco, total_icms FROM reducoes_z WHERE "
         "EXPORTADO = 1",
         "SELECT dt_impressora, hr_impressora, num_serie, modelo_ecf, mf_adicional, num_ecf, num_loja, coo_inicial, "
         "dt_movimento, coo, gnf, cro, crz, ccf, cfd, cdc, grg, gnfc, cfc, grande_total, venda_bruta, "
         "cancelamento_icms, desconto_icms, total_issqn, cancelamento_issqn, desconto_issqn, venda_liquida, "
         "acrescimo_icms, acrescimo_issqn, substituicao_icms, isento_icms, nao_tributado_icms, substituicao_issqn, "
         "isento_issqn, nao_tributado_issqn, operacao_nao_fiscal, total_troco, total_icms FROM reducoes_z",
         "QuiborSync_Logs\\Reducoes_z.log",
         "UPDATE REDUCOES_Z SET EXPORTADO = 2 WHERE EXPORTADO =1",
         // A device's reduction counter names its reduction.
         "SELECT CRZ FROM REDUCOES_Z WHERE NUM_SERIE = :NUM_SERIE AND CRZ = :CRZ LIMIT 1"},
    }};
    // clang-format on
    return all;
}

} // namespace sales
