// The fiscal-records import against a real store, on its own and through the
// sales window ("registro" notification).

#include "sales_store.h"

#include "common/event_pump.h"
#include "common/scope_exit.h"
#include "db/link_bounds.h"
#include "sales/carga_registro.h"
#include "sales/venda_notification.h"
#include "support/bare_pg.h"
#include "support/copy_log_sections.h"
#include "support/program_fixture.h"
#include "support/tcp_proxy.h"

#include <QFile>
#include <QLabel>
#include <QTextStream>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/startup.h"
#include "sales/sales_window.h"

using namespace salestest;
using sales::MonitorPane;

namespace {

const QStringList kTables
    = { "REGISTRO_60I", "REGISTRO_60D", "REGISTRO_60M", "REGISTRO_60R", "REGISTRO_60A", "REDUCOES_Z" };

// `count` fiscal rows of one device and day (REGISTRO_60R: of the day's
// month; REDUCOES_Z: reduction counters first..first+count-1). On the
// terminal they carry `exportado`; on the server they are written as the
// import writes them.
void addRows(const TestDatabase& db, const QString& table, const QString& serie, const QString& day,
    int count, int exportado = 0, int first = 1)
{
    const bool terminal = db.scalar("SELECT count(*) FROM information_schema.columns WHERE table_name = "
                                    "'registro_60i' AND column_name = 'exportado'")
        == "1";
    QString sql = table == "REGISTRO_60I"
        ? "INSERT INTO REGISTRO_60I (DT_EMISSAO, NUM_SERIE, MODELO_DOC, NUM_ORDEM, NUM_ITEM, COD_PRODUTO, "
          "QUANTIDADE, VR_UNITARIO, BASE_CALC_ICMS, SIT_TRIBUTARIA, VALOR_ICMS{exp}) SELECT '{day}', "
          "'{serie}', '2D', k, 1, "
          "'P' || k, 1.5, 2.5, 3.75, 'T18', 0.68{value} FROM {range}"
        : table == "REGISTRO_60D" ? "INSERT INTO REGISTRO_60D (DT_EMISSAO, NUM_SERIE, COD_PRODUTO, "
                                    "QUANTIDADE, VR_UNITARIO, BASE_CALC_ICMS, "
                                    "SIT_TRIBUTARIA, VALOR_ICMS{exp}) SELECT '{day}', '{serie}', 'P' || k, "
                                    "3, 2.5, 7.5, 'T18', 1.35{value} FROM {range}"
        : table == "REGISTRO_60M" ? "INSERT INTO REGISTRO_60M (DT_EMISSAO, NUM_SERIE, NUM_ORDEM, MODELO_DOC, "
                                    "COO_INICIAL, COO_FINAL, CRZ, "
                                    "CRO, VENDA_BRUTA, GRANDE_TOTAL{exp}) SELECT '{day}', '{serie}', k, "
                                    "'2D', 100 * k, 100 * k + 50, k, 1, 610.4, "
                                    "184302.55{value} FROM {range}"
        : table == "REGISTRO_60R"
        ? "INSERT INTO REGISTRO_60R (MES_ANO, COD_PRODUTO, QUANTIDADE, VALOR_BRUTO, BASE_CALC_ICMS, "
          "SIT_TRIBUTARIA, EXPORTADO) SELECT to_char(DATE '{day}', 'MMYYYY'), 'P' || k, 30, 75, 75, 'T18', "
          "{r} "
          "FROM {range}"
        : table == "REGISTRO_60A"
        ? "INSERT INTO REGISTRO_60A (DT_EMISSAO, NUM_SERIE, SIT_TRIBUTARIA, VALOR_TOTALIZADOR{exp}) SELECT "
          "'{day}', "
          "'{serie}', 'T' || k, 100 + k{value} FROM {range}"
        : "INSERT INTO REDUCOES_Z (DT_IMPRESSORA, HR_IMPRESSORA, NUM_SERIE, MODELO_ECF, NUM_ECF, CRZ, COO, "
          "DT_MOVIMENTO, GRANDE_TOTAL, VENDA_BRUTA, TOTAL_ICMS{exp}) SELECT '{day}', '22:04:31', '{serie}', "
          "'NFC-E', '001', "
          "k, 200 + k, '{day}', 184302.55, 6120.40, 512.34{value} FROM {range}";
    sql.replace("{serie}", serie).replace("{day}", day);
    sql.replace("{range}", QString("generate_series(%1, %2) k").arg(first).arg(first + count - 1));
    sql.replace("{exp}", terminal ? ", EXPORTADO" : "");
    sql.replace("{value}", terminal ? QString(", %1").arg(exportado) : QString());
    // A server's REGISTRO_60R row carries the 1 it was read with.
    sql.replace("{r}", QString::number(terminal ? exportado : 1));
    db.exec(sql);
}

QString serverCount(SalesStore& store, const QString& table, const QString& where = "TRUE")
{
    return store.count(table, where);
}

QStringList terminalStates(SalesStore& store, int n, const QString& table)
{
    return store.pdv(n).rows("SELECT DISTINCT EXPORTADO FROM " + table + " ORDER BY 1");
}

QString logText(const QString& name)
{
    QFile f(common::programPath("QuiborSync_Logs\\" + name));
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    return QString::fromUtf8(f.readAll());
}

// The copy ran to its end: the log is there, and its last line is the
// closing line of a copy without errors.
void expectClosedWithoutErrors(const QString& name)
{
    const QString text = logText(name);
    const QStringList lines = text.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty()) << name.toStdString();
    EXPECT_TRUE(lines.back().startsWith(QString::fromUtf8("C\u00f3pia encerrada em "))
                && lines.back().endsWith(": nenhum erro registrado"))
        << name.toStdString() << ": " << text.toStdString();
    EXPECT_FALSE(text.contains("Erro")) << name.toStdString() << ": " << text.toStdString();
}

