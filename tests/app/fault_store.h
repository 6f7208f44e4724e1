#pragma once
// The whole program (both windows, offscreen) against a store whose server
// and terminal databases each sit behind a relay of the test's own, so a test
// can stop, cut or silence any one of them. The tills' software is played
// from outside: sales written on a terminal, the request raised and "venda"
// notified on the server, straight to the cluster.

#include "support/bare_pg.h"
#include "support/program_fixture.h"
#include "support/tcp_proxy.h"
#include "support/terminal_key.h"

#include "app/startup.h"
#include "common/event_pump.h"
#include "sales/sales_window.h"
#include "ui/status_pane.h"
#include "update/update_window.h"

#include <QCoreApplication>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace faulttest {

using progtest::quoted;
using testsupport::TcpProxy;
using testsupport::Template;
using testsupport::TestDatabase;

// A sale as a till writes it: header, two items, one instalment, one
// receipt closing and its NFC-e record.
struct RungSale {
    int terminal;
    int id;          // terminal TRANSACAO_ID
    int origem() const { return id + 500; }
    QString numDoc() const { return QString::number(terminal * 1000 + id); }
};

class FaultStore {
public:
    // The tills' databases sit on the shared test cluster; the server's on
    // `serverCluster`, so a case may stop that one.
    explicit FaultStore(int terminalCount, const testsupport::ClusterAddress& serverCluster = testsupport::sharedCluster())
        : store(serverCluster), serverProxy(serverCluster.port)
    {
        store.db.exec("INSERT INTO CLIENTES (CLIENTE_ID, NOME) VALUES (7, 'CLIENTE SETE')");
        for (int n = 1; n <= terminalCount; ++n) {
            pdvs.push_back(std::make_unique<TestDatabase>(Template::Terminal));
            proxies.push_back(std::make_unique<TcpProxy>());
            const QString num = numEcf(n);
            store.db.exec(QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS, "
                                  "ECF_STATUS, IMPORTACAO, DT_SYNC, HR_SYNC, SERIAL) VALUES (%1, %2, %3, %4, "
                                  "'127.0.0.1', %5, 'A', 0, 0, current_date, '10:15:30', %6)")
                              .arg(quoted(num), quoted(pdv(n).name()), quoted(testsupport::testUser()),
                                   quoted(testsupport::testPassword()), quoted(proxy(n).portText()),
                                   quoted("SN" + num)));
            pdv(n).exec(QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, STATUS, SERIAL) VALUES (%1, %2, 'A', %3)")
                            .arg(quoted(num), quoted(pdv(n).name()), quoted("SN" + num)));
        }
    }

    ~FaultStore()
    {
        common::setEventPump({});
        windows.reset();
    }

    // Starts the program through the server's relay and shows both windows.
    void start()
    {
        folder.writeIni("127.0.0.1", serverProxy.port(), store.db.name(), store.db.cluster().user, "unused");
        windows = app::createWindows();
        app::showWindows(*windows);
        // The sessions for quick looks, open before anything is measured.
        peek(store.db, "SELECT 1");
        for (const auto& pdv : pdvs)
            peek(*pdv, "SELECT 1");
    }

    sales::TFrmConversor_Vendas& salesWindow() { return *windows->sales; }
    TestDatabase& pdv(int n) { return *pdvs.at(static_cast<std::size_t>(n - 1)); }
    TcpProxy& proxy(int n) { return *proxies.at(static_cast<std::size_t>(n - 1)); }
    static QString numEcf(int n) { return testsupport::numEcf(n); }

    // One write for all the sales: a till's transaction each would cost a
    // connection per row here.
    void ringUp(int n, int count = 1)
    {
        QStringList sql;
        for (int k = 0; k < count; ++k) {
            const RungSale s{n, ++lastId_[n]};
            const QString id = QString::number(s.id), origem = QString::number(s.origem());
            sql << QString("INSERT INTO TRANSACOES (TRANSACAO_ID, TRANSACAO_ORIGEM, BANCO_ID, NUM_DOC, DT_TRANS, "
                           "DT_MOVIMENTO, DT_ENT_SAI, MODELO, CONDUTA, CLIENTE_ID, VALOR, EMPRESA_ID, CONTA_ID, "
                           "FUNCIONARIO_ID, HORA, COND_PAGTO, ITENS, UNIDADES, CHAVE_NFE, EXPORTADO) VALUES "
                           "(%1, %2, %3, '%4', current_date, current_date, current_date, '65', '01', 7, 30, 1, "
                           "11, 21, '10:15:00', 'A PRAZO', 2, 3, 'CHAVE%2', 0)")
                       .arg(id, origem)
                       .arg(n)
                       .arg(s.numDoc());
            for (int seq = 1; seq <= 2; ++seq)
                sql << QString("INSERT INTO TRANSITENS (TRANSACAO_ID, SEQUENCIA, BANCO_ID, DATA, PRODUTO_ID, "
                               "DESCRICAO, QUANTIDADE, VR_UNITARIO, VR_TOTAL, CST, CFOP, TP_PROD_SERV) VALUES "
                               "(%1, %2, %3, current_date, %4, 'PRODUTO', 1.5, 10, 15, '000', '5102', 'P')")
                           .arg(origem)
                           .arg(seq)
                           .arg(n)
                           .arg(seq * 10);
            sql << QString("INSERT INTO TRANSPARCELAS (TRANSACAO_ID, PARCELA_ID, TIPO_TRANSACAO, BANCO_ID, ECF, "
                           "DATA, DT_VENCIMENTO, VALOR, DUPLICATA) VALUES (%1, '1', 'T', 0, %2, current_date, "
                           "current_date + 30, 30, 'D%1')")
                       .arg(origem)
                       .arg(n);
            sql << QString("INSERT INTO FECHAMENTO_CUPOM (CUPOM, CAIXA_ID, OPERADOR_ID, FINALIZADORA_ID, LEGENDA, "
                           "DATA, HORA, VALOR_CUPOM, VALOR_FINALIZADORA, FISCAL, ENTIDADE_ID, CLIENTE_ID) VALUES "
                           "(lpad('%1', 8, '0'), %2, 3, 1, 'FIN 1', current_date, '10:16:00', 30, 30, 'S', 0, 7)")
                       .arg(s.numDoc())
                       .arg(n);
            sql << QString("INSERT INTO COMPL_NFCEFISCAL (TRANSACAO_ID, DT_SAIDA, HR_SAIDA, CHAVE_NFCE, "
                           "EMPRESA_ID, ECF, TRANSMISSAO, DT_EMISSAO, VALOR, NO_DOC_FISCAL, ARQUIVO_XML, "
                           "ERRO_ENVIO) VALUES (%1, current_date, '10:15:00', 'CHAVE%1', 1, '%2', 'OK', "
                           "current_date, 30, %3, '<nfe/>', '')")
                       .arg(origem, numEcf(n), s.numDoc());
            rung.push_back(s);
        }
        // One transaction, as a till writes a sale: the import sees all or none.
        pdv(n).exec("BEGIN; " + sql.join("; ") + "; COMMIT");
    }

    // What the tills' software does after a sale; straight to the cluster.
    void request(int n) const
    {
        store.db.exec("UPDATE LICENCA_IF SET IMPORTACAO = 1 WHERE NUM_ECF = '" + numEcf(n) + "'");
    }
    void notifyVenda() const { store.db.exec("NOTIFY venda"); }

    // Every rung sale on the server once, with all its parts; every terminal
    // row taken (2), none left at 1.
    bool everySaleArrived()
    {
        for (const RungSale& s : rung)
            if (saleParts(s) != "1|2|1|1|1")
                return false;
        for (int n = 1; n <= static_cast<int>(pdvs.size()); ++n)
            if (!waiting(n).isEmpty())
                return false;
        return true;
    }

    // Rows of sale `s` on the server: headers|items|instalments|closings|NFC-e.
    // The NFC-e record is found by its key: one whose sale had not arrived
    // yet when it was copied is kept under an id of its own.
    QString saleParts(const RungSale& s)
    {
        return peek(store.db,
            QString("WITH v AS (SELECT TRANSACAO_ID FROM TRANSACOES WHERE BANCO_ID = %1 AND TRANSACAO_ORIGEM = %2) "
                    "SELECT (SELECT count(*) FROM v) || '|' || "
                    "(SELECT count(*) FROM TRANSITENS WHERE TRANSACAO_ID IN (SELECT * FROM v)) || '|' || "
                    "(SELECT count(*) FROM TRANSPARCELAS WHERE TRANSACAO_ID IN (SELECT * FROM v)) || '|' || "
                    "(SELECT count(*) FROM FECHAMENTO_CUPOM WHERE CAIXA_ID = %1 AND CUPOM = lpad('%3', 8, '0')) "
                    "|| '|' || (SELECT count(*) FROM COMPL_NFCEFISCAL WHERE CHAVE_NFCE = 'CHAVE%2' AND ECF = '%4')")
                .arg(s.terminal)
                .arg(s.origem())
                .arg(s.numDoc(), numEcf(s.terminal)));
    }

    // "table:state" of every terminal row not yet taken (EXPORTADO not 2).
    QStringList waiting(int n)
    {
        return peekRows(pdv(n),
            "SELECT t, e FROM (SELECT 'TRANSACOES' t, EXPORTADO e FROM TRANSACOES UNION ALL "
            "SELECT 'TRANSITENS', EXPORTADO FROM TRANSITENS UNION ALL "
            "SELECT 'TRANSPARCELAS', EXPORTADO FROM TRANSPARCELAS UNION ALL "
            "SELECT 'FECHAMENTO_CUPOM', EXPORTADO FROM FECHAMENTO_CUPOM UNION ALL "
            "SELECT 'COMPL_NFCEFISCAL', EXPORTADO FROM COMPL_NFCEFISCAL) r WHERE e IS DISTINCT FROM 2 ORDER BY 1");
    }

    // A quick look from inside a run's event turns, on a session kept open
    // per database: a connect per look would count as the program's own
    // time away from the event loop. First column of the first row.
    QString peek(const TestDatabase& db, const QString& sql)
    {
        const testsupport::PgResult r = look(db, sql);
        return PQresultStatus(r.get()) == PGRES_TUPLES_OK && PQntuples(r.get()) > 0
                   ? QString::fromUtf8(PQgetvalue(r.get(), 0, 0))
                   : QString();
    }
    // Every row, columns joined with "|".
    QStringList peekRows(const TestDatabase& db, const QString& sql)
    {
        const testsupport::PgResult r = look(db, sql);
        const ExecStatusType status = PQresultStatus(r.get());
        QStringList out;
        for (int row = 0; status == PGRES_TUPLES_OK && row < PQntuples(r.get()); ++row) {
            QStringList cells;
            for (int c = 0; c < PQnfields(r.get()); ++c)
                cells << (PQgetisnull(r.get(), row, c) ? QString("<null>") : QString::fromUtf8(PQgetvalue(r.get(), row, c)));
            out << cells.join('|');
        }
        return out;
    }

    // Everything that did not arrive, for a failure message.
    std::string report()
    {
        QStringList out;
        for (const RungSale& s : rung)
            out << QString("%1/%2: %3").arg(s.terminal).arg(s.id).arg(saleParts(s));
        for (int n = 1; n <= static_cast<int>(pdvs.size()); ++n)
            out << QString("pdv%1 waiting: %2").arg(n).arg(waiting(n).join(","));
        out << "requests: " + store.db.rows("SELECT NUM_ECF, IMPORTACAO, ECF_STATUS FROM LICENCA_IF ORDER BY 1").join(",");
        if (windows) {
            QStringList pane;
            for (const ui::StatusPane::Line& line : salesWindow().findChild<ui::StatusPane*>("MemoPdv2")->lines())
                pane << line.text;
            out << "MemoPdv2: " + pane.join(" / ");
        }
        return out.join("\n").toStdString();
    }

    progtest::ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    progtest::RecordingEnder ender;
    progtest::Store store;
    TcpProxy serverProxy;
    std::vector<std::unique_ptr<TestDatabase>> pdvs;
    std::vector<std::unique_ptr<TcpProxy>> proxies;
    std::vector<RungSale> rung;
    std::unique_ptr<app::ProgramWindows> windows;

