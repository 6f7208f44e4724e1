#include "update/reference_export.h"

#include "common/event_pump.h"
#include "common/formatar_numero.h"
#include "common/log_path.h"
#include "db/connection.h"
#include "db/copy/copy_log_book.h"
#include "db/query.h"
#include "db/scoped_transaction.h"
#include "ui/standard_error.h"
#include "terminals/licenca_row.h"
#include "terminals/slot_set.h"
#include "terminals/terminal_number.h"
#include "terminals/update_status_pass.h"
#include "ui/dialogs.h"
#include "update/escolha_alvos.h"
#include "update/export_links.h"
#include "update/export_view.h"
#include "update/fechar_pedido.h"
#include "update/link_interruption.h"

#include <QDate>
#include <QTime>

namespace update {
namespace {

const char* const kPedidos = "SELECT * FROM LICENCA_IF WHERE STATUS = :STATUS AND IMPORTACAO = :IMPORTACAO";
const char* const kTerminalAtivo = "SELECT * FROM LICENCA_IF WHERE STATUS = :STATUS AND NUM_ECF = :NUM_ECF";
// The served terminal's stamp; only the member's own request is closed
// beside it (fecharPedido): a sales request or another export's request on
// the row, raised meanwhile or ticked along by a box, stays for its run.
const char* const kCarimbo = "UPDATE LICENCA_IF SET DT_SYNC = :DT_SYNC, HR_SYNC =:HR_SYNC WHERE NUM_ECF = :NUM_ECF";

QString text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// Request rows tick the boxes of their terminals; CARGA_TOTAL 1 means every
// terminal, since the whole table goes anyway.
void aplicarPedidos(const ReferenceMember& m, const ExportLinks& l)
{
    db::Query pedidos(l.server);
    pedidos.setText(text(kPedidos));
    pedidos.bindText("STATUS", QStringLiteral("A"));
    pedidos.bindInteger("IMPORTACAO", m.code);
    pedidos.prepare();
    pedidos.open();
    for (pedidos.first(); !pedidos.eof(); pedidos.next()) {
        if (pedidos.field("STATUS").asString() != QLatin1String("A"))
            continue;
        // A number no box carries is no request of this window's.
        l.view.checkTerminalBox(pedidos.field("NUM_ECF").asString());
        if (pedidos.field("CARGA_TOTAL").asInteger() == 1)
            l.view.checkTodasEcfs();
        l.view.enableTodasEcfs();
    }
}

// Every table of the member, cleared and refilled inside one transaction on
// the terminal that holds the whole copy: either all of it lands or the
// terminal keeps what it had. Each copy logs under the terminal's section of
// the run's log for its table.
void substituirTabelas(const ReferenceMember& m, db::Connection& terminal, db::Connection& server,
                       const QString& numEcf, db::CopyLogBook& logs)
{
    db::ScopedTransaction transacao(terminal);
    for (const ReferenceTable& t : m.tables) {
        if (t.clearSql) {
            db::Query limpar(terminal);
            limpar.setText(text(t.clearSql));
            if (limpar.parameterNames().contains(QLatin1String("VAZIO")))
                limpar.bindText("VAZIO", QString());
            limpar.prepare();
            limpar.exec();
        }
        db::Query origem(server);
        origem.setText(text(t.sourceSql));
        if (origem.parameterNames().contains(QLatin1String("NUM_ECF")))
            origem.bindText("NUM_ECF", numEcf);
        origem.prepare();
        origem.open();

        db::CopyConfig copia;
        copia.reader = &origem;
        copia.writerConnection = &terminal;
        copia.writerSql = text(t.destSql);
        copia.mode = t.mode;
        logs.use(copia, common::programPath(text(t.logFile)), terminals::logSection(numEcf));
        copia.commitCount = 100;
        copia.callerTransaction = true;
        db::CopyRun(copia).run();
    }
    transacao.commit();
}

void carimbar(const ReferenceMember& m, db::Connection& server, int n)
{
    const QString numEcf = common::Formatar_Numero(QString::number(n), 3, 0);
    db::Query carimbo(server);
    carimbo.setText(text(kCarimbo));
    carimbo.bindDate("DT_SYNC", QDate::currentDate());
    carimbo.bindTime("HR_SYNC", QTime::currentTime());
    carimbo.bindText("NUM_ECF", numEcf);
    carimbo.prepare();
    carimbo.exec();
    fecharPedido(server, numEcf, m.code);
}

// A slot whose terminal is active on the server gets its connection from
// that row; an inactive one is left alone. A slot already open on exactly
// the row's lines is the connection a rebuild would make, so it is kept: a
// new session per terminal and export costs more than the copy of a small
// table (a lost link is made again by the slot's own reconnect).
void servirSlot(const ReferenceMember& m, const ExportLinks& l, int n, db::CopyLogBook& logs)
{
    const QString numEcf = terminals::numEcfText(n);
    db::Query ativo(l.server);
    ativo.setText(text(kTerminalAtivo));
    ativo.bindText("STATUS", QStringLiteral("A"));
    ativo.bindText("NUM_ECF", numEcf);
    ativo.prepare();
    ativo.open();
    if (ativo.isEmpty())
        return;
    const terminals::LicencaRow row = terminals::LicencaRow::read(ativo);
    db::Connection& slot = l.slotSet.slot(n);
    if (!slot.connected() || slot.params().lines() != terminals::terminalParams(row).lines())
        l.slotSet.openFromRow(n, row);
    substituirTabelas(m, slot, l.server, numEcf, logs);
    carimbar(m, l.server, n);
}

// The IBPT table goes only to terminals that answered this run's probe,
// through the slot as it stands (opened with its current lines if closed).
void servirSlotIbpt(const ReferenceMember& m, const ExportLinks& l, int n, db::CopyLogBook& logs)
{
    db::Connection& slot = l.slotSet.slot(n);
    if (!slot.connected())
        slot.open();
    substituirTabelas(m, slot, l.server, terminals::numEcfText(n), logs);
    carimbar(m, l.server, n);
    common::pumpEvents();
}

// How every member leaves the window, also when it ends early: nothing
// checked and its button enabled.
class FimReferencia {
public:
    FimReferencia(ExportView& view, const char* button) : view_(view), button_(text(button)) {}
    ~FimReferencia()
    {
        try {
            view_.uncheckAll();
            view_.setButtonEnabled(button_, true);
        } catch (...) {
            // Nothing more can be put back.
        }
    }
    FimReferencia(const FimReferencia&) = delete;
    FimReferencia& operator=(const FimReferencia&) = delete;

private:
    ExportView& view_;
    QString button_;
};

// The member's log files, in the program folder.
QStringList logsDoMembro(const ReferenceMember& m)
{
    QStringList out;
    for (const ReferenceTable& t : m.tables)
        out << common::programPath(text(t.logFile));
    return out;
}

void servir(const ReferenceMember& m, bool ibpt, const ExportLinks& l, Interrupcoes& perdas,
            db::CopyLogBook& logs)
{
    l.view.setButtonEnabled(text(m.button), false);
    l.statusPass.VerificarConexao();
    l.view.clearPane(ExportPane::Memo1);
    aplicarPedidos(m, l);
    // The IBPT run lets events through between terminals, and an error box
    // does for every member: another export may untick the boxes meanwhile.
    const EscolhaAlvos escolha = EscolhaAlvos::copiar(l.view);

    for (int n = 1; n <= terminals::kSlotCount; ++n) {
        const bool servir = escolha.ecf(n) && (!ibpt || l.statusPass.Ecf_Online(n));
        if (servir) {
            l.view.addLine(ExportPane::Memo1, text(m.progressPrefix) + terminals::SlotSet::slotLabel(n)
                                                  + QStringLiteral("\r") + QStringLiteral(" Aguarde..."));
            try {
                if (ibpt)
                    servirSlotIbpt(m, l, n, logs);
                else
                    servirSlot(m, l, n, logs);
            } catch (const std::exception& e) {
                // A terminal that went away keeps its tables as they were
                // (the copy's transaction is gone with the link) and its
                // request open; the next slot is served. A copy refused for
                // its data gets the member's box.
                if (!perdas.caixaPerdido(e, terminals::numEcfText(n)) && m.errorPrefix)
                    ui::dialogs().error(text(m.errorPrefix) + ui::failureText(e));
            }
        }
        if (ibpt)
            l.view.setProgress(qRound(n * 100.0 / terminals::kSlotCount));
    }
    if (ibpt)
        l.view.setProgress(0);
    l.view.addLine(ExportPane::Memo1, text(m.finalLine));
}

} // namespace

void Exportar_Referencia(Referencia which, const ExportLinks& l)
{
    const ReferenceMember& m = referenceMember(which);
    FimReferencia fim(l.view, m.button);
    db::CopyLogBook logs;
    ExportView* view = &l.view;
    Interrupcoes perdas(l.server, text(m.caption), [view](const QString& line) {
        view->addInterruptionLine(line);
    });
    perdas.useLogs(logs, logsDoMembro(m));
    try {
        servir(m, which == Referencia::Ibpt, l, perdas, logs);
    } catch (const std::exception& e) {
        // The server went: the slots not yet served keep their requests for
        // the next one.
        perdas.encerrarSeServidorPerdido(e);
        throw;
    }
}

} // namespace update
