#include "update/update_window.h"

#include "config/ini_keys.h"
#include "config/server_params.h"
#include "db/busy_links.h"
#include "common/scope_exit.h"
#include "db/errors.h"
#include "db/link_failure.h"
#include "db/listener.h"
#include "terminals/update_slots_opening.h"
#include "terminals/update_status_pass.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/standard_error.h"
#include "update/clientes_controls.h"
#include "update/exportacao_clientes.h"
#include "update/export_links.h"
#include "update/liberar_caixas.h"
#include "update/link_interruption.h"
#include "update/pane_lines.h"
#include "update/produtos_export.h"
#include "update/reference_export.h"
#include "update/widget_export_view.h"
#include "update/update_catch_up.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>

namespace update {
namespace {

using ui::makeButton;
using ui::makePane;

} // namespace

TFrmConversor::TFrmConversor(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , Quibor_Server_(db::ConnectionParams::serverDefaultsUpdate())
    , slots_(terminals::SlotSet::forUpdate())
    , QConfig_(Quibor_Server_)
    , abertura_(Quibor_Server_)
{
    setObjectName(QStringLiteral("TFrmConversor"));
    // Closing destroys the window; the sales window runs on alone.
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    Quibor_Server_.setAutoReconnect(true);
    QConfig_.setText(QStringLiteral("SELECT * FROM CONFIG"));
    abertura_.setText(QStringLiteral("SELECT * FROM ABERTURA"));
    statusPass_ = std::make_unique<terminals::UpdateStatusPass>(
        terminals::UpdateStatusLinks{Quibor_Server_, QConfig_, *this});
    buildControls();
    watchPane(Memo1);
    watchPane(Memo2);
    interruptions_ = std::make_unique<InterruptionLines>(Memo1);
    ExportControls controls{Memo1, Memo2, ProgressBar1, btn_exportar_cliente, Chk_Total, Todas_Ecfs, {}, {}};
    std::copy(Ecf.begin(), Ecf.end(), controls.ecf.begin());
    controls.interruptions = interruptions_.get();
    clientesView_ = std::make_unique<ClientesControls>(controls);
    clientes_ = std::make_unique<ExportacaoClientes>(ClientesLinks{
        Quibor_Server_, *clientesView_, flags_, [this] { statusPass_->VerificarConexao(); },
        [this] { return empresaAtual(); }, vendas_});
    exportView_ = std::make_unique<WidgetExportView>(*this, *interruptions_);
}

TFrmConversor::~TFrmConversor()
{
    // Before the connection it listens on goes with the members.
    delete EventoTransacaoServer_;
}

void TFrmConversor::buildControls()
{
    setWindowTitle(QStringLiteral("QuiborSync - Atualizar Sistema Pdv(Caixas)"));
    setFixedSize(664, 492);

    Panel_Exporta = new QWidget(this);
    Panel_Exporta->setObjectName("Panel_Exporta");
    Panel_Exporta->setGeometry(0, 0, 664, 288);

    const int w = 150, h = 25;
    btn_exportar_cliente = makeButton(Panel_Exporta, "btn_exportar_cliente", "Carga Clientes p/ Pdv", {8, 8, w, h});
    btn_exportar_produto = makeButton(Panel_Exporta, "btn_exportar_produto", "Carga Produtos p/ Pdv", {164, 8, w, h});
    btn_finalizadoras = makeButton(Panel_Exporta, "btn_finalizadoras", "Carga Finalizadoras", {320, 8, w, h});
    btn_tributos = makeButton(Panel_Exporta, "btn_tributos", "Carga Tributos", {476, 8, 180, h});
    btn_operadores = makeButton(Panel_Exporta, "btn_operadores", "Carga Operadores", {8, 38, w, h});
    Btn_Configuracoes =
        makeButton(Panel_Exporta, "Btn_Configuracoes", "Carga Configura\u00e7\u00f5es", {164, 38, w, h});
    Btn_Entidades = makeButton(Panel_Exporta, "Btn_Entidades", "Carga Entidades", {320, 38, w, h});
    btn_Liberar_Caixas =
        makeButton(Panel_Exporta, "btn_Liberar_Caixas", "Liaberar Caixas para Carga", {476, 38, 180, h});
    // Reached only through its notification channel.
    Btn_Ibtp = makeButton(Panel_Exporta, "Btn_Ibtp", "Carga Tabela Ibpt", {500, 68, w, h});
    Btn_Ibtp->setVisible(false);

    Chk_Total = new QCheckBox("Exportar todos Registros", Panel_Exporta);
    Chk_Total->setObjectName("Chk_Total");
    Chk_Total->setGeometry(8, 70, 250, 20);

    GroupBox1 = new QGroupBox("Ecfs Ativos", Panel_Exporta);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(8, 94, 648, 190);
    for (int n = 1; n <= kBoxCount; ++n) {
        const QString name = QStringLiteral("Ecf%1").arg(n, 3, 10, QLatin1Char('0'));
        auto* box = new QCheckBox(name, GroupBox1);
        box->setObjectName(name);
        const int row = (n - 1) / 10, col = (n - 1) % 10;
        box->setGeometry(10 + col * 63, 24 + row * 28, 62, 22);
        box->setEnabled(false);
        Ecf[n] = box;
    }
    Todas_Ecfs = new QCheckBox("Todas as Ecfs", GroupBox1);
    Todas_Ecfs->setObjectName("Todas_Ecfs");
    Todas_Ecfs->setGeometry(10, 24 + 4 * 28 + 8, 200, 22);

    LabelExportando = new QLabel("Exportando", this);
    LabelExportando->setObjectName("LabelExportando");
    LabelExportando->setGeometry(8, 292, 300, 17);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(8, 311, 648, 20);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    QPalette bar = ProgressBar1->palette();
    bar.setColor(QPalette::Highlight, QColor(0, 128, 0));
    ProgressBar1->setPalette(bar);

    Memo1 = makePane(this, "Memo1", {8, 339, 320, 145});
    Memo2 = makePane(this, "Memo2", {336, 339, 320, 145});

    auto wire = [this](QPushButton* button, void (TFrmConversor::*handler)()) {
        connect(button, &QPushButton::clicked, this, [this, button, handler] {
            runEvent(button->objectName(), [this, handler] { (this->*handler)(); });
        });
    };
    wire(btn_exportar_cliente, &TFrmConversor::btn_exportar_clienteClick);
    wire(btn_exportar_produto, &TFrmConversor::btn_exportar_produtoClick);
    wire(btn_finalizadoras, &TFrmConversor::btn_finalizadorasClick);
    wire(Btn_Ibtp, &TFrmConversor::Btn_IbtpClick);
    wire(btn_tributos, &TFrmConversor::btn_tributosClick);
    wire(btn_operadores, &TFrmConversor::btn_operadoresClick);
    wire(Btn_Configuracoes, &TFrmConversor::Btn_ConfiguracoesClick);
    wire(Btn_Entidades, &TFrmConversor::Btn_EntidadesClick);
    wire(btn_Liberar_Caixas, &TFrmConversor::btn_Liberar_CaixasClick);
    // toggled, not clicked: a run that ticks these boxes from a request
    // must have the same effect as the user's click.
    connect(Chk_Total, &QCheckBox::toggled, this, [this] { Chk_TotalClick(); });
    connect(Todas_Ecfs, &QCheckBox::toggled, this, [this] { Todas_EcfsClick(); });
}

void TFrmConversor::FormCreate()
{
    // The client library is found through the executable's run path
    // (DllsPG beside it), fixed at link time; nothing to set here.
    iniPath_ = app::iniPath();
    Quibor_Server_.close();
    try {
        Quibor_Server_.params() = app::serverParamsFromIni(iniPath_, Quibor_Server_.params());
        Quibor_Server_.open();
    } catch (...) {
        // Reported by the next open.
    }

    const bool opened = ui::runHandler([this] {
        Quibor_Server_.open();
        abertura_.open();
    });
    if (!opened)
        return;

    try {
        terminals::abrirSlotsAtualizacao({Quibor_Server_, QConfig_, slots_, *this});
    } catch (const std::exception& e) {
        ui::dialogs().error(QStringLiteral("Erro conexao abertura pdvs:\rErro: ") + ui::failureText(e));
    }

    ui::runHandler([this] {
        switchListenerOn();
        repaint();
        if (!QConfig_.isOpen())
            QConfig_.open();
    });
}

void TFrmConversor::FormShow()
{
    flags_.Exportando_Produtos = false;
    flags_.Exportando_Clientes = false;
    statusPass_->VerificarConexao();
    Habilitarbotoes();
}

void TFrmConversor::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous() || shownOnce_)
        return;
    shownOnce_ = true;
    ui::runHandler([this] { FormShow(); });
}

