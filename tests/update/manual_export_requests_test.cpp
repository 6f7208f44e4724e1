// What every manual export of the update window does with the terminals it
// is asked to serve: request rows that name no box are left as they are,
// and another export started in the middle of the run (its end unticks
// every box) does not change the terminals the run began with.

#include "export_fixture.h"

#include "common/event_pump.h"
#include "common/scope_exit.h"

#include <QTest>
#include <functional>
#include <vector>

namespace {

using namespace exporttest;

// Open to the cases' own steps and checks below.
class ManualExport : public ExportFixture {
public:
    ~ManualExport() override { common::setEventPump({}); }

    using ExportFixture::anyBoxChecked;
    using ExportFixture::box;
    using ExportFixture::notifyAndWait;
    using ExportFixture::pane;
    using ExportFixture::pdv;
    using ExportFixture::progress;
    using ExportFixture::store;
    using ExportFixture::ticked;
    using ExportFixture::window;

    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    // A server customer changed today, or the day before.
    void customer(int id, const QString& nome, bool today = true)
    {
        store.db.exec(QString("INSERT INTO CLIENTES (CLIENTE_ID, NOME, LIMITE, DT_ATUALIZACAO) VALUES "
                              "(%1, '%2', 300, current_date - %3)")
                          .arg(id)
                          .arg(nome)
                          .arg(today ? 0 : 1));
        store.db.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO, CLIENTE_ID) SELECT 1, 'PRAZO', 0 "
                      "WHERE NOT EXISTS (SELECT 1 FROM FINALIZADORAS)");
    }
    void product(int id, const QString& descricao, const QString& dt = "current_date")
    {
        store.db.exec(QString("INSERT INTO PRODUTOS (PRODUTO_ID, DESCRICAO, DT_ATUALIZACAO, HR_SYNC, TIPO_ITEM, "
                              "EMPRESA_ID, PRECO_VAREJO, TRIBUTO_ID, QUANTIDADE_C) VALUES (%1, %2, %3, '16:00', "
                              "'00 - MERCADORIA PARA REVENDA', 3, 5.00, 1, 2.5)")
                          .arg(id)
                          .arg(quoted(descricao), dt));
    }
    // The server's request of terminal `num`, its last sync yesterday.
    void request(const QString& num, int code)
    {
        store.db.exec(QString("UPDATE LICENCA_IF SET IMPORTACAO = %1, DT_SYNC = current_date - 1 WHERE NUM_ECF = %2")
                          .arg(code)
                          .arg(quoted(num)));
    }

    // Customer exports stamp DT_SYNC_CLI; the reference ones DT_SYNC.
    bool customersStamped(const QString& num)
    {
        return store.db.scalar("SELECT coalesce(dt_sync_cli = current_date AND hr_sync_cli IS NOT NULL, false) "
                               "FROM licenca_if WHERE num_ecf = " + quoted(num))
               == "t";
    }
    bool stamped(const QString& num)
    {
        return store.db.scalar("SELECT dt_sync = current_date AND importacao = 0 AND carga_total = 0 FROM licenca_if "
                               "WHERE num_ecf = " + quoted(num))
               == "t";
    }
    // The code a product load writes into the terminal's own LICENCA_IF.
    QString ownCode(const QString& num) { return pdv(num).scalar("SELECT importacao FROM licenca_if"); }
    int customersOf(const QString& num) { return pdv(num).rows("SELECT cliente_id FROM clientes").size(); }

    bool clicked = false;      // the run's button was pressed
    QList<int> firstTurnBoxes; // the boxes ticked at the run's first turn
};

// One manual export: the request code it serves, its button, and what it
// leaves on a terminal it served.
struct Export {
    const char* name;
    int code;
    const char* button;
    std::function<void(ManualExport&)> data; // the server's rows it sends
    std::function<bool(ManualExport&, const QString& num)> served;
};

const Export kCustomers{"Customers", 10, "btn_exportar_cliente",
                        [](ManualExport& f) { f.customer(1, "CARLOS"); },
                        [](ManualExport& f, const QString& num) {
                            return f.customersStamped(num) && f.customersOf(num) == 1;
                        }};
const Export kProducts{"Products", 11, "btn_exportar_produto", [](ManualExport&) {},
                       [](ManualExport& f, const QString& num) { return f.ownCode(num) == "101"; }};
const Export kPaymentMethods{
    "PaymentMethods", 12, "btn_finalizadoras",
    [](ManualExport& f) {
        f.store.db.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) VALUES (1, 'DINHEIRO')");
    },
    [](ManualExport& f, const QString& num) { return f.stamped(num); }};

