#pragma once
// One LICENCA_IF row as the terminal passes read it, copied out of a result
// set so that nothing that runs while the pass waits (nested handlers, the
// grid) can move the cursor under it.

#include <QDate>
#include <QString>
#include <QTime>

namespace db {
class ConnectionParams;
class Dataset;
} // namespace db

namespace terminals {

struct LicencaRow {
    QString numEcf;   // NUM_ECF as text, passed back unchanged in statements
    QString banco;    // BANCO
    QString usuario;  // USUARIO
    QString senha;    // SENHA
    QString ip;       // IP
    QString porta;    // PORTA, as text (may not be a number)
    int ecfStatus = 0;        // ECF_STATUS
    bool dtSyncNull = true;   // DT_SYNC is null (counts as before today)
    QDate dtSync;             // DT_SYNC
    QTime hrSync;             // HR_SYNC (null reads as midnight)

    // Reads the current row. A missing column raises db::UsageError.
    static LicencaRow read(const db::Dataset& row);
};

// The terminal connection lines, in this order and spelling:
//   "Database= " + BANCO, "User_Name= " + USUARIO, "Password=" + SENHA,
//   "Server= " + IP, "Port= " + PORTA, "DriverID=PG", "MonitorBy=Remote"
db::ConnectionParams terminalParams(const LicencaRow& row);
// Same, from the current row of a LICENCA_IF result (run-time connections
// such as the sales import's Conexao_Pdv).
db::ConnectionParams terminalParams(const db::Dataset& row);

} // namespace terminals
