#pragma once
// The six fiscal-record tables of a terminal, in the order they are
// imported, with the statements that mark their rows (EXPORTADO 0 -> 1 -> 2),
// replace a device's day on the server and copy them.

#include <array>

namespace sales {

enum class FiscalTable { Registro60I, Registro60D, Registro60M, Registro60R, Registro60A, ReducoesZ };

struct FiscalTableCopy {
    FiscalTable table;
    const char* name;

    const char* testSql; // any new rows? (terminal)
    const char* markSql; // 0 -> 1 (terminal)
    // Every device (NUM_SERIE) and day (DT_EMISSAO) of the rows at 1, new
    // or left by a run that failed (terminal). Null for the tables without
    // a per-day delete: then any row at 1 (see pendingSql).
    const char* daysSql;
    const char* pendingSql; // any rows at 1? (terminal), for the tables without days
    // Removes the server's rows of one device and day before the copy
    // inserts the terminal's again. Null: no per-day delete.
    const char* deleteSql;
    bool reconnect; // close and reopen Conexao_Pdv before the copy

    const char* readerSql; // terminal
    const char* writerSql; // server: names the destination columns only
    const char* logFile; // relative to the program folder
    const char* doneSql; // 1 -> 2 (terminal)

    // REDUCOES_Z only: finds the server's copy of the row in hand by its
    // device and reduction counter, so a row copied by a run cut off before
    // its 1 -> 2 is not inserted a second time. Parameters are reader
    // columns. Null for the others, which are always inserted.
    const char* alreadyThereSql;
};

const std::array<FiscalTableCopy, 6>& fiscalTables();

} // namespace sales
