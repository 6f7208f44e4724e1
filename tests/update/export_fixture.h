#pragma once
// Shared by the product and reference export tests: a server database, a
// terminal database per registered terminal (its own LICENCA_IF row in it),
// and the update window created and shown as the program does, with
// company 3 as the current one.

#include "support/program_fixture.h"

#include "ecf_boxes.h"

#include "update/update_window.h"

#include <QCheckBox>
#include <QDir>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <map>
#include <memory>

namespace exporttest {

using progtest::quoted;
using testsupport::Template;
using testsupport::TestDatabase;

using testsupport::numEcf;

class ExportFixture : public ::testing::Test {
protected:
    ~ExportFixture() override
    {
        if (window)
            window->close();
        window.reset();
    }

    // Registers terminal `t` on the server with a database of its own,
    // holding its own LICENCA_IF row (IMPORTACAO `ownCode`).
    TestDatabase& addTerminal(progtest::Terminal t, int ownCode = 0)
    {
        auto pdv = std::make_unique<TestDatabase>(Template::Terminal);
        t.banco = pdv->name();
        store.add(t);
        pdv->exec(QString("INSERT INTO LICENCA_IF (NUM_ECF, IMPORTACAO) VALUES (%1, %2)").arg(quoted(t.num)).arg(ownCode));
        TestDatabase& out = *pdv;
        pdvs[t.num] = std::move(pdv);
        return out;
    }
    TestDatabase& pdv(const QString& num) { return *pdvs.at(num); }

    update::TFrmConversor& open()
    {
        store.useIni(folder);
        window = std::make_unique<update::TFrmConversor>();
        window->setAttribute(Qt::WA_DeleteOnClose, false); // the test owns it
        window->setEmpresaAtual([] { return qint64(3); });
        window->FormCreate();
        window->show();
        return *window;
    }

    QCheckBox* box(const QString& name) { return window->findChild<QCheckBox*>(name); }
    QCheckBox* box(int n) { return updatetest::ecfBox(*window, n); }
    QPushButton* button(const char* name) { return window->findChild<QPushButton*>(name); }
    QStringList pane(const char* name)
    {
        const QString text = window->findChild<QPlainTextEdit*>(name)->toPlainText();
        return text.isEmpty() ? QStringList() : text.split('\n');
    }
    void fillPane(const char* name, const QString& text)
    {
        window->findChild<QPlainTextEdit*>(name)->setPlainText(text);
    }
    int progress() { return window->findChild<QProgressBar*>("ProgressBar1")->value(); }

    QList<int> ticked() { return updatetest::tickedBoxes(*window); }
    bool anyBoxChecked()
    {
        for (QCheckBox* b : window->findChildren<QCheckBox*>())
            if (b->isChecked())
                return true;
        return false;
    }

    QString log(const QString& name)
    {
        QFile f(QDir(folder.dir.path()).filePath("QuiborSync_Logs/" + name));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString("<no log>");
    }

    QString shownTexts() { return dialogs->texts().join(" / "); }

    // Raises `channel` on the server; true once the window has handled it.
    bool notifyAndWait(const QString& channel)
    {
        QSignalSpy handled(window.get(), &update::TFrmConversor::notificationHandled);
        store.db.exec("NOTIFY " + channel);
        return testsupport::waitFor(
            [&] {
                for (const QList<QVariant>& args : handled)
                    if (args.value(0).toString() == channel)
                        return true;
                return false;
            },
            testsupport::kWindowRunMs);
    }

    progtest::ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    progtest::Store store;
    std::map<QString, std::unique_ptr<TestDatabase>> pdvs;
    std::unique_ptr<update::TFrmConversor> window;
};

} // namespace exporttest
