#include "update/vendas_link.h"

namespace update {

MonitorPausado::MonitorPausado(const VendasLink& link)
    : link_(link)
{
    if (!link_.monitorLigado || !link_.alternarMonitor)
        return;
    ligado_ = link_.monitorLigado();
    importando_ = ligado_ && link_.importacaoLivre && !link_.importacaoLivre();
    if (ligado_)
        link_.alternarMonitor();
}

MonitorPausado::~MonitorPausado()
{
    try {
        restaurar();
    } catch (...) {
        // Runs while the run's own failure is on its way out.
    }
}

void MonitorPausado::restaurar()
{
    if (restaurado_ || !link_.monitorLigado || !link_.alternarMonitor)
        return;
    restaurado_ = true;
    if (link_.monitorLigado() != ligado_)
        link_.alternarMonitor();
    if (importando_ && link_.fecharImportacoes)
        link_.fecharImportacoes();
}

} // namespace update
