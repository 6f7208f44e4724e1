// The payment-method, tax and IBPT exports to 33 terminals (20 payment
// methods, 40 taxes, 20,000 IBPT rows), each terminal's tables replaced in
// one transaction, set against the server's own COPY out and COPY in of the
// same rows to the same terminals (each committed) in the same run; once
// on the fast cluster and once on the durable one. Prints both, their
// ratio and the statements and commits the data layer counted for each
// export.
//
// Needs the clusters' addresses in QS_TEST_PGHOST / QS_TEST_PGPORT /
// QS_DURABLE_PGPORT / QS_TEST_PGUSER (scripts/bench.sh
// reference_export_bench sets them).

#include "bench_floor.h"
#include "bench_modes.h"
#include "bench_timing.h"
#include "common/event_pump.h"
#include "common/log_path.h"
#include "db/connection.h"
#include "db/query.h"
#include "db/statement_counts.h"
#include "support/bare_pg.h"
#include "support/recording_dialogs.h"
#include "support/test_db.h"
#include "terminals/licenca_row.h"
#include "terminals/slot_set.h"
#include "terminals/status_view.h"
#include "terminals/update_status_pass.h"
#include "update/export_links.h"
#include "update/export_view.h"
#include "update/reference_export.h"

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

constexpr int kTerminals = 33;
constexpr int kIbptRows = 20000;

using benchtiming::Clock;
using benchtiming::secondsSince;
using benchtiming::median;

// The window as the runs see it: every terminal box enabled.
class BenchView : public update::ExportView {
public:
    void clearPane(update::ExportPane) override {}
    void addLine(update::ExportPane, const QString&) override {}
    void addInterruptionLine(const QString&) override {}
    void setProgress(int) override {}
    void repaintProgress() override {}
    void setButtonEnabled(const QString&, bool) override {}
    bool terminalChecked(int n) const override { return n >= 1 && n <= 40 && checked[n]; }
    bool checkTerminalBox(const QString& numEcf) override
    {
        const int n = numEcf.toInt();
        if (n < 1 || n > 40)
            return false;
        checked[n] = true;
        return true;
    }
    bool todasChecked() const override { return false; }
    void checkTodasEcfs() override
    {
        for (int n = 1; n <= kTerminals; ++n)
            checked[n] = true;
    }
    void enableTodasEcfs() override {}
    bool totalChecked() const override { return false; }
    void checkTotal() override {}
    void checkEveryBoxButTotal() override { checkTodasEcfs(); }
    void uncheckAll() override { checked.fill(false); }

    std::array<bool, 41> checked{};
};

class NoBoxes : public terminals::UpdateStatusView {
public:
    void setTerminalBoxEnabled(int, bool) override {}
    void statusPassFinished() override {}
};

struct Member {
    update::Referencia which;
    int code;
    const char* table;
    const char* columns;
};

const Member kMembers[] = {
    {update::Referencia::Finalizadoras, 12, "FINALIZADORAS",
     "FINALIZADORA_ID, DESCRICAO, LEGENDA, LIMITE, FATOR, NUMAUT, COMISSAO, LIMTROCO, F_TROCO, F_CHEQUE, "
     "F_DIG_VALOR, F_AUTO, GAVETA, PONTOS, FINTROCO, TIPO_TRANSACAO, PARCELAS, T_TEF, C_DEBITO, C_CREDITO, "
     "CLIENTE_ID, FINCARTAOECF"},
    {update::Referencia::Tributos, 14, "TRIBUTOS",
     "TRIBUTO_ID, DESCRICAO, ALIQUOTA_ICMS, CODIGO_ECF, ORIGEM, TRIBUTACAO, CFOP"},
    {update::Referencia::Ibpt, 16, "IBTP", "IBTP_ID, CODIGO, EX, TABELA, ALIQIMP, ALIQNAC, VERSAO, ALIQEST, CARGA"},
};

struct Store {
    testsupport::TestDatabase server{testsupport::Template::Server};
    std::vector<std::unique_ptr<testsupport::TestDatabase>> terminals;
    QTemporaryDir folder;

