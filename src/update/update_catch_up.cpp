#include "update/update_catch_up.h"

#include "db/query.h"

namespace update {
namespace {

// The handler's own request list, so the catch-up sees what it would see.
const char* const kPedidosManuais = "SELECT * FROM LICENCA_IF WHERE IMPORTACAO >=10 AND STATUS = :STATUS ";

} // namespace

QString manualChannelOf(int importacao)
{
    // 15 asks for entities or operators; only the operators have a channel.
    switch (importacao) {
    case 10: return QStringLiteral("clientes_manual");
    case 11: return QStringLiteral("produtos_manual");
    case 12: return QStringLiteral("finalizadoras_manual");
    case 13: return QStringLiteral("configuracoes_manual");
    case 14: return QStringLiteral("tributos_manual");
    case 15: return QStringLiteral("operadores_manual");
    case 16: return QStringLiteral("ibpt_manual");
    default: return {};
    }
}

QStringList catchUpChannels(db::Connection& server)
{
    QStringList channels;
    db::Query lista(server);
    lista.setText(kPedidosManuais);
    lista.bindText("STATUS", "A");
    lista.prepare();
    lista.open();
    for (lista.first(); !lista.eof(); lista.next()) {
        const QString channel = manualChannelOf(static_cast<int>(lista.field("IMPORTACAO").asInteger()));
        if (!channel.isEmpty()) {
            channels << channel;
            break;
        }
    }
    channels << QStringLiteral("clientes") << QStringLiteral("produtos");
    return channels;
}

} // namespace update
