#pragma once
// What `quiborsync --status` finds: the server of Quibor.ini, every active
// terminal of its LICENCA_IF, and per terminal the rows not yet brought to
// the server. Gathering only reads: every session is read-only, and nothing
// is marked, stamped or locked, so it runs beside a working program.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace app {

// Rows of one terminal table still to be imported (EXPORTADO 0 or 1).
struct WaitingRows {
    QString table;
    std::optional<qint64> rows; // empty when the table is missing or could not be read
    bool missing = false;       // the terminal's database has no such table (with EXPORTADO)
    QString error;              // why it could not be read, when it is there
};

struct TerminalStatus {
    // From the server's LICENCA_IF row.
    QString numEcf;
    QString host;
    QString port;
    std::optional<qint64> importacao;
    std::optional<qint64> ecfStatus;
    std::optional<qint64> exportacao;
    std::optional<qint64> cargaTotal;
    std::optional<qint64> todasEcfs;
    std::optional<qint64> ultimaTrans;
    std::optional<QDateTime> lastCustomerExport; // DT_SYNC_CLI, HR_SYNC_CLI
    std::optional<QDateTime> lastProductExport;  // DT_SYNC, HR_SYNC: the product runs' last sync

    // From the terminal's own database.
    bool reachable = false; // answered the probe and let us in
    QString error;          // why it was not reached; empty when it was
    std::vector<WaitingRows> waiting; // one per imported table, in import order, when reached
    std::optional<qint64> cancellationsPending; // TRANSACOES at EXPORTADO 3
    std::optional<QDate> oldestWaitingSale;      // earliest DT_TRANS among the waiting sales

    qint64 waitingTotal() const;
    QStringList missingTables() const;
    // The sales tables among them: every sales import of the terminal fails
    // on them. Only the fiscal tables may be absent.
    QStringList missingSaleTables() const;
    // Why the terminal cannot be served: its error, then the sales tables it
    // lacks. Empty when nothing stands in the way.
    QString problem() const;
    // Reached, every table there was read, no sales table missing, nothing
    // waiting, no cancellation left to carry out.
    bool inStep() const;
};

struct ServerStatus {
    QString host;     // "Server Name"
    QString port;     // "Porta"
    QString database; // "Base Name"
    bool reachable = false;
};

struct StatusReport {
    ServerStatus server;
    // Why no report could be made: Quibor.ini missing or unusable, the
    // server not reached, LICENCA_IF unreadable. Empty otherwise.
    QString failure;
    int probeTimeoutMs = 0;
    std::vector<TerminalStatus> terminals;

    qint64 waitingTotal() const;
    bool inStep() const;
    // 0 in step; 1 a terminal not reached or rows waiting; 2 no report.
    int exitCode() const;
};

// The imported tables whose rows are counted, in import order: the sales
// import's seven, then the six fiscal tables.
QStringList countedTables();
QStringList countedSaleTables();

// Reads the INI file at `iniPath`, connects to its server within the
// connect time-out, and probes and connects every active terminal at once
// within TIMEOUT_ECFS.
StatusReport gatherStatus(const QString& iniPath);

} // namespace app
