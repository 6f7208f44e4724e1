#include "update/exportacao_clientes.h"

#include "common/event_pump.h"
#include "common/formatar_numero.h"
#include "common/log_path.h"
#include "db/connection.h"
#include "db/copy/copy_log_book.h"
#include "db/copy/copy_run.h"
#include "db/errors.h"
#include "db/link_failure.h"
#include "db/memtable.h"
#include "db/query.h"
#include "ui/standard_error.h"
#include "terminals/licenca_row.h"
#include "terminals/terminal_number.h"
#include "ui/dialogs.h"
#include "update/clientes_view.h"
#include "update/ecf_box.h"
#include "update/escolha_alvos.h"
#include "update/fechar_pedido.h"
#include "update/link_interruption.h"
#include "update/saldo_clientes.h"
#include "update/update_flags.h"
#include "update/vendas_link.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <QtMath>
#include <optional>

namespace update {
namespace {

// Destination of every copy: the terminal's CLIENTES, the export table's columns.
const char* const kDestino =
    "select cliente_id, nome, cnpj, endereco,bairro,municipio,limite,saldo,bloqueado, "
    "status,cartao_ident1,cartao_ident2,cartao_ident3,cartao_ident4,senha, observacao, bloq_cheque, "
    "pr_vencimento, valor_conta,limite_cheque,saldo_cheque,estado,ibge,numero,cod_pais,email from clientes";

// Automatic load.
const char* const kClientesDoDia = "SELECT * FROM CLIENTES WHERE\n(CLIENTES.DT_ATUALIZACAO = 'TODAY')  ORDER BY NOME";
const char* const kAlvosAutomatico =
    "SELECT * FROM LICENCA_IF WHERE  STATUS = :STATUS AND ECF_STATUS = 0 ORDER BY NUM_ECF";
const char* const kLogAutomatico = "QuiborSync_Logs\\LogClientes_auto.log";

// A terminal whose copy succeeded, stamped with its date and time; only
// the request it served is closed beside it (fecharPedido), and never by the
// automatic load, which serves no request: a sales request raised on the
// row meanwhile must stay for the sales window.
const char* const kCarimbo =
    "UPDATE LICENCA_IF SET DT_SYNC_CLI = :DT_SYNC, HR_SYNC_CLI =:HR_SYNC WHERE NUM_ECF = :NUM_ECF";

// Manual export.
const char* const kPedidos =
    "SELECT * FROM LICENCA_IF WHERE STATUS = :STATUS AND IMPORTACAO = :IMPORTACAO ORDER BY NUM_ECF";
const char* const kTodosClientes = "SELECT * FROM CLIENTES  ORDER BY CLIENTE_ID";
const char* const kClientesDeHoje = "select * from clientes where dt_atualizacao = 'today'";
const char* const kMarcarAlvo = "UPDATE LICENCA_IF SET EXPORTACAO = 1 WHERE NUM_ECF = :NUM_ECF";
const char* const kAlvosManual =
    "SELECT * FROM LICENCA_IF WHERE  STATUS = :STATUS AND ECF_STATUS = 0 AND EXPORTACAO = 1  ORDER BY NUM_ECF";
const char* const kZerarMarcas = "UPDATE LICENCA_IF SET EXPORTACAO = 0";
const char* const kLogManual = "QuiborSync_Logs\\LogClientes.log";
const int kPedidoClientes = 10;

// How a terminal's line names each run.
const char* const kNomeAutomatico = "Carga Autom\u00e1tica Clientes";
const char* const kNomeManual = "Carga Clientes p/ Pdv";

// A silent terminal must not hold the window for long.
constexpr int kDefaultTerminalConnectSeconds = 5;

void openList(db::Query& q, const char* sql)
{
    q.setText(QString::fromUtf8(sql));
    q.bindText("STATUS", QStringLiteral("A"));
    q.prepare();
    q.open();
}

void execute(db::Connection& server, const char* sql)
{
    db::Query q(server);
    q.setText(QString::fromUtf8(sql));
    q.prepare();
    q.exec();
}

// Date and time of a customer copy, as the sync stamps hold them.
struct Carimbo {
    QDate data = QDate::currentDate();
    QTime hora = QTime::currentTime();
};

void carimbar(db::Connection& server, const QString& numEcf, const Carimbo& c = {})
{
    db::Query q(server);
    q.setText(QString::fromUtf8(kCarimbo));
    q.bindDate("DT_SYNC", c.data);
    q.bindTime("HR_SYNC", c.hora);
    q.bindText("NUM_ECF", numEcf);
    q.prepare();
    q.exec();
}

// "000123 - MARIA", the name cut to `width`.
QString linhaCliente(const db::Dataset& row, int width)
{
    return common::Formatar_Numero(row.field("CLIENTE_ID").asString(), 6, 0) + QStringLiteral(" - ")
           + row.field("NOME").asString().left(width);
}

// The machine's general number format: shortest form, no thousands separator.
QString numeroGeral(double v)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(v, 'g', 15);
}

int progresso(int i, int n)
{
    return qRound(i * 100.0 / n);
}

} // namespace

