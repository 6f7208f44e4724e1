#include "sales/sales_window.h"

#include "common/scope_exit.h"
#include "config/ini_file.h"
#include "config/ini_keys.h"
#include "platform/process_ender.h"
#include "db/busy_links.h"
#include "db/listener.h"
#include "sales/atualizar_dados.h"
#include "sales/carga_registro.h"
#include "sales/carga_vendas.h"
#include "sales/consistir_vendas.h"
#include "sales/venda_notification.h"
#include "terminals/sales_status_pass.h"
#include "ui/controls.h"
#include "ui/dataset_model.h"
#include "ui/dialogs.h"
#include "ui/standard_error.h"
#include "ui/status_pane.h"

#include <QCloseEvent>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <utility>
#include <QTableView>

namespace sales {
namespace {

const QString kDesabilitar = QStringLiteral("Desabilitar Monitor");
const QString kHabilitar = QStringLiteral("Habilitar Monitor");
const QString kPerguntaSair = QStringLiteral("Deseja realmente encerrar a aplica\u00e7\u00e3o?");
const QString kProcessandoVendas =
    QStringLiteral("Sistema processando vendas dos caixas n\u00e3o e poss\u00edvel sai do sistema.");

using ui::makeBold;
using ui::makeLabel;
using ui::makePane;
using ui::paintText;

// The sales window's buttons are captioned in red.
QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text, const QRect& geometry)
{
    QPushButton* button = ui::makeButton(parent, name, text, geometry);
    paintText(button, Qt::red);
    return button;
}

} // namespace

