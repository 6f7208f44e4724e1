// Which notifications the update window replays after an outage, and the
// replay through the window itself.

#include "export_fixture.h"

#include "db/connection.h"
#include "db/query.h"
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

// A request raised while the window's server link was down (its
// notification lost with the link) is served once the window has its link
// back, with no new notification.
class UpdateWindowOutage : public exporttest::ExportFixture {};

TEST_F(UpdateWindowOutage, APendingManualRequestIsServedOnceTheLinkIsBack)
{
    addTerminal({.num = "001"}).exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) VALUES (1, 'VELHA')");
    store.db.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) VALUES (1, 'DINHEIRO'), (2, 'CARTAO')");
    open();
    ASSERT_TRUE(window->listenerActive());
    const qint64 pid = [&] {
        db::Query q(window->server());
        q.setText("SELECT pg_backend_pid() AS PID");
        q.open();
        return q.field("PID").asInteger();
    }();

    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 12, DT_SYNC = current_date - 1 WHERE NUM_ECF = '001'");
    testsupport::execAdmin(QString("SELECT pg_terminate_backend(%1)").arg(pid));

    const QString served = "SELECT finalizadora_id, descricao FROM finalizadoras ORDER BY 1";
    ASSERT_TRUE(testsupport::waitFor([&] { return pdv("001").rows(served).size() == 2; }, testsupport::kWindowRunMs))
        << pdv("001").rows(served).join(", ").toStdString();
    EXPECT_EQ(pdv("001").rows(served), (QStringList{"1|DINHEIRO", "2|CARTAO"}));
    EXPECT_TRUE(testsupport::waitFor([&] {
        return store.db.scalar("SELECT dt_sync = current_date AND importacao = 0 FROM licenca_if") == "t";
    }, testsupport::kWindowRunMs));
    EXPECT_TRUE(window->listenerActive());
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

} // namespace
