#include "sales/consistir_vendas.h"

#include "common/event_pump.h"
#include "common/formatar_numero.h"
#include "common/scope_exit.h"
#include "db/connection.h"
#include "db/query.h"
#include "sales/atualizar_dados.h"
#include "sales/run_ending.h"
#include "sales/sales_view.h"
#include "sales/statement_cycle.h"
#include "terminals/status_view.h"
#include "terminals/terminal_number.h"
#include "ui/dialogs.h"
#include "ui/standard_error.h"

#include <QDate>
#include <QSet>
#include <QtMath>
#include <optional>

namespace sales {
namespace {

const char* const kUnbalanced
    = "select transacao_id, banco_id, transacao_origem ,dt_trans ,sum(vr_transacao) vr_transacao,"
      "sum(vr_transitens) vr_transitens from( select transacao_id, banco_id, transacao_origem ,dt_trans ,"
      "SUM(valor) VR_TRANSACAO, 0 VR_TRANSITENS from transacoes where dt_trans BETWEEN :DT_INICIO AND "
      ":DT_FIM "
      "and (MODELO = :MODELO OR MODELO = :MODELO01) group by TRANSACAO_ID,BANCO_ID, transacao_origem "
      ",dt_trans "
      "union all select TRANSITENS.transacao_id , TRANSITENS.banco_id ,transacao_origem ,dt_trans, 0 "
      "VR_TRANSACAO, SUM (VR_TOTAL +  VALOR_ICMS_ST + TRANSITENS.VR_FRETE + TRANSITENS.VR_ACRESCIMO + "
      "TRANSITENS.VR_IPI  - DESC_RODAPE - VALOR_ICMS_DESON ) VR_TRANSITENS from TRANSITENS inner join "
      "TRANSACOES "
      "on TRANSACOES.transacao_id = TRANSITENS.transacao_id where dt_trans BETWEEN :DT_INICIO AND :DT_FIM "
      "and "
      "(MODELO = :MODELO) group by TRANSITENS.TRANSACAO_ID,TRANSITENS.BANCO_ID, transacao_origem , dt_trans "
      ") as "
      "TESTE group  by transacao_id,banco_id,transacao_origem ,dt_trans order by TRANSACAO_ID ";

// Four lines.
const char* const kWithoutComplement[] = {
    "SELECT TRANSACAO_ID, BANCO_ID , TRANSACAO_ORIGEM, DT_TRANS  FROM TRANSACOES WHERE DT_TRANS BETWEEN "
    ":DT_INICIO AND :DT_FIM ",
    "AND (MODELO = :MODELO)",
    "AND (TRANSACAO_ID NOT IN (SELECT TRANSACAO_ID FROM COMPL_NFISCAL WHERE DT_SAIDA BETWEEN :DT_INICIO AND "
    ":DT_FIM))",
    "ORDER BY DT_TRANS",
};

const char* const kActiveTerminal = "SELECT * FROM LICENCA_IF WHERE STATUS = :STATUS AND NUM_ECF = :NUM_ECF";
const char* const kReflagItems = "UPDATE TRANSITENS SET EXPORTADO = 0 WHERE TRANSACAO_ID = :TRANSACAO_ID ";
const char* const kReflagInstalments
    = "UPDATE TRANSPARCELAS SET EXPORTADO = 0 WHERE TRANSACAO_ID = :TRANSACAO_ID ";

const QString kConsistindo = QStringLiteral("Consistindo Itens...");

// A server's message runs over several lines; the pane shows one.
QString firstLine(const std::exception& e) { return ui::failureText(e).section(u'\n', 0, 0).trimmed(); }

void bindPeriod(db::Query& q, const QDate& inicio, const QDate& fim)
{
    q.bindDate("DT_INICIO", inicio);
    q.bindDate("DT_FIM", fim);
    q.bindText("MODELO", QStringLiteral("2D"));
}

} // namespace

Consistir_Vendas::Consistir_Vendas(ConsistirLinks links)
    : links_(std::move(links))
{
}

void Consistir_Vendas::run()
{
    // A nested call would discard the table being walked.
    if (running_)
        return;
    running_ = true;
    common::ScopeExit done([this] {
        running_ = false;
        // A check that failed must not leave the label saying one runs.
        if (links_.statusLabel)
            links_.statusLabel(QString());
    });
    try {
        runCheck();
    } catch (const std::exception& e) {
        // Every statement out of reflag()'s own guard goes to the server.
        const std::optional<QString> reason = serverLostReason(e);
        if (!reason)
            throw;
        const QString line = serverLostLine(*reason);
        links_.statusPane.addStatusLine(line, terminals::LineColor::Red);
        throw ui::AlreadyTold(line.toStdString());
    }
}

void Consistir_Vendas::runBeforeImport()
{
    try {
        run();
    } catch (const ui::AlreadyTold&) {
        // Said in the pane; the import goes on (and meets the server
        // itself).
    } catch (const std::exception& e) {
        // A check that fails every time must not hold every import back.
        links_.statusPane.addStatusLine(
            QStringLiteral("Consistir Vendas - Erro: ") + firstLine(e), terminals::LineColor::Red);
    }
}

void Consistir_Vendas::runCheck()
{
    if (links_.statusLabel)
        links_.statusLabel(kConsistindo);
    Fdac_Temp_ = db::MemTable();
    listed_.clear();
    opened_ = nullptr;
    common::pumpEvents();
    createTable();

    const QDate fim = QDate::currentDate();
    const QDate inicio = fim.addDays(-links_.config.field("DIAS_CONSISTIR").asInteger());

    db::Query unbalanced(links_.server);
    unbalanced.setText(kUnbalanced);
    bindPeriod(unbalanced, inicio, fim);
    unbalanced.bindNull("MODELO01");
    unbalanced.prepare();
    unbalanced.open();
    collect(unbalanced, true);

    db::Query withoutComplement(links_.server);
    for (const char* line : kWithoutComplement)
        withoutComplement.addLine(QString::fromUtf8(line));
    bindPeriod(withoutComplement, inicio, fim);
    withoutComplement.prepare();
    withoutComplement.open();
    collect(withoutComplement, false);

    reflag();
    Atualizar_Dados(links_.server, links_.config);

    links_.view.setProgress(100);
    links_.view.repaintProgress();
    links_.view.setProgress(0);
    links_.consistirPendente = false;
}

void Consistir_Vendas::createTable()
{
    try {
        Fdac_Temp_.addField(QStringLiteral("TRANSACAO_ID"), db::MemTable::Type::Integer);
        Fdac_Temp_.addField(QStringLiteral("TRANSACAO_ORIGEM"), db::MemTable::Type::Integer);
        Fdac_Temp_.addField(QStringLiteral("BANCO_ID"), db::MemTable::Type::Integer);
        Fdac_Temp_.addField(QStringLiteral("DT_TRANS"), db::MemTable::Type::Date);
        Fdac_Temp_.addIndex(QString(), QStringLiteral("TRANSACAO_ID"), true);
        Fdac_Temp_.addIndex(QStringLiteral("TEMP"), QStringLiteral("DT_TRANS;BANCO_ID"));
        Fdac_Temp_.setIndex(QStringLiteral("TEMP"));
        Fdac_Temp_.create();
    } catch (const std::exception& e) {
        ui::dialogs().plain(QStringLiteral("erro criar tabela") + ui::failureText(e));
    }
}

void Consistir_Vendas::collect(db::Query& sales, bool unbalancedOnly)
{
    for (sales.first(); !sales.eof(); sales.next()) {
        const bool flagged = !unbalancedOnly
            || sales.field("VR_TRANSACAO").asFloat() != sales.field("VR_TRANSITENS").asFloat();
        const qint64 id = sales.field("TRANSACAO_ID").asInteger();
        if (flagged && !listed_.contains(id)) {
            listed_.insert(id);
            Fdac_Temp_.append();
            Fdac_Temp_.setInteger(QStringLiteral("TRANSACAO_ID"), id);
            Fdac_Temp_.setInteger(
                QStringLiteral("TRANSACAO_ORIGEM"), sales.field("TRANSACAO_ORIGEM").asInteger());
            Fdac_Temp_.setInteger(QStringLiteral("BANCO_ID"), sales.field("BANCO_ID").asInteger());
            Fdac_Temp_.setDateTime(QStringLiteral("DT_TRANS"), sales.field("DT_TRANS").asDateTime());
            Fdac_Temp_.post();
        }
        common::pumpEvents();
    }
}

void Consistir_Vendas::reflag()
{
    db::Query terminal(links_.server);
    terminal.setText(kActiveTerminal);
    // Terminals that failed once in this check are not tried again: a silent
    // one would cost a connect time-out for each of its sales.
    QSet<qint64> skipped;

    const int count = Fdac_Temp_.recordCount();
    int k = 0;
    for (Fdac_Temp_.first(); !Fdac_Temp_.eof(); Fdac_Temp_.next(), ++k) {
        const qint64 bancoId = Fdac_Temp_.field("BANCO_ID").asInteger();
        if (!skipped.contains(bancoId)) {
            terminal.bindText("STATUS", QStringLiteral("A"));
            terminal.bindText("NUM_ECF", common::Formatar_Numero(QString::number(bancoId), 3, 0));
            if (openFindsRow(terminal)) {
                try {
                    reflagSale(terminal, Fdac_Temp_.field("TRANSACAO_ORIGEM").asInteger());
                } catch (const std::exception& e) {
                    skipped.insert(bancoId);
                    links_.statusPane.addStatusLine(
                        QStringLiteral("%1 - Consistir Vendas: caixa ignorado - %2")
                            .arg(terminals::ecfLabel(static_cast<int>(bancoId)), firstLine(e)),
                        terminals::LineColor::Red);
                }
            }
        }
        links_.view.setProgress(qMin(100, qRound((20 + k) * 100.0 / count)));
        common::pumpEvents();
    }
}

// Sales of one terminal follow each other in the table's order; they share
// one connection rather than each paying for a connect of its own, as long
// as Conexao_Pdv is still the one this check opened for that terminal.
db::Connection& Consistir_Vendas::terminalConnection(const db::Dataset& terminal)
{
    const QString numEcf = terminal.field("NUM_ECF").asString();
    db::Connection* current = links_.conexaoPdv ? links_.conexaoPdv() : nullptr;
    if (current && current == opened_ && openedFor_ == numEcf && current->connected())
        return *current;
    opened_ = nullptr;
    db::Connection& pdv = links_.novaConexaoPdv(terminal);
    opened_ = &pdv;
    openedFor_ = numEcf;
    return pdv;
}

void Consistir_Vendas::reflagSale(const db::Dataset& terminal, qint64 transacaoOrigem)
{
    db::Connection& pdv = terminalConnection(terminal);
    db::Query update(pdv);
    update.setText(kReflagItems);
    update.bindInteger("TRANSACAO_ID", transacaoOrigem);
    execute(update);
    update.setText(kReflagInstalments);
    update.bindInteger("TRANSACAO_ID", transacaoOrigem);
    execute(update);
}

} // namespace sales
