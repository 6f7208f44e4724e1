#pragma once
// What a server notification starts in the sales window: on "venda", the
// consistency check (once, when pending) and the sales import, or else the
// withdrawal of the first pending request. Every other channel is ignored.

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
};

// Failures reach the caller. Saida_Liberada is set again even when the
// import fails: no import is running any more, so exit must not stay barred.
void handleSalesNotification(const QString& channel, db::Connection& server, SalesFlags& flags,
                             const SalesRuns& runs);

} // namespace sales
