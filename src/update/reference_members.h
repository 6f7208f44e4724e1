#pragma once
// The six reference-table exports and what sets them apart: button,
// request code, pane texts, error prefix and the tables each one replaces
// on a terminal.

#include "db/copy/copy_run.h"

#include <vector>

namespace update {

enum class Referencia { Finalizadoras, Tributos, Entidades, Operadores, Ibpt, Configuracoes };

// One terminal table: how it is cleared, what is copied into it and how.
struct ReferenceTable {
    const char* clearSql;   // run on the terminal first; nullptr: nothing cleared.
                            // A :VAZIO in it is bound to the empty text.
    const char* sourceSql;  // on the server; a :NUM_ECF in it is the terminal's key
    const char* destSql;    // on the terminal: the table and the columns to fill
    db::CopyMode mode;
    const char* logFile;    // relative to the program folder
};

struct ReferenceMember {
    const char* button;          // component name of the member's button
    const char* caption;         // the button's caption: the run's name in a terminal's line
    int code;                    // IMPORTACAO request code on the server
    const char* progressPrefix;  // Memo1 line before each terminal, then the slot label
    const char* finalLine;       // Memo1 line at the end
    const char* errorPrefix;     // nullptr: failures are silent
    std::vector<ReferenceTable> tables;
};

const ReferenceMember& referenceMember(Referencia which);

} // namespace update