// A SalesStore with the fiscal-records import beside its sales import.
struct FiscalStore : SalesStore {
    explicit FiscalStore(int terminals = 1)
        : SalesStore(terminals)
        , registro(sales::SalesImportLinks { *serverConnection, view, importacaoLivre, {},
                       [] { return QString("loja"); }, *config, *abertura },
              *import)
    {
    }

    void requestFiscal(int n)
    {
        server.exec("UPDATE LICENCA_IF SET IMPORTACAO = 3 WHERE NUM_ECF = '" + numEcf(n) + "'");
    }
    void runFiscal()
    {
        for (std::size_t n = 1; n <= terminals.size(); ++n)
            requestFiscal(static_cast<int>(n));
        registro.run();
    }
    // One day of every table on terminal n.
    void fullDay(int n, const QString& serie, const QString& day, int rows = 3)
    {
        for (const QString& table : kTables)
            addRows(pdv(n), table, serie, day, rows);
    }

    sales::Carga_Registro registro;
};

TEST(CargaRegistro, BringsEveryTableOnceAndMarksItsRowsImported)
{
    FiscalStore store;
    store.fullDay(1, "SN1", "2024-03-05");

    store.runFiscal();

    for (const QString& table : kTables) {
        EXPECT_EQ(serverCount(store, table), "3") << table.toStdString();
        EXPECT_EQ(terminalStates(store, 1, table), QStringList { "2" }) << table.toStdString();
    }
    EXPECT_EQ(
        store.server.rows("SELECT NUM_SERIE, DT_EMISSAO, NUM_ORDEM, COD_PRODUTO, QUANTIDADE, VALOR_ICMS "
                          "FROM REGISTRO_60I ORDER BY NUM_ORDEM LIMIT 1"),
        QStringList { "SN1|2024-03-05|1|P1|1.500|0.68" });
    EXPECT_EQ(
        store.server.rows("SELECT MES_ANO, EXPORTADO FROM REGISTRO_60R LIMIT 1"), QStringList { "032024|1" });
    EXPECT_EQ(store.server.rows("SELECT NUM_SERIE, CRZ, HR_IMPRESSORA FROM REDUCOES_Z ORDER BY CRZ LIMIT 1"),
        QStringList { "SN1|1|22:04:31" });
    EXPECT_EQ(store.server.scalar("SELECT IMPORTACAO FROM LICENCA_IF"), "0");
    for (const char* log : { "Log_registro60i.log", "Log_registro60D.log", "Log_Registro60m.log",
             "Log_Registro60r.log", "Registro60a.log", "Reducoes_z.log" })
        expectClosedWithoutErrors(log);
    EXPECT_EQ(store.view.progress, (std::vector<int> { 100, 0 }));
    EXPECT_FALSE(store.view.label6.isEmpty());
    EXPECT_TRUE(store.importacaoLivre);
    EXPECT_TRUE(store.registro.cells().numSerie.isEmpty());
    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
}

TEST(CargaRegistro, ANewSetOfADayReplacesOnlyThatDeviceAndDay)
{
    FiscalStore store;
    for (const char* table : { "REGISTRO_60I", "REGISTRO_60D", "REGISTRO_60M", "REGISTRO_60A" }) {
        addRows(store.server, table, "SN1", "2024-03-05", 5); // the older set of the day
        addRows(store.server, table, "SN1", "2024-03-04", 2); // the day before
        addRows(store.server, table, "SN2", "2024-03-05", 2); // another device
        addRows(store.pdv(1), table, "SN1", "2024-03-05", 3);
    }

    store.runFiscal();

    for (const char* table : { "REGISTRO_60I", "REGISTRO_60D", "REGISTRO_60M", "REGISTRO_60A" }) {
        SCOPED_TRACE(table);
        EXPECT_EQ(store.server.rows(QString("SELECT NUM_SERIE, DT_EMISSAO, count(*) FROM %1 GROUP BY 1, 2 "
                                            "ORDER BY 1, 2")
                                        .arg(table)),
            (QStringList { "SN1|2024-03-04|2", "SN1|2024-03-05|3", "SN2|2024-03-05|2" }));
    }
    EXPECT_EQ(store.registro.cells().numSerie, ""); // emptied after the terminal
}

