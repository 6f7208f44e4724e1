#pragma once
// A small store for the sales-import tests: a server database and one or
// more terminal databases on the test cluster, registered in LICENCA_IF, a
// program folder with its log folder, and a Carga_Vendas wired to a view
// that records what the window would show.

#include "common/log_path.h"
#include "db/connection.h"
#include "db/query.h"
#include "sales/carga_vendas.h"
#include "sales/sales_view.h"
#include "support/recording_dialogs.h"
#include "support/terminal_key.h"
#include "support/test_db.h"

#include <QDir>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace salestest {

using testsupport::Template;
using testsupport::TestDatabase;

class RecordingSalesView : public sales::SalesView {
public:
    void appendMonitorLine(sales::MonitorPane pane, const QString& line) override { panes[pane] << line; }
    void showDatabaseLabel(const QString& caption) override { label6 = caption; }
    void clearLabel9() override { label9Cleared = true; }
    void repaintWindow() override { }
    void repaintStatusPane() override { ++statusRepaints; }
    void reportSkippedTerminal(const QString& line) override { skipped << line; }
    void setProgress(int percent) override { progress.push_back(percent); }
    void repaintProgress() override { }

    QStringList pane(sales::MonitorPane p) const
    {
        auto it = panes.find(p);
        return it == panes.end() ? QStringList() : it->second;
    }

    std::map<sales::MonitorPane, QStringList> panes;
    QString label6;
    bool label9Cleared = false;
    int statusRepaints = 0;
    QStringList skipped;
    std::vector<int> progress;
};

// A sale header on a terminal. Its items, instalments and NFC-e rows carry
// `origem` (the sale's TRANSACAO_ORIGEM) in their TRANSACAO_ID.
struct Sale {
    int id = 1;
    QString numDoc = "1";
    QString date = "2024-03-05";
    QString modelo = "2D";
    QString conduta = "01";
    int exportado = 0;
    int cliente = 7;
    QString valor = "30.00";
    int origem() const { return id + 500; }
};

