#pragma once
// TFrmConversor_Vendas, the main window: it imports what the terminals
// recorded. It owns its controls, its server connection, its terminal slots,
// its listener and its flags, and wires events to the runs; the start-up
// sequence that fills it lives in src/app.

#include "db/connection.h"
#include "db/query.h"
#include "sales/run_gate.h"
#include "sales/sales_flags.h"
#include "sales/sales_view.h"
#include "terminals/slot_set.h"
#include "terminals/status_view.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace db {
class Listener;
}
namespace terminals {
class SalesStatusPass;
}
namespace ui {
class DatasetModel;
class StatusPane;
} // namespace ui

namespace sales {

struct SalesRuns;
class Carga_Registro;
class Carga_Vendas;
class Consistir_Vendas;

class TFrmConversor_Vendas : public QWidget, public SalesView, public terminals::StatusLinesView {
    Q_OBJECT
public:
    // The sale monitor panes keep this many latest lines: every imported
    // sale adds lines, and a program that runs for weeks must not grow
    // without end.
    static constexpr int kMonitorPaneLines = 500;

    explicit TFrmConversor_Vendas(QWidget* parent = nullptr);
    ~TFrmConversor_Vendas() override;

    // What the start-up sequence works on.
    void setIniPath(const QString& path) { iniPath_ = path; }
    const QString& iniPath() const { return iniPath_; }
    db::Connection& server() { return Quibor_Server_; }
    db::Query& config() { return config_; }
    db::Query& abertura() { return abertura_; }
    db::Query& qEmpresa() { return QEmpresa_; }
    db::Query& qListPdv() { return QList_Pdv_; }
    terminals::SlotSet& slotSet() { return slots_; }
    void setServerLabel(const QString& text);  // Label5
    void clearLabel6();
    void setConsistirEnabled(bool enabled);    // btnconsistir
    // Subscribes EventoVendaPdv to "venda", "syncreboot" and "registro";
    // raises on failure.
    void switchListenerOn();
    bool listenerActive() const;

    // "Atualizar Dados" calls the update window's Habilitarbotoes through
    // this; empty once that window is gone.
    void setHabilitarbotoes(std::function<void()> call) { habilitarbotoes_ = std::move(call); }

    SalesFlags& flags() { return flags_; }
    Carga_Vendas& cargaVendas() { return *carga_; }
    Carga_Registro& cargaRegistro() { return *registro_; }
    Consistir_Vendas& consistirVendas() { return *consistir_; }

    // Handlers. They raise their failures; the controls' wiring shows them
    // in the standard error box. Button2Click and Button3Click are also
    // called by the update window's manual customer export.
    void EventoTransacaoPdvAlert(db::Listener& sender, const QString& channel, const QString& payload);
    // The listener is subscribed again after a lost link: the requests
    // raised meanwhile got no notification, so the handler runs once for
    // each channel of the sales requests. While an import or check runs it
    // waits for the run's end (a "venda" would find imports not free and
    // withdraw a request). Also called by the update window before its own
    // catch-up, which comes as `afterwards`: queued once this one is done.
    void catchUpAfterOutage(std::function<void()> afterwards = {});
    // No check or import runs and none is held back.
    bool runsSettled() const { return gate_.settled(); }
    void Button1Click();   // "Sair dos Sistema"
    void Button2Click();   // "Atualizar Dados"
    void Button3Click();   // "Desabilitar Monitor" / "Habilitar Monitor"
    // The monitor is on: its button offers "Desabilitar Monitor".
    bool monitorLigado() const;
    void btnconsistirClick();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();

    // SalesView
    void appendMonitorLine(MonitorPane pane, const QString& line) override;
    void showDatabaseLabel(const QString& caption) override;
    void clearLabel9() override;
    void repaintWindow() override;
    void repaintStatusPane() override;
    void reportSkippedTerminal(const QString& line) override;
    void setProgress(int percent) override;
    void repaintProgress() override;

    // StatusLinesView (MemoPdv2 and the grid)
    void clearStatusLines() override;
    void addStatusLine(const QString& text, terminals::LineColor color) override;
    void terminalListReloaded() override;

signals:
    // The close was allowed: the program ends with this window.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    QPlainTextEdit* monitorPane(MonitorPane pane) const;
    // The runs as the handlers start them: one check at a time, no import
    // inside a check (see RunGate).
    SalesRuns runs();
    void serveCatchUp();
    // Runs a click's handler once no statement waits for its answer.
    void serveWhenLinksFree(const QString& key, void (TFrmConversor_Vendas::*handler)());

    QString iniPath_;
    db::Connection Quibor_Server_;
    terminals::SlotSet slots_;
    db::Query config_;
    db::Query abertura_;
    db::Query QEmpresa_;
    db::Query QList_Pdv_;
    db::Listener* EventoVendaPdv_ = nullptr;
    std::unique_ptr<terminals::SalesStatusPass> statusPass_;
    std::unique_ptr<Carga_Vendas> carga_;
    std::unique_ptr<Carga_Registro> registro_;
    std::unique_ptr<Consistir_Vendas> consistir_;
    RunGate gate_{this};
    std::function<void()> habilitarbotoes_;
    SalesFlags flags_;
    bool shownOnce_ = false;
    QStringList heldUntilShown_; // channels notified before the window showed
    bool catchingUp_ = false;
    std::vector<std::function<void()>> afterCatchUp_;

    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label1 = nullptr;
    ui::StatusPane* MemoPdv2 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* lbstatus = nullptr;
    QTableView* DBGrid1 = nullptr;
    ui::DatasetModel* gridModel_ = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QPlainTextEdit* Memo3 = nullptr;
    QPlainTextEdit* Memo4 = nullptr;
    QPlainTextEdit* Memo5 = nullptr;
    QPlainTextEdit* Memo6 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* btnconsistir = nullptr;
};

} // namespace sales
