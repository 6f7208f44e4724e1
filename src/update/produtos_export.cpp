#include "update/produtos_export.h"

#include "common/event_pump.h"
#include "db/connection.h"
#include "db/errors.h"
#include "db/query.h"
#include "db/scoped_transaction.h"
#include "ui/standard_error.h"
#include "terminals/licenca_row.h"
#include "terminals/row_snapshot.h"
#include "terminals/slot_set.h"
#include "terminals/terminal_number.h"
#include "terminals/update_status_pass.h"
#include "ui/dialogs.h"
#include "update/escolha_alvos.h"
#include "update/export_links.h"
#include "update/export_view.h"
#include "update/fechar_pedido.h"
#include "update/link_interruption.h"
#include "update/produtos_query.h"

#include <QLocale>
#include <memory>
#include <optional>

namespace update {
namespace {

const char* const kBotao = "btn_exportar_produto";

const char* const kAlvosAutomaticos =
    "SELECT * FROM LICENCA_IF WHERE  STATUS = :STATUS AND ECF_STATUS = 0 ORDER BY NUM_ECF";
const char* const kPedidos =
    "SELECT * FROM LICENCA_IF WHERE STATUS = :STATUS AND IMPORTACAO = :IMPORTACAO AND ECF_STATUS = 0 ORDER BY NUM_ECF";
const char* const kMarcarAlvo = "UPDATE LICENCA_IF SET EXPORTACAO = 1 WHERE NUM_ECF = :NUM_ECF";
const char* const kAlvosManuais =
    "SELECT * FROM LICENCA_IF WHERE  STATUS = :STATUS AND ECF_STATUS = 0 AND EXPORTACAO = 1  ORDER BY NUM_ECF";
const char* const kDesmarcarAlvos = "UPDATE LICENCA_IF SET EXPORTACAO = 0";
const char* const kUltimaSync = "SELECT DT_SYNC FROM  LICENCA_IF  WHERE NUM_ECF = :NUM_ECF";

const char* const kPedido100 = "UPDATE LICENCA_IF SET IMPORTACAO = 100 WHERE NUM_ECF = :NUM_ECF AND IMPORTACAO < 102";
const char* const kPedido101 = "UPDATE LICENCA_IF SET IMPORTACAO = 101 WHERE NUM_ECF = :NUM_ECF";
const char* const kPedido102 = "UPDATE LICENCA_IF SET IMPORTACAO = 102 WHERE NUM_ECF = :NUM_ECF";

const char* const kDesligarGatilho = "ALTER TABLE PRODUTOS DISABLE TRIGGER PRODUTOS_UP";
const char* const kRecarimbar = "UPDATE PRODUTOS SET DT_ATUALIZACAO = (SELECT CURRENT_DATE) , HR_SYNC = "
                                "(SELECT CURRENT_TIME) WHERE DT_ATUALIZACAO = (SELECT CURRENT_DATE)";
const char* const kLigarGatilho = "ALTER TABLE PRODUTOS ENABLE TRIGGER PRODUTOS_UP";

const int kManualProductRequest = 11;

// How a terminal's line names each run.
const char* const kNomeAutomatico = "Carga Autom\u00e1tica Produtos";
const char* const kNomeManual = "Carga Produtos p/ Pdv";

Interrupcoes interrupcoes(const ExportLinks& l, const char* nome)
{
    ExportView* view = &l.view;
    return Interrupcoes(l.server, QString::fromUtf8(nome), [view](const QString& line) {
        view->addInterruptionLine(line);
    });
}

std::vector<terminals::RowRead> lerAlvos(db::Connection& server, const char* sql)
{
    db::Query q(server);
    q.setText(QString::fromLatin1(sql));
    q.bindText("STATUS", QStringLiteral("A"));
    q.prepare();
    q.open();
    return terminals::readRows(q);
}

// A connection of the run's own, made from the target's row and gone with
// the target.
std::unique_ptr<db::Connection> conectar(const terminals::LicencaRow& row)
{
    auto c = std::make_unique<db::Connection>(terminals::terminalParams(row));
    c->setConnectTimeoutSeconds(terminals::kSlotConnectTimeoutSeconds);
    c->open();
    return c;
}

void pedirCarga(db::Connection& terminal, const char* sql, const QString& numEcf)
{
    db::Query q(terminal);
    q.setText(QString::fromLatin1(sql));
    q.bindText("NUM_ECF", numEcf);
    q.prepare();
    q.exec();
}

// Stock in the shortest decimal form of the machine's locale.
QString estoque(const db::Dataset& produto)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(produto.field("QUANTIDADE_C").asFloat(), 'f', QLocale::FloatingPointShortest);
}

// Memo2: one line per product, an empty line and the summary; just cleared
// when there is no product.
void listarProdutos(ExportView& view, const ProdutosQuery& consulta, db::Connection& server,
                    const std::function<QString(int)>& resumo)
{
    db::Query produtos(server);
    consulta.open(produtos);
    view.clearPane(ExportPane::Memo2);
    if (produtos.isEmpty())
        return;
    int listados = 0;
    for (produtos.first(); !produtos.eof(); produtos.next()) {
        view.addLine(ExportPane::Memo2, produtos.field("DESCRICAO").asString() + QStringLiteral(" - ")
                                            + QStringLiteral("Estoque: ") + estoque(produtos));
        ++listados;
        common::pumpEvents();
    }
    view.addLine(ExportPane::Memo2, QString());
    view.addLine(ExportPane::Memo2, resumo(listados));
}

void mostrarProgresso(ExportView& view, int feitos, int total)
{
    view.setProgress(qRound(feitos * 100.0 / total));
}

void encerrarProgresso(ExportView& view)
{
    view.setProgress(100);
    view.repaintProgress();
    view.setProgress(0);
}

qint64 empresaAtual(const ExportLinks& l)
{
    if (!l.empresaAtual)
        throw db::UsageError(QStringLiteral("Nenhuma empresa atual selecionada"));
    return l.empresaAtual();
}

bool sincronizadoHoje(db::Connection& server, const QString& numEcf)
{
    db::Query q(server);
    q.setText(QString::fromLatin1(kUltimaSync));
    q.bindText("NUM_ECF", numEcf);
    q.prepare();
    q.open();
    if (q.isEmpty() || q.field("DT_SYNC").isNull())
        return false;
    return q.field("DT_SYNC").asDateTime().date() == QDate::currentDate();
}

// The trigger is switched off, the re-stamp made and the trigger switched
// on again in one transaction: a failure in between can never leave the
// trigger off, and other sessions' changes wait instead of missing it.
void recarimbarAlteradosHoje(db::Connection& server)
{
    db::ScopedTransaction transacao(server);
    server.executeDirect(QString::fromLatin1(kDesligarGatilho));
    server.executeDirect(QString::fromLatin1(kRecarimbar));
    server.executeDirect(QString::fromLatin1(kLigarGatilho));
    transacao.commit();
}

// Request rows with code 11 choose the terminals and the kind of load.
void aplicarPedidos(const ExportLinks& l)
{
    db::Query pedidos(l.server);
    pedidos.setText(QString::fromLatin1(kPedidos));
    pedidos.bindText("STATUS", QStringLiteral("A"));
    pedidos.bindInteger("IMPORTACAO", kManualProductRequest);
    pedidos.prepare();
    pedidos.open();
    if (pedidos.isEmpty())
        return;
    pedidos.first();
    if (pedidos.field("TODAS_ECFS").asInteger() == 1) {
        l.view.checkTodasEcfs();
        if (pedidos.field("CARGA_TOTAL").asInteger() == 1)
            l.view.checkTotal();
        l.view.checkEveryBoxButTotal();
        return;
    }
    for (; !pedidos.eof(); pedidos.next()) {
        if (pedidos.field("STATUS").asString() != QLatin1String("A"))
            continue;
        // A number no box carries is no request of this window's.
        l.view.checkTerminalBox(pedidos.field("NUM_ECF").asString());
        if (pedidos.field("CARGA_TOTAL").asInteger() == 1)
            l.view.checkTotal();
        l.view.enableTodasEcfs();
    }
}

void marcarAlvos(const ExportLinks& l, const EscolhaAlvos& escolha)
{
    db::Query marcar(l.server);
    for (int n = 1; n <= terminals::kSlotCount; ++n) {
        if (!escolha.ecf(n))
            continue;
        marcar.setText(QString::fromLatin1(kMarcarAlvo));
        marcar.bindText("NUM_ECF", terminals::numEcfText(n));
        marcar.prepare();
        marcar.exec();
    }
}

// How the manual export leaves the window, also when it ends early:
// nothing checked, the flag clear, the button enabled, no EXPORTACAO mark.
class FimExportacao {
public:
    explicit FimExportacao(const ExportLinks& l) : l_(l) {}
    ~FimExportacao()
    {
        if (concluido_)
            return;
        try {
            restaurarJanela();
        } catch (...) {
        }
        try {
            desmarcarAlvos();
        } catch (...) {
            // The failure that ended the run is the one reported.
        }
    }
    FimExportacao(const FimExportacao&) = delete;
    FimExportacao& operator=(const FimExportacao&) = delete;

