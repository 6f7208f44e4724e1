#include "sales/nfce_upsert.h"

#include "db/sequences.h"
#include "sales/run_ending.h"
#include "sales/sale_tables.h"
#include "db/scoped_transaction.h"
#include "sales/statement_cycle.h"
#include "sales/upsert_context.h"
#include "ui/dialogs.h"
#include "ui/standard_error.h"

namespace sales {
namespace {

// Two lines each, then the WHERE line that finds an NFC-e row's sale.
const char* const kComplSale
    = "SELECT TRANSACAO_ID \n"
      "FROM TRANSACOES\n"
      "WHERE TRANSACAO_ORIGEM = :TRANSACAO_ORIGEM AND TRANSACOES.BANCO_ID = :BANCO_ID AND DT_TRANS = :DATA";
const char* const kNoteSale
    = "SELECT * \n"
      "FROM TRANSACOES\n"
      "WHERE TRANSACAO_ORIGEM = :TRANSACAO_ORIGEM AND TRANSACOES.BANCO_ID = :BANCO_ID AND DT_TRANS = :DATA";

// An NFC-e's access key is unique to it: it names a row stored earlier
// under a fresh id whatever that id is.
const char* const kComplByKey = "SELECT TRANSACAO_ID FROM COMPL_NFCEFISCAL WHERE CHAVE_NFCE = :CHAVE_NFCE";
const char* const kNoteByKey = "SELECT TRANSACAO_ID FROM NOTAS_CANCELADAS_NFCE WHERE CHAVE_NFCE = :CHAVE_NFCE";

const char* const kComplExists
    = "SELECT TRANSACAO_ID FROM COMPL_NFCEFISCAL WHERE TRANSACAO_ID = :TRANSACAO_ID";
const char* const kDeleteCompl = "DELETE FROM COMPL_NFCEFISCAL WHERE TRANSACAO_ID = :TRANSACAO_ID";
const char* const kInsertCompl
    = "INSERT INTO COMPL_NFCEFISCAL(TRANSACAO_ID,DT_SAIDA, HR_SAIDA , RECIBO, PROTOCOLO, CHAVE_NFCE, "
      "EMPRESA_ID, ECF, "
      "TRANSMISSAO,  PATHNFCE_SERVIDOR, PATHNFCE_LOCAL, DT_EMISSAO, DT_TRANSMISSAO, "
      "VALOR,NO_DOC_FISCAL,COND_PAGTO,"
      "ARQUIVO_XML,ERRO_ENVIO )VALUES(:TRANSACAO_ID, :DT_SAIDA, :HR_SAIDA, :RECIBO, :PROTOCOLO, :CHAVE_NFCE, "
      ":EMPRESA_ID, :ECF, :TRANSMISSAO, :PATHNFCE_SERVIDOR,         :PATHNFCE_LOCAL,      :DT_EMISSAO,       "
      "   "
      ":DT_TRANSMISSAO, :VALOR,:NO_DOC_FISCAL,:COND_PAGTO,:ARQUIVO_XML,:ERRO_ENVIO)";

const char* const kNoteExists
    = "SELECT TRANSACAO_ID FROM NOTAS_CANCELADAS_NFCE WHERE TRANSACAO_ID = :TRANSACAO_ID";
const char* const kComplOfSale
    = "SELECT TRANSMISSAO,ARQUIVO_XML FROM COMPL_NFCEFISCAL WHERE TRANSACAO_ID = :TRANSACAO_ID";
const char* const kInsertNote
    = "INSERT INTO NOTAS_CANCELADAS_NFCE(TRANSACAO_ID,DT_SAIDA, HR_SAIDA , RECIBO, PROTOCOLO, CHAVE_NFCE, "
      "EMPRESA_ID, "
      "ECF, VALOR,NO_DOC_FISCAL,ARQUIVO_XML,TRANSMISSAO )VALUES(:TRANSACAO_ID, :DT_SAIDA, :HR_SAIDA, "
      ":RECIBO, "
      ":PROTOCOLO, :CHAVE_NFCE, :EMPRESA_ID, :ECF, :VALOR,:NO_DOC_FISCAL,:ARQUIVO_XML,:TRANSMISSAO)";
const char* const kInsertNoteWithoutSale = "INSERT INTO NOTAS_CANCELADAS_NFCE(TRANSACAO_ID,DT_SAIDA, "
                                           "HR_SAIDA , RECIBO, PROTOCOLO, CHAVE_NFCE, EMPRESA_ID, "
                                           "ECF, VALOR,NO_DOC_FISCAL,ARQUIVO_XML,TRANSMISSAO,SINTEGRA "
                                           ")VALUES(:TRANSACAO_ID, :DT_SAIDA, :HR_SAIDA, "
                                           ":RECIBO, :PROTOCOLO, :CHAVE_NFCE, :EMPRESA_ID, :ECF, "
                                           ":VALOR,:NO_DOC_FISCAL,:ARQUIVO_XML,:TRANSMISSAO,:SINTEGRA)";
const char* const kInsertCancellationSale = "INSERT INTO TRANSACOES( TRANSACAO_ID, DT_TRANS,   DT_MOVIMENTO, "
                                            "CONDUTA, DEPTO,        EMPRESA_ID, CONTA_ID,     "
                                            "C_CUSTO_ID, BANCO_ID, VALOR,        TPCTB,      AUTORIZ_ID,   "
                                            "HISTORICO, CONTAAUX_ID) VALUES(:TRANSACAO_ID, "
                                            ":DT_TRANS,   :DT_MOVIMENTO, :CONDUTA, :DEPTO,      :EMPRESA_ID, "
                                            ":CONTA_ID,     :C_CUSTO_ID, :BANCO_ID, :VALOR,  "
                                            "      :TPCTB,   :AUTORIZ_ID, :HISTORICO, :CONTAAUX_ID)";
// Five lines.
const char* const kCopyCancelledItems
    = "INSERT INTO TRANSITENS(TRANSACAO_ID, PRODUTO_ID, CONTA_ID, TP_PROD_SERV, CFOP, DESCRICAO, TRIBUTO_ID, "
      "QUANTIDADE, VR_UNITARIO, VR_DESCONTO, VR_TOTAL, MOVIMENTO)\n"
      "SELECT :ID_TRANS, PRODUTO_ID, CONTA_ID, TP_PROD_SERV, :CFOP, DESCRICAO, TRIBUTO_ID, QUANTIDADE, "
      "VR_UNITARIO, VR_DESCONTO, VR_TOTAL, MOVIMENTO\n"
      "FROM TRANSITENS\n"
      "WHERE\n"
      "(TRANSACAO_ID = :TRANSACAO_ID)";

void bindSaleLink(db::Query& q, const SourceRow& s)
{
    q.bindInteger("TRANSACAO_ORIGEM", s.integer("TRANSACAO_ID"));
    q.bindInteger("BANCO_ID", s.integer("ECF"));
    q.bindDateTime("DATA", s.dateTime("DT_SAIDA"));
}

void insertComplement(UpsertContext& ctx, const SourceRow& s, qint64 transacaoId)
{
    db::Query& insert = ctx.statement(kInsertCompl);
    insert.bindInteger("TRANSACAO_ID", transacaoId);
    for (const char* c : { "DT_SAIDA", "DT_EMISSAO", "DT_TRANSMISSAO" })
        insert.bindDateTime(c, s.dateTime(c));
    for (const char* c : { "HR_SAIDA", "RECIBO", "PROTOCOLO", "CHAVE_NFCE", "ECF", "TRANSMISSAO",
             "PATHNFCE_SERVIDOR", "PATHNFCE_LOCAL", "COND_PAGTO" })
        insert.bindText(c, s.text(c));
    for (const char* c : { "EMPRESA_ID", "NO_DOC_FISCAL" })
        insert.bindInteger(c, s.integer(c));
    insert.bindFloat("VALOR", s.decimal("VALOR"));
    for (const char* c : { "ARQUIVO_XML", "ERRO_ENVIO" })
        insert.bindBytes(c, s.bytes(c));
    execute(insert);
}

// The terminal's complement replaces the server's one under `transacaoId`;
// the old one goes only when the new one arrives.
void replaceComplement(UpsertContext& ctx, const SourceRow& s, qint64 transacaoId)
{
    db::ScopedTransaction transaction(ctx.server);
    db::Query& remove = ctx.statement(kDeleteCompl);
    remove.bindInteger("TRANSACAO_ID", transacaoId);
    execute(remove);
    insertComplement(ctx, s, transacaoId);
    transaction.commit();
}

// The server id of a row stored earlier (by `byKeySql`) under the source
// row's access key; 0 when there is none, or when the row has no key and
// so cannot be told apart from another.
qint64 storedUnderKey(UpsertContext& ctx, const char* byKeySql, const SourceRow& s)
{
    const QString key = s.text("CHAVE_NFCE");
    if (key.trimmed().isEmpty())
        return 0;
    db::Query& q = ctx.statement(byKeySql);
    q.bindText("CHAVE_NFCE", key);
    return openFindsRow(q) ? q.field("TRANSACAO_ID").asInteger() : 0;
}

void bindNote(db::Query& q, const SourceRow& s, qint64 transacaoId)
{
    q.bindInteger("TRANSACAO_ID", transacaoId);
    q.bindDateTime("DT_SAIDA", s.dateTime("DT_SAIDA"));
    for (const char* c : { "HR_SAIDA", "RECIBO", "PROTOCOLO", "CHAVE_NFCE", "ECF" })
        q.bindText(c, s.text(c));
    for (const char* c : { "EMPRESA_ID", "NO_DOC_FISCAL" })
        q.bindInteger(c, s.integer(c));
    q.bindFloat("VALOR", s.decimal("VALOR"));
}

// The note, the complement's removal, the cancellation sale and its items.
void bookCancellation(UpsertContext& ctx, const SourceRow& s, const db::Query& sale, qint64 saleId)
{
    db::ScopedTransaction transaction(ctx.server);

    db::Query& compl_ = ctx.statement(kComplOfSale);
    compl_.bindInteger("TRANSACAO_ID", saleId);
    const QByteArray xml = openFindsRow(compl_) ? bytesOf(compl_.field("ARQUIVO_XML")) : QByteArray();

    db::Query& note = ctx.statement(kInsertNote);
    bindNote(note, s, saleId);
    note.bindText("TRANSMISSAO", s.text("TRANSMISSAO"));
    note.bindBytes("ARQUIVO_XML", xml);
    execute(note);

    db::Query& remove = ctx.statement(kDeleteCompl);
    remove.bindInteger("TRANSACAO_ID", saleId);
    execute(remove);

    const qint64 cancellationId = db::nextTransacaoId(ctx.server);

    db::Query& booking = ctx.statement(kInsertCancellationSale);
    booking.bindInteger("TRANSACAO_ID", cancellationId);
    booking.bindDateTime("DT_TRANS", sale.field("DT_MOVIMENTO").asDateTime());
    booking.bindDateTime("DT_MOVIMENTO", sale.field("DT_MOVIMENTO").asDateTime());
    booking.bindText("CONDUTA", QStringLiteral("18"));
    booking.bindText("DEPTO", QStringLiteral("07"));
    booking.bindInteger("EMPRESA_ID", sale.field("EMPRESA_ID").asInteger());
    booking.bindInteger("CONTA_ID", sale.field("CONTA_ID").asInteger());
    booking.bindInteger("C_CUSTO_ID", 1);
    booking.bindFloat("VALOR", sale.field("VALOR").asFloat());
    booking.bindText("TPCTB", QStringLiteral("2"));
    booking.bindInteger("AUTORIZ_ID", sale.field("FUNCIONARIO_ID").asInteger());
    booking.bindText("HISTORICO", QStringLiteral("CANCELAMENTO NFCe ") + sale.field("NUM_DOC").asString());
    booking.bindInteger("CONTAAUX_ID", 0);
    booking.bindInteger("BANCO_ID", sale.field("BANCO_ID").asInteger());
    execute(booking);

    db::Query& items = ctx.statement(kCopyCancelledItems);
    items.bindInteger("ID_TRANS", cancellationId);
    items.bindText("CFOP", QStringLiteral("5556"));
    items.bindInteger("TRANSACAO_ID", saleId);
    execute(items);

    transaction.commit();
}

} // namespace

void upsertComplNfce(UpsertContext& ctx, const SourceRow& s)
{
    const qint64 saleId
        = findSale(ctx, kComplSale, { s.integer("TRANSACAO_ID"), s.integer("ECF"), s.dateTime("DT_SAIDA") });
    if (saleId > 0) {
        db::Query& exists = ctx.statement(kComplExists);
        exists.bindInteger("TRANSACAO_ID", saleId);
        if (openFindsRow(exists))
            replaceComplement(ctx, s, saleId);
        else
            insertComplement(ctx, s, saleId);
    } else if (const qint64 stored = storedUnderKey(ctx, kComplByKey, s)) {
        // Sent again before its sale arrived: it keeps the id it got.
        replaceComplement(ctx, s, stored);
    } else {
        ctx.cells.Novo_Id = db::nextTransacaoId(ctx.server);
        insertComplement(ctx, s, ctx.cells.Novo_Id);
    }
    ctx.pumpEvents();
}

void upsertNotaCancelada(UpsertContext& ctx, const SourceRow& s)
{
    db::Query& sale = ctx.statement(kNoteSale);
    bindSaleLink(sale, s);
    const qint64 saleId = openFindsRow(sale) ? sale.field("TRANSACAO_ID").asInteger() : 0;

    if (saleId > 0) {
        db::Query& exists = ctx.statement(kNoteExists);
        exists.bindInteger("TRANSACAO_ID", saleId);
        if (openFindsRow(exists))
            return;
        try {
            bookCancellation(ctx, s, sale, saleId);
            ctx.pumpEvents();
        } catch (const std::exception& e) {
            // A lost link ends the run; the note is left for the next one.
            if (!refusedForItsData(e))
                throw;
            ctx.giveBack(s, saleTable(SaleTable::NotasCanceladasNfce).giveBackKey);
            ui::dialogs().error(QStringLiteral("Erro Notas Canceladas Nfce:\rErro: ") + ui::failureText(e));
        }
        return;
    }

    if (storedUnderKey(ctx, kNoteByKey, s) > 0)
        return; // sent again before its sale arrived: stored already
    ctx.cells.Novo_Id = db::nextTransacaoId(ctx.server);
    db::Query& insert = ctx.statement(kInsertNoteWithoutSale);
    bindNote(insert, s, ctx.cells.Novo_Id);
    insert.bindBytes("ARQUIVO_XML", s.bytes("ARQUIVO_XML"));
    insert.bindText("TRANSMISSAO", QStringLiteral("ERRO"));
    insert.bindText("SINTEGRA", QStringLiteral("X"));
    execute(insert);
}

} // namespace sales