struct ExportacaoClientes::Impl {
    explicit Impl(ClientesLinks l) : links(std::move(l)) {}

    // A new export table in `slot`, the previous one gone; false (and the
    // slot empty) when it could not be made.
    bool criarTabela(std::unique_ptr<db::MemTable>& slot, const std::function<void(const QString&)>& report);
    qint64 empresaAtual() const;
    // Connects to the terminal of the current row of `alvo` and copies
    // `tabela` into its CLIENTES, logging under the terminal's section of
    // the run's `log`; raises on any failure.
    void copiar(const db::Dataset& alvo, db::MemTable& tabela, const char* log, db::CopyLogBook& logs) const;
    void terminarProgresso();
    // The run's link failures: red lines in Memo1 and in the run's log.
    Interrupcoes interrupcoes(const char* nome, const char* log, db::CopyLogBook& logs);

    void cargaAutomatica();
    void servirAutomatico(Interrupcoes& interrupcoes, db::CopyLogBook& logs);
    void exportacaoManual();

    ClientesLinks links;
    CriarTabelaClientes criar = criarTabelaClientes;
    int connectSeconds = kDefaultTerminalConnectSeconds;
    std::unique_ptr<db::MemTable> Fdac_temp_auto;
    std::unique_ptr<db::MemTable> Fdac_Temp;
};

bool ExportacaoClientes::Impl::criarTabela(std::unique_ptr<db::MemTable>& slot,
                                           const std::function<void(const QString&)>& report)
{
    slot.reset();
    try {
        slot = criar();
        if (!slot)
            throw db::UsageError(QStringLiteral("The export table was not created"));
        return true;
    } catch (const std::exception& e) {
        slot.reset();
        report(ui::failureText(e));
    }
    return false;
}

qint64 ExportacaoClientes::Impl::empresaAtual() const
{
    if (!links.empresaAtual)
        throw db::UsageError(QStringLiteral("The current company is not known"));
    return links.empresaAtual();
}

void ExportacaoClientes::Impl::copiar(const db::Dataset& alvo, db::MemTable& tabela, const char* log,
                                      db::CopyLogBook& logs) const
{
    db::Connection pdv(terminals::terminalParams(alvo));
    pdv.setAutoReconnect(false);
    pdv.setConnectTimeoutSeconds(connectSeconds);
    pdv.open();

    db::CopyConfig config;
    config.reader = &tabela;
    config.writerConnection = &pdv;
    config.writerSql = QString::fromUtf8(kDestino);
    config.mode = db::CopyMode::AppendUpdate;
    logs.use(config, common::programPath(QString::fromUtf8(log)),
             terminals::logSection(alvo.field("NUM_ECF").asString()));
    config.commitCount = 100;
    db::CopyRun(config).run();
}

void ExportacaoClientes::Impl::terminarProgresso()
{
    links.view.setProgress(100);
    links.view.repaintProgress();
    links.view.setProgress(0);
}

Interrupcoes ExportacaoClientes::Impl::interrupcoes(const char* nome, const char* log, db::CopyLogBook& logs)
{
    ClientesView* view = &links.view;
    Interrupcoes out(links.server, QString::fromUtf8(nome), [view](const QString& line) {
        view->addInterruptionLine(line);
    });
    out.useLogs(logs, {common::programPath(QString::fromUtf8(log))});
    return out;
}

void ExportacaoClientes::Impl::cargaAutomatica()
{
    db::CopyLogBook logs;
    Interrupcoes perdas = interrupcoes(kNomeAutomatico, kLogAutomatico, logs);
    try {
        servirAutomatico(perdas, logs);
    } catch (const std::exception& e) {
        // The server went: the terminals not yet served get today's
        // customers from the next "clientes".
        perdas.encerrarSeServidorPerdido(e);
        throw;
    }
}

