#pragma once
// The seven terminal tables a sales import moves, with the statements that
// mark their rows (EXPORTADO 0 -> 1 -> 2) and the copy run of each.
//
// EXPORTADO on the terminal: 0 new; 1 taken by the running import; 2
// imported; 3 (TRANSACOES) cancelled on the terminal, not yet carried out
// on the server; 4 cancellation carried out.

#include "db/copy/copy_run.h"

#include <QString>
#include <QStringList>

namespace sales {

enum class SaleTable {
    Transacoes,
    Transitens,
    Transparcelas,
    FechamentoCupom,
    ComplNfceFiscal,
    NotasCanceladasNfce,
    ChequesRecebidos,
};

struct SaleTableCopy {
    SaleTable table;
    const char* name;
    const char* sourceColumns; // reader's columns, in this order
    const char* readerCondition; // appended to the reader's SELECT
    const char* logFile; // relative to the program folder
    db::CopyMode mode;
    // True: Transferir_bancoFindDestRecord writes every row itself. False:
    // the engine inserts the rows the hook does not find on the server.
    bool hookWrites;

    const char* testSql; // any new rows?
    const char* markSql; // 0 -> 1
    const char* doneSql; // 1 -> 2
    // Rows an earlier run took but did not finish (its copy run failed, or
    // the log folder was missing): the phase runs for them even when
    // nothing new arrived.
    const char* leftoverSql;

    // 1 -> 0 for one row the hook could not bring to the server, so the next
    // import sends it again; its parameters are the key columns below, bound
    // with the row's own values. Empty for tables whose rows are never left.
    const char* giveBackSql;
    QStringList giveBackKey;
};

const SaleTableCopy& saleTable(SaleTable table);

// "SELECT <columns> FROM <table> <condition>" on the terminal.
QString readerSql(const SaleTableCopy& t);
// The same columns from the server's table, naming the destination only.
QString writerSql(const SaleTableCopy& t);

} // namespace sales