TFrmConversor_Vendas::TFrmConversor_Vendas(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , Quibor_Server_(db::ConnectionParams::serverDefaultsSales())
    , slots_(terminals::SlotSet::forSales())
    , config_(Quibor_Server_)
    , abertura_(Quibor_Server_)
    , QEmpresa_(Quibor_Server_)
    , QList_Pdv_(Quibor_Server_)
{
    setObjectName(QStringLiteral("TFrmConversor_Vendas"));
    Quibor_Server_.setAutoReconnect(true);
    config_.setText(QStringLiteral("SELECT * FROM CONFIG"));
    abertura_.setText(QStringLiteral("SELECT * FROM ABERTURA"));
    buildControls();

    statusPass_ = std::make_unique<terminals::SalesStatusPass>(
        terminals::SalesStatusLinks{Quibor_Server_, QList_Pdv_, config_, *this});
    const SalesImportLinks importLinks{
        Quibor_Server_, *this, flags_.Importacao_Livre, [this] { statusPass_->VerificarConexao(); },
        [this] { return app::LeIni(iniPath_, app::iniSecaoConexao(), app::iniBaseName()); }, config_,
        abertura_};
    carga_ = std::make_unique<Carga_Vendas>(importLinks);
    registro_ = std::make_unique<Carga_Registro>(importLinks, *carga_);
    consistir_ = std::make_unique<Consistir_Vendas>(ConsistirLinks{
        Quibor_Server_, config_, *this, *this, [this](const QString& text) { Label8->setText(text); },
        [this](const db::Dataset& row) -> db::Connection& { return carga_->novaConexaoPdv(row); },
        [this] { return carga_->conexaoPdv(); },
        flags_.Consistir_Pendente});
}

TFrmConversor_Vendas::~TFrmConversor_Vendas()
{
    // Before the connection it listens on goes with the members.
    delete EventoVendaPdv_;
}

void TFrmConversor_Vendas::buildControls()
{
    setWindowTitle(QStringLiteral("QuiborSync(1.0.0) -Atualizar Vendas(Servidor)"));
    setFixedSize(661, 545);

    Label5 = makeLabel(this, "Label5", "Monitor", {10, 8, 215, 17});
    Label6 = makeLabel(this, "Label6", "Monitor", {10, 27, 215, 17});
    for (QLabel* l : {Label5, Label6}) {
        paintText(l, Qt::red);
        makeBold(l);
    }
    Label7 = makeLabel(this, "Label7", "Monitor de Atividades", {230, 6, 425, 30});
    Label7->setAlignment(Qt::AlignCenter);
    makeBold(Label7, 16);
    // The heading stays centred over the grid but takes no more width than
    // its text, so that the labels on its left have room for "Banco: " +
    // database name + " - " + business date.
    const int headingWidth = Label7->fontMetrics().horizontalAdvance(Label7->text()) + 8;
    Label7->setGeometry(Label7->geometry().center().x() - headingWidth / 2, 6, headingWidth, 30);
    for (QLabel* l : {Label5, Label6})
        l->resize(Label7->x() - 6 - l->x(), l->height());

    Label1 = makeLabel(this, "Label1", "Pdv(s) Conectados/Envio Atualiza\u00e7\u00e3o", {10, 50, 215, 17});
    QFont small = Label1->font();
    small.setPointSize(small.pointSize() - 1);
    Label1->setFont(small);
    MemoPdv2 = new ui::StatusPane(this);
    MemoPdv2->setObjectName("MemoPdv2");
    MemoPdv2->setGeometry(10, 68, 211, 155);
    MemoPdv2->setFont(small);

    lbstatus = makeLabel(this, "lbstatus", "Status dos Caixas(ECFs Ativos)", {230, 50, 425, 17});
    makeBold(lbstatus);
    gridModel_ = new ui::DatasetModel({{"num_ecf", "Ecf", Qt::AlignCenter},
                                       {"banco", "Banco", Qt::AlignCenter},
                                       {"ip", "Endere\u00e7o", Qt::AlignCenter},
                                       {"status", "Status"}},
                                      this);
    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName("DBGrid1");
    DBGrid1->setModel(gridModel_);
    DBGrid1->setGeometry(230, 68, 425, 110);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->verticalHeader()->setDefaultSectionSize(20);
    DBGrid1->horizontalHeader()->setStretchLastSection(true);

    Label8 = makeLabel(this, "Label8", "Importando", {230, 184, 200, 17});
    Label9 = makeLabel(this, "Label9", "", {440, 184, 215, 17});
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(230, 203, 425, 20);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    QPalette bar = ProgressBar1->palette();
    bar.setColor(QPalette::Highlight, QColor(0, 128, 0));
    ProgressBar1->setPalette(bar);

    const int columns[] = {10, 225, 440};
    const char* topHeadings[] = {"\u00daltima Venda Registrada", "Itens da Venda", "Parcelas da Venda"};
    const char* bottomHeadings[] = {"Fechamento Cupom", "Nfc-e ", "Nfc-e(Transmitidas)"};
    for (int i = 0; i < 3; ++i) {
        makeLabel(this, QStringLiteral("LabelVenda%1").arg(i), QString::fromUtf8(topHeadings[i]),
                  {columns[i], 231, 211, 17});
        makeLabel(this, QStringLiteral("LabelNfce%1").arg(i), QString::fromUtf8(bottomHeadings[i]),
                  {columns[i], 373, 211, 17});
    }
    Memo2 = makePane(this, "Memo2", {columns[0], 250, 211, 119});
    Memo3 = makePane(this, "Memo3", {columns[1], 250, 211, 119});
    Memo4 = makePane(this, "Memo4", {columns[2], 250, 211, 119});
    Memo1 = makePane(this, "Memo1", {columns[0], 392, 211, 119});
    Memo5 = makePane(this, "Memo5", {columns[1], 392, 211, 119});
    Memo6 = makePane(this, "Memo6", {columns[2], 392, 211, 119});
    for (QPlainTextEdit* pane : {Memo1, Memo2, Memo3, Memo4, Memo5, Memo6}) {
        pane->setMaximumBlockCount(kMonitorPaneLines);
        QPalette p = pane->palette();
        p.setColor(QPalette::Base, Qt::white);
        pane->setPalette(p);
    }

    Button2 = makeButton(this, "Button2", "Atualizar Dados", {10, 516, 150, 25});
    Button3 = makeButton(this, "Button3", kDesabilitar, {168, 516, 150, 25});
    btnconsistir = makeButton(this, "btnconsistir", "Consistir Vendas (Ecf)", {326, 516, 150, 25});
    btnconsistir->setEnabled(false);
    Button1 = makeButton(this, "Button1", "Sair dos Sistema", {505, 516, 150, 25});

    // The exit asks in a modal box: never inside a statement's wait.
    connect(Button1, &QPushButton::clicked, this, [this] { serveWhenLinksFree("Button1", &TFrmConversor_Vendas::Button1Click); });
    connect(Button2, &QPushButton::clicked, this, [this] { serveWhenLinksFree("Button2", &TFrmConversor_Vendas::Button2Click); });
    connect(Button3, &QPushButton::clicked, this, [this] { ui::runHandler([this] { Button3Click(); }); });
    connect(btnconsistir, &QPushButton::clicked, this,
            [this] { serveWhenLinksFree("btnconsistir", &TFrmConversor_Vendas::btnconsistirClick); });
}

// A name too long even for the widened labels stays readable in the tip.
void TFrmConversor_Vendas::setServerLabel(const QString& text)
{
    Label5->setText(text);
    Label5->setToolTip(text);
}

void TFrmConversor_Vendas::clearLabel6() { Label6->clear(); }

void TFrmConversor_Vendas::setConsistirEnabled(bool enabled) { btnconsistir->setEnabled(enabled); }

void TFrmConversor_Vendas::switchListenerOn()
{
    if (!EventoVendaPdv_) {
        EventoVendaPdv_ = new db::Listener(Quibor_Server_, this);
        EventoVendaPdv_->setObjectName("EventoVendaPdv");
        // "registro" is how a terminal's fiscal-records request is served.
        EventoVendaPdv_->setChannels({"venda", "syncreboot", "registro"});
        EventoVendaPdv_->setHandler([this](db::Listener& sender, const QString& channel, const QString& payload) {
            ui::runHandler([&] { EventoTransacaoPdvAlert(sender, channel, payload); });
        });
        EventoVendaPdv_->setResubscribedHandler([this] { ui::runHandler([this] { catchUpAfterOutage(); }); });
    }
    EventoVendaPdv_->setActive(true);
}

bool TFrmConversor_Vendas::listenerActive() const
{
    return EventoVendaPdv_ && EventoVendaPdv_->active();
}

void TFrmConversor_Vendas::serveWhenLinksFree(const QString& key, void (TFrmConversor_Vendas::*handler)())
{
    // A click that arrives while a statement waits for its answer (it lets
    // events run) is served once that statement is answered, not inside it.
    db::whenLinksFree(this, key, [this, handler] { ui::runHandler([this, handler] { (this->*handler)(); }); });
}

void TFrmConversor_Vendas::EventoTransacaoPdvAlert(db::Listener&, const QString& channel, const QString&)
{
    // Never in the middle of a statement (a replay of a held notification
    // may arrive there): served once every link is free.
    if (db::linksBusy()) {
        db::whenLinksFree(this, QStringLiteral("notification ") + channel, [this, channel] {
            if (EventoVendaPdv_)
                ui::runHandler([&] { EventoTransacaoPdvAlert(*EventoVendaPdv_, channel, QString()); });
        });
        return;
    }
    // The start-up lets events run while it connects, so a notification can
    // arrive before the window shows; imports are not free until then, and
    // the request would be withdrawn unserved. It waits for the show.
    if (!shownOnce_) {
        if (!heldUntilShown_.contains(channel))
            heldUntilShown_ << channel;
        return;
    }
    handleSalesNotification(channel, Quibor_Server_, flags_, runs());
}

SalesRuns TFrmConversor_Vendas::runs()
{
    return SalesRuns{
        [this] {
            RunGate::Running running(gate_);
            consistir_->runBeforeImport();
        },
        [this] {
            RunGate::Running running(gate_);
            carga_->run();
        },
        [this] {
            RunGate::Running running(gate_);
            registro_->run();
        },
        [this] { return gate_.busy(); },
        [this](const QString& channel) {
            gate_.holdBack(channel, [this, channel] {
                if (EventoVendaPdv_)
                    ui::runHandler([&] { EventoTransacaoPdvAlert(*EventoVendaPdv_, channel, QString()); });
            });
        },
        [this](const QString& line) { reportSkippedTerminal(line); },
    };
}

void TFrmConversor_Vendas::catchUpAfterOutage(std::function<void()> afterwards)
{
    if (afterwards)
        afterCatchUp_.push_back(std::move(afterwards));
    serveCatchUp();
}

void TFrmConversor_Vendas::serveCatchUp()
{
    // One at a time: the one running serves whoever waits at its end.
    if (catchingUp_)
        return;
    auto again = [this] { ui::runHandler([this] { serveCatchUp(); }); };
    // Not inside a statement that waits for its answer.
    if (db::linksBusy()) {
        db::whenLinksFree(this, QStringLiteral("catch-up"), again);
        return;
    }
    // A link usually drops in the middle of an import: its catch-up then
    // arrives while imports are not free, and its "venda" would withdraw a
    // request instead of serving it. It waits for the run's end.
    if (gate_.busy()) {
        gate_.holdBack(QStringLiteral("catch-up"), again);
        return;
    }
    catchingUp_ = true;
    // Whoever waits follows at once, before a later request could be
    // cleared by it; each guards its own failures.
    common::ScopeExit done([this] {
        catchingUp_ = false;
        for (const std::function<void()>& follower : std::exchange(afterCatchUp_, {}))
            ui::runHandler(follower);
    });
    if (!EventoVendaPdv_)
        return;
    // IMPORTACAO 1 goes with "venda", 3 with "registro".
    for (const char* channel : {"venda", "registro"})
        EventoTransacaoPdvAlert(*EventoVendaPdv_, QString::fromLatin1(channel), QString());
}

void TFrmConversor_Vendas::Button1Click()
{
    if (!flags_.Saida_Liberada) {
        ui::dialogs().info(kProcessandoVendas);
        return;
    }
    // The window does not close itself: it ends with its process.
    if (ui::dialogs().question(kPerguntaSair))
        app::endEveryCopy();
}

void TFrmConversor_Vendas::Button2Click()
{
    if (habilitarbotoes_)
        habilitarbotoes_();
    Atualizar_Dados(Quibor_Server_, config_);
}

void TFrmConversor_Vendas::Button3Click()
{
    const QList<QPlainTextEdit*> panes{Memo1, Memo2, Memo3, Memo4, Memo5, Memo6};
    const bool pausing = Button3->text() == kDesabilitar;
    flags_.Importacao_Livre = !pausing;
    for (QPlainTextEdit* pane : panes) {
        if (pausing)
            pane->clear();
        QPalette p = pane->palette();
        p.setColor(QPalette::Base, pausing ? QColor(255, 0, 0) : QColor(Qt::white));
        pane->setPalette(p);
    }
    Button3->setText(pausing ? kHabilitar : kDesabilitar);
}

bool TFrmConversor_Vendas::monitorLigado() const
{
    return Button3->text() == kDesabilitar;
}

void TFrmConversor_Vendas::btnconsistirClick()
{
    if (gate_.busy()) {
        // Replayed as a click: the run's end may come inside another
        // statement's wait, and the check must not send from there.
        gate_.holdBack(QStringLiteral("btnconsistir"),
                       [this] { serveWhenLinksFree("btnconsistir", &TFrmConversor_Vendas::btnconsistirClick); });
        return;
    }
    {
        RunGate::Running running(gate_);
        consistir_->run();
    }
    ui::dialogs().info(QStringLiteral("Processo conclu\u00eddo com sucesso."));
}

void TFrmConversor_Vendas::FormShow()
{
    flags_.Importacao_Livre = true;
    flags_.Saida_Liberada = true;
    // Raises when CONFIG could not be opened at start (server unreachable).
    flags_.Consistir_Pendente = config_.field("CONSISTIR_PDV").asString() == QLatin1String("True");
}

bool TFrmConversor_Vendas::FormCloseQuery()
{
    if (!flags_.Saida_Liberada) {
        ui::dialogs().info(kProcessandoVendas);
        return false;
    }
    return ui::dialogs().question(kPerguntaSair);
}

void TFrmConversor_Vendas::FormClose()
{
    // The companion program that was told to quit here has no counterpart on
    // this platform: there is no window to find.
}

void TFrmConversor_Vendas::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Shown once per run; restoring from the task bar is not a new show.
    if (event->spontaneous() || shownOnce_)
        return;
    shownOnce_ = true;
    ui::runHandler([this] { FormShow(); });
    const QStringList held = std::exchange(heldUntilShown_, {});
    if (!held.isEmpty())
        QMetaObject::invokeMethod(
            this,
            [this, held] {
                for (const QString& channel : held)
                    if (EventoVendaPdv_)
                        ui::runHandler([&] { EventoTransacaoPdvAlert(*EventoVendaPdv_, channel, QString()); });
            },
            Qt::QueuedConnection);
}