// A run that stopped (a failed copy, a lost terminal) leaves rows at 1. They
// go at the next run without anything new arriving, and each day they
// belong to replaces the server's older copy instead of joining it.
TEST(CargaRegistro, RowsLeftAtOneGoAtTheNextRunAndReplaceTheirDay)
{
    FiscalStore store;
    for (const char* table : { "REGISTRO_60I", "REGISTRO_60M" }) {
        addRows(store.server, table, "SN1", "2024-03-04", 4);
        addRows(store.pdv(1), table, "SN1", "2024-03-04", 2, 1); // left at 1
        addRows(store.pdv(1), table, "SN1", "2024-03-05", 3, 0); // new
    }
    addRows(store.pdv(1), "REGISTRO_60D", "SN1", "2024-03-04", 2, 1); // nothing new at all

    store.runFiscal();

    for (const char* table : { "REGISTRO_60I", "REGISTRO_60M" }) {
        SCOPED_TRACE(table);
        EXPECT_EQ(store.server.rows(
                      QString("SELECT DT_EMISSAO, count(*) FROM %1 GROUP BY 1 ORDER BY 1").arg(table)),
            (QStringList { "2024-03-04|2", "2024-03-05|3" }));
        EXPECT_EQ(terminalStates(store, 1, table), QStringList { "2" });
    }
    EXPECT_EQ(serverCount(store, "REGISTRO_60D"), "2");
    EXPECT_EQ(terminalStates(store, 1, "REGISTRO_60D"), QStringList { "2" });
}

// A run cut off after the server's commit but before the terminal's 1 -> 2
// leaves its REDUCOES_Z rows at 1 though they are on the server; the next
// run must not insert them a second time (a device's reduction counter names
// its reduction).
TEST(CargaRegistro, ReductionsAlreadyOnTheServerAreNotInsertedTwice)
{
    FiscalStore store;
    addRows(store.server, "REDUCOES_Z", "SN1", "2024-03-05", 2);
    addRows(store.pdv(1), "REDUCOES_Z", "SN1", "2024-03-05", 2, 1);
    addRows(store.pdv(1), "REDUCOES_Z", "SN1", "2024-03-06", 1, 0, 3); // the next reduction
    addRows(store.pdv(1), "REDUCOES_Z", "SN9", "2024-03-05", 1, 0); // another device's first

    store.runFiscal();

    EXPECT_EQ(store.server.rows("SELECT NUM_SERIE, CRZ FROM REDUCOES_Z ORDER BY 1, 2"),
        (QStringList { "SN1|1", "SN1|2", "SN1|3", "SN9|1" }));
    EXPECT_EQ(terminalStates(store, 1, "REDUCOES_Z"), QStringList { "2" });

    // Sent again whole, nothing doubles.
    store.pdv(1).exec("UPDATE REDUCOES_Z SET EXPORTADO = 0");
    store.runFiscal();
    EXPECT_EQ(serverCount(store, "REDUCOES_Z"), "4");
}

// A monthly row names no device: two terminals that sold one unit of a
// product at the same price in the same month send the same row, and each is
// a record of its own. Rows the server already holds from an earlier run do
// not stand for a new one either.
TEST(CargaRegistro, IdenticalMonthlyRowsOfTwoTerminalsBothArrive)
{
    FiscalStore store(2);
    addRows(store.server, "REGISTRO_60R", "SN1", "2024-02-10", 2); // an earlier month, already sent
    addRows(store.pdv(1), "REGISTRO_60R", "SN1", "2024-03-05", 2);
    addRows(store.pdv(2), "REGISTRO_60R", "SN2", "2024-03-05", 2);
    addRows(store.pdv(2), "REGISTRO_60R", "SN2", "2024-02-10", 1);

    store.runFiscal();

    EXPECT_EQ(store.server.rows("SELECT MES_ANO, COD_PRODUTO, count(*) FROM REGISTRO_60R GROUP BY 1, 2 "
                                "ORDER BY 1, 2"),
        (QStringList { "022024|P1|2", "022024|P2|1", "032024|P1|2", "032024|P2|2" }));
    for (int n = 1; n <= 2; ++n)
        EXPECT_EQ(terminalStates(store, n, "REGISTRO_60R"), QStringList { "2" }) << n;
}

