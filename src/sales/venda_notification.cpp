#include "sales/venda_notification.h"

#include "common/scope_exit.h"
#include "db/query.h"
#include "sales/run_ending.h"

#include <optional>

namespace sales {
namespace {

const char* const kPedidosVenda =
    "SELECT * FROM LICENCA_IF WHERE  IMPORTACAO = 1 AND ECF_STATUS = 0 ORDER BY NUM_ECF";
const char* const kRetirarPedido = "UPDATE LICENCA_IF SET IMPORTACAO = 0  WHERE NUM_ECF = :NUM_ECF";
const char* const kPedidosRegistro =
    "SELECT * FROM LICENCA_IF WHERE  IMPORTACAO = 3 AND ECF_STATUS = 0 ORDER BY NUM_ECF";
const char* const kRetirarPedidoRegistro = "UPDATE LICENCA_IF SET IMPORTACAO = 0   WHERE NUM_ECF = :NUM_ECF";

struct Channel {
    const char* requests;
    const char* withdraw;
};

void handleNotification(const QString& channel, db::Connection& server, SalesFlags& flags, const SalesRuns& runs)
{
    const bool venda = channel == QLatin1String("venda");
    if (!venda && channel != QLatin1String("registro"))
        return;
    const Channel texts = venda ? Channel{kPedidosVenda, kRetirarPedido}
                                : Channel{kPedidosRegistro, kRetirarPedidoRegistro};

    // A query of its own: a notification handled nested inside a running
    // import must not disturb the import's statements.
    db::Query pedidos(server);
    pedidos.setText(texts.requests);
    pedidos.prepare();
    pedidos.open();

    if (!pedidos.isEmpty() && flags.Importacao_Livre) {
        if (runs.busy && runs.busy()) {
            if (runs.holdBack)
                runs.holdBack(channel);
            return;
        }
        if (venda && flags.Consistir_Pendente && runs.consistirVendas)
            runs.consistirVendas();
        // Closing is refused while an import runs, and allowed again when it
        // returns, by throw or not. The fiscal import too: an exit between
        // the server's commit and the till's would leave rows the server
        // holds marked for another copy.
        flags.Saida_Liberada = false;
        common::ScopeExit released([&] { flags.Saida_Liberada = true; });
        const std::function<void()>& import = venda ? runs.cargaVendas : runs.cargaRegistro;
        if (import)
            import();
        return;
    }

    // Paused, busy or nothing asked: withdraw the first listed request only;
    // the others wait for a later notification.
    const QString numEcf = pedidos.isEmpty() ? QString() : pedidos.field("NUM_ECF").asString();
    db::Query retirar(server);
    retirar.setText(texts.withdraw);
    retirar.bindText("NUM_ECF", numEcf);
    retirar.prepare();
    retirar.exec();
}

} // namespace

void handleSalesNotification(const QString& channel, db::Connection& server, SalesFlags& flags,
                             const SalesRuns& runs)
{
    try {
        handleNotification(channel, server, flags, runs);
    } catch (const std::exception& e) {
        // A failure of a link that reaches here is the server's: the
        // handler's own statements, or a run that did not tell it itself.
        const std::optional<QString> reason = serverLostReason(e);
        if (!reason || !runs.serverLost)
            throw;
        runs.serverLost(serverLostLine(*reason));
    }
}

} // namespace sales