void ExportacaoClientes::Impl::servirAutomatico(Interrupcoes& perdas, db::CopyLogBook& logs)
{
    ClientesView& view = links.view;
    view.clearMemo1();
    // Stale or missing balances must never reach the terminals: without a
    // table nothing is built, copied or stamped.
    const bool criada = criarTabela(Fdac_temp_auto, [](const QString& text) {
        ui::dialogs().error(QStringLiteral("Erro6:\rErro: ") + text);
    });
    if (!criada)
        return;
    db::MemTable& tabela = *Fdac_temp_auto;

    db::Query clientes(links.server);
    clientes.setText(QString::fromUtf8(kClientesDoDia));
    clientes.prepare();
    clientes.open();
    if (!clientes.isEmpty()) {
        try {
            SaldoClientes saldos(links.server, empresaAtual(), Vencimento::Automatico);
            montarClientes(clientes, tabela, saldos, view);
        } catch (const std::exception& e) {
            // Balances half built because the server went would reach the
            // terminals stamped as sent: the run ends instead.
            if (db::isLinkFailure(e))
                throw;
            // A refused query: the terminals still get the rows built so far.
            ui::dialogs().error(QStringLiteral("Erro7:\rErro: ") + ui::failureText(e));
        }
    }

    db::Query alvos(links.server);
    openList(alvos, kAlvosAutomatico);
    const int total = alvos.recordCount();
    int i = 1;
    for (alvos.first(); !alvos.eof(); alvos.next()) {
        const QString numEcf = alvos.field("NUM_ECF").asString();
        try {
            copiar(alvos, tabela, kLogAutomatico, logs);
            common::pumpEvents();
            view.clearMemo1();
            if (!clientes.isEmpty()) {
                for (clientes.first(); !clientes.eof(); clientes.next()) {
                    view.addMemo1(linhaCliente(clientes, 45));
                    common::pumpEvents();
                }
                view.addMemo1(QString());
                view.addMemo1(QStringLiteral("******Clientes alterados - %1 Ecf: %2! ******")
                                  .arg(clientes.recordCount())
                                  .arg(numEcf));
            }
            carimbar(links.server, numEcf);
        } catch (const std::exception& e) {
            // A terminal that fails is left unstamped; the next one is
            // served. One that went away says so; one that refused the rows
            // has them in its log.
            perdas.caixaPerdido(e, numEcf);
        }
        view.setProgress(progresso(i, total));
        ++i;
        common::pumpEvents();
    }
    terminarProgresso();
}

