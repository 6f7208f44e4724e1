#include "update/update_notification.h"

#include "common/scope_exit.h"
#include "db/query.h"

#include <optional>

namespace update {
namespace {

const char* const kPedidosManuais = "SELECT * FROM LICENCA_IF WHERE IMPORTACAO >=10 AND STATUS = :STATUS ";

std::optional<UpdateRun> manualRunOf(const QString& channel, const UpdateFlags& flags)
{
    if (channel == QLatin1String("clientes_manual") || channel == QLatin1String("clientes_manual_total"))
        return flags.Exportando_Clientes ? std::nullopt : std::optional(UpdateRun::ExportarClientes);
    if (channel == QLatin1String("produtos_manual") || channel == QLatin1String("produtos_manual_total"))
        return flags.Exportando_Produtos ? std::nullopt : std::optional(UpdateRun::ExportarProdutos);
    if (channel == QLatin1String("finalizadoras_manual"))
        return UpdateRun::Finalizadoras;
    if (channel == QLatin1String("configuracoes_manual"))
        return UpdateRun::Configuracoes;
    if (channel == QLatin1String("tributos_manual"))
        return UpdateRun::Tributos;
    if (channel == QLatin1String("operadores_manual"))
        return UpdateRun::Operadores;
    if (channel == QLatin1String("ibpt_manual"))
        return UpdateRun::Ibpt;
    return std::nullopt;
}

} // namespace

QStringList updateChannels()
{
    return {"clientes",           "produtos",          "produtos_ecf",         "clientes_ecf",
            "clientes_manual",    "clientes_manual_total", "produtos_manual", "produtos_manual_total",
            "finalizadoras_manual", "configuracoes_manual", "tributos_manual", "operadores_manual",
            "ibpt_manual"};
}

void handleUpdateNotification(const QString& channel, db::Connection& server, db::Query& qConfig,
                              UpdateFlags& flags, UpdateShell& shell)
{
    if (qConfig.isOpen())
        qConfig.refresh();
    else
        qConfig.open();

    if (channel == QLatin1String("produtos") && !flags.Carga_Auto_Produtos
        && qConfig.field("CARGA_MANUAL_PROD").asString() != QLatin1String("True")) {
        // The panel stays disabled while the load runs, and comes back also
        // when it fails.
        shell.setPanelEnabled(false);
        common::ScopeExit panelBack([&] { shell.setPanelEnabled(true); });
        flags.Carga_Auto_Produtos = true;
        shell.startRun(UpdateRun::CargaAutoProdutos);
    }

    if (channel == QLatin1String("clientes") && !flags.Exportando_Clientes) {
        if (flags.Carga_Auto_Clientes) {
            // A load is running further down: a second one inside it would
            // discard its export table. Served once, after it.
            flags.Clientes_Pendente = true;
        } else {
            shell.setPanelEnabled(false);
            common::ScopeExit panelBack([&] { shell.setPanelEnabled(true); });
            do {
                flags.Clientes_Pendente = false;
                flags.Carga_Auto_Clientes = true;
                shell.startRun(UpdateRun::CargaAutoClientes);
            } while (flags.Clientes_Pendente);
        }
    }

    // A query of its own, so a notification handled nested inside an export
    // leaves the export's statements alone.
    db::Query lista(server);
    lista.setText(kPedidosManuais);
    lista.bindText("STATUS", "A");
    lista.prepare();
    lista.open();
    if (!lista.isEmpty()) {
        const auto run = manualRunOf(channel, flags);
        if (run && shell.runButtonEnabled(*run))
            shell.startRun(*run);
    }
    // No reset of every row at the end: each run closes the requests it
    // served, terminal by terminal. A sales request (IMPORTACAO 1 or 3), a
    // request whose run found its button disabled and one on a terminal
    // that was not served all stay for the run that serves them.
}

} // namespace update
