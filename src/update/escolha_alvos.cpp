#include "update/escolha_alvos.h"

#include "update/clientes_view.h"
#include "update/export_view.h"

namespace update {

EscolhaAlvos EscolhaAlvos::copiar(const ClientesView& view)
{
    EscolhaAlvos e;
    for (int n = 1; n <= kEcfBoxCount; ++n)
        e.ecf_[n] = view.ecfChecked(n);
    e.total_ = view.chkTotal();
    e.todas_ = view.todasEcfs();
    return e;
}

EscolhaAlvos EscolhaAlvos::copiar(const ExportView& view)
{
    EscolhaAlvos e;
    for (int n = 1; n <= kEcfBoxCount; ++n)
        e.ecf_[n] = view.terminalChecked(n);
    e.total_ = view.totalChecked();
    e.todas_ = view.todasChecked();
    return e;
}

} // namespace update
