// The program's end, with its message loop running as main() runs it.

#include "support/program_fixture.h"

#include "app/startup.h"
#include "common/event_pump.h"
#include "common/scope_exit.h"
#include "sales/sales_window.h"
#include "update/update_window.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

namespace {

using namespace progtest;

// The update window refuses to close while one of its runs goes on. Closing
// the main window meanwhile must still end the program, once that run is
// over, rather than leave it running with no window.
TEST(ProgramEnd, ClosingTheMainWindowDuringAnUpdateRunEndsTheProgramAfterTheRun)
{
    ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    RecordingEnder ender;
    Store store;
    TestDatabase pdv(Template::Terminal);
    store.add({.num = "001", .banco = pdv.name()});
    store.db.exec("INSERT INTO FINALIZADORAS (FINALIZADORA_ID, DESCRICAO, CLIENTE_ID) VALUES (1, 'PRAZO', 0)");
    store.db.exec("INSERT INTO CLIENTES (CLIENTE_ID, NOME, LIMITE, DT_ATUALIZACAO) VALUES (1, 'CARLOS', 300, "
                  "current_date)");
    store.useIni(folder);

    QObject scope; // what the test connects goes with it
    common::ScopeExit pumpBack([] { common::setEventPump({}); });
    auto window = [](auto* none) -> decltype(none) {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* found = qobject_cast<decltype(none)>(w))
                return found;
        return nullptr;
    };
    // Once the loop runs with both windows shown, a manual customer export
    // starts, and the main window is closed between two of its rows.
    bool closedInsideTheRun = false;
    int turnsAfterTheClose = 0;
    QTimer ready;
    ready.setInterval(10);
    QObject::connect(&ready, &QTimer::timeout, &scope, [&] {
        auto* sales = window(static_cast<sales::TFrmConversor_Vendas*>(nullptr));
        auto* update = window(static_cast<update::TFrmConversor*>(nullptr));
        if (!sales || !update || !sales->isVisible() || QThread::currentThread()->loopLevel() == 0)
            return;
        ready.stop();
        common::setEventPump([&, sales] {
            if (closedInsideTheRun)
                ++turnsAfterTheClose;
            else
                closedInsideTheRun = sales->close();
        });
        QTest::mouseClick(update->findChild<QPushButton*>("btn_exportar_cliente"), Qt::LeftButton);
    });
    ready.start();
    // What the update window says as the loop ends.
    QString memoAtTheEnd;
    QObject::connect(&progtest::app(), &QCoreApplication::aboutToQuit, &scope, [&] {
        if (auto* update = window(static_cast<update::TFrmConversor*>(nullptr)))
            memoAtTheEnd = update->findChild<QPlainTextEdit*>("Memo1")->toPlainText();
    });
    // Bounded like every wait: a loop nobody ends returns 99.
    QTimer::singleShot(testsupport::kWindowRunMs, &scope, [] { QCoreApplication::exit(99); });

    const int code = app::runProgram(progtest::app());

    EXPECT_TRUE(closedInsideTheRun);
    EXPECT_EQ(code, 0);
    // The run went on to its end, and the program ended after it.
    EXPECT_GT(turnsAfterTheClose, 0);
    EXPECT_EQ(memoAtTheEnd, "Finalizado Clientes!");
    EXPECT_EQ(ender.calls, 0);
    EXPECT_EQ(dialogs->texts(), QStringList{QStringLiteral("Deseja realmente encerrar a aplica\u00e7\u00e3o?")});
}

// A second copy ends as soon as its loop runs, without asking whether to
// end: a No would have kept it running beside the first.
TEST(ProgramEnd, ASecondCopyEndsAsItsLoopStarts)
{
    ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    Store store;
    store.add({.num = "001"});
    store.useIni(folder);
    auto first = app::createWindows();
    ASSERT_FALSE(first->mustEnd);

    QObject scope;
    QTimer::singleShot(testsupport::kWindowRunMs, &scope, [] { QCoreApplication::exit(99); });
    const int code = app::runProgram(progtest::app());

    EXPECT_EQ(code, 0);
    EXPECT_EQ(dialogs->texts(), QStringList{"Sistema j\u00e1 est\u00e1 em execu\u00e7\u00e3o, favor verificar."});
}

} // namespace