void TFrmConversor_Vendas::closeEvent(QCloseEvent* event)
{
    // Asked again once no statement waits for its answer: the question is
    // a modal box, and the program ends behind a Yes.
    if (db::linksBusy()) {
        event->ignore();
        db::whenLinksFree(this, QStringLiteral("close"), [this] { close(); });
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
    emit closed();
}

QPlainTextEdit* TFrmConversor_Vendas::monitorPane(MonitorPane pane) const
{
    switch (pane) {
    case MonitorPane::Memo1: return Memo1;
    case MonitorPane::Memo2: return Memo2;
    case MonitorPane::Memo3: return Memo3;
    case MonitorPane::Memo4: return Memo4;
    case MonitorPane::Memo5: return Memo5;
    case MonitorPane::Memo6: return Memo6;
    }
    return Memo1;
}

void TFrmConversor_Vendas::appendMonitorLine(MonitorPane pane, const QString& line)
{
    monitorPane(pane)->appendPlainText(line);
}

void TFrmConversor_Vendas::showDatabaseLabel(const QString& caption)
{
    paintText(Label6, QColor(0, 128, 0));
    Label6->setText(caption);
    Label6->setToolTip(caption);
}

void TFrmConversor_Vendas::clearLabel9() { Label9->clear(); }

void TFrmConversor_Vendas::repaintWindow() { repaint(); }

void TFrmConversor_Vendas::repaintStatusPane() { MemoPdv2->repaint(); }

void TFrmConversor_Vendas::reportSkippedTerminal(const QString& line)
{
    MemoPdv2->appendLine(line, terminals::toQColor(terminals::LineColor::Red));
}

void TFrmConversor_Vendas::setProgress(int percent) { ProgressBar1->setValue(percent); }

void TFrmConversor_Vendas::repaintProgress() { ProgressBar1->repaint(); }

void TFrmConversor_Vendas::clearStatusLines() { MemoPdv2->clearLines(); }

void TFrmConversor_Vendas::addStatusLine(const QString& text, terminals::LineColor color)
{
    MemoPdv2->appendLine(text, terminals::toQColor(color));
}

void TFrmConversor_Vendas::terminalListReloaded() { gridModel_->load(QList_Pdv_); }

} // namespace sales