    Store()
    {
        QDir(folder.path()).mkdir("QuiborSync_Logs");
        common::setProgramFolder(folder.path());
        server.exec("INSERT INTO CONFIG (TIMEOUT_ECFS) VALUES (300)");
        server.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO, LEGENDA, LIMITE, FATOR, F_TROCO, "
                    "TIPO_TRANSACAO, PARCELAS, FINCARTAOECF) SELECT g, 'FORMA ' || g, 'F' || g, 1500.50, 1, 'S', "
                    "'T', g % 6, 'CARTAO' FROM generate_series(1, 20) g");
        server.exec("INSERT INTO TRIBUTOS SELECT g, 'TRIBUTO ' || g, 18.00, 'T' || g, '0', '000', '5102' "
                    "FROM generate_series(1, 40) g");
        server.exec(QString("INSERT INTO IBTP SELECT g, lpad((10000000 + g)::text, 8, '0'), '', g % 2, 4.20, "
                            "13.45, '24.1.A', 18.00, 31.65 FROM generate_series(1, %1) g")
                        .arg(kIbptRows));
        for (int n = 1; n <= kTerminals; ++n) {
            auto t = std::make_unique<testsupport::TestDatabase>(testsupport::Template::Terminal);
            const QString num = QString("%1").arg(n, 3, 10, QChar('0'));
            t->exec("INSERT INTO LICENCA_IF (NUM_ECF) VALUES ('" + num + "')");
            server.exec(QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS, "
                                "DT_SYNC, HR_SYNC) VALUES ('%1', '%2', '%3', '%4', '%5', '%6', 'A', "
                                "current_date, current_time)")
                            .arg(num, t->name(), testsupport::testUser(), testsupport::testPassword(),
                                 testsupport::testHost(), QString::number(testsupport::testPort())));
            terminals.push_back(std::move(t));
        }
    }
};

// One store per cluster, made on first use under the mode's scope.
std::map<int, std::unique_ptr<Store>>& stores()
{
    static std::map<int, std::unique_ptr<Store>> s;
    return s;
}

Store& store(int mode)
{
    std::unique_ptr<Store>& s = stores()[mode];
    if (!s)
        s = std::make_unique<Store>();
    return *s;
}

void BM_ReferenceExports(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    if (benchmodes::skipUnavailable(state, mode))
        return;
    const benchmodes::ModeScope scope(mode);
    Store& s = store(mode);
    testsupport::ScopedRecordingDialogs dialogs;
    db::Connection server(s.server.params());
    server.setAutoReconnect(true);
    db::Query qConfig(server);
    qConfig.setText("SELECT * FROM CONFIG");
    qConfig.open();
    NoBoxes boxes;
    terminals::UpdateStatusPass pass({server, qConfig, boxes});
    terminals::SlotSet slotSet = terminals::SlotSet::forUpdate();
    {
        // As the window's creation leaves them: every slot open.
        db::Query rows(server);
        rows.setText("SELECT * FROM LICENCA_IF ORDER BY NUM_ECF");
        rows.open();
        for (int n = 1; !rows.eof(); rows.next(), ++n)
            slotSet.openFromRow(n, terminals::LicencaRow::read(rows));
    }
    BenchView view;
    update::UpdateFlags flags;
    const update::ExportLinks links{server, slotSet, pass, view, flags, {}, {}};

    for (auto _ : state) {
        double seconds = 0;
        db::StatementCounts all;
        for (int i = 0; i < 3; ++i) {
            const Member& m = kMembers[i];
            s.server.exec(QString("UPDATE LICENCA_IF SET IMPORTACAO = %1, CARGA_TOTAL = 1").arg(m.code));
            const db::StatementCounts before = db::statementCounts();
            const auto start = Clock::now();
            update::Exportar_Referencia(m.which, links);
            const double member = secondsSince(start);
            const db::StatementCounts counted = db::statementCounts() - before;
            all = db::StatementCounts{all.statements + counted.statements, all.commits + counted.commits,
                                      all.preparations + counted.preparations};
            benchmodes::sideBySide().add(std::string(m.table) + " export", mode, member * 1000,
                                         benchfloor::countsText(counted));
            seconds += member;
        }
        std::printf("[%s] exports %.0f ms; %s\n", benchmodes::name(mode), seconds * 1000,
                    benchfloor::countsText(all).c_str());
        std::fflush(stdout);
        if (!dialogs->shown.empty())
            state.SkipWithError(dialogs->texts().join(" / ").toStdString().c_str());
        if (s.terminals.back()->scalar("SELECT count(*) FROM ibtp") != QString::number(kIbptRows))
            state.SkipWithError("the last terminal did not get the IBPT table");
        state.SetIterationTime(seconds);
        benchmodes::sideBySide().add("all three exports", mode, seconds * 1000, benchfloor::countsText(all));
    }
}