private:
    testsupport::PgResult look(const TestDatabase& db, const QString& sql)
    {
        testsupport::PgConn& session = sessions_[db.name()];
        if (!session || PQstatus(session.get()) != CONNECTION_OK)
            session = testsupport::connectBare(db.cluster(), db.name());
        testsupport::PgResult r(PQexec(session.get(), sql.toUtf8().constData()));
        if (PQstatus(session.get()) != CONNECTION_OK) {
            // The session went with a restart of its cluster: a new one.
            session = testsupport::connectBare(db.cluster(), db.name());
            r.reset(PQexec(session.get(), sql.toUtf8().constData()));
        }
        const ExecStatusType status = PQresultStatus(r.get());
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
            throw std::runtime_error(PQresultErrorMessage(r.get()));
        return r;
    }

    std::map<int, int> lastId_;
    std::map<QString, testsupport::PgConn> sessions_;
};

// An event pump that lets the windows run and, once `when` holds, runs
// `strike` a single time: a fault in the middle of a run. When given, `heal`
// runs once `healWhen` holds after the strike.
class FaultAt {
public:
    FaultAt(std::function<bool()> when, std::function<void()> strike, std::function<bool()> healWhen = {},
            std::function<void()> heal = {})
        : when_(std::move(when)), strike_(std::move(strike)), healWhen_(std::move(healWhen)), heal_(std::move(heal))
    {
        common::setEventPump([this] {
            if (!struck && when_()) {
                struck = true;
                strike_();
            } else if (struck && !healed && heal_ && healWhen_()) {
                healed = true;
                heal_();
            }
            QCoreApplication::processEvents();
        });
    }
    ~FaultAt() { common::setEventPump({}); }
    // Heals now, if struck and not healed yet: for a fault whose run ended
    // before the turns it waited for.
    void healNow()
    {
        if (struck && !healed && heal_) {
            healed = true;
            heal_();
        }
    }
    bool struck = false;
    bool healed = false;

private:
    std::function<bool()> when_;
    std::function<void()> strike_;
    std::function<bool()> healWhen_;
    std::function<void()> heal_;
};

} // namespace faulttest