const Export kIbpt{"Ibpt", 16, "Btn_Ibtp",
                   [](ManualExport& f) {
                       f.store.db.exec("INSERT INTO IBTP (IBTP_ID, CODIGO) VALUES (1, '00000001')");
                       f.request("001", 16);
                       f.request("002", 16);
                   },
                   [](ManualExport& f, const QString& num) {
                       return f.stamped(num) && f.pdv(num).scalar("SELECT count(*) FROM ibtp") == "1";
                   }};

struct WithoutABox {
    Export e;
    std::function<void(ManualExport&)> before; // rows of the export's own
    std::function<void(ManualExport&)> more;   // checks of the export's own
};

class RequestRowsWithoutABox : public ManualExport, public ::testing::WithParamInterface<WithoutABox> {};

// "041" is past the last box and "7" no three-digit number: neither names
// a box, so neither is served nor loses its request.
TEST_P(RequestRowsWithoutABox, AreIgnored)
{
    const Export& e = GetParam().e;
    addTerminal({.num = "001"});
    for (const char* num : {"041", "7"})
        store.add({.num = num});
    for (const char* num : {"001", "041", "7"})
        request(num, e.code);
    e.data(*this);
    GetParam().before(*this);
    open();

    clicked = true;
    click(e.button);

    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
    EXPECT_TRUE(e.served(*this, "001"));
    EXPECT_EQ(store.db.rows("SELECT num_ecf, importacao, dt_sync < current_date, "
                            "coalesce(dt_sync_cli = current_date, false) FROM licenca_if "
                            "WHERE num_ecf IN ('041', '7') ORDER BY 1"),
              (QStringList{QString("041|%1|t|f").arg(e.code), QString("7|%1|t|f").arg(e.code)}));
    EXPECT_EQ(store.db.scalar("SELECT count(*) FROM licenca_if WHERE exportacao <> 0"), "0");
    EXPECT_FALSE(anyBoxChecked());
    EXPECT_TRUE(button(e.button)->isEnabled());
    GetParam().more(*this);
}

INSTANTIATE_TEST_SUITE_P(
    Exports, RequestRowsWithoutABox,
    ::testing::Values(
        // "036" names a box: it is ticked, and left as it was since no
        // terminal answers there.
        WithoutABox{kCustomers,
                    [](ManualExport& f) {
                        f.store.add({.num = "036"});
                        f.request("036", kCustomers.code);
                        f.firstTurnBoxes = {-1};
                        common::setEventPump([&f] {
                            if (f.clicked && f.firstTurnBoxes == QList<int>{-1})
                                f.firstTurnBoxes = f.ticked();
                        });
                    },
                    [](ManualExport& f) {
                        common::setEventPump({});
                        EXPECT_EQ(f.firstTurnBoxes, (QList<int>{1, 36}));
                        EXPECT_EQ(f.store.db.rows("SELECT num_ecf, importacao, exportacao FROM licenca_if "
                                                  "WHERE num_ecf IN ('001', '036') ORDER BY 1"),
                                  (QStringList{"001|0|0", "036|10|0"}));
                        EXPECT_FALSE(f.customersStamped("036"));
                        EXPECT_EQ(f.pane("Memo1").back(), "Finalizado Clientes!");
                    }},
        WithoutABox{kProducts, [](ManualExport&) {},
                    [](ManualExport& f) {
                        EXPECT_EQ(f.pane("Memo1").mid(1, 1),
                                  QStringList{"Exportando Produtos: -> Ecf: 001 Aguarde..."});
                        EXPECT_FALSE(f.window->flags().Exportando_Produtos);
                        EXPECT_EQ(f.store.db.scalar("SELECT count(*) FROM licenca_if WHERE exportacao <> 0"), "0");
                        EXPECT_EQ(f.progress(), 0);
                    }},
        WithoutABox{kPaymentMethods, [](ManualExport&) {},
                    [](ManualExport& f) {
                        EXPECT_EQ(f.pane("Memo1"), (QStringList{"Exportando Configura\u00e7\u00f5es: ",
                                                                "Ecf: Pdv01", " Aguarde...",
                                                                "Finalizado Finalizadoras!"}));
                    }}),
    [](const auto& info) { return std::string(info.param.e.name); });

struct InBetween {
    Export e;
    // Chooses the run's terminals out of 001 and 002 and starts it.
    std::function<void(ManualExport&)> run;
    // Another export started inside it, each in a run of its own.
    std::vector<std::pair<const char*, std::function<void(ManualExport&)>>> others;
    // What the run began with, served all the same.
    std::function<void(ManualExport&)> served;
    // Between two runs.
    std::function<void(ManualExport&)> reset = [](ManualExport&) {};
};

const std::pair<const char*, std::function<void(ManualExport&)>> kClickOnCargaFinalizadoras{
    "click on Carga Finalizadoras", [](ManualExport& f) { f.click("btn_finalizadoras"); }};

