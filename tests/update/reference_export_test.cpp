// The reference-table exports: the terminals' payment methods, taxes,
// donation entities, operators, IBPT table and configuration replaced from
// the server, through the update window's buttons and notifications.

#include "export_fixture.h"
#include "support/copy_log_sections.h"

#include "common/event_pump.h"
#include "update/pane_lines.h"

#include <QTest>

namespace {

using namespace exporttest;

class ReferenceExport : public ExportFixture {
protected:
    void request(const QString& num, int code, int cargaTotal = 0)
    {
        store.db.exec(QString("UPDATE LICENCA_IF SET IMPORTACAO = %1, CARGA_TOTAL = %2, DT_SYNC = current_date - 1 "
                              "WHERE NUM_ECF = %3")
                          .arg(code)
                          .arg(cargaTotal)
                          .arg(quoted(num)));
    }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    // Stamped today with the request cleared.
    bool stamped(const QString& num)
    {
        return store.db.scalar("SELECT dt_sync = current_date AND importacao = 0 AND carga_total = 0 FROM licenca_if "
                               "WHERE num_ecf = " + quoted(num))
               == "t";
    }

    QStringList progressLines(const QString& prefix, int slot)
    {
        return {prefix, QString("Ecf: Pdv%1").arg(slot, 2, 10, QChar('0')), " Aguarde..."};
    }
};

const QString kConfigPrefix = "Exportando Configura\u00e7\u00f5es: ";

// A request replaces the requesting terminal's copy of a table with the
// server's, the rows only it had included, and leaves another terminal's
// copy alone; the run stamps the terminal it served and logs no error.
struct ReplacedTable {
    const char* name;
    const char* table;
    const char* key;        // id and name columns
    const char* requesting; // with `code`; the other one asks for nothing
    const char* other;
    int code;
    const char* serverRows;
    const char* columns;    // read back on the requesting terminal
    QStringList expected;
    const char* notification; // nullptr: started by its button
    const char* button;
    const char* progressPrefix;
    const char* finished;   // Memo1's last line
    const char* logFile;
};

class ReferenceExportReplaces : public ReferenceExport, public ::testing::WithParamInterface<ReplacedTable> {};

TEST_P(ReferenceExportReplaces, TheRequestingTerminalsTableOnly)
{
    const ReplacedTable& c = GetParam();
    const QString table = c.table;
    addTerminal({.num = c.requesting})
        .exec(QString("INSERT INTO %1 (%2) VALUES (1, 'VELHA'), (99, 'APAGADA NO SERVIDOR')").arg(table, c.key));
    addTerminal({.num = c.other}).exec(QString("INSERT INTO %1 (%2) VALUES (5, 'INTOCADA')").arg(table, c.key));
    store.db.exec(c.serverRows);
    request(c.requesting, c.code);
    request(c.other, 0);
    open();

    if (c.notification) {
        store.db.exec(QString("NOTIFY ") + c.notification);
        ASSERT_TRUE(testsupport::waitFor([&] { return pane("Memo1").value(3) == c.finished; }, 20000));
    } else {
        click(c.button);
    }

    EXPECT_EQ(pdv(c.requesting).rows(c.columns), c.expected);
    EXPECT_EQ(pdv(c.other).rows(QString("SELECT %1 FROM %2").arg(c.key, table)), QStringList{"5|INTOCADA"});
    EXPECT_TRUE(stamped(c.requesting));
    EXPECT_FALSE(stamped(c.other));
    EXPECT_EQ(pane("Memo1"), progressLines(c.progressPrefix, QString(c.requesting).toInt()) << c.finished);
    EXPECT_FALSE(anyBoxChecked());
    EXPECT_TRUE(button(c.button)->isEnabled());
    EXPECT_TRUE(log(c.logFile).contains("nenhum erro registrado")) << log(c.logFile).toStdString();
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Members, ReferenceExportReplaces,
    ::testing::Values(
        ReplacedTable{"PaymentMethodsOnTheirNotification", "FINALIZADORAS", "FINALIZADORA_ID, DESCRICAO", "007", "001",
                      12,
                      "INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO, LIMITE, F_TROCO) VALUES "
                      "(1, 'DINHEIRO', 150.75, 'S'), (2, 'CARTAO', 0, 'N')",
                      "SELECT finalizadora_id, descricao, limite, f_troco FROM finalizadoras ORDER BY 1",
                      {"1|DINHEIRO|150.75|S", "2|CARTAO|0.00|N"}, "finalizadoras_manual", "btn_finalizadoras",
                      "Exportando Configura\u00e7\u00f5es: ", "Finalizado Finalizadoras!", "Finalizadoras.log"},
        ReplacedTable{"DonationEntitiesOnTheirButton", "ENTIDADES_DOACAO", "ENTIDADE_ID, NOME", "001", "002", 15,
                      "INSERT INTO ENTIDADES_DOACAO (ENTIDADE_ID, NOME, CNPJ, NUMERO, MUNICIPIO, TELEFONE_1, "
                      "INSCRICAO) VALUES (1, 'APAE', '12.345.678/0001-90', '12A', 'SAO PAULO', '3333-4444', "
                      "'ISENTO'), (2, 'CRECHE', NULL, '', 'OSASCO', NULL, NULL)",
                      "SELECT entidade_id, nome, cnpj, numero, municipio, telefone_1, inscricao FROM "
                      "entidades_doacao ORDER BY 1",
                      {"1|APAE|12.345.678/0001-90|12A|SAO PAULO|3333-4444|ISENTO",
                       "2|CRECHE|<null>||OSASCO|<null>|<null>"},
                      nullptr, "Btn_Entidades", "Exportando Entidades: ", "Finalizado Entidades.",
                      "LogEntidades.log"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReferenceExport, TaxesForEveryAnsweringTerminalKeepTheirOwnRowsBlank)
{
    addTerminal({.num = "001"}).exec(
        "INSERT INTO TRIBUTOS (TRIBUTO_ID, DESCRICAO, ALIQUOTA_ICMS) VALUES (1, 'VELHA', 7), (9, 'SO NO PDV', 12)");
    addTerminal({.num = "002"});
    addTerminal({.num = "003", .reachable = false});
    store.db.exec("INSERT INTO TRIBUTOS (TRIBUTO_ID, DESCRICAO, ALIQUOTA_ICMS, CFOP) VALUES "
                  "(1, 'ICMS 18', 18, '5102'), (2, 'ISENTO', 0, '5102')");
    request("001", 14, 1);
    request("002", 0);
    request("003", 0);
    open();

    window->btn_tributosClick();

    const QStringList fromServer{"1|ICMS 18|18.00|5102", "2|ISENTO|0.00|5102"};
    EXPECT_EQ(pdv("001").rows("SELECT tributo_id, descricao, aliquota_icms, cfop FROM tributos ORDER BY 1"),
              fromServer + QStringList{"9||12.00|<null>"});
    EXPECT_EQ(pdv("002").rows("SELECT tributo_id, descricao, aliquota_icms, cfop FROM tributos ORDER BY 1"),
              fromServer);
    EXPECT_TRUE(pdv("003").rows("SELECT * FROM tributos").isEmpty());
    EXPECT_TRUE(stamped("001"));
    EXPECT_TRUE(stamped("002"));
    EXPECT_FALSE(stamped("003"));
    EXPECT_EQ(pane("Memo1"), progressLines(kConfigPrefix, 1) + progressLines(kConfigPrefix, 2)
                                 << "Finalizado Tributos!");
    EXPECT_FALSE(anyBoxChecked());
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

TEST_F(ReferenceExport, ConfigurationLeavesTheTerminalItsOwnServerRow)
{
    addTerminal({.num = "001"});
    TestDatabase& t = addTerminal({.num = "002"});
    t.exec("INSERT INTO CONFIG (CONTA_ESTOQUE, EMAIL_NFCE) VALUES (9, 'antigo@loja')");
    t.exec("INSERT INTO EMPRESAS (EMPRESA_ID, RAZAO_SOCIAL) VALUES (3, 'Antiga'), (8, 'So no pdv')");
    t.exec("INSERT INTO LICENCA_IF (NUM_ECF) VALUES ('009')");
    t.exec("INSERT INTO CONFIG_NFISCAL (CONFIG_NFISCAL_ID, SERIE_NFCE) VALUES (7, '9')");
    store.db.exec("UPDATE CONFIG SET CONTA_ESTOQUE = 5, EMAIL_NFCE = 'loja@loja', CARGA_MANUAL_PROD = 'True'");
    store.db.exec("INSERT INTO CONFIG_NFISCAL (CONFIG_NFISCAL_ID, SERIE_NFCE, UF) VALUES (1, '1', 'SP')");
    request("002", 13);
    open();

    click("Btn_Configuracoes");

    EXPECT_EQ(t.rows("SELECT conta_estoque, email_nfce, carga_manual_prod FROM config"),
              QStringList{"5|loja@loja|True"});
    EXPECT_EQ(t.rows("SELECT empresa_id, razao_social FROM empresas ORDER BY 1"),
              (QStringList{"1|Um", "3|Tres", "5|Cinco", "8|So no pdv"}));
    EXPECT_EQ(t.rows("SELECT num_ecf, banco, dt_sync FROM licenca_if"),
              store.db.rows("SELECT num_ecf, banco, current_date - 1 FROM licenca_if WHERE num_ecf = '002'"));
    EXPECT_EQ(t.rows("SELECT config_nfiscal_id, serie_nfce, uf FROM config_nfiscal"), QStringList{"1|1|SP"});
    EXPECT_TRUE(stamped("002"));
    EXPECT_EQ(pane("Memo1"), progressLines(kConfigPrefix, 2) << "Finalizado Configura\u00e7\u00f5es!");
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

TEST_F(ReferenceExport, Code15IsServedByWhicheverRunsFirst)
{
    addTerminal({.num = "001"});
    store.db.exec("INSERT INTO OPERADORES (FUNCIONARIO_ID, NOME, DESCONTO_MAX_ITEM) VALUES (1, 'ANA', 5)");
    store.db.exec("INSERT INTO ENTIDADES_DOACAO (ENTIDADE_ID, NOME) VALUES (1, 'APAE')");
    request("001", 15);
    open();

    click("btn_operadores");
    EXPECT_EQ(pdv("001").rows("SELECT funcionario_id, nome, desconto_max_item FROM operadores"),
              QStringList{"1|ANA|5.00"});
    EXPECT_TRUE(stamped("001"));
    EXPECT_EQ(pane("Memo1").last(), "Finalizado Operadores");

    click("Btn_Entidades");
    EXPECT_TRUE(pdv("001").rows("SELECT * FROM entidades_doacao").isEmpty());
    EXPECT_EQ(pane("Memo1"), QStringList{"Finalizado Entidades."});
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

// Ticked while it was active, made inactive on the server before the run:
// the run reaches its slot and leaves it, with no box.
TEST_F(ReferenceExport, ATerminalInactiveOnTheServerIsSkippedWithoutAMessage)
{
    addTerminal({.num = "001"});
    addTerminal({.num = "002"}).exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) VALUES (5, 'INTOCADA')");
    store.db.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) VALUES (1, 'DINHEIRO')");
    request("001", 0);
    request("002", 0);
    open();
    ASSERT_TRUE(box(2)->isEnabled());
    QTest::mouseClick(box(1), Qt::LeftButton);
    QTest::mouseClick(box(2), Qt::LeftButton);
    store.db.exec("UPDATE LICENCA_IF SET STATUS = 'D' WHERE NUM_ECF = '002'");

    click("btn_finalizadoras");

    EXPECT_EQ(pdv("001").rows("SELECT descricao FROM finalizadoras"), QStringList{"DINHEIRO"});
    EXPECT_EQ(pdv("002").rows("SELECT finalizadora_id, descricao FROM finalizadoras"), QStringList{"5|INTOCADA"});
    EXPECT_TRUE(stamped("001"));
    EXPECT_FALSE(stamped("002"));
    EXPECT_EQ(pane("Memo1"), progressLines(kConfigPrefix, 1) + progressLines(kConfigPrefix, 2)
                                 << "Finalizado Finalizadoras!");
    EXPECT_FALSE(anyBoxChecked());
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

TEST_F(ReferenceExport, IbptSkipsACheckedTerminalThatDidNotAnswer)
{
    addTerminal({.num = "001"}).exec("INSERT INTO IBTP (IBTP_ID, CODIGO) VALUES (50, 'ANTIGO')");
    addTerminal({.num = "003", .reachable = false});
    store.db.exec("INSERT INTO IBTP (IBTP_ID, CODIGO, EX, TABELA, ALIQNAC, VERSAO) "
                  "SELECT g, lpad(g::text, 8, '0'), '', 0, 13.45, '24.1.A' FROM generate_series(1, 300) g");
    request("001", 16);
    request("003", 16);
    open();

    window->Btn_IbtpClick();

    EXPECT_EQ(pdv("001").scalar("SELECT count(*) || '/' || min(ibtp_id) || '/' || sum(aliqnac) FROM ibtp"),
              "300/1/4035.00");
    EXPECT_TRUE(pdv("003").rows("SELECT * FROM ibtp").isEmpty());
    EXPECT_TRUE(stamped("001"));
    EXPECT_FALSE(stamped("003"));
    EXPECT_EQ(pane("Memo1"), progressLines("Exportando IBTP: ", 1) << "Finalzidado IBTP!");
    EXPECT_EQ(progress(), 0);
    EXPECT_FALSE(anyBoxChecked());
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

// A copy that fails on a terminal rolls back that terminal's clearing with
// it: the till keeps what it had, is not stamped, and the next checked
// terminal is still served.
struct FailingCopy {
    const char* name;
    const char* button;
    int code;
    const char* errorPrefix;     // nullptr: the member fails silently
    const char* breakTerminal;   // run on terminal 002
    QStringList kept;            // terminal 002's rows, read before and after
    const char* serverRows = ""; // extra rows on the server
    const char* logFile = "";    // the run's log names the failure
    const char* logged = "";
};

class ReferenceExportFailure : public ReferenceExport, public ::testing::WithParamInterface<FailingCopy> {};

TEST_P(ReferenceExportFailure, TerminalKeepsItsPreviousRows)
{
    const FailingCopy& c = GetParam();
    addTerminal({.num = "001"});
    TestDatabase& broken = addTerminal({.num = "002"});
    broken.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) VALUES (1, 'ANTIGA'), (2, 'OUTRA')");
    broken.exec("INSERT INTO TRIBUTOS (TRIBUTO_ID, DESCRICAO) VALUES (1, 'VELHA')");
    broken.exec("INSERT INTO CONFIG (CONTA_ESTOQUE) VALUES (9)");
    broken.exec("INSERT INTO EMPRESAS (EMPRESA_ID, RAZAO_SOCIAL) VALUES (8, 'So no pdv')");
    broken.exec(c.breakTerminal);
    if (QString(c.serverRows).size() > 0)
        store.db.exec(c.serverRows);
    request("001", c.code);
    request("002", c.code);
    open();
    QStringList before;
    for (const QString& sql : c.kept)
        before << broken.rows(sql);

    // The IBPT button is hidden: only a notification or a call reaches it.
    if (button(c.button)->isVisible())
        click(c.button);
    else
        button(c.button)->click();

    QStringList after;
    for (const QString& sql : c.kept)
        after << broken.rows(sql);
    EXPECT_EQ(after, before);
    EXPECT_FALSE(stamped("002"));
    EXPECT_TRUE(stamped("001"));
    if (c.errorPrefix) {
        ASSERT_EQ(dialogs->shown.size(), 1u) << shownTexts().toStdString();
        EXPECT_EQ(dialogs->shown[0].kind, "error");
        EXPECT_TRUE(dialogs->shown[0].text.startsWith(c.errorPrefix)) << shownTexts().toStdString();
    } else {
        EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
    }
    EXPECT_TRUE(button(c.button)->isEnabled());
    // The run's log keeps the served terminal's copy beside the failed one.
    const std::vector<testsupport::LogSection> sections = testsupport::logSections(c.logFile);
    ASSERT_EQ(testsupport::logSectionTitles(sections), (QStringList{"Ecf 001", "Ecf 002"}))
        << log(c.logFile).toStdString();
    EXPECT_TRUE(sections[0].entries.endsWith("nenhum erro registrado")) << sections[0].entries.toStdString();
    EXPECT_TRUE(sections[1].entries.contains(c.logged)) << sections[1].entries.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Members, ReferenceExportFailure,
    ::testing::Values(
        FailingCopy{"PaymentMethodsHalfway", "btn_finalizadoras", 12, "Erro Exportar Finalizadoras:\rErro: ",
                    "ALTER TABLE FINALIZADORAS ALTER COLUMN DESCRICAO TYPE varchar(10)",
                    {"SELECT finalizadora_id, descricao FROM finalizadoras ORDER BY 1"},
                    "INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) SELECT g, CASE WHEN g = 150 "
                    "THEN 'UMA DESCRICAO LONGA DEMAIS' ELSE 'FP ' || g END FROM generate_series(1, 250) g",
                    "Finalizadoras.log", "Erro no registro 150: "},
        FailingCopy{"TaxesMissingColumn", "btn_tributos", 14, "Erro Exportar tributos:\rErro: ",
                    "ALTER TABLE TRIBUTOS DROP COLUMN CFOP",
                    {"SELECT tributo_id, descricao FROM tributos ORDER BY 1"},
                    "INSERT INTO TRIBUTOS (TRIBUTO_ID, DESCRICAO) VALUES (1, 'ICMS 18')", "tributos.log", "cfop"},
        FailingCopy{"ConfigurationLastPair", "Btn_Configuracoes", 13,
                    "Erro Exportar Configuracoes/Empresas:\rErro: ",
                    "ALTER TABLE CONFIG_NFISCAL ADD COLUMN OBRIGATORIA integer NOT NULL",
                    {"SELECT conta_estoque FROM config", "SELECT empresa_id FROM empresas ORDER BY 1",
                     "SELECT num_ecf, importacao FROM licenca_if ORDER BY 1"},
                    "INSERT INTO CONFIG_NFISCAL (CONFIG_NFISCAL_ID) VALUES (1)", "LogConfig_Nfiscal.log",
                    "Erro no registro 1: "},
        FailingCopy{"OperatorsHalfway", "btn_operadores", 15, "Erro Exportar operadores:\rErro: ",
                    "INSERT INTO OPERADORES (FUNCIONARIO_ID, NOME) VALUES (1, 'ANA'), (7, 'SO NO PDV'); "
                    "ALTER TABLE OPERADORES ADD CONSTRAINT RECUSADO CHECK (NOME <> 'OPERADOR 150')",
                    {"SELECT funcionario_id, nome FROM operadores ORDER BY 1"},
                    "INSERT INTO OPERADORES (FUNCIONARIO_ID, NOME) SELECT g, 'OPERADOR ' || g FROM "
                    "generate_series(1, 250) g",
                    "LogOperadores.log", "Erro no registro 150: "},
        FailingCopy{"EntitiesHalfway", "Btn_Entidades", 15, "Erro Exportar entidades:\rErro: ",
                    "INSERT INTO ENTIDADES_DOACAO (ENTIDADE_ID, NOME) VALUES (1, 'APAE'), (7, 'SO NO PDV'); "
                    "ALTER TABLE ENTIDADES_DOACAO ADD CONSTRAINT RECUSADA CHECK (NOME <> 'ENTIDADE 150')",
                    {"SELECT entidade_id, nome FROM entidades_doacao ORDER BY 1"},
                    "INSERT INTO ENTIDADES_DOACAO (ENTIDADE_ID, NOME) SELECT g, 'ENTIDADE ' || g FROM "
                    "generate_series(1, 250) g",
                    "LogEntidades.log", "Erro no registro 150: "},
        // The largest table, and the only member that tells no one.
        FailingCopy{"IbptHalfwaySilently", "Btn_Ibtp", 16, nullptr,
                    "INSERT INTO IBTP (IBTP_ID, CODIGO) VALUES (1, 'ANTIGO'), (7, 'SO NO PDV'); "
                    "ALTER TABLE IBTP ADD CONSTRAINT RECUSADO CHECK (CODIGO <> '00001500')",
                    {"SELECT ibtp_id, codigo FROM ibtp ORDER BY 1"},
                    "INSERT INTO IBTP (IBTP_ID, CODIGO, EX, TABELA, ALIQNAC, VERSAO) SELECT g, lpad(g::text, 8, "
                    "'0'), '', 0, 13.45, '24.1.A' FROM generate_series(1, 2000) g",
                    "LogIbtp.log", "Erro no registro 1500: "}),
    [](const auto& info) { return std::string(info.param.name); });

// A terminal whose session ends in the middle of the configuration's
// tables is a red line, not the member's box: it keeps every table as it
// was (the four are replaced together or not at all), the other terminal is
// served, and its request brings the next run.
TEST_F(ReferenceExport, TerminalLostMidCopyKeepsItsTablesAndIsServedNextTime)
{
    addTerminal({.num = "001"});
    TestDatabase& lost = addTerminal({.num = "002"});
    lost.exec("INSERT INTO CONFIG (CONTA_ESTOQUE) VALUES (9)");
    lost.exec("INSERT INTO EMPRESAS (EMPRESA_ID, RAZAO_SOCIAL) VALUES (8, 'So no pdv')");
    // The third pair (its own LICENCA_IF) ends the session the first time.
    lost.exec("CREATE SEQUENCE cut_at");
    lost.exec("CREATE FUNCTION cut() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF nextval('cut_at') = 1 THEN "
              "PERFORM pg_terminate_backend(pg_backend_pid()); PERFORM pg_sleep(5); END IF; RETURN NEW; END $$");
    lost.exec("CREATE TRIGGER cut BEFORE INSERT ON LICENCA_IF FOR EACH ROW EXECUTE FUNCTION cut()");
    request("001", 13);
    request("002", 13);
    open();
    const QStringList kept{"SELECT conta_estoque FROM config", "SELECT empresa_id FROM empresas ORDER BY 1",
                           "SELECT num_ecf, importacao FROM licenca_if ORDER BY 1"};
    QStringList before;
    for (const QString& sql : kept)
        before << lost.rows(sql);

    click("Btn_Configuracoes");

    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
    const QStringList lines = window->interruptionLines().lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("Ecf02 - Carga Configura\u00e7\u00f5es: caixa ignorado - "))
        << lines[0].toStdString();
    EXPECT_TRUE(pane("Memo1").contains(lines[0]));
    QStringList after;
    for (const QString& sql : kept)
        after << lost.rows(sql);
    EXPECT_EQ(after, before);
    EXPECT_TRUE(stamped("001"));
    EXPECT_FALSE(stamped("002"));
    EXPECT_EQ(store.db.scalar("SELECT importacao FROM licenca_if WHERE num_ecf = '002'"), "13");
    // The same text in the log of the table it was copying.
    const std::vector<testsupport::LogSection> sections = testsupport::logSections("LogLicenca.log");
    ASSERT_EQ(testsupport::logSectionTitles(sections), (QStringList{"Ecf 001", "Ecf 002"}))
        << log("LogLicenca.log").toStdString();
    EXPECT_TRUE(sections[1].entries.endsWith("\n" + lines[0])) << sections[1].entries.toStdString();

    // Its request brings the next run, which serves it.
    click("Btn_Configuracoes");

    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
    EXPECT_TRUE(stamped("002"));
    EXPECT_EQ(lost.rows("SELECT num_ecf FROM licenca_if"), QStringList{"002"});
    EXPECT_EQ(lost.scalar("SELECT count(*) FROM empresas"), "4");
}

// The slot follows the terminal's row: moved to another database, the
// terminal is served there.
TEST_F(ReferenceExport, SlotIsRebuiltWhenTheTerminalsRowChanged)
{
    TestDatabase& before = addTerminal({.num = "001"});
    TestDatabase now(Template::Terminal);
    store.db.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) VALUES (1, 'DINHEIRO')");
    request("001", 12);
    open();
    store.db.exec("UPDATE LICENCA_IF SET BANCO = " + quoted(now.name()));

    click("btn_finalizadoras");

    EXPECT_EQ(now.rows("SELECT descricao FROM finalizadoras"), QStringList{"DINHEIRO"});
    EXPECT_TRUE(before.rows("SELECT * FROM finalizadoras").isEmpty());
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
}

TEST_F(ReferenceExport, TerminalThatRefusesItsConnectionFailsAlone)
{
    store.add({.num = "001", .banco = "qs_no_such_database"});
    addTerminal({.num = "002"});
    store.db.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO) VALUES (1, 'DINHEIRO')");
    request("001", 12);
    request("002", 12);
    open();

    click("btn_finalizadoras");

    // A terminal that cannot be reached holds nobody up with a box: a red
    // line says so, and its request stays for the next run.
    EXPECT_TRUE(dialogs->shown.empty()) << shownTexts().toStdString();
    const QStringList lines = window->interruptionLines().lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("Ecf01 - Carga Finalizadoras: caixa ignorado - ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("qs_no_such_database")) << lines[0].toStdString();
    EXPECT_TRUE(pane("Memo1").contains(lines[0]));
    EXPECT_EQ(store.db.scalar("SELECT importacao FROM licenca_if WHERE num_ecf = '001'"), "12");
    EXPECT_FALSE(stamped("001"));
    EXPECT_TRUE(stamped("002"));
    EXPECT_EQ(pdv("002").scalar("SELECT descricao FROM finalizadoras"), "DINHEIRO");
}

TEST_F(ReferenceExport, RunThatEndsEarlyLeavesTheWindowReady)
{
    addTerminal({.num = "001"});
    open();
    QTest::mouseClick(box(1), Qt::LeftButton);
    // A terminal number the status pass cannot read ends the run at once.
    store.add({.num = "AB1"});

    click("btn_finalizadoras");

    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, "plain");
    EXPECT_FALSE(anyBoxChecked());
    EXPECT_TRUE(button("btn_finalizadoras")->isEnabled());
}

} // namespace