void expectStatus(PGconn* conn, PGresult* r, ExecStatusType wanted)
{
    if (PQresultStatus(r) != wanted)
        throw std::runtime_error(PQerrorMessage(conn));
}

// COPY out of the server straight into the terminal, the terminal's table
// emptied beforehand (not timed).
double copyTable(PGconn* source, PGconn* destination, const Member& m)
{
    testsupport::PgResult truncate(PQexec(destination, (QString("TRUNCATE ") + m.table).toUtf8().constData()));
    expectStatus(destination, truncate.get(), PGRES_COMMAND_OK);
    const auto start = Clock::now();
    const QByteArray out = QString("COPY (SELECT %1 FROM %2) TO STDOUT").arg(m.columns, m.table).toUtf8();
    const QByteArray in = QString("COPY %1 (%2) FROM STDIN").arg(m.table, m.columns).toUtf8();
    testsupport::PgResult copyOut(PQexec(source, out.constData()));
    expectStatus(source, copyOut.get(), PGRES_COPY_OUT);
    testsupport::PgResult copyIn(PQexec(destination, in.constData()));
    expectStatus(destination, copyIn.get(), PGRES_COPY_IN);
    char* buffer = nullptr;
    int length = 0;
    while ((length = PQgetCopyData(source, &buffer, 0)) > 0) {
        PQputCopyData(destination, buffer, length);
        PQfreemem(buffer);
    }
    testsupport::PgResult outDone(PQgetResult(source));
    expectStatus(source, outDone.get(), PGRES_COMMAND_OK);
    PQputCopyEnd(destination, nullptr);
    testsupport::PgResult inDone(PQgetResult(destination));
    expectStatus(destination, inDone.get(), PGRES_COMMAND_OK);
    return secondsSince(start);
}

void BM_CopyProtocol(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    if (benchmodes::skipUnavailable(state, mode))
        return;
    const benchmodes::ModeScope scope(mode);
    Store& s = store(mode);
    testsupport::PgConn source = testsupport::connectBare(s.server.name());
    std::vector<testsupport::PgConn> destinations;
    for (const auto& t : s.terminals)
        destinations.push_back(testsupport::connectBare(t->name()));
    for (auto _ : state) {
        double seconds = 0;
        for (int i = 0; i < 3; ++i) {
            double member = 0;
            for (auto& d : destinations)
                member += copyTable(source.get(), d.get(), kMembers[i]);
            benchmodes::sideBySide().add(std::string("COPY floor of ") + kMembers[i].table + " (autocommit)", mode,
                                         member * 1000);
            seconds += member;
        }
        state.SetIterationTime(seconds);
        benchmodes::sideBySide().add("COPY floor of all three", mode, seconds * 1000);
        std::printf("[%s] COPY floor %.0f ms\n", benchmodes::name(mode), seconds * 1000);
    }
}

// COPY first: the exports then find the terminals as COPY left them.
BENCHMARK(BM_CopyProtocol)
    ->Arg(benchmodes::Fast)
    ->Arg(benchmodes::Durable)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
// Once per mode: the IBPT export goes row by row and takes minutes.
BENCHMARK(BM_ReferenceExports)
    ->Arg(benchmodes::Fast)
    ->Arg(benchmodes::Durable)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    common::setEventPump([] {});
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int mode : {benchmodes::Fast, benchmodes::Durable}) {
        const benchmodes::ModeScope scope(mode);
        stores().erase(mode);
    }
    std::printf("\n%d terminals, %d IBPT rows:", kTerminals, kIbptRows);
    benchmodes::sideBySide().print();
    benchmodes::sideBySide().printRatio("exports against COPY", "all three exports", "COPY floor of all three");
    for (const Member& m : kMembers)
        benchmodes::sideBySide().printRatio(std::string(m.table) + " against COPY", std::string(m.table) + " export",
                                            std::string("COPY floor of ") + m.table + " (autocommit)");
    return 0;
}
