#include "sales/sale_upsert.h"

#include "db/sequences.h"
#include "sales/run_ending.h"
#include "sales/sale_tables.h"
#include "sales/statement_cycle.h"
#include "sales/upsert_context.h"
#include "ui/dialogs.h"
#include "ui/standard_error.h"

namespace sales {
namespace {

// The same terminal reuses document numbers on other days, so the day is
// part of what makes a sale the same sale.
const char* const kSaleByNumDoc = "SELECT TRANSACAO_ID,NUM_DOC FROM TRANSACOES WHERE NUM_DOC = :NUM_DOC  AND "
                                  "BANCO_ID = :BANCO_ID  AND DT_TRANS = :DT_TRANS";
// Sales with CONDUTA "02"/"03" get their server id as NUM_DOC, so a second
// copy is recognised through the terminal's own transaction number.
const char* const kSaleByOrigem = "SELECT TRANSACAO_ID,NUM_DOC FROM TRANSACOES WHERE TRANSACAO_ORIGEM = "
                                  ":TRANSACAO_ORIGEM AND BANCO_ID = :BANCO_ID AND DT_TRANS = :DT_TRANS";

const char* const kInsertTransacao
    = "INSERT INTO TRANSACOES(TRANSACAO_ID, TRANSACAO_ORIGEM, BALANCO, BANCO_ID, BASE_ICMS_NORMAL, "
      "BASE_ICMS_ST, "
      "C_CUSTO_ID, CFOP, CLIENTE_ID, COMPLEMENTO, COND_PAGTO, CONDUTA, CONTA_ID, DEPTO, DT_MOVIMENTO, "
      "DT_TRANS, "
      "DT_ENT_SAI, EMPRESA_ID, FINALIZADORA_ID, HISTORICO, NUM_CHEQUE, NUM_DOC, PARCELA_ID, PEDIDO_ID, "
      "SERIE, "
      "SUB_CODIGO, CHAVE_NFE, TPCTB, VALOR, VALOR_PRODUTOS, VENDEDOR_ID, VR_ACRESCIMO, VR_DESCONTO, "
      "VR_FRETE, "
      "VR_ICMS_NORMAL, VR_ICMS_ST, VR_IPI, DESCONTO_ESPECIAL, MODELO, HORA, ITENS, UNIDADES, FLUXO_CAIXA_ID, "
      "TIPO_VENDA, FUNCIONARIO_ID, OPERADOR, DT_SPED) "
      "VALUES(:TRANSACAO_ID, :TRANSACAO_ORIGEM, :BALANCO, :BANCO_ID, :BASE_ICMS_NORMAL, :BASE_ICMS_ST, "
      ":C_CUSTO_ID, :CFOP, :CLIENTE_ID, :COMPLEMENTO, :COND_PAGTO, :CONDUTA, :CONTA_ID, :DEPTO, "
      ":DT_MOVIMENTO, "
      ":DT_TRANS, :DT_ENT_SAI, :EMPRESA_ID, :FINALIZADORA_ID, :HISTORICO, :NUM_CHEQUE, :NUM_DOC, "
      ":PARCELA_ID, "
      ":PEDIDO_ID, :SERIE, :SUB_CODIGO, :CHAVE_NFE, :TPCTB, :VALOR, :VALOR_PRODUTOS, :VENDEDOR_ID, "
      ":VR_ACRESCIMO, "
      ":VR_DESCONTO, :VR_FRETE, :VR_ICMS_NORMAL, :VR_ICMS_ST, :VR_IPI, :DESCONTO_ESPECIAL, :MODELO, :HORA, "
      ":ITENS, "
      ":UNIDADES, :FLUXO_CAIXA_ID, :TIPO_VENDA, :FUNCIONARIO_ID, :OPERADOR, :DT_SPED)";

// Three lines.
const char* const kItemSale
    = "SELECT TRANSACAO_ID,BANCO_ID, VR_DESCONTO \n"
      "FROM TRANSACOES\n"
      "WHERE TRANSACAO_ORIGEM = :TRANSACAO_ORIGEM AND TRANSACOES.BANCO_ID = :BANCO_ID AND DT_TRANS = :DATA";
// Two item rows of one sale may sell the same product: SEQUENCIA tells them apart.
const char* const kItemDuplicate = "SELECT PRODUTO_ID FROM TRANSITENS WHERE TRANSACAO_ID =:TRANSACAO_ID AND "
                                   "PRODUTO_ID = :PRODUTO_ID AND SEQUENCIA = :SEQUENCIA";
const char* const kInsertTransitem
    = "INSERT INTO TRANSITENS(ALIQUOTA_ICMS, BASE_CALC_ICMS, CONTA_ID, CST, DESCRICAO, MVA, PRODUTO_ID, "
      "QUANTIDADE, "
      "TP_PROD_SERV, TRANSACAO_ID, TRIBUTO_ID, VR_DESCONTO, VR_ACRESCIMO, DESC_RODAPE, VR_IPI, VR_TOTAL, "
      "VR_UNITARIO, "
      "CFOP, VALOR_ICMS, BASE_CALC_ST, VALOR_ICMS_ST, SEQUENCIA, BANCO_ID, DATA, MOVIMENTO, VR_REDUCAO_BC, "
      "BASE_CALC_PIS, ALIQUOTA_PIS, VR_PIS, BASE_CALC_COFINS, ALIQUOTA_COFINS, VR_COFINS) "
      "VALUES(:ALIQUOTA_ICMS, :BASE_CALC_ICMS, :CONTA_ID, :CST, :DESCRICAO, :MVA, :PRODUTO_ID, :QUANTIDADE, "
      ":TP_PROD_SERV, :TRANSACAO_ID, :TRIBUTO_ID, :VR_DESCONTO, :VR_ACRESCIMO, :DESC_RODAPE, :VR_IPI, "
      ":VR_TOTAL, "
      ":VR_UNITARIO, :CFOP, :VALOR_ICMS, :BASE_CALC_ST, :VALOR_ICMS_ST, :SEQUENCIA, :BANCO_ID, :DATA, "
      ":MOVIMENTO, "
      ":VR_REDUCAO_BC, :BASE_CALC_PIS, :ALIQUOTA_PIS, :VR_PIS, :BASE_CALC_COFINS, :ALIQUOTA_COFINS, "
      ":VR_COFINS)";
const char* const kInsertLocalizacao
    = "INSERT INTO "
      "LOCALIZACAO_ESTOQUE_PRODUTOS(PRODUTO_ID,LOCALIZACAO_ID,DESCRICAO,DT_SAIDA,QUANTIDADE,TRANSACAO_ID) "
      "VALUES(:PRODUTO_ID,:LOCALIZACAO_ID,:DESCRICAO,:DT_SAIDA,:QUANTIDADE,:TRANSACAO_ID)";

// Two lines.
const char* const kInstalmentSale
    = "SELECT TRANSACAO_ID \n"
      "FROM TRANSACOES\n"
      "WHERE TRANSACAO_ORIGEM = :TRANSACAO_ORIGEM AND TRANSACOES.BANCO_ID = :BANCO_ID AND DT_TRANS = :DATA";
const char* const kInstalmentDuplicate
    = "SELECT TRANSACAO_ID FROM TRANSPARCELAS WHERE TRANSACAO_ID =:TRANSACAO_ID AND PARCELA_ID = :PARCELA_ID";
const char* const kInsertTransparcela
    = "INSERT INTO TRANSPARCELAS(TRANSACAO_ID,PARCELA_ID,     TIPO_TRANSACAO,  BANCO_ID,       "
      "DT_VENCIMENTO,           "
      "VALOR, DUPLICATA,      ECF,             DATA )VALUES(:TRANSACAO_ID,  :PARCElA_ID,     "
      ":TIPO_TRANSACAO,     "
      ":BANCO_ID,           :DT_VENCIMENTO, :VALOR,         :DUPLICATA,      :ECF,          :DATA)";

void bindSale(db::Query& q, const SourceRow& s, qint64 newId)
{
    const QString conduta = s.text("CONDUTA");
    const bool numberedByServer = conduta == QLatin1String("03") || conduta == QLatin1String("02");

    q.bindInteger("TRANSACAO_ID", newId);
    q.bindText("NUM_DOC", numberedByServer ? QString::number(newId) : s.text("NUM_DOC"));
    q.bindDateTime("DT_SPED", s.dateTime("DT_ENT_SAI"));
    for (const char* c :
        { "TRANSACAO_ORIGEM", "BANCO_ID", "C_CUSTO_ID", "CLIENTE_ID", "CONTA_ID", "EMPRESA_ID",
            "FINALIZADORA_ID", "PEDIDO_ID", "VENDEDOR_ID", "ITENS", "FLUXO_CAIXA_ID", "FUNCIONARIO_ID" })
        q.bindInteger(c, s.integer(c));
    for (const char* c :
        { "BASE_ICMS_NORMAL", "BASE_ICMS_ST", "VALOR", "VALOR_PRODUTOS", "VR_ACRESCIMO", "VR_DESCONTO",
            "VR_FRETE", "VR_ICMS_NORMAL", "VR_ICMS_ST", "VR_IPI", "DESCONTO_ESPECIAL", "UNIDADES" })
        q.bindFloat(c, s.decimal(c));
    for (const char* c : { "DT_MOVIMENTO", "DT_TRANS", "DT_ENT_SAI" })
        q.bindDateTime(c, s.dateTime(c));
    for (const char* c : { "BALANCO", "CFOP", "COMPLEMENTO", "COND_PAGTO", "CONDUTA", "DEPTO", "HISTORICO",
             "NUM_CHEQUE", "PARCELA_ID", "SERIE", "SUB_CODIGO", "CHAVE_NFE", "TPCTB", "MODELO", "HORA",
             "TIPO_VENDA", "OPERADOR" })
        q.bindText(c, s.text(c));
}

void bindItem(db::Query& q, const SourceRow& s, qint64 saleId, const QDateTime& data)
{
    q.bindInteger("TRANSACAO_ID", saleId);
    q.bindInteger("MOVIMENTO", 0);
    for (const char* c : { "CONTA_ID", "PRODUTO_ID", "TRIBUTO_ID", "SEQUENCIA", "BANCO_ID" })
        q.bindInteger(c, s.integer(c));
    for (const char* c : { "CST", "DESCRICAO", "TP_PROD_SERV", "CFOP" })
        q.bindText(c, s.text(c));
    q.bindDateTime("DATA", data);
    for (const char* c : { "ALIQUOTA_ICMS", "BASE_CALC_ICMS", "MVA", "QUANTIDADE", "VR_DESCONTO",
             "VR_ACRESCIMO", "DESC_RODAPE", "VR_IPI", "VR_TOTAL", "VR_UNITARIO", "VALOR_ICMS", "BASE_CALC_ST",
             "VALOR_ICMS_ST", "VR_REDUCAO_BC", "BASE_CALC_PIS", "ALIQUOTA_PIS", "VR_PIS", "BASE_CALC_COFINS",
             "ALIQUOTA_COFINS", "VR_COFINS" })
        q.bindFloat(c, s.decimal(c));
}

} // namespace

void upsertTransacao(UpsertContext& ctx, const SourceRow& s)
{
    const QString conduta = s.text("CONDUTA");
    const bool numberedByServer = conduta == QLatin1String("03") || conduta == QLatin1String("02");

    db::Query& duplicate = ctx.statement(numberedByServer ? kSaleByOrigem : kSaleByNumDoc);
    if (numberedByServer)
        duplicate.bindInteger("TRANSACAO_ORIGEM", s.integer("TRANSACAO_ORIGEM"));
    else
        duplicate.bindText("NUM_DOC", s.text("NUM_DOC"));
    duplicate.bindInteger("BANCO_ID", s.integer("BANCO_ID"));
    duplicate.bindDateTime("DT_TRANS", s.dateTime("DT_TRANS"));
    if (ctx.findsRow(duplicate))
        return;

    const QStringList& key = saleTable(SaleTable::Transacoes).giveBackKey;
    auto refused = [&ctx, rowKey = UpsertContext::keyOf(s, key)](const std::exception& e) {
        ctx.givenBack.push_back(rowKey);
        ui::dialogs().error(QStringLiteral("Erro Transacoes principal:\rErro: ") + ui::failureText(e));
    };
    try {
        // Novo_Id keeps the id drawn, whatever becomes of the insert.
        const qint64 newId = db::nextTransacaoId(ctx.server);
        ctx.cells.Novo_Id = newId;
        const qint64 cupom = wholeNumber(s.text("NUM_DOC"));
        const qint64 caixa = s.integer("BANCO_ID");

        db::Query& insert = ctx.statement(kInsertTransacao);
        bindSale(insert, s, newId);
        const SaleLink link { s.integer("TRANSACAO_ORIGEM"), caixa, s.dateTime("DT_TRANS") };
        ctx.pumpEvents(); // before the insert is held back, never while it is
        ctx.sendWrite(
            insert,
            // The cells name the last sale that reached the server: only an
            // insert the server answered puts it there, in sending order.
            [&ctx, link, newId, cupom, caixa] {
                ctx.saleInserted = true;
                ctx.knownSales.remember(link, newId);
                ctx.cells.Ultima_Transacao = newId;
                ctx.cells.Ultimo_Cupom = cupom;
                ctx.cells.Ultimo_Caixa = caixa;
            },
            refused);
    } catch (const std::exception& e) {
        // A lost link ends the run; the row is left for the next one.
        if (!refusedForItsData(e))
            throw;
        refused(e);
    }
}

void upsertTransitem(UpsertContext& ctx, const SourceRow& s)
{
    const QStringList& key = saleTable(SaleTable::Transitens).giveBackKey;

    const QDateTime data = s.dateTime("DATA");
    const qint64 saleId
        = findSale(ctx, kItemSale, { s.integer("TRANSACAO_ID"), s.integer("BANCO_ID"), data });
    if (saleId == 0) {
        // Its sale has not reached the server yet: send the item again later.
        ctx.giveBack(s, key);
        return;
    }

    db::Query& duplicate = ctx.statement(kItemDuplicate);
    duplicate.bindInteger("TRANSACAO_ID", saleId);
    duplicate.bindInteger("PRODUTO_ID", s.integer("PRODUTO_ID"));
    duplicate.bindInteger("SEQUENCIA", s.integer("SEQUENCIA"));
    if (ctx.findsRow(duplicate))
        return;

    auto refused = [&ctx, rowKey = UpsertContext::keyOf(s, key)](const std::exception& e) {
        ctx.givenBack.push_back(rowKey);
        ui::dialogs().error(QStringLiteral("Erro transitens:\rErro: ") + ui::failureText(e));
    };
    try {
        db::Query& insert = ctx.statement(kInsertTransitem);
        bindItem(insert, s, saleId, data);
        if (!ctx.stock.enabled) {
            ctx.pumpEvents(); // before the insert is held back, never while it is
            ctx.sendWrite(insert, [] { }, refused);
            return;
        }

        // The stock-location row follows only an item that is in.
        execute(insert);
        // A missing stock-location row must not cost the item; a lost link
        // still ends the run.
        try {
            db::Query& location = ctx.statement(kInsertLocalizacao);
            location.bindInteger("PRODUTO_ID", s.integer("PRODUTO_ID"));
            location.bindInteger("LOCALIZACAO_ID", ctx.stock.localizacaoId);
            location.bindText("DESCRICAO", ctx.stock.descricao);
            location.bindDateTime("DT_SAIDA", data);
            location.bindFloat("QUANTIDADE", s.decimal("QUANTIDADE"));
            location.bindInteger("TRANSACAO_ID", saleId);
            execute(location);
        } catch (const std::exception& e) {
            if (!refusedForItsData(e))
                throw;
        }
        ctx.pumpEvents();
    } catch (const std::exception& e) {
        if (!refusedForItsData(e))
            throw;
        refused(e);
    }
}

void upsertTransparcela(UpsertContext& ctx, const SourceRow& s)
{
    const qint64 saleId
        = findSale(ctx, kInstalmentSale, { s.integer("TRANSACAO_ID"), s.integer("ECF"), s.dateTime("DATA") });
    if (saleId == 0) {
        ctx.giveBack(s, saleTable(SaleTable::Transparcelas).giveBackKey);
        return;
    }

    db::Query& duplicate = ctx.statement(kInstalmentDuplicate);
    duplicate.bindInteger("TRANSACAO_ID", saleId);
    duplicate.bindText("PARCELA_ID", s.text("PARCELA_ID"));
    if (ctx.findsRow(duplicate))
        return;

    db::Query& insert = ctx.statement(kInsertTransparcela);
    insert.bindInteger("TRANSACAO_ID", saleId);
    for (const char* c : { "PARCELA_ID", "TIPO_TRANSACAO", "DUPLICATA" })
        insert.bindText(c, s.text(c));
    for (const char* c : { "BANCO_ID", "ECF" })
        insert.bindInteger(c, s.integer(c));
    for (const char* c : { "DT_VENCIMENTO", "DATA" })
        insert.bindDateTime(c, s.dateTime(c));
    insert.bindFloat("VALOR", s.decimal("VALOR"));
    ctx.pumpEvents(); // before the insert is held back, never while it is
    // A failed instalment ends its table's phase, as soon as its answer is in.
    ctx.sendWrite(insert, [] { }, {});
}

} // namespace sales
