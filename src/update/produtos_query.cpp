#include "update/produtos_query.h"

#include "db/query.h"

namespace update {
namespace {

const char* const kAutomatica =
    "SELECT PRODUTO_ID,COD_BARRA,CODRED,NCM,DESCRICAO,FANTASIA,PROVQT,UNIDADE_VENDA , FRACAO_VENDA,PESAVEL,"
    "ETIQUETADO,EMPRESA_ID,TRIBUTO_ID,ALIQUOTA_ICMS,PRECO_VAREJO,PRECO_ATACADO,PRECO_PROMOCAO, PRECO_PRAZO,"
    "PROMO_INICIAL,PROMO_FINAL,STATUS,COD_BARRA_AUX1,COD_BARRA_AUX2,COD_BARRA_AUX3,COD_BARRA_AUX4, COD_ORIGINAL,"
    "REFERENCIA,QUANTIDADE_C,QUANT_MAXIMA FROM PRODUTOS WHERE (PRODUTOS.TRIBUTO_ID > 0) AND "
    "(PRODUTOS.PRECO_VAREJO > 0.01)AND ((PRODUTOS.TIPO_ITEM = '00 - MERCADORIA PARA REVENDA') OR "
    "(PRODUTOS.TIPO_ITEM = '04 - PRODUTO ACABADO')) AND (PRODUTOS.EMPRESA_ID = :EMPRESA_ID)"
    "AND ((PRODUTOS.DT_ATUALIZACAO >= (SELECT DT_SYNC FROM LICENCA_IF WHERE NUM_ECF = :NUM_ECF )) AND "
    "(PRODUTOS.HR_SYNC >= (SELECT HR_SYNC FROM LICENCA_IF WHERE NUM_ECF = :NUM_ECF )))"
    "ORDER BY PRODUTOS.DESCRICAO";

const char* const kAlterados =
    "SELECT PRODUTO_ID,COD_BARRA,CODRED,NCM,DESCRICAO,FANTASIA,PROVQT,UNIDADE_VENDA ,TIPO_ITEM, FRACAO_VENDA,"
    "PESAVEL,ETIQUETADO,EMPRESA_ID,TRIBUTO_ID,ALIQUOTA_ICMS,PRECO_VAREJO,PRECO_ATACADO,PRECO_PROMOCAO, "
    "PRECO_PRAZO,PROMO_INICIAL,PROMO_FINAL,STATUS,COD_BARRA_AUX1,COD_BARRA_AUX2,COD_BARRA_AUX3,COD_BARRA_AUX4, "
    "COD_ORIGINAL,REFERENCIA,QUANTIDADE_C,QUANT_MAXIMA FROM PRODUTOS WHERE (PRODUTOS.TRIBUTO_ID > 0) AND "
    "(PRODUTOS.PRECO_VAREJO > 0.01) AND (PRODUTOS.TIPO_ITEM = '00 - MERCADORIA PARA REVENDA') AND "
    "(PRODUTOS.EMPRESA_ID = :EMPRESA_ID)";

const char* const kDataEHora =
    "AND ((PRODUTOS.DT_ATUALIZACAO >= (SELECT DT_SYNC FROM LICENCA_IF WHERE NUM_ECF = :NUM_ECF )) AND "
    "(PRODUTOS.HR_SYNC >= (SELECT HR_SYNC FROM LICENCA_IF WHERE NUM_ECF = :NUM_ECF )))";

const char* const kSoData = "AND (DT_ATUALIZACAO >= (SELECT DT_SYNC FROM LICENCA_IF WHERE NUM_ECF = :NUM_ECF ))";

const char* const kPorProduto = " ORDER BY PRODUTOS.PRODUTO_ID";

const char* const kTodos = "SELECT * FROM PRODUTOS WHERE (TRIBUTO_ID > 0) AND (PRECO_VAREJO > 0.01) ";

} // namespace

ProdutosQuery ProdutosQuery::automatica(const QString& numEcf, qint64 empresa)
{
    return {QString::fromLatin1(kAutomatica), numEcf, empresa};
}

ProdutosQuery ProdutosQuery::alterados(const QString& numEcf, qint64 empresa, bool syncedToday)
{
    return {QString::fromLatin1(kAlterados) + QLatin1String(syncedToday ? kDataEHora : kSoData)
                + QLatin1String(kPorProduto),
            numEcf, empresa};
}

ProdutosQuery ProdutosQuery::todos()
{
    return {QString::fromLatin1(kTodos), QString(), 0};
}

void ProdutosQuery::open(db::Query& q) const
{
    q.setText(sql);
    const QStringList names = q.parameterNames();
    if (names.contains(QLatin1String("NUM_ECF")))
        q.bindText("NUM_ECF", numEcf);
    if (names.contains(QLatin1String("EMPRESA_ID")))
        q.bindInteger("EMPRESA_ID", empresa);
    q.prepare();
    q.open();
}

} // namespace update