    void concluir()
    {
        concluido_ = true;
        restaurarJanela();
        desmarcarAlvos();
    }

private:
    void restaurarJanela()
    {
        l_.view.uncheckAll();
        l_.flags.Exportando_Produtos = false;
        l_.view.setButtonEnabled(QString::fromLatin1(kBotao), true);
    }
    void desmarcarAlvos()
    {
        db::Query q(l_.server);
        q.setText(QString::fromLatin1(kDesmarcarAlvos));
        q.prepare();
        q.exec();
    }

    const ExportLinks& l_;
    bool concluido_ = false;
};

void servirCargaAutomatica(const ExportLinks& l, Interrupcoes& perdas)
{
    l.statusPass.VerificarConexao();
    if (l.habilitarBotoes)
        l.habilitarBotoes();
    const qint64 empresa = empresaAtual(l);

    const std::vector<terminals::RowRead> alvos = lerAlvos(l.server, kAlvosAutomaticos);
    const int total = static_cast<int>(alvos.size());
    int i = 1;
    for (const terminals::RowRead& alvo : alvos) {
        std::unique_ptr<db::Connection> terminal;
        try {
            const terminals::LicencaRow& row = alvo.get();
            terminal = conectar(row);
            pedirCarga(*terminal, kPedido100, row.numEcf);
            listarProdutos(l.view, ProdutosQuery::automatica(row.numEcf, empresa), l.server, [&](int n) {
                return QStringLiteral("******Produtos alterados - ") + QString::number(n) + QStringLiteral("  Ecf:")
                       + row.numEcf + QStringLiteral("!******");
            });
        } catch (const std::exception& e) {
            // A terminal that went away is told in the pane, and the next
            // one is served; a statement refused for its data gets its box.
            // The connections this run makes carry no name.
            if (!perdas.caixaPerdido(e, alvo.row.numEcf) && terminal && terminal->connected())
                ui::dialogs().error(QStringLiteral("Erro exportar produtos: ") + QString() + QStringLiteral("\r")
                                    + QStringLiteral("Erro: ") + ui::failureText(e));
        }
        mostrarProgresso(l.view, i, total);
        ++i;
        common::pumpEvents();
    }
    encerrarProgresso(l.view);
}

void servirExportacaoManual(const ExportLinks& l, FimExportacao& fim, Interrupcoes& perdas)
{
    l.view.setButtonEnabled(QString::fromLatin1(kBotao), false);
    l.statusPass.VerificarConexao();
    l.flags.Exportando_Produtos = true;

    recarimbarAlteradosHoje(l.server);
    l.view.clearPane(ExportPane::Memo1);
    aplicarPedidos(l);
    // From the first event turn on another export may untick the boxes; the
    // run keeps to what was chosen now.
    const EscolhaAlvos escolha = EscolhaAlvos::copiar(l.view);
    marcarAlvos(l, escolha);

    const std::vector<terminals::RowRead> alvos = lerAlvos(l.server, kAlvosManuais);
    l.view.clearPane(ExportPane::Memo1);
    std::optional<ProdutosQuery> ultimaConsulta;
    if (alvos.empty()) {
        l.view.addLine(ExportPane::Memo1, QStringLiteral("N\u00e3o existem ecfs ativas no sistema para envio de carga!"));
    } else {
        l.view.addLine(ExportPane::Memo1, QStringLiteral("Gerando carga de produtos para os caixas Aguarde..."));
        const qint64 empresa = empresaAtual(l);
        const int total = static_cast<int>(alvos.size());
        int i = 1;
        for (const terminals::RowRead& alvo : alvos) {
            try {
                const terminals::LicencaRow& row = alvo.get();
                const std::unique_ptr<db::Connection> terminal = conectar(row);
                if (escolha.total()) {
                    pedirCarga(*terminal, kPedido102, row.numEcf);
                    ultimaConsulta = ProdutosQuery::todos();
                } else {
                    pedirCarga(*terminal, kPedido101, row.numEcf);
                    ultimaConsulta = ProdutosQuery::alterados(row.numEcf, empresa,
                                                              sincronizadoHoje(l.server, row.numEcf));
                }
                // Served: its own request, and nothing else of its row, is
                // closed.
                fecharPedido(l.server, row.numEcf, kManualProductRequest);
            } catch (const std::exception& e) {
                // A terminal that cannot be served is left for the next run,
                // its request open; one that went away says so.
                perdas.caixaPerdido(e, alvo.row.numEcf);
            }
            mostrarProgresso(l.view, i, total);
            ++i;
            common::pumpEvents();
        }
    }

    if (ultimaConsulta) {
        const bool total = escolha.total();
        listarProdutos(l.view, *ultimaConsulta, l.server, [total](int n) {
            return QStringLiteral("******Produtos alterados - ") + QString::number(n)
                   + (total ? QStringLiteral("******") : QStringLiteral("!******"));
        });
    } else {
        // No terminal was served: there is no request to list products for.
        l.view.clearPane(ExportPane::Memo2);
    }
    encerrarProgresso(l.view);

    for (const terminals::RowRead& alvo : alvos)
        l.view.addLine(ExportPane::Memo1, QStringLiteral("Exportando Produtos: -> Ecf: ") + alvo.row.numEcf
                                              + QStringLiteral(" Aguarde..."));
    l.view.addLine(ExportPane::Memo1, QStringLiteral("Conclu\u00eddo as cargas de  Produtos!"));
    fim.concluir();
}

} // namespace

void Carga_Produtos(const ExportLinks& l)
{
    struct LimpaFlag {
        bool& flag;
        ~LimpaFlag() { flag = false; }
    } limpa{l.flags.Carga_Auto_Produtos};
    Interrupcoes perdas = interrupcoes(l, kNomeAutomatico);
    try {
        servirCargaAutomatica(l, perdas);
    } catch (const std::exception& e) {
        // The server went: the next "produtos" signals every terminal again.
        perdas.encerrarSeServidorPerdido(e);
        throw;
    }
}

void Exportar_Produtos(const ExportLinks& l)
{
    FimExportacao fim(l);
    Interrupcoes perdas = interrupcoes(l, kNomeManual);
    try {
        servirExportacaoManual(l, fim, perdas);
    } catch (const std::exception& e) {
        // The server went: the window is put back to rest (fim), and the
        // requests of the terminals not yet served stay open.
        perdas.encerrarSeServidorPerdido(e);
        throw;
    }
}

} // namespace update