class AnotherExportInBetween : public ManualExport, public ::testing::WithParamInterface<InBetween> {};

// The run lets events through between terminals; another export started
// there unticks every box at its end, "Exportar todos Registros" included.
TEST_P(AnotherExportInBetween, LeavesTheRunsTerminalsAndLoadAlone)
{
    const InBetween& c = GetParam();
    addTerminal({.num = "001"});
    addTerminal({.num = "002"});
    c.e.data(*this);
    open();
    for (const auto& [name, startAnother] : c.others) {
        SCOPED_TRACE(name);
        c.reset(*this);
        dialogs->shown.clear();
        bool started = false;
        bool untickedInBetween = false;
        common::setEventPump([&, startAnother = startAnother] {
            if (started)
                return;
            started = true;
            startAnother(*this);
            untickedInBetween = !anyBoxChecked();
        });
        common::ScopeExit pumpBack([] { common::setEventPump({}); });

        c.run(*this);

        ASSERT_TRUE(started);
        EXPECT_TRUE(untickedInBetween);
        c.served(*this);
        EXPECT_FALSE(anyBoxChecked());
        EXPECT_TRUE(button(c.e.button)->isEnabled());
        EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Exports, AnotherExportInBetween,
    ::testing::Values(
        // Terminal 001 alone, with every customer.
        InBetween{{kCustomers.name, kCustomers.code, kCustomers.button,
                   [](ManualExport& f) {
                       f.customer(1, "CARLOS");       // building the rows lets events through
                       f.customer(2, "BRUNO", false); // sent only with "Exportar todos Registros"
                   },
                   kCustomers.served},
                  [](ManualExport& f) {
                      QTest::mouseClick(f.box(1), Qt::LeftButton);
                      QTest::mouseClick(f.box("Chk_Total"), Qt::LeftButton);
                      f.click("btn_exportar_cliente");
                  },
                  {kClickOnCargaFinalizadoras,
                   {"produtos_manual notification",
                    [](ManualExport& f) {
                        f.store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 11 WHERE NUM_ECF = '002'");
                        ASSERT_TRUE(f.notifyAndWait("produtos_manual"));
                    }}},
                  [](ManualExport& f) {
                      EXPECT_EQ(f.customersOf("001"), 2);
                      EXPECT_EQ(f.customersOf("002"), 0);
                      EXPECT_TRUE(f.customersStamped("001"));
                      EXPECT_FALSE(f.customersStamped("002"));
                      EXPECT_EQ(f.pane("Memo1"), (QStringList{"", "******Clientes alterados - 2 Ecf: 01! ******",
                                                              "Finalizado Clientes!"}));
                  },
                  [](ManualExport& f) {
                      f.pdv("001").exec("DELETE FROM CLIENTES");
                      f.store.db.exec("UPDATE LICENCA_IF SET DT_SYNC_CLI = NULL, HR_SYNC_CLI = NULL");
                  }},
        // Both terminals, with the whole catalogue.
        InBetween{{kProducts.name, kProducts.code, kProducts.button,
                   [](ManualExport& f) {
                       f.product(1, "ARROZ");
                       f.product(2, "BOLO", "current_date - 30");
                   },
                   kProducts.served},
                  [](ManualExport& f) {
                      QTest::mouseClick(f.box(1), Qt::LeftButton);
                      QTest::mouseClick(f.box(2), Qt::LeftButton);
                      QTest::mouseClick(f.box("Chk_Total"), Qt::LeftButton);
                      f.click("btn_exportar_produto");
                  },
                  {kClickOnCargaFinalizadoras},
                  [](ManualExport& f) {
                      EXPECT_EQ(f.ownCode("001"), "102");
                      EXPECT_EQ(f.ownCode("002"), "102");
                      EXPECT_EQ(f.pane("Memo2").back(), "******Produtos alterados - 2******");
                      EXPECT_FALSE(f.window->flags().Exportando_Produtos);
                      EXPECT_EQ(f.store.db.scalar("SELECT count(*) FROM licenca_if WHERE exportacao <> 0"), "0");
                      EXPECT_EQ(f.progress(), 0);
                  }},
        // Both terminals by their requests (raised with its rows); the
        // button is hidden.
        InBetween{kIbpt,
                  [](ManualExport& f) { f.window->Btn_IbtpClick(); },
                  {kClickOnCargaFinalizadoras},
                  [](ManualExport& f) {
                      EXPECT_TRUE(kIbpt.served(f, "001"));
                      EXPECT_TRUE(kIbpt.served(f, "002"));
                      EXPECT_EQ(f.pane("Memo1").back(), "Finalzidado IBTP!");
                  }}),
    [](const auto& info) { return std::string(info.param.e.name); });

} // namespace
