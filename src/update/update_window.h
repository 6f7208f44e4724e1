#pragma once
// TFrmConversor, the terminal-update window: it sends master data from the
// server to the terminals. It owns its controls, its own server connection,
// slots, listener and flags, and wires events to the runs.

#include "db/connection.h"
#include "db/query.h"
#include "terminals/slot_set.h"
#include "terminals/status_view.h"
#include "update/update_flags.h"
#include "update/update_notification.h"
#include "update/vendas_link.h"

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace db {
class Listener;
}
namespace terminals {
class UpdateStatusPass;
}

namespace update {

class ClientesControls;
class ExportacaoClientes;
class InterruptionLines;
struct ExportLinks;
class WidgetExportView;

class TFrmConversor : public QWidget, public terminals::UpdateStatusView, public UpdateShell {
    Q_OBJECT
public:
    // Terminal check boxes Ecf001..Ecf040; only 1..33 are ever enabled.
    static constexpr int kBoxCount = 40;

    explicit TFrmConversor(QWidget* parent = nullptr);
    ~TFrmConversor() override;

    // Creation steps; failures are reported as the steps say, never raised.
    void FormCreate();
    // Show steps: flags, status pass, Habilitarbotoes. Raise their failure.
    void FormShow();

    void Habilitarbotoes();
    void btn_Liberar_CaixasClick();
    void Chk_TotalClick();
    void Todas_EcfsClick();
    void EventoTransacaoSeverAlert(db::Listener& sender, const QString& channel, const QString& payload);
    // The listener is subscribed again after a lost link: serve what the
    // notifications lost meanwhile would have started.
    void catchUpAfterOutage();
    // Runs first in every catch-up: the sales window serves its own
    // requests before (set in app). It calls `then` (this window's own
    // catch-up) once it is done, which may be after a running sales import.
    using BeforeCatchUp = std::function<void(std::function<void()> then)>;
    void setBeforeCatchUp(BeforeCatchUp call) { beforeCatchUp_ = std::move(call); }

    // Export runs, started by their buttons or by the notification handler.
    void btn_exportar_clienteClick();
    void btn_exportar_produtoClick();
    void btn_finalizadorasClick();
    void Btn_IbtpClick();
    void btn_tributosClick();
    void btn_operadoresClick();
    void Btn_ConfiguracoesClick();
    void Btn_EntidadesClick();
    void cargaAutomaticaProdutos();
    void cargaAutomaticaClientes();

    db::Connection& server() { return Quibor_Server_; }
    db::Query& qConfig() { return QConfig_; }
    terminals::SlotSet& slotSet() { return slots_; }
    terminals::UpdateStatusPass& statusPass() { return *statusPass_; }
    UpdateFlags& flags() { return flags_; }
    bool listenerActive() const;

    // Set by the program's entry: the sales window's side of the manual
    // customer export, and the current company it selected at start.
    void setVendasLink(VendasLink link) { vendas_ = std::move(link); }
    void setEmpresaAtual(std::function<qint64()> empresa) { empresaAtual_ = std::move(empresa); }
    // Raises when the company is not known.
    qint64 empresaAtual() const;
    ExportacaoClientes& clientes() { return *clientes_; }
    // Memo1's red lines: what the runs of the event in progress (or of the
    // last one) left for the next request.
    const InterruptionLines& interruptionLines() const { return *interruptions_; }

    // UpdateStatusView
    void setTerminalBoxEnabled(int n, bool enabled) override;
    void statusPassFinished() override;

    // UpdateShell
    void setPanelEnabled(bool enabled) override;
    bool runButtonEnabled(UpdateRun run) const override;
    void startRun(UpdateRun run) override;

signals:
    // A notification has been handled, whichever way its handler ended.
    void notificationHandled(const QString& channel);

protected:
    void showEvent(QShowEvent* event) override;
    // A close while a run is going waits for its end: the run lets events
    // through, so the window must not be freed under it.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    // Every event that can start a run goes through here; `key` names it
    // while it is held back (db::whenLinksFree).
    void runEvent(const QString& key, const std::function<void()>& handler);
    void serveOwnCatchUp();
    void switchListenerOn();
    QPushButton* buttonOf(UpdateRun run) const;
    ExportLinks exportLinks();

    QString iniPath_;
    db::Connection Quibor_Server_;
    terminals::SlotSet slots_;
    db::Query QConfig_;
    db::Query abertura_;
    db::Listener* EventoTransacaoServer_ = nullptr;
    std::unique_ptr<terminals::UpdateStatusPass> statusPass_;
    UpdateFlags flags_;
    bool shownOnce_ = false;
    int runsGoing_ = 0;
    bool closeWaiting_ = false;
    VendasLink vendas_;
    std::function<qint64()> empresaAtual_;
    std::unique_ptr<InterruptionLines> interruptions_;
    std::unique_ptr<ClientesControls> clientesView_;
    std::unique_ptr<ExportacaoClientes> clientes_;
    std::unique_ptr<WidgetExportView> exportView_;
    BeforeCatchUp beforeCatchUp_;

    QWidget* Panel_Exporta = nullptr;
    QPushButton* btn_exportar_cliente = nullptr;
    QPushButton* btn_exportar_produto = nullptr;
    QPushButton* btn_finalizadoras = nullptr;
    QPushButton* Btn_Ibtp = nullptr;
    QPushButton* btn_tributos = nullptr;
    QPushButton* btn_operadores = nullptr;
    QPushButton* Btn_Configuracoes = nullptr;
    QPushButton* Btn_Entidades = nullptr;
    QPushButton* btn_Liberar_Caixas = nullptr;
    QCheckBox* Chk_Total = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    std::array<QCheckBox*, kBoxCount + 1> Ecf{}; // index 1..40
    QCheckBox* Todas_Ecfs = nullptr;
    QLabel* LabelExportando = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
};

} // namespace update
