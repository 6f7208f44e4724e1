#pragma once
// What the update window serves after its server link came back: the
// notifications raised while it was down were lost, so the handler runs
// once for the pending manual request (if any) and for the automatic loads.

#include <QString>
#include <QStringList>

namespace db {
class Connection;
}

namespace update {

// The channel whose notification goes with a manual request code of
// LICENCA_IF.IMPORTACAO (10 to 16); empty for any other code.
QString manualChannelOf(int importacao);

// Channels to hand to the notification handler, in order: the first pending
// manual request's channel first (every handled notification ends by
// clearing every request, so it must be read before), then "clientes" and
// "produtos". Raises the list's failure.
QStringList catchUpChannels(db::Connection& server);

} // namespace update
