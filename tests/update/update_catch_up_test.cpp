// Which notifications the update window replays after an outage.

#include "support/program_fixture.h"

#include "db/connection.h"
#include "update/update_catch_up.h"

namespace {

using progtest::Store;

TEST(UpdateCatchUp, ThePendingManualRequestFirstThenTheAutomaticLoads)
{
    Store store;
    store.add({.num = "001", .reachable = false});
    store.add({.num = "002", .reachable = false});
    store.add({.num = "003", .reachable = false, .status = "D"});
    db::Connection server(store.db.params());

    struct Case {
        QString importacao;   // IMPORTACAO of 001, 002, 003
        QStringList channels;
    };
    const QStringList automatic{"clientes", "produtos"};
    const Case cases[] = {
        {"0,0,0", automatic},
        {"1,3,0", automatic},                                  // sales requests are not this window's
        {"0,13,0", QStringList{"configuracoes_manual"} + automatic},
        {"12,16,0", QStringList{"finalizadoras_manual"} + automatic}, // one export per notification
        {"15,0,0", QStringList{"operadores_manual"} + automatic},
        {"0,0,14", automatic},                                 // an inactive terminal's request
        {"17,0,0", automatic},                                 // no such export
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.importacao.toStdString());
        const QStringList v = c.importacao.split(',');
        for (int i = 0; i < 3; ++i)
            store.db.exec(QString("UPDATE LICENCA_IF SET IMPORTACAO = %1 WHERE NUM_ECF = '00%2'").arg(v[i]).arg(i + 1));
        EXPECT_EQ(update::catchUpChannels(server), c.channels);
    }
}

} // namespace