void TFrmConversor::runEvent(const QString& key, const std::function<void()>& handler)
{
    // Handlers send statements: one that arrives while a statement waits
    // for its answer (it lets events run) is served once that is answered.
    if (db::linksBusy()) {
        db::whenLinksFree(this, key, [this, key, handler] { runEvent(key, handler); });
        return;
    }
    // A new event, not one nested in a run: the red lines of the runs
    // before are history, and go with the pane's next clear.
    if (runsGoing_ == 0)
        interruptions_->forget();
    ++runsGoing_;
    ui::runHandler([this, &handler] {
        try {
            handler();
        } catch (const ServidorInterrompido& e) {
            // A run ended on the lost server and has said so.
            if (!e.told())
                interruptions_->add(linhaServidorInterrompido(e.reason()));
        } catch (const std::exception& e) {
            // What escapes a handler here comes from the server's link (the
            // runs tell their terminals' themselves): a line, never the box
            // that would hold every later notification until a click.
            if (!db::isLinkFailure(e))
                throw;
            interruptions_->add(linhaServidorInterrompido(db::failureReason(e)));
        }
    });
    --runsGoing_;
    if (runsGoing_ == 0 && closeWaiting_) {
        closeWaiting_ = false;
        close();
    }
}

void TFrmConversor::closeEvent(QCloseEvent* event)
{
    if (runsGoing_ > 0) {
        closeWaiting_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

qint64 TFrmConversor::empresaAtual() const
{
    if (!empresaAtual_)
        throw db::UsageError(QStringLiteral("The current company is not known"));
    return empresaAtual_();
}

void TFrmConversor::switchListenerOn()
{
    if (!EventoTransacaoServer_) {
        EventoTransacaoServer_ = new db::Listener(Quibor_Server_, this);
        EventoTransacaoServer_->setObjectName("EventoTransacaoServer");
        EventoTransacaoServer_->setChannels(updateChannels());
        EventoTransacaoServer_->setHandler(
            [this](db::Listener& sender, const QString& channel, const QString& payload) {
                db::Listener* listener = &sender;
                runEvent(QStringLiteral("notification ") + channel,
                         [this, listener, channel, payload] { EventoTransacaoSeverAlert(*listener, channel, payload); });
            });
        EventoTransacaoServer_->setResubscribedHandler(
            [this] { runEvent(QStringLiteral("catch-up"), [this] { catchUpAfterOutage(); }); });
    }
    EventoTransacaoServer_->setActive(true);
}

bool TFrmConversor::listenerActive() const
{
    return EventoTransacaoServer_ && EventoTransacaoServer_->active();
}

void TFrmConversor::Habilitarbotoes()
{
    const bool on = statusPass_->Ecfs_Online();
    for (QPushButton* b : {btn_exportar_cliente, btn_exportar_produto, btn_finalizadoras, Btn_Ibtp, btn_tributos,
                           btn_operadores, Btn_Configuracoes, Btn_Entidades})
        b->setEnabled(on);
}

void TFrmConversor::btn_Liberar_CaixasClick()
{
    Liberar_Caixas(Quibor_Server_, *statusPass_);
}

void TFrmConversor::Chk_TotalClick()
{
    GroupBox1->setEnabled(!Chk_Total->isChecked());
}

void TFrmConversor::Todas_EcfsClick()
{
    const bool ticked = Todas_Ecfs->isChecked();
    // Every enabled box of the group, in creation order; a box's own enabled
    // state counts, not the group's (which "Exportar todos Registros" may
    // have disabled).
    for (QCheckBox* box : GroupBox1->findChildren<QCheckBox*>(Qt::FindDirectChildrenOnly))
        if (box != Todas_Ecfs && box->isEnabledTo(GroupBox1))
            box->setChecked(ticked);
}

void TFrmConversor::EventoTransacaoSeverAlert(db::Listener&, const QString& channel, const QString&)
{
    common::ScopeExit handled([this, channel] { emit notificationHandled(channel); });
    handleUpdateNotification(channel, Quibor_Server_, QConfig_, flags_, *this);
}

void TFrmConversor::catchUpAfterOutage()
{
    // The sales window serves its requests first (its catch-up may wait for
    // a running import); this window's own follows, since every handled
    // notification clears every request.
    QPointer<TFrmConversor> self(this);
    auto own = [self] {
        if (self)
            self->runEvent(QStringLiteral("catch-up, own"), [self] { self->serveOwnCatchUp(); });
    };
    if (beforeCatchUp_)
        beforeCatchUp_(own);
    else
        own();
}

void TFrmConversor::serveOwnCatchUp()
{
    if (!EventoTransacaoServer_)
        return;
    for (const QString& channel : catchUpChannels(Quibor_Server_))
        EventoTransacaoSeverAlert(*EventoTransacaoServer_, channel, QString());
}

void TFrmConversor::btn_exportar_clienteClick()
{
    clientes_->btn_exportar_clienteClick();
}

ExportLinks TFrmConversor::exportLinks()
{
    return {Quibor_Server_, slots_,      *statusPass_, *exportView_,
            flags_,         [this] { Habilitarbotoes(); }, empresaAtual_};
}

void TFrmConversor::btn_exportar_produtoClick() { Exportar_Produtos(exportLinks()); }
void TFrmConversor::btn_finalizadorasClick() { Exportar_Referencia(Referencia::Finalizadoras, exportLinks()); }
void TFrmConversor::Btn_IbtpClick() { Exportar_Referencia(Referencia::Ibpt, exportLinks()); }
void TFrmConversor::btn_tributosClick() { Exportar_Referencia(Referencia::Tributos, exportLinks()); }
void TFrmConversor::btn_operadoresClick() { Exportar_Referencia(Referencia::Operadores, exportLinks()); }
void TFrmConversor::Btn_ConfiguracoesClick() { Exportar_Referencia(Referencia::Configuracoes, exportLinks()); }
void TFrmConversor::Btn_EntidadesClick() { Exportar_Referencia(Referencia::Entidades, exportLinks()); }

void TFrmConversor::cargaAutomaticaProdutos()
{
    Carga_Produtos(exportLinks());
}

void TFrmConversor::cargaAutomaticaClientes()
{
    clientes_->Carga_Clientes();
}

void TFrmConversor::setTerminalBoxEnabled(int n, bool enabled)
{
    if (n >= 1 && n <= terminals::kSlotCount)
        Ecf[n]->setEnabled(enabled);
}

void TFrmConversor::statusPassFinished()
{
    switchListenerOn();
    repaint();
}

void TFrmConversor::setPanelEnabled(bool enabled)
{
    Panel_Exporta->setEnabled(enabled);
}

QPushButton* TFrmConversor::buttonOf(UpdateRun run) const
{
    switch (run) {
    case UpdateRun::ExportarClientes: return btn_exportar_cliente;
    case UpdateRun::ExportarProdutos: return btn_exportar_produto;
    case UpdateRun::Finalizadoras: return btn_finalizadoras;
    case UpdateRun::Configuracoes: return Btn_Configuracoes;
    case UpdateRun::Tributos: return btn_tributos;
    case UpdateRun::Operadores: return btn_operadores;
    case UpdateRun::Ibpt: return Btn_Ibtp;
    case UpdateRun::CargaAutoProdutos:
    case UpdateRun::CargaAutoClientes: break;
    }
    return nullptr;
}

bool TFrmConversor::runButtonEnabled(UpdateRun run) const
{
    // The button's own state: an automatic load may have disabled the panel
    // around it.
    const QPushButton* b = buttonOf(run);
    return b && b->isEnabledTo(Panel_Exporta);
}

void TFrmConversor::startRun(UpdateRun run)
{
    switch (run) {
    case UpdateRun::CargaAutoProdutos: cargaAutomaticaProdutos(); break;
    case UpdateRun::CargaAutoClientes: cargaAutomaticaClientes(); break;
    case UpdateRun::ExportarClientes: btn_exportar_clienteClick(); break;
    case UpdateRun::ExportarProdutos: btn_exportar_produtoClick(); break;
    case UpdateRun::Finalizadoras: btn_finalizadorasClick(); break;
    case UpdateRun::Configuracoes: Btn_ConfiguracoesClick(); break;
    case UpdateRun::Tributos: btn_tributosClick(); break;
    case UpdateRun::Operadores: btn_operadoresClick(); break;
    case UpdateRun::Ibpt: Btn_IbtpClick(); break;
    }
}

} // namespace update
