#include "app/sales_startup.h"

#include "app/instance_guard.h"
#include "config/ini_file.h"
#include "config/ini_keys.h"
#include "config/server_params.h"
#include "config/version.h"
#include "db/query.h"
#include "sales/sales_window.h"
#include "terminals/startup_pass.h"
#include "ui/dialogs.h"
#include "ui/standard_error.h"

#include <QCoreApplication>
#include <QDateTime>

namespace app {
namespace {

void stampAbertura(db::Connection& server)
{
    db::Query q(server);
    q.setText("UPDATE ABERTURA SET DT_SYNC = :DATA, HR_SYNC = :HORA , RESET = 0 ");
    q.bindDateTime("DATA", QDateTime(QDate::currentDate(), QTime(0, 0)));
    q.bindTime("HORA", QTime::currentTime());
    q.prepare();
    q.exec();
}

// Leaves QEmpresa open on the active company with the highest EMPRESA_ID.
void selectCompany(sales::TFrmConversor_Vendas& w)
{
    db::Query empresas(w.server());
    empresas.setText("SELECT * FROM EMPRESAS WHERE STATUS = :STATUS ORDER BY EMPRESA_ID");
    empresas.bindText("STATUS", "A");
    empresas.prepare();
    empresas.open();
    db::Query& qEmpresa = w.qEmpresa();
    for (empresas.first(); !empresas.eof(); empresas.next()) {
        qEmpresa.clear();
        qEmpresa.addLine("SELECT * FROM EMPRESAS");
        qEmpresa.addLine("WHERE");
        qEmpresa.addLine("(EMPRESA_ID = :EMPRESA_ID)");
        qEmpresa.addLine("AND (STATUS = 'A')");
        qEmpresa.bindInteger("EMPRESA_ID", empresas.field("EMPRESA_ID").asInteger());
        qEmpresa.prepare();
        qEmpresa.open();
    }
}

void openIfClosed(db::Query& q)
{
    if (!q.isOpen())
        q.open();
}

void stampVersion(db::Connection& server)
{
    db::Query q(server);
    q.setText("UPDATE CONFIG SET VERSAO_SYNC = :VERSAO");
    q.bindText("VERSAO", versionStamp());
    q.prepare();
    q.exec();
}

bool consistirEnabled(const db::Query& config)
{
    // DIAS_CONSISTIR is only read when CONSISTIR_PDV does not decide.
    return config.field("CONSISTIR_PDV").asString() == QLatin1String("True")
           || config.field("DIAS_CONSISTIR").asInteger() > 0;
}

} // namespace

StartOutcome runSalesStartup(sales::TFrmConversor_Vendas& w)
{
    // The client library is found through the executable's run path
    // (DllsPG beside it), fixed at link time; nothing to set here.
    const QString ini = iniPath();
    w.setIniPath(ini);
    db::Connection& server = w.server();
    server.close();

    try {
        server.params() = serverParamsFromIni(ini, server.params());
        server.open();
        w.abertura().open();
        w.setServerLabel(QStringLiteral("Ip: ") + LeIni(ini, iniSecaoConexao(), iniServerName()));
        w.clearLabel6();
    } catch (...) {
        // Reported by the next step, which opens the connection again.
    }

    const bool reachedStep6 = ui::runHandler([&] {
        server.open();
        openIfClosed(w.abertura());
        openIfClosed(w.config());
        selectCompany(w);
    });
    if (!reachedStep6)
        return StartOutcome::Interrupted;

    try {
        terminals::passagemInicialTerminais({server, w.qListPdv(), w.slotSet(), w.config(), w});
        stampAbertura(server);
    } catch (const std::exception& e) {
        ui::dialogs().error(QStringLiteral("Erro Abertura:\rErro Abertura") + ui::failureText(e));
    }

    bool anotherRunning = false;
    const bool completed = ui::runHandler([&] {
        w.switchListenerOn();
        stampVersion(server);
        w.setWindowTitle(versionCaption());
        w.setConsistirEnabled(consistirEnabled(w.config()));
        // Before this copy's update window exists, so a mark found belongs
        // to another copy.
        if (noOtherCopyRuns())
            QCoreApplication::setApplicationName(QStringLiteral("QuiborSync.EXE"));
        else
            anotherRunning = true;
    });
    if (anotherRunning)
        return StartOutcome::AnotherRunning;
    return completed ? StartOutcome::Started : StartOutcome::Interrupted;
}

} // namespace app
