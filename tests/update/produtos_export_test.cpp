// Product loads: request codes written into the terminals' own LICENCA_IF
// and the server products listed for them, through the update window's
// button and notifications.

#include "export_fixture.h"

#include "app/startup.h"
#include "common/event_pump.h"
#include "db/connection.h"
#include "db/query.h"
#include "update/pane_lines.h"
#include "update/produtos_query.h"

#include <QGroupBox>
#include <QLocale>
#include <QTest>
#include <algorithm>

namespace {

using namespace exporttest;

struct Product {
    int id;
    QString descricao;
    QString dt = "current_date";
    QString hr = "'16:00'";
    QString tipo = "00 - MERCADORIA PARA REVENDA";
    int empresa = 3;
    QString preco = "5.00";
    int tributo = 1;
    QString estoque = "2.5";
};

class ProdutosExport : public ExportFixture {
protected:
    ProdutosExport() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }
    ~ProdutosExport() override { QLocale::setDefault(savedLocale); }

    void add(const Product& p)
    {
        store.db.exec(QString("INSERT INTO PRODUTOS (PRODUTO_ID, DESCRICAO, DT_ATUALIZACAO, HR_SYNC, TIPO_ITEM, "
                              "EMPRESA_ID, PRECO_VAREJO, TRIBUTO_ID, QUANTIDADE_C) VALUES (%1, %2, %3, %4, %5, %6, "
                              "%7, %8, %9)")
                          .arg(p.id)
                          .arg(quoted(p.descricao), p.dt, p.hr, quoted(p.tipo))
                          .arg(p.empresa)
                          .arg(p.preco)
                          .arg(p.tributo)
                          .arg(p.estoque));
    }

    void lastSync(const QString& num, const QString& dt, const QString& hr)
    {
        store.db.exec(QString("UPDATE LICENCA_IF SET DT_SYNC = %1, HR_SYNC = %2 WHERE NUM_ECF = %3")
                          .arg(dt, hr, quoted(num)));
    }

    QString ownCode(const QString& num) { return pdv(num).scalar("SELECT importacao FROM licenca_if"); }

    void clickExport() { QTest::mouseClick(button("btn_exportar_produto"), Qt::LeftButton); }

    // The state every manual run leaves behind, whatever happened in it.
    void expectManualRunClosed()
    {
        EXPECT_FALSE(window->flags().Exportando_Produtos);
        EXPECT_FALSE(anyBoxChecked());
        EXPECT_TRUE(button("btn_exportar_produto")->isEnabled());
        EXPECT_EQ(store.db.scalar("SELECT count(*) FROM licenca_if WHERE exportacao <> 0"), "0");
        EXPECT_EQ(progress(), 0);
    }

    QLocale savedLocale;
};

