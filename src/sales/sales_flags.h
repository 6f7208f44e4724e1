#pragma once
// The sales window's run flags: plain booleans on the one UI thread, never
// locks. Given their values when the window is shown.

namespace sales {

struct SalesFlags {
    bool Importacao_Livre = false;   // an import may start
    bool Saida_Liberada = false;     // the program may be closed
    bool Consistir_Pendente = false; // run the consistency check before the next import
};

} // namespace sales