class SalesStore {
public:
    explicit SalesStore(int terminalCount = 1)
        : server(Template::Server)
    {
        server.exec("INSERT INTO CONFIG (CONTROLE_ESTQ_LOC, LOCALIZACAO_ID_PDV, LOCALIZACAO_DESCRICAO_PDV) "
                    "VALUES ('False', 4, 'LOJA')");
        server.exec("INSERT INTO ABERTURA (DT_MOVIMENTO) VALUES ('2024-03-05')");
        server.exec("INSERT INTO CLIENTES (CLIENTE_ID, NOME) VALUES (7, 'CLIENTE SETE')");
        for (int n = 1; n <= terminalCount; ++n)
            addTerminal(n);

        folder_ = std::make_unique<QTemporaryDir>();
        QDir(folder_->path()).mkdir("QuiborSync_Logs");
        common::setProgramFolder(folder_->path());

        serverConnection = std::make_unique<db::Connection>(server.params());
        serverConnection->open();
        config = std::make_unique<db::Query>(*serverConnection);
        abertura = std::make_unique<db::Query>(*serverConnection);
        reopenConfig();
        import = std::make_unique<sales::Carga_Vendas>(sales::SalesImportLinks{
            *serverConnection, view, importacaoLivre, [this] {
                if (statusPass)
                    statusPass();
            },
            [] { return QString("loja");
    }
    , *config, *abertura});
import->setTerminalConnectTimeout(2);
}

~SalesStore()
{
    import.reset();
    common::setProgramFolder(QString());
}

// The window reads CONFIG once; tests that change it read it again.
void reopenConfig()
{
    config->setText("SELECT * FROM CONFIG");
    config->prepare();
    config->open();
    abertura->setText("SELECT * FROM ABERTURA");
    abertura->prepare();
    abertura->open();
}

TestDatabase& pdv(int n) { return *terminals.at(static_cast<std::size_t>(n - 1)); }
static QString numEcf(int n) { return testsupport::numEcf(n); }

void request(int n)
{
    server.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF = '" + numEcf(n) + "'");
}
void runImport() { import->run(); }
// Requests every terminal and runs one import.
void importAll()
{
    for (std::size_t n = 1; n <= terminals.size(); ++n)
        request(static_cast<int>(n));
    runImport();
}

void addSale(int n, const Sale& s)
{
    pdv(n).exec(
        QString("INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, "
                "DT_MOVIMENTO, DT_ENT_SAI, MODELO, CONDUTA, CLIENTE_ID, VALOR, EMPRESA_ID, CONTA_ID, "
                "FUNCIONARIO_ID, HORA, COND_PAGTO, ITENS, UNIDADES, CHAVE_NFE, EXPORTADO) VALUES "
                "(%1, %2, %3, '%4', '%5', '%5', '%5', '%6', '%7', %8, %9, 1, 11, 21, '10:15:00', "
                "'A PRAZO', 2, 3, 'CHAVE%1', %10)")
            .arg(s.id)
            .arg(s.origem())
            .arg(n)
            .arg(s.numDoc, s.date, s.modelo, s.conduta)
            .arg(s.cliente)
            .arg(s.valor)
            .arg(s.exportado));
}
void addItem(int n, const Sale& s, int sequencia, int produto, const QString& vrTotal = "10.00")
{
    pdv(n).exec(QString("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, DATA, PRODUTO_ID, "
                        "DESCRICAO, QUANTIDADE, VR_UNITARIO, VR_TOTAL, CST, CFOP, TP_PROD_SERV) VALUES "
                        "(%1, %2, %3, '%4', %5, 'PRODUTO %5', 1.5, 6.667, %6, '000', '5102', 'P')")
                    .arg(s.origem())
                    .arg(sequencia)
                    .arg(n)
                    .arg(s.date)
                    .arg(produto)
                    .arg(vrTotal));
}
void addInstalment(int n, const Sale& s, const QString& parcela = "1", const QString& valor = "30.00")
{
    pdv(n).exec(QString("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, TIPO_TRANSACAO, BANCO_ID, ECF, "
                        "DATA, DT_VENCIMENTO, VALOR, DUPLICATA) VALUES (%1, '%2', 'T', 0, %3, '%4', "
                        "'2024-04-05', %5, 'D%1')")
                    .arg(s.origem())
                    .arg(parcela)
                    .arg(n)
                    .arg(s.date)
                    .arg(valor));
}
void addClosing(int n, const Sale& s, int finalizadora = 1, const QString& valor = "30.00",
    const QString& valorCupom = "30.00")
{
    pdv(n).exec(QString("INSERT INTO FECHAMENTO_CUPOM (CUPOM, CAIXA_ID, OPERADOR_ID, FINALIZADORA_ID, "
                        "LEGENDA, DATA, HORA, VALOR_CUPOM, VALOR_FINALIZADORA, FISCAL, ENTIDADE_ID, "
                        "CLIENTE_ID) VALUES (lpad('%1', 8, '0'), %2, 3, %3, 'FIN %3', '%4', '10:16:00', %5, "
                        "%6, 'S', 0, %7)")
                    .arg(s.numDoc)
                    .arg(n)
                    .arg(finalizadora)
                    .arg(s.date)
                    .arg(valorCupom)
                    .arg(valor)
                    .arg(s.cliente));
}
void addComplement(int n, const Sale& s, const QString& xml = "<nfe/>")
{
    pdv(n).exec(QString("INSERT INTO COMPL_NFCEFISCAL (TRANSACAO_ID, DT_SAIDA, HR_SAIDA, CHAVE_NFCE, "
                        "EMPRESA_ID, ECF, TRANSMISSAO, DT_EMISSAO, VALOR, NO_DOC_FISCAL, ARQUIVO_XML, "
                        "ERRO_ENVIO) VALUES (%1, '%2', '10:15:00', 'CHAVE%1', 1, '%3', 'OK', '%2', %4, %5, "
                        "'%6', '')")
                    .arg(s.origem())
                    .arg(s.date)
                    .arg(numEcf(n))
                    .arg(s.valor)
                    .arg(s.numDoc)
                    .arg(xml));
}
void addCancelledNote(int n, const Sale& s, const QString& xml = "<cancelada/>")
{
    pdv(n).exec(QString("INSERT INTO NOTAS_CANCELADAS_NFCE (TRANSACAO_ID, DT_SAIDA, HR_SAIDA, CHAVE_NFCE, "
                        "EMPRESA_ID, ECF, VALOR, NO_DOC_FISCAL, ARQUIVO_XML, TRANSMISSAO) VALUES (%1, '%2', "
                        "'10:20:00', 'CHAVE%1', 1, '%3', %4, %5, '%6', 'CANCELADA')")
                    .arg(s.origem())
                    .arg(s.date)
                    .arg(numEcf(n))
                    .arg(s.valor)
                    .arg(s.numDoc)
                    .arg(xml));
}
void addCheque(int n, const QString& numCheque, const QString& valor = "50.00")
{
    pdv(n).exec(QString("INSERT INTO CHEQUES_RECEBIDOS (NUM_CHEQUE, DT_CHEQUE, EMPRESA_ID, CLIENTE_ID, "
                        "VALOR, NUM_DOC, ECF) VALUES ('%1', '2024-03-05', 1, 7, %2, '1', %3)")
                    .arg(numCheque, valor)
                    .arg(n));
}

// EXPORTADO of every row of a terminal table, in key order.
QStringList states(int n, const QString& table, QString order = {})
{
    if (order.isEmpty())
        order = table == "FECHAMENTO_CUPOM" ? "FECHAMENTO_ID"
            : table == "CHEQUES_RECEBIDOS"  ? "CHEQUE_ID"
                                            : "TRANSACAO_ID";
    return pdv(n).rows("SELECT EXPORTADO FROM " + table + " ORDER BY " + order);
}
QString count(const QString& table, const QString& where = "TRUE")
{
    return server.scalar("SELECT count(*) FROM " + table + " WHERE " + where);
}

TestDatabase server;
std::vector<std::unique_ptr<TestDatabase>> terminals;
std::unique_ptr<db::Connection> serverConnection;
std::unique_ptr<db::Query> config;
std::unique_ptr<db::Query> abertura;
RecordingSalesView view;
bool importacaoLivre = true;
// Stands in for the window's status pass at the start of every import.
std::function<void()> statusPass;
testsupport::ScopedRecordingDialogs dialogs;
std::unique_ptr<sales::Carga_Vendas> import;

private:
void addTerminal(int n)
{
    auto terminal = std::make_unique<TestDatabase>(Template::Terminal);
    server.exec(
        QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS, ECF_STATUS, "
                "IMPORTACAO, SERIAL) VALUES ('%1', '%2', '%3', '%4', '%5', '%6', 'A', 0, 0, 'SN%1')")
            .arg(numEcf(n), terminal->name(), testsupport::testUser(), testsupport::testPassword(),
                testsupport::testHost())
            .arg(testsupport::testPort()));
    terminal->exec(QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, STATUS, SERIAL) VALUES ('%1', '%2', 'A', "
                           "'SN%1')")
                       .arg(numEcf(n), terminal->name()));
    terminals.push_back(std::move(terminal));
}

std::unique_ptr<QTemporaryDir> folder_;
}
;

// A trigger that makes the server refuse the rows of `table` for which
// `when` holds, with `message`; allow() takes it away.
inline void refuse(SalesStore& store, const QString& table, const QString& when,
    const QString& message = "refused here")
{
    const QString fn = "refuse_" + table.toLower();
    store.server.exec(QString("CREATE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF %2 THEN "
                              "RAISE EXCEPTION '%3'; END IF; RETURN NEW; END $$")
                          .arg(fn, when, message));
    store.server.exec(
        QString("CREATE TRIGGER %1 BEFORE INSERT ON %2 FOR EACH ROW EXECUTE FUNCTION %1()").arg(fn, table));
}

inline void allow(SalesStore& store, const QString& table)
{
    store.server.exec(QString("DROP TRIGGER refuse_%1 ON %2").arg(table.toLower(), table));
}

} // namespace salestest