TEST_F(ProdutosExport, AutomaticLoadKeeps102AndListsWhatChangedSinceTheLastSync)
{
    addTerminal({.num = "001"}, 102);
    addTerminal({.num = "002"}, 101);
    addTerminal({.num = "003"}, 0);
    for (const char* num : {"001", "002", "003"})
        lastSync(num, "current_date - 1", "'15:00'");
    add({.id = 1, .descricao = "ARROZ"});
    add({.id = 2, .descricao = "BOLO", .tipo = "04 - PRODUTO ACABADO", .estoque = "3"});
    add({.id = 3, .descricao = "CAFE", .hr = "'10:00'"});  // later day, earlier time of day
    add({.id = 4, .descricao = "DOCE", .preco = "0.01"});
    add({.id = 5, .descricao = "ERVA", .empresa = 1});
    add({.id = 6, .descricao = "FEIJAO", .tributo = 0});
    add({.id = 7, .descricao = "GOMA", .tipo = "01 - MATERIA-PRIMA"});
    add({.id = 8, .descricao = "AAA", .dt = "current_date - 1", .estoque = "1.5"});
    add({.id = 9, .descricao = "VELHO", .dt = "current_date - 2"});
    open();

    ASSERT_TRUE(notifyAndWait("produtos"));

    EXPECT_EQ(ownCode("001"), "102");
    EXPECT_EQ(ownCode("002"), "100");
    EXPECT_EQ(ownCode("003"), "100");
    EXPECT_EQ(pane("Memo2"), (QStringList{"AAA - Estoque: 1,5", "ARROZ - Estoque: 2,5", "BOLO - Estoque: 3", "",
                                          "******Produtos alterados - 3  Ecf:003!******"}));
    EXPECT_FALSE(window->flags().Carga_Auto_Produtos);
    EXPECT_EQ(progress(), 0);
    EXPECT_TRUE(window->findChild<QWidget*>("Panel_Exporta")->isEnabled());
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

TEST_F(ProdutosExport, AutomaticLoadServesTheOtherTargetsWhenOneFails)
{
    // 001 answers the probe but refuses the login; 002's own LICENCA_IF
    // lacks the request column; 004's session ends as the request is
    // written (a database restarted).
    store.add({.num = "001", .banco = "qs_no_such_database"});
    addTerminal({.num = "002"}).exec("ALTER TABLE LICENCA_IF DROP COLUMN IMPORTACAO");
    addTerminal({.num = "003"});
    TestDatabase& lost = addTerminal({.num = "004"});
    lost.exec("CREATE FUNCTION cut() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
              "PERFORM pg_terminate_backend(pg_backend_pid()); PERFORM pg_sleep(5); RETURN NEW; END $$");
    lost.exec("CREATE TRIGGER cut BEFORE UPDATE ON LICENCA_IF FOR EACH ROW EXECUTE FUNCTION cut()");
    open();
    window->flags().Carga_Auto_Produtos = true;

    window->cargaAutomaticaProdutos();

    EXPECT_EQ(ownCode("003"), "100");
    // Only the statement refused for its own data is a box; the terminals
    // that could not be reached or went away are red lines.
    ASSERT_EQ(dialogs->shown.size(), 1u) << shownTexts().toStdString();
    EXPECT_EQ(dialogs->shown[0].kind, "error");
    EXPECT_TRUE(dialogs->shown[0].text.startsWith("Erro exportar produtos: \rErro: "));
    EXPECT_TRUE(dialogs->shown[0].text.contains("importacao")) << dialogs->shown[0].text.toStdString();
    const QStringList lines = window->interruptionLines().lines();
    ASSERT_EQ(lines.size(), 2) << lines.join(" / ").toStdString();
    EXPECT_TRUE(lines[0].startsWith("Ecf01 - Carga Autom\u00e1tica Produtos: caixa ignorado - "))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("Ecf04 - Carga Autom\u00e1tica Produtos: caixa ignorado - "))
        << lines[1].toStdString();
    EXPECT_EQ(ownCode("004"), "0");
    EXPECT_FALSE(window->flags().Carga_Auto_Produtos);
}

TEST_F(ProdutosExport, AutomaticLoadThatEndsEarlyIsNotLockedOut)
{
    addTerminal({.num = "001"});
    open();
    // A terminal number the status pass cannot read ends the load at once.
    store.add({.num = "AB1"});

    store.db.exec("NOTIFY produtos");
    ASSERT_TRUE(testsupport::waitFor([&] { return !dialogs->shown.empty(); }, 20000));
    EXPECT_EQ(dialogs->shown[0].kind, "plain");
    EXPECT_FALSE(window->flags().Carga_Auto_Produtos);
    EXPECT_TRUE(window->findChild<QWidget*>("Panel_Exporta")->isEnabled());

    store.db.exec("DELETE FROM LICENCA_IF WHERE NUM_ECF = 'AB1'");
    ASSERT_TRUE(notifyAndWait("produtos"));
    EXPECT_EQ(ownCode("001"), "100");
}

