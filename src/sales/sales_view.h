#pragma once
// What the sales import and the sale monitor write to in the sales window.
// Widget-free: the window implements it, tests record it.

#include <QString>

namespace sales {

// The six panes of the sale monitor, named as the window names them.
enum class MonitorPane {
    Memo2, // "Última Venda Registrada": sale headers
    Memo3, // "Itens da Venda": items
    Memo4, // "Parcelas da Venda": instalments
    Memo1, // "Fechamento Cupom": receipt closings
    Memo5, // "Nfc-e ": NFC-e sale headers
    Memo6, // "Nfc-e(Transmitidas)": NFC-e complements
};

class MonitorView {
public:
    virtual ~MonitorView() = default;
    // Appends one line below the pane's earlier lines.
    virtual void appendMonitorLine(MonitorPane pane, const QString& line) = 0;
};

class SalesView : public MonitorView {
public:
    // Label6: caption in green (red 0, green 128, blue 0).
    virtual void showDatabaseLabel(const QString& caption) = 0;
    // Label9: caption emptied.
    virtual void clearLabel9() = 0;
    // Repaints the whole window.
    virtual void repaintWindow() = 0;
    // Repaints MemoPdv2, the terminal status pane.
    virtual void repaintStatusPane() = 0;
    // One red line in MemoPdv2: a terminal the run skipped, or the server
    // link that ended the run, and why.
    virtual void reportSkippedTerminal(const QString& line) = 0;
    // ProgressBar1, 0 to 100.
    virtual void setProgress(int percent) = 0;
    virtual void repaintProgress() = 0;
};

} // namespace sales
