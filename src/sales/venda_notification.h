#pragma once
// What a server notification starts in the sales window: on "venda", the
// consistency check (once, when pending) and the sales import; on
// "registro", the fiscal-records import; or else the withdrawal of the
// first pending request. Every other channel is ignored.

#include "sales/sales_flags.h"

#include <QString>
#include <functional>

namespace db {
class Connection;
}

namespace sales {

struct SalesRuns {
    std::function<void()> consistirVendas; // Consistir_Vendas
    std::function<void()> cargaVendas;     // Carga_Vendas
    std::function<void()> cargaRegistro{}; // Carga_Registro
    // A check or an import is running: a notification that would start
    // one holds back (holdBack, with its channel) until it ends, rather
    // than start nested inside it. Empty: never busy.
    std::function<bool()> busy{};
    std::function<void(const QString& channel)> holdBack{};
    // Writes a red line in the status pane: why the handling ended at the
    // server link. Empty: such a failure reaches the caller.
    std::function<void(const QString& line)> serverLost{};
};

// Failures reach the caller, but for a failure of the server link in the
// handler's own statements when runs.serverLost is given: that one is told
// there ("Servidor: importação interrompida - " + reason), and the requests
// stay as they are for the next notification. Saida_Liberada is set again
// even when the import fails: no import is running any more, so exit must
// not stay barred.
void handleSalesNotification(const QString& channel, db::Connection& server, SalesFlags& flags,
                             const SalesRuns& runs);

} // namespace sales