TEST_F(ProdutosExport, NeverSyncedTerminalGetsItsCodeAndNoProducts)
{
    addTerminal({.num = "001", .importacao = 11});
    lastSync("001", "NULL", "NULL");
    add({.id = 1, .descricao = "ARROZ"});
    open();

    struct Case {
        const char* run;
        const char* code;
    };
    for (const Case c : {Case{"automatic", "100"}, Case{"manual", "101"}}) {
        SCOPED_TRACE(c.run);
        pdv("001").exec("UPDATE LICENCA_IF SET IMPORTACAO = 0");
        fillPane("Memo2", "lista anterior");
        if (QString(c.run) == "automatic") {
            window->flags().Carga_Auto_Produtos = true;
            window->cargaAutomaticaProdutos();
        } else {
            store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 11");
            clickExport();
        }
        EXPECT_EQ(ownCode("001"), c.code);
        EXPECT_TRUE(pane("Memo2").isEmpty()) << pane("Memo2").join("/").toStdString();
    }
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

TEST_F(ProdutosExport, ManualTotalRequestWrites102AndListsTheWholeCatalogue)
{
    addTerminal({.num = "001"});
    addTerminal({.num = "004"});
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 11, CARGA_TOTAL = 1 WHERE NUM_ECF = '004'");
    add({.id = 1, .descricao = "ARROZ"});
    add({.id = 2, .descricao = "BOLO", .dt = "current_date - 30", .tipo = "04 - PRODUTO ACABADO", .empresa = 1});
    add({.id = 3, .descricao = "DOCE", .preco = "0.01"});
    add({.id = 4, .descricao = "FEIJAO", .tributo = 0});
    open();

    ASSERT_TRUE(notifyAndWait("produtos_manual_total"));

    EXPECT_EQ(ownCode("004"), "102");
    EXPECT_EQ(ownCode("001"), "0");
    QStringList listed = pane("Memo2");
    ASSERT_EQ(listed.size(), 4);
    EXPECT_EQ(listed.takeLast(), "******Produtos alterados - 2******");
    EXPECT_EQ(listed.takeLast(), "");
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (QStringList{"ARROZ - Estoque: 2,5", "BOLO - Estoque: 2,5"}));
    EXPECT_EQ(pane("Memo1"), (QStringList{"Gerando carga de produtos para os caixas Aguarde...",
                                          "Exportando Produtos: -> Ecf: 004 Aguarde...",
                                          "Conclu\u00eddo as cargas de  Produtos!"}));
    expectManualRunClosed();
    EXPECT_TRUE(window->findChild<QGroupBox*>("GroupBox1")->isEnabled());
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

TEST_F(ProdutosExport, ManualChangesUseTheDateAloneWhenTheLastSyncWasNotToday)
{
    addTerminal({.num = "001", .importacao = 11});
    lastSync("001", "current_date - 1", "'15:00'");
    add({.id = 1, .descricao = "ARROZ", .dt = "current_date - 1", .hr = "'09:00'"});
    add({.id = 2, .descricao = "BOLO", .tipo = "04 - PRODUTO ACABADO"});
    add({.id = 3, .descricao = "CAFE", .hr = "'10:00'"});
    add({.id = 4, .descricao = "DOCE", .preco = "0.01"});
    add({.id = 5, .descricao = "ERVA", .empresa = 1});
    add({.id = 6, .descricao = "VELHO", .dt = "current_date - 2"});
    open();

    clickExport();

    EXPECT_EQ(ownCode("001"), "101");
    EXPECT_EQ(pane("Memo2"), (QStringList{"ARROZ - Estoque: 2,5", "CAFE - Estoque: 2,5", "",
                                          "******Produtos alterados - 2!******"}));
    expectManualRunClosed();
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

TEST_F(ProdutosExport, ManualRunReStampsTodaysProductsWithoutFiringTheTrigger)
{
    addTerminal({.num = "001", .importacao = 11});
    lastSync("001", "current_date", "localtime");
    add({.id = 1, .descricao = "ARROZ", .hr = "'00:00'"});
    add({.id = 2, .descricao = "VELHO", .dt = "current_date - 1", .hr = "'00:00'"});
    open();

    clickExport();

    EXPECT_EQ(pane("Memo2"), (QStringList{"ARROZ - Estoque: 2,5", "", "******Produtos alterados - 1!******"}));
    EXPECT_EQ(store.db.rows("SELECT produto_id, hr_sync >= (SELECT hr_sync FROM licenca_if), dt_hr_alteracao "
                            "FROM produtos ORDER BY 1"),
              (QStringList{"1|t|<null>", "2|f|<null>"}));
    EXPECT_EQ(store.db.scalar("SELECT tgenabled FROM pg_trigger WHERE tgname = 'produtos_up'"), "O");
}

TEST_F(ProdutosExport, FailedReStampLeavesTheTriggerOnAndTheWindowReady)
{
    addTerminal({.num = "001"});
    add({.id = 1, .descricao = "ARROZ"});
    store.db.exec("CREATE FUNCTION recusa() RETURNS trigger LANGUAGE plpgsql AS "
                  "$$ BEGIN RAISE EXCEPTION 'recarimbo recusado'; END $$");
    store.db.exec("CREATE TRIGGER recusa BEFORE UPDATE ON PRODUTOS FOR EACH ROW EXECUTE FUNCTION recusa()");
    open();
    QTest::mouseClick(box(1), Qt::LeftButton);
    QTest::mouseClick(window->findChild<QCheckBox*>("Chk_Total"), Qt::LeftButton);
    store.db.exec("UPDATE LICENCA_IF SET EXPORTACAO = 1");

    clickExport();

    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, "plain");
    EXPECT_TRUE(dialogs->shown[0].text.contains("recarimbo recusado")) << shownTexts().toStdString();
    EXPECT_EQ(store.db.scalar("SELECT tgenabled FROM pg_trigger WHERE tgname = 'produtos_up'"), "O");
    EXPECT_EQ(ownCode("001"), "0");
    expectManualRunClosed();
    EXPECT_TRUE(window->findChild<QGroupBox*>("GroupBox1")->isEnabled());
}

TEST_F(ProdutosExport, ManualRunWithoutTargetsListsNothingAndEndsNormally)
{
    addTerminal({.num = "001"});
    add({.id = 1, .descricao = "ARROZ"});
    open();
    fillPane("Memo2", "lista anterior");

    clickExport();

    EXPECT_EQ(pane("Memo1"), (QStringList{"N\u00e3o existem ecfs ativas no sistema para envio de carga!",
                                          "Conclu\u00eddo as cargas de  Produtos!"}));
    EXPECT_TRUE(pane("Memo2").isEmpty());
    EXPECT_EQ(ownCode("001"), "0");
    expectManualRunClosed();
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

// As the program wires it: the company is the one the sales window selected
// at start (the active one with the highest id, 3 here).
TEST_F(ProdutosExport, ProductsAreThoseOfTheCompanySelectedAtStart)
{
    addTerminal({.num = "001"});
    lastSync("001", "current_date", "'00:00'"); // synced today, or the start marks it inactive
    add({.id = 1, .descricao = "DA TRES"});
    add({.id = 2, .descricao = "DA UM", .empresa = 1});
    store.useIni(folder);
    auto windows = app::createWindows();
    update::TFrmConversor& w = *windows->update;
    w.flags().Carga_Auto_Produtos = true;

    w.cargaAutomaticaProdutos();

    EXPECT_EQ(w.findChild<QPlainTextEdit*>("Memo2")->toPlainText().split('\n').value(0), "DA TRES - Estoque: 2,5");
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

// A key the SQL text would have to quote reaches the server as a value.
TEST(ProdutosQuery, TerminalKeyAndCompanyAreBoundValues)
{
    testsupport::TestDatabase server(Template::Server);
    server.exec("INSERT INTO LICENCA_IF (NUM_ECF, DT_SYNC, HR_SYNC) VALUES ('0''1', current_date, '00:00')");
    server.exec("INSERT INTO PRODUTOS (PRODUTO_ID, DESCRICAO, DT_ATUALIZACAO, HR_SYNC, TIPO_ITEM, EMPRESA_ID, "
                "PRECO_VAREJO, TRIBUTO_ID) VALUES (1, 'ARROZ', current_date, '08:00', "
                "'00 - MERCADORIA PARA REVENDA', 3, 5, 1)");
    db::Connection c(server.params());
    db::Query q(c);
    for (const update::ProdutosQuery& query :
         {update::ProdutosQuery::automatica("0'1", 3), update::ProdutosQuery::alterados("0'1", 3, true),
          update::ProdutosQuery::alterados("0'1", 3, false)}) {
        EXPECT_FALSE(query.sql.contains("0'1"));
        query.open(q);
        EXPECT_EQ(q.recordCount(), 1) << query.sql.toStdString();
    }
    update::ProdutosQuery::automatica("0'1", 1).open(q);
    EXPECT_EQ(q.recordCount(), 0);
}

} // namespace
