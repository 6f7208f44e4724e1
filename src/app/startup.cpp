#include "app/startup.h"

#include "app/instance_guard.h"
#include "app/sales_startup.h"
#include "app/statement_counts_file.h"
#include "sales/sales_window.h"
#include "update/update_window.h"

#include <QApplication>
#include <QThread>

namespace app {

ProgramWindows::ProgramWindows() = default;

ProgramWindows::~ProgramWindows()
{
    delete update.data();
}

std::unique_ptr<ProgramWindows> createWindows()
{
    auto windows = std::make_unique<ProgramWindows>();
    windows->sales = std::make_unique<sales::TFrmConversor_Vendas>();
    const StartOutcome outcome = runSalesStartup(*windows->sales);
    windows->mustEnd = outcome == StartOutcome::AnotherRunning;

    windows->update = new update::TFrmConversor();
    windows->update->FormCreate();
    // The mark goes with this copy's update window. A copy whose start
    // checked for others and then cannot hold it must not run beside one
    // that may; a start cut short never checked, and keeps its old way.
    if (!windows->mustEnd) {
        const bool checked = outcome == StartOutcome::Started;
        if (!holdMarkFor(windows->update, checked) && checked)
            windows->mustEnd = true;
    }

    // The sales window lives as long as the program, so the update window
    // may always call it.
    sales::TFrmConversor_Vendas* sales = windows->sales.get();
    windows->update->setEmpresaAtual([sales] { return sales->qEmpresa().field("EMPRESA_ID").asInteger(); });
    windows->update->setVendasLink(update::VendasLink{
        [sales] { return sales->monitorLigado(); },
        [sales] { return sales->flags().Importacao_Livre; },
        [sales] { sales->Button3Click(); },
        [sales] { sales->flags().Importacao_Livre = false; },
        [sales] { sales->Button2Click(); },
    });

    // A closed update window is gone; "Atualizar Dados" then skips the call.
    windows->sales->setHabilitarbotoes([update = windows->update] {
        if (update)
            update->Habilitarbotoes();
    });
    // The update window's notifications clear every request, sales requests
    // included: after an outage the sales window serves its own first.
    windows->update->setBeforeCatchUp(
        [sales = windows->sales.get()](std::function<void()> then) { sales->catchUpAfterOutage(std::move(then)); });
    return windows;
}

void showWindows(ProgramWindows& windows)
{
    // The update window is created visible; the main window shows when the
    // loop is about to run.
    if (windows.update)
        windows.update->show();
    windows.sales->show();
}

namespace {

// Ends the message loop without asking the windows to close: the update
// window refuses while a run goes on, which would drop the request and
// leave the process running with no window. The loop ends when control is
// back in it, so a run in progress (it turns the loop from inside) is
// over by then.
void endLoop()
{
    // A queued call can be served by a turn the start-up lets run before
    // the loop does; there is no loop to end yet, so it asks again.
    if (QThread::currentThread()->loopLevel() == 0) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), &endLoop, Qt::QueuedConnection);
        return;
    }
    QCoreApplication::exit(0);
}

} // namespace

int runProgram(QApplication& application)
{
    keepStatementCountsWhenAsked(&application);
    auto windows = createWindows();
    // The main window ends the program, the update window with it.
    QObject::connect(windows->sales.get(), &sales::TFrmConversor_Vendas::closed, &application, &endLoop);
    application.setQuitOnLastWindowClosed(false);
    showWindows(*windows);
    if (windows->mustEnd)
        QMetaObject::invokeMethod(&application, &endLoop, Qt::QueuedConnection);
    return application.exec();
}

} // namespace app
