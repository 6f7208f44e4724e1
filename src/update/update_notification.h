#pragma once
// What a server notification starts in the update window: the automatic
// loads on "produtos" and "clientes", and a manual export when one is
// pending. The requests are closed by the runs that serve them.

#include "update/update_flags.h"

#include <QString>
#include <QStringList>

namespace db {
class Connection;
class Query;
} // namespace db

namespace update {

// The runs a notification can start.
enum class UpdateRun {
    CargaAutoProdutos,
    CargaAutoClientes,
    ExportarClientes,
    ExportarProdutos,
    Finalizadoras,
    Configuracoes,
    Tributos,
    Operadores,
    Ibpt,
};

// The window as the handler sees it.
class UpdateShell {
public:
    virtual ~UpdateShell() = default;
    virtual void setPanelEnabled(bool enabled) = 0;
    // Manual runs only: whether the run's button is enabled.
    virtual bool runButtonEnabled(UpdateRun run) const = 0;
    virtual void startRun(UpdateRun run) = 0;
};

// The thirteen channels, in the order they are subscribed.
QStringList updateChannels();

// EventoTransacaoSeverAlert's logic. `qConfig` is the window's view of
// CONFIG ("SELECT * FROM CONFIG"), re-read first. A failure reaches the
// caller.
void handleUpdateNotification(const QString& channel, db::Connection& server, db::Query& qConfig,
                              UpdateFlags& flags, UpdateShell& shell);

} // namespace update