// The monthly table is copied with whatever columns the store gives it: a
// layout unlike ours (a column renamed, one more on both sides, one the
// server lacks) still arrives whole, and nothing fails.
TEST(CargaRegistro, AMonthlyTableOfAnotherLayoutStillArrives)
{
    FiscalStore store;
    for (const TestDatabase* db : { &store.server, &store.pdv(1) }) {
        db->exec("ALTER TABLE REGISTRO_60R RENAME COLUMN VALOR_BRUTO TO VR_CONTABIL");
        db->exec("ALTER TABLE REGISTRO_60R ADD COLUMN ALIQUOTA numeric(5,2)");
    }
    store.pdv(1).exec("ALTER TABLE REGISTRO_60R ADD COLUMN OBSERVACAO varchar(20)");
    store.pdv(1).exec("INSERT INTO REGISTRO_60R (MES_ANO, COD_PRODUTO, QUANTIDADE, VR_CONTABIL, "
                      "SIT_TRIBUTARIA, ALIQUOTA, OBSERVACAO) VALUES ('032024', 'P1', 3, 7.5, 'T18', 18, "
                      "'so no caixa'), ('032024', 'P2', 1, 2.5, 'F', NULL, NULL)");

    store.runFiscal();

    EXPECT_EQ(store.server.rows("SELECT MES_ANO, COD_PRODUTO, QUANTIDADE, VR_CONTABIL, SIT_TRIBUTARIA, "
                                "ALIQUOTA, EXPORTADO FROM REGISTRO_60R ORDER BY 2"),
        (QStringList { "032024|P1|3.000|7.50|T18|18.00|1", "032024|P2|1.000|2.50|F|<null>|1" }));
    EXPECT_EQ(terminalStates(store, 1, "REGISTRO_60R"), QStringList { "2" });
    expectClosedWithoutErrors("Log_Registro60r.log");
}

// All of a terminal's monthly rows go in one server transaction: one the
// server refuses keeps the others out too, and all go once it is mended.
TEST(CargaRegistro, AMonthlyRowTheServerRefusesLeavesNoneOfTheCopyBehind)
{
    FiscalStore store;
    store.pdv(1).exec("ALTER TABLE REGISTRO_60R ALTER COLUMN SIT_TRIBUTARIA TYPE varchar(10)");
    addRows(store.pdv(1), "REGISTRO_60R", "SN1", "2024-03-05", 150);
    store.pdv(1).exec("UPDATE REGISTRO_60R SET SIT_TRIBUTARIA = 'T18-LONGA' WHERE COD_PRODUTO = 'P120'");

    store.runFiscal();

    EXPECT_EQ(serverCount(store, "REGISTRO_60R"), "0");
    EXPECT_EQ(terminalStates(store, 1, "REGISTRO_60R"), QStringList { "1" });
    EXPECT_TRUE(logText("Log_Registro60r.log").contains("Erro no registro"))
        << logText("Log_Registro60r.log").toStdString();

    store.pdv(1).exec("UPDATE REGISTRO_60R SET SIT_TRIBUTARIA = 'T18' WHERE COD_PRODUTO = 'P120'");
    store.runFiscal();
    EXPECT_EQ(serverCount(store, "REGISTRO_60R"), "150");
    EXPECT_EQ(terminalStates(store, 1, "REGISTRO_60R"), QStringList { "2" });
}

