#pragma once
// The update window's run flags: plain booleans on the one UI thread that
// keep export runs from overlapping. All false when the window is created.

namespace update {

struct UpdateFlags {
    bool Exportando_Clientes = false;
    bool Exportando_Produtos = false;
    bool Carga_Auto_Produtos = false;
    bool Carga_Auto_Clientes = false;
    // A "clientes" arrived while an automatic load ran: one more load is
    // due when it ends.
    bool Clientes_Pendente = false;
};

} // namespace update