void ExportacaoClientes::Impl::exportacaoManual()
{
    ClientesView& view = links.view;
    UpdateFlags& flags = links.flags;

    // Puts the window back to rest whichever way the run ends, so a failed
    // run cannot keep later requests out.
    struct Fim {
        Impl& run;
        std::optional<MonitorPausado> monitor{};
        bool restaurado = false;
        bool marcasZeradas = false;

        void restaurar()
        {
            if (restaurado)
                return;
            restaurado = true;
            run.links.view.setExportButtonEnabled(true);
            if (monitor)
                monitor->restaurar();
            run.links.flags.Exportando_Clientes = false;
            run.links.view.uncheckEveryBox();
        }
        void zerarMarcas()
        {
            marcasZeradas = true;
            execute(run.links.server, kZerarMarcas);
        }
        ~Fim()
        {
            try {
                restaurar();
            } catch (...) {
            }
            if (!marcasZeradas) {
                try {
                    zerarMarcas();
                } catch (...) {
                    // The run's own failure is already on its way out.
                }
            }
        }
    } fim{*this};

    db::CopyLogBook logs;
    Interrupcoes perdas = interrupcoes(kNomeManual, kLogManual, logs);
    bool semPedido = true;
    try {
        view.setExportButtonEnabled(false);
        if (links.verificarConexao)
            links.verificarConexao();
        flags.Exportando_Clientes = true;
        view.clearMemo1();
        fim.monitor.emplace(links.vendas);

        db::Query pedidos(links.server);
        pedidos.setText(QString::fromUtf8(kPedidos));
        pedidos.bindText("STATUS", QStringLiteral("A"));
        pedidos.bindInteger("IMPORTACAO", kPedidoClientes);
        pedidos.prepare();
        pedidos.open();
        if (!pedidos.isEmpty()) {
            semPedido = false;
            if (pedidos.field("TODAS_ECFS").asInteger() == 1) {
                view.checkTodasEcfs();
                if (pedidos.field("CARGA_TOTAL").asInteger() == 1)
                    view.checkChkTotal();
                view.checkEveryBoxButTotal();
            } else {
                for (; !pedidos.eof(); pedidos.next()) {
                    if (pedidos.field("STATUS").asString() != QLatin1String("A"))
                        continue;
                    // A NUM_ECF that names no box ("041", "7") asks for nothing.
                    if (const int n = caixaDoNumEcf(pedidos.field("NUM_ECF").asString()))
                        view.checkEcf(n);
                    if (pedidos.field("CARGA_TOTAL").asInteger() == 1)
                        view.checkChkTotal();
                }
                view.enableTodasEcfs();
            }
        }
        // Nothing above lets an event through; from the first event turn on,
        // another export may untick the boxes, so the run keeps to this copy.
        const EscolhaAlvos escolha = EscolhaAlvos::copiar(view);

        const bool criada = criarTabela(Fdac_Temp, [](const QString& text) { ui::dialogs().plain(text); });
        if (criada) {
            db::MemTable& tabela = *Fdac_Temp;
            db::Query clientes(links.server);
            clientes.setText(QString::fromUtf8(escolha.total() ? kTodosClientes : kClientesDeHoje));
            clientes.prepare();
            clientes.open();
            if (!clientes.isEmpty()) {
                SaldoClientes saldos(links.server, empresaAtual(), Vencimento::Manual);
                montarClientes(clientes, tabela, saldos, view);
            }

            view.clearMemo1();
            for (int n = 1; terminals::hasSlot(n); ++n) {
                if (!escolha.ecf(n))
                    continue;
                db::Query marcar(links.server);
                marcar.setText(QString::fromUtf8(kMarcarAlvo));
                marcar.bindText("NUM_ECF", terminals::numEcfText(n));
                marcar.prepare();
                marcar.exec();
            }

            db::Query alvos(links.server);
            openList(alvos, kAlvosManual);
            const int total = alvos.recordCount();
            const int linhas = tabela.recordCount();
            QStringList servidos; // all-terminals mode: stamped after the last target
            int i = 1;
            for (alvos.first(); !alvos.eof(); alvos.next()) {
                const QString numEcf = alvos.field("NUM_ECF").asString();
                view.addMemo1(QStringLiteral("Exportando %1 Clientes: -> Ecf: %2\r Aguarde...")
                                  .arg(linhas)
                                  .arg(numEcf.mid(1, 2)));
                try {
                    copiar(alvos, tabela, kLogManual, logs);
                    if (!escolha.todas()) {
                        carimbar(links.server, numEcf);
                        fecharPedido(links.server, numEcf, kPedidoClientes);
                    } else {
                        servidos << numEcf;
                    }
                } catch (const std::exception& e) {
                    // A terminal that fails is left unstamped, its request open;
                    // the next one is served.
                    perdas.caixaPerdido(e, numEcf);
                }
                view.setProgress(progresso(i, total));
                ++i;
                common::pumpEvents();
            }
            terminarProgresso();

            // All-terminals mode: one stamp for every terminal served, and only
            // their requests closed; a request on a terminal that was not served
            // (the all-terminals one included) brings the next run.
            if (escolha.todas()) {
                const Carimbo agora;
                for (const QString& numEcf : servidos) {
                    carimbar(links.server, numEcf, agora);
                    fecharPedidoTodas(links.server, numEcf, kPedidoClientes);
                }
            }

            view.clearMemo2();
            for (tabela.first(); !tabela.eof(); tabela.next()) {
                view.addMemo2(linhaCliente(tabela, 45) + QStringLiteral(" - R$")
                              + numeroGeral(tabela.field("SALDO").asFloat()));
                common::pumpEvents();
            }

            for (alvos.first(); !alvos.eof(); alvos.next()) {
                view.clearMemo1();
                view.addMemo1(QString());
                view.addMemo1(QStringLiteral("******Clientes alterados - %1 Ecf: %2! ******")
                                  .arg(linhas)
                                  .arg(alvos.field("NUM_ECF").asString().mid(1, 2)));
            }
            view.addMemo1(QStringLiteral("Finalizado Clientes!"));
        }

    } catch (const std::exception& e) {
        // The server went: the window is put back to rest (fim) and the
        // next request serves the terminals not yet stamped.
        perdas.encerrarSeServidorPerdido(e);
        throw;
    }

    fim.restaurar();
    if (semPedido && links.vendas.atualizarDados)
        links.vendas.atualizarDados();
    fim.zerarMarcas();
}

ExportacaoClientes::ExportacaoClientes(ClientesLinks links)
    : impl_(std::make_unique<Impl>(std::move(links)))
{
}

ExportacaoClientes::~ExportacaoClientes() = default;

void ExportacaoClientes::Carga_Clientes()
{
    bool& flag = impl_->links.flags.Carga_Auto_Clientes;
    struct Fim {
        bool& flag;
        ~Fim() { flag = false; }
    } fim{flag};
    if (flag)
        impl_->cargaAutomatica();
}

void ExportacaoClientes::btn_exportar_clienteClick()
{
    impl_->exportacaoManual();
}

const db::MemTable* ExportacaoClientes::Fdac_temp_auto() const
{
    return impl_->Fdac_temp_auto.get();
}

const db::MemTable* ExportacaoClientes::Fdac_Temp() const
{
    return impl_->Fdac_Temp.get();
}

void ExportacaoClientes::setCriarTabela(CriarTabelaClientes criar)
{
    impl_->criar = criar ? std::move(criar) : CriarTabelaClientes(criarTabelaClientes);
}

void ExportacaoClientes::setTerminalConnectTimeout(int seconds)
{
    impl_->connectSeconds = seconds;
}

} // namespace update