// A row the server refuses fails its own table only: that table's server
// rows stay as they were (its deletes and its copy go together), the error
// is in its log, the other tables and terminals go on, and the row is tried
// again at the next run.
TEST(CargaRegistro, ARowTheServerRefusesFailsItsTableAloneAndIsRetried)
{
    struct Case {
        const char* table;
        const char* log;
        int rows;
        int badRow; // its position in the copy, 0: the reader has no order
        const char* spoil; // makes that row unacceptable to the server
        const char* mend;
    };
    const Case cases[] = {
        { "REGISTRO_60I", "Log_registro60i.log", 250, 150,
            "UPDATE REGISTRO_60I SET NUM_SERIE = 'SN2-SERIE-LONGA-DEMAIS' WHERE NUM_ORDEM = 150",
            "UPDATE REGISTRO_60I SET NUM_SERIE = 'SN2' WHERE NUM_ORDEM = 150" },
        { "REDUCOES_Z", "Reducoes_z.log", 150, 0, "UPDATE REDUCOES_Z SET CRZ = NULL WHERE CRZ = 120",
            "UPDATE REDUCOES_Z SET CRZ = 120 WHERE CRZ IS NULL" },
        { "REGISTRO_60A", "Registro60a.log", 5, 0,
            "UPDATE REGISTRO_60A SET NUM_SERIE = NULL WHERE SIT_TRIBUTARIA = 'T2'",
            "UPDATE REGISTRO_60A SET NUM_SERIE = 'SN2' WHERE NUM_SERIE IS NULL" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        // Terminal 2 holds the bad row: served last, its logs are the ones
        // left to read.
        FiscalStore store(2);
        store.fullDay(1, "SN1", "2024-03-05");
        // A terminal whose columns are wider than the server's.
        store.pdv(2).exec("ALTER TABLE REGISTRO_60I ALTER COLUMN NUM_SERIE TYPE varchar(40)");
        addRows(store.server, c.table, "SN2", "2024-03-05", 7); // the day as the server holds it
        const QString serverRows = QString(
            "SELECT md5(string_agg(t::text, ',' ORDER BY t::text)) FROM %1 t WHERE NUM_SERIE <> 'SN1'")
                                       .arg(c.table);
        const QString before = store.server.scalar(serverRows);
        for (const QString& table : kTables)
            addRows(store.pdv(2), table, "SN2", "2024-03-05", table == c.table ? c.rows : 3);
        store.pdv(2).exec(c.spoil);

        store.runFiscal();

        EXPECT_EQ(store.server.scalar(serverRows), before);
        EXPECT_EQ(terminalStates(store, 2, c.table), QStringList { "1" });
        const QString entry
            = c.badRow ? QString("Erro no registro %1: ").arg(c.badRow) : QString("Erro no registro ");
        EXPECT_TRUE(logText(c.log).contains(entry)) << logText(c.log).toStdString();
        for (const QString& table : kTables) {
            if (table != c.table) {
                EXPECT_EQ(terminalStates(store, 2, table), QStringList { "2" }) << table.toStdString();
            }
            EXPECT_EQ(terminalStates(store, 1, table), QStringList { "2" }) << table.toStdString();
        }
        EXPECT_EQ(store.server.rows("SELECT NUM_ECF, IMPORTACAO FROM LICENCA_IF ORDER BY 1"),
            (QStringList { "001|0", "002|0" }));

        // Mended on the terminal, the rows at 1 go at the next request.
        store.pdv(2).exec(c.mend);
        store.runFiscal();
        EXPECT_EQ(terminalStates(store, 2, c.table), QStringList { "2" });
        EXPECT_EQ(serverCount(store, c.table, "NUM_SERIE = 'SN2'"), QString::number(c.rows));
        EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
    }
}

// A run over several terminals keeps every terminal's refused rows in the
// table's one log, each under its terminal's header; the next run starts the
// file anew.
TEST(CargaRegistro, TheLogOfARunHoldsEveryTerminalsSection)
{
    FiscalStore store(2);
    store.server.exec("CREATE FUNCTION refuse_t2() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF "
                      "NEW.SIT_TRIBUTARIA = 'T2' THEN RAISE EXCEPTION 'totalizador recusado de %', "
                      "NEW.NUM_SERIE; END IF; RETURN NEW; END $$");
    store.server.exec("CREATE TRIGGER refuse_t2 BEFORE INSERT ON REGISTRO_60A FOR EACH ROW EXECUTE FUNCTION "
                      "refuse_t2()");
    addRows(store.pdv(1), "REGISTRO_60A", "SN1", "2024-03-05", 3);
    addRows(store.pdv(2), "REGISTRO_60A", "SN2", "2024-03-05", 3);

    store.runFiscal();

    std::vector<testsupport::LogSection> log = testsupport::logSections("Registro60a.log");
    ASSERT_EQ(testsupport::logSectionTitles(log), (QStringList { "Ecf 001", "Ecf 002" }));
    EXPECT_TRUE(log[0].entries.contains("totalizador recusado de SN1")) << log[0].entries.toStdString();
    EXPECT_TRUE(log[1].entries.contains("totalizador recusado de SN2")) << log[1].entries.toStdString();
    for (const testsupport::LogSection& section : log)
        EXPECT_TRUE(section.entries.startsWith("Cópia iniciada em ")) << section.entries.toStdString();

    // Only terminal 2 asks again: the file is this run's alone.
    store.requestFiscal(2);
    store.registro.run();
    log = testsupport::logSections("Registro60a.log");
    ASSERT_EQ(testsupport::logSectionTitles(log), QStringList { "Ecf 002" });
    EXPECT_TRUE(log[0].entries.contains("totalizador recusado de SN2")) << log[0].entries.toStdString();
}

TEST(CargaRegistro, ImportsAreFreeAgainHoweverTheRunEnds)
{
    FiscalStore store(3);
    store.server.exec("UPDATE LICENCA_IF SET PORTA = '1' WHERE NUM_ECF = '002'");
    for (int n = 1; n <= 3; ++n)
        addRows(store.pdv(n), "REGISTRO_60I", QString("SN%1").arg(n), "2024-03-05", 2);

    bool freeInside = true;
    common::setEventPump([&] { freeInside = freeInside && !store.importacaoLivre; });
    store.runFiscal();
    common::setEventPump({});

    EXPECT_TRUE(freeInside);
    EXPECT_TRUE(store.importacaoLivre);
    EXPECT_EQ(store.server.rows("SELECT NUM_SERIE FROM REGISTRO_60I GROUP BY 1 ORDER BY 1"),
        (QStringList { "SN1", "SN3" }));
    EXPECT_EQ(terminalStates(store, 2, "REGISTRO_60I"), QStringList { "0" });
    EXPECT_EQ(store.view.progress, (std::vector<int> { 33, 67, 100, 0 }));

    // An error outside the tables' guards ends the run, not later imports.
    sales::Carga_Registro failing(
        sales::SalesImportLinks { *store.serverConnection, store.view, store.importacaoLivre,
            [] { throw std::runtime_error("status pass failed"); }, {}, *store.config, *store.abertura },
        *store.import);
    EXPECT_THROW(failing.run(), std::runtime_error);
    EXPECT_TRUE(store.importacaoLivre);

    // Nobody asking: only the start-up steps and the progress bar.
    store.view.progress.clear();
    store.registro.run();
    EXPECT_EQ(store.view.progress, std::vector<int> { 0 });
}

// The end of a terminal shows the last imported sale when a device's day was
// replaced, and then forgets it; REGISTRO_60R and REDUCOES_Z alone do not.
TEST(CargaRegistro, ADayReplacedShowsTheLastSaleInTheMonitor)
{
    FiscalStore store(2);
    store.addSale(1, Sale { .id = 1, .numDoc = "57" });
    store.request(1);
    store.runImport();
    const qint64 saleId = store.import->cells().Ultima_Transacao;
    ASSERT_GT(saleId, 0);
    store.view.panes.clear();

    addRows(store.pdv(1), "REDUCOES_Z", "SN1", "2024-03-05", 1);
    addRows(store.pdv(1), "REGISTRO_60R", "SN1", "2024-03-05", 1);
    addRows(store.pdv(2), "REGISTRO_60A", "SN2", "2024-03-05", 1);
    store.runFiscal();

    EXPECT_EQ(store.view.pane(MonitorPane::Memo2).filter("Transa").size(), 1);
    EXPECT_TRUE(store.view.pane(MonitorPane::Memo2).join("\n").contains(QString::number(saleId)));
    EXPECT_EQ(store.import->cells().Ultima_Transacao, 0);
    EXPECT_EQ(store.import->cells().Ultimo_Caixa, 0);
}

// The "registro" branch of the window's notification handler.
TEST(RegistroNotification, RunsTheFiscalImportOrWithdrawsTheFirstRequest)
{
    struct Case {
        const char* name;
        bool livre;
        bool busy;
        QStringList runs;
        QStringList importacao; // 001, 002, 003 afterwards
    };
    const Case cases[] = {
        { "free", true, false, { "registro" }, { "3", "3", "1" } },
        { "paused", false, false, {}, { "0", "3", "1" } },
        { "a check runs", true, true, { "held registro" }, { "3", "3", "1" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SalesStore store(3);
        store.server.exec("UPDATE LICENCA_IF SET IMPORTACAO = 3 WHERE NUM_ECF IN ('001', '002')");
        store.request(3);
        sales::SalesFlags flags { c.livre, true, true };
        QStringList runs;
        const sales::SalesRuns recorded { [&] { runs << "consistir"; }, [&] { runs << "vendas"; },
            [&] { runs << "registro"; }, [&] { return c.busy; },
            [&](const QString& channel) { runs << "held " + channel; } };

        sales::handleSalesNotification("registro", *store.serverConnection, flags, recorded);

        // No consistency check and no sales import ran, though one was pending.
        EXPECT_EQ(runs, c.runs);
        EXPECT_EQ(store.server.rows("SELECT IMPORTACAO FROM LICENCA_IF ORDER BY NUM_ECF"), c.importacao);
    }
}

// Through the real window: a terminal asks (IMPORTACAO 3) and the server
// says "registro"; the day arrives once, and a second request with a new
// set of the same day replaces it.
TEST(RegistroNotification, AFiscalRequestBringsTheDayOnceAndASecondReplacesIt)
{
    progtest::ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    progtest::RecordingEnder ender;
    progtest::Store store;
    TestDatabase pdv(Template::Terminal);
    store.add({ .num = "001", .banco = pdv.name() });
    for (const QString& table : kTables)
        addRows(pdv, table, "SN1", "2024-03-05", 4);
    store.useIni(folder);
    auto windows = app::createWindows();
    windows->sales->show();
    ASSERT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
    auto importacao = [&] { return store.db.scalar("SELECT IMPORTACAO FROM LICENCA_IF"); };
    auto settled = [&] {
        return importacao() == "0" && windows->sales->flags().Importacao_Livre
            && pdv.scalar("SELECT count(*) FROM REGISTRO_60I WHERE EXPORTADO <> 2") == "0";
    };

    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 3");
    store.db.exec("NOTIFY registro");
    ASSERT_TRUE(testsupport::waitFor(settled, testsupport::kWindowRunMs));
    for (const QString& table : kTables)
        EXPECT_EQ(store.db.scalar("SELECT count(*) FROM " + table), "4") << table.toStdString();
    EXPECT_TRUE(windows->sales->findChild<QLabel*>("Label6")->text().startsWith("Banco: "));

    // The terminal sends the day again, now with two rows.
    pdv.exec("DELETE FROM REGISTRO_60I");
    addRows(pdv, "REGISTRO_60I", "SN1", "2024-03-05", 2);
    store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 3");
    store.db.exec("NOTIFY registro");
    ASSERT_TRUE(testsupport::waitFor(settled, testsupport::kWindowRunMs));
    EXPECT_EQ(store.db.rows("SELECT NUM_SERIE, DT_EMISSAO, count(*) FROM REGISTRO_60I GROUP BY 1, 2"),
        QStringList { "SN1|2024-03-05|2" });
    EXPECT_EQ(store.db.scalar("SELECT count(*) FROM REDUCOES_Z"), "4");
    EXPECT_TRUE(windows->sales->flags().Saida_Liberada);
    EXPECT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
}

// The fiscal import of a FiscalStore with its server reached through a
// relay, so a test can cut the link or refuse new ones.
struct ThroughRelay {
    explicit ThroughRelay(FiscalStore& store)
        : server(relayed(store.server.params(), proxy.port()))
        , registro(sales::SalesImportLinks { server, store.view, store.importacaoLivre, {},
                       [] { return QString("loja"); }, *store.config, *store.abertura },
              *store.import)
    {
        server.setAutoReconnect(true);
        server.open();
    }

    static db::ConnectionParams relayed(const db::ConnectionParams& direct, int port)
    {
        db::ConnectionParams p;
        for (const QString& line : direct.lines())
            p.add(line.startsWith("Port=") ? "Port= " + QString::number(port) : line);
        return p;
    }

    testsupport::TcpProxy proxy;
    db::Connection server;
    sales::Carga_Registro registro;
};

const QString kServidorInterrompido = QStringLiteral("Servidor: importa\u00e7\u00e3o interrompida - ");

QStringList serverLines(const RecordingSalesView& view)
{
    return view.skipped.filter(kServidorInterrompido);
}

// The server goes away in the middle of a run over two terminals: the run
// ends with one line in the pane and in its copy log, never a box; rows and
// requests stay, and once the server is back the next run brings every row
// once.
TEST(CargaRegistroServerLost, TheRunEndsWithALineAndTheNextBringsEveryRowOnce)
{
    FiscalStore store(2);
    store.fullDay(1, "SN1", "2024-03-05");
    store.fullDay(2, "SN2", "2024-03-05");
    ThroughRelay relay(store);
    store.requestFiscal(1);
    store.requestFiscal(2);

    // Down once the first table has gone and the second is marked.
    bool down = false;
    common::setEventPump([&] {
        if (!down && store.pdv(1).scalar("SELECT count(*) FROM REGISTRO_60D WHERE EXPORTADO = 1") != "0") {
            down = true;
            relay.proxy.setMode(testsupport::TcpProxy::Mode::Refuse);
        }
    });
    EXPECT_NO_THROW(relay.registro.run());
    common::setEventPump({});

    ASSERT_TRUE(down);
    const QStringList lines = serverLines(store.view);
    ASSERT_EQ(lines.size(), 1) << store.view.skipped.join("\n").toStdString();
    EXPECT_GT(lines[0].size(), kServidorInterrompido.size());
    EXPECT_TRUE(logText("Log_registro60i.log").trimmed().endsWith(lines[0]))
        << logText("Log_registro60i.log").toStdString();
    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
    EXPECT_TRUE(store.importacaoLivre);
    EXPECT_EQ(store.view.progress.back(), 0);
    EXPECT_EQ(store.server.rows("SELECT IMPORTACAO FROM LICENCA_IF ORDER BY NUM_ECF"), (QStringList { "3", "3" }));
    EXPECT_EQ(terminalStates(store, 2, "REGISTRO_60I"), QStringList { "0" });

    relay.proxy.setMode(testsupport::TcpProxy::Mode::Forward);
    store.view.skipped.clear();
    relay.registro.run();

    EXPECT_TRUE(store.view.skipped.isEmpty()) << store.view.skipped.join("\n").toStdString();
    for (const QString& table : kTables) {
        SCOPED_TRACE(table.toStdString());
        if (table == "REGISTRO_60R") // a monthly row names no device
            EXPECT_EQ(serverCount(store, table), "6");
        else
            EXPECT_EQ(store.server.rows("SELECT NUM_SERIE, count(*) FROM " + table + " GROUP BY 1 ORDER BY 1"),
                (QStringList { "SN1|3", "SN2|3" }));
        for (int n = 1; n <= 2; ++n)
            EXPECT_EQ(terminalStates(store, n, table), QStringList { "2" }) << n;
    }
    EXPECT_EQ(store.server.rows("SELECT IMPORTACAO FROM LICENCA_IF ORDER BY NUM_ECF"), (QStringList { "0", "0" }));
}

// REGISTRO_60R has no key: rows the server committed while the till still
// shows them at 1 would go again with the next run. The till's 1 -> 2 and
// the server's commit close that window between them.
TEST(CargaRegistro, MonthlyRowsAreNotSentTwiceWhenTheTillCannotMarkThemImported)
{
    struct Case {
        const char* name;
        // Makes the till fail its 1 -> 2 of the monthly rows, once.
        std::function<void(FiscalStore&, bool& armed)> spoil;
    };
    testsupport::PgConn locker;
    const Case cases[] = {
        // Another session of the till holds the table past the lock bound
        // from the moment the rows are marked.
        { "lock past lock_timeout",
            [&](FiscalStore& store, bool& armed) {
                locker = testsupport::connectBare(store.pdv(1).name());
                common::setEventPump([&store, &armed, &locker] {
                    if (!armed && store.pdv(1).scalar("SELECT count(*) FROM REGISTRO_60R WHERE EXPORTADO = 1") != "0") {
                        armed = true;
                        PQclear(PQexec(locker.get(), "BEGIN; LOCK TABLE REGISTRO_60R IN EXCLUSIVE MODE"));
                    }
                });
            } },
        // The till's session ends inside its commit of the 1 -> 2: the
        // server has committed by then.
        { "till lost in its commit",
            [](FiscalStore& store, bool& armed) {
                armed = true;
                store.pdv(1).exec("CREATE SEQUENCE end_once");
                store.pdv(1).exec("CREATE FUNCTION end_session() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF "
                                  "nextval('end_once') = 1 THEN PERFORM pg_terminate_backend(pg_backend_pid()); END "
                                  "IF; RETURN NULL; END $$");
                store.pdv(1).exec("CREATE CONSTRAINT TRIGGER end_session AFTER UPDATE ON REGISTRO_60R DEFERRABLE "
                                  "INITIALLY DEFERRED FOR EACH ROW WHEN (NEW.EXPORTADO = 2) EXECUTE FUNCTION "
                                  "end_session()");
            } },
    };
    const db::LinkBounds before = db::linkBounds();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        db::LinkBounds bounds = before;
        bounds.terminalLock = std::chrono::milliseconds(300);
        db::setLinkBounds(bounds);
        FiscalStore store;
        addRows(store.pdv(1), "REGISTRO_60R", "SN1", "2024-03-05", 3);
        addRows(store.pdv(1), "REDUCOES_Z", "SN1", "2024-03-05", 1);
        bool armed = false;
        c.spoil(store, armed);

        store.runFiscal();
        common::setEventPump({});
        locker.reset();

        ASSERT_TRUE(armed);
        EXPECT_EQ(store.view.skipped.filter("Ecf01 - Importar Registros: caixa ignorado - ").size(), 1)
            << store.view.skipped.join("\n").toStdString();
        EXPECT_EQ(terminalStates(store, 1, "REGISTRO_60R"), QStringList { "1" });

        store.runFiscal();

        EXPECT_EQ(serverCount(store, "REGISTRO_60R"), "3");
        EXPECT_EQ(terminalStates(store, 1, "REGISTRO_60R"), QStringList { "2" });
        // The table after it went at the second run.
        EXPECT_EQ(serverCount(store, "REDUCOES_Z"), "1");
        EXPECT_EQ(terminalStates(store, 1, "REDUCOES_Z"), QStringList { "2" });
        EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
    }
    db::setLinkBounds(before);
}

// The server's answer to the commit is lost while the server is still
// committing: the old path goes silent and the commit ends on the server
// unseen. The run gives the link up, asks the transaction's outcome on a new
// one, finds the rows committed and only marks them imported on the till;
// a later run sends nothing again.
TEST(CargaRegistroServerLost, ACommitWhoseAnswerWasLostIsNotSentAgain)
{
    FiscalStore store;
    addRows(store.pdv(1), "REGISTRO_60R", "SN1", "2024-03-05", 3);
    // A commit that takes a while, so its answer can be cut off.
    store.server.exec("CREATE FUNCTION slow_commit() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF "
                      "NEW.COD_PRODUTO = 'P1' THEN PERFORM pg_sleep(2); END IF; RETURN NULL; END $$");
    store.server.exec("CREATE CONSTRAINT TRIGGER slow_commit AFTER INSERT ON REGISTRO_60R DEFERRABLE INITIALLY "
                      "DEFERRED FOR EACH ROW EXECUTE FUNCTION slow_commit()");
    // Given up on only after the commit has ended on the server.
    const db::LinkBounds before = db::linkBounds();
    db::LinkBounds bounds = before;
    bounds.serverAnswer = std::chrono::milliseconds(6000);
    db::setLinkBounds(bounds);
    common::ScopeExit restore([&] { db::setLinkBounds(before); });
    ThroughRelay relay(store);
    store.requestFiscal(1);
    const QString committing = "SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() AND "
                               "query = 'COMMIT' AND state = 'active'";
    // Watches from the waits' own event turns for the commit at work.
    bool cut = false;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!cut && store.server.scalar(committing) == "1") {
            cut = true;
            relay.proxy.silenceOpenLinks();
        }
    });
    watch.start();

    relay.registro.run();
    watch.stop();

    ASSERT_TRUE(cut);
    ASSERT_TRUE(testsupport::waitFor([&] { return store.server.scalar(committing) == "0"; }));
    EXPECT_EQ(serverCount(store, "REGISTRO_60R"), "3");
    EXPECT_EQ(terminalStates(store, 1, "REGISTRO_60R"), QStringList { "2" });
    EXPECT_EQ(store.server.scalar("SELECT IMPORTACAO FROM LICENCA_IF"), "0");
    EXPECT_TRUE(serverLines(store.view).isEmpty()) << store.view.skipped.join("\n").toStdString();

    store.requestFiscal(1); // asked again, as a later "registro" would be
    relay.registro.run();

    EXPECT_EQ(serverCount(store, "REGISTRO_60R"), "3");
    EXPECT_EQ(terminalStates(store, 1, "REGISTRO_60R"), QStringList { "2" });
    EXPECT_EQ(store.server.scalar("SELECT IMPORTACAO FROM LICENCA_IF"), "0");
    EXPECT_TRUE(store.dialogs->shown.empty()) << store.dialogs->texts().join("\n").toStdString();
}

} // namespace
