// Every caption and label of both windows shows its whole text at the
// window's fixed size, with the texts the program puts there while it runs.

#include "support/program_fixture.h"

#include "app/startup.h"
#include "sales/carga_vendas.h"
#include "sales/sales_window.h"
#include "update/update_window.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QStyle>
#include <QStyleOptionButton>

namespace {

using namespace progtest;

// The widgets of `window` whose text does not fit, one "name: text (needs x
// px, has y)" line each; empty when everything fits.
std::string cutTexts(QWidget& window)
{
    QStringList cut;
    auto report = [&](QWidget* w, const QString& text, int needs, int has) {
        if (needs > has)
            cut << QString("%1: \"%2\" (needs %3 px, has %4)").arg(w->objectName(), text).arg(needs).arg(has);
    };
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&window))
            continue;
        const QFontMetrics metrics = w->fontMetrics();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty())
                continue;
            const QSize text = metrics.size(Qt::TextSingleLine, label->text());
            report(label, label->text(), text.width(), label->contentsRect().width());
            report(label, label->text() + " (height)", text.height(), label->contentsRect().height());
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            // The room the style leaves for the text beside the indicator or
            // inside the bevel.
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const bool box = qobject_cast<QCheckBox*>(button) != nullptr;
            const QRect room = button->style()->subElementRect(
                box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, button);
            report(button, button->text(), metrics.horizontalAdvance(button->text()), room.width());
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            report(group, group->title(), metrics.horizontalAdvance(group->title()), group->contentsRect().width());
        }
    }
    return cut.join('\n').toStdString();
}

class Captions : public ::testing::Test {
protected:
    ProgramFolder folder;
    testsupport::ScopedRecordingDialogs dialogs;
    Store store;
};

TEST_F(Captions, EveryTextFitsInBothWindows)
{
    store.add({.num = "001"});
    store.useIni(folder);
    auto windows = app::createWindows();
    auto& sales = *windows->sales;
    ASSERT_TRUE(windows->update);
    windows->update->show();
    sales.show();
    // An import run writes the database label the way the program does.
    sales.cargaVendas().run();
    ASSERT_TRUE(dialogs->shown.empty()) << dialogs->texts().join(" / ").toStdString();
    ASSERT_TRUE(sales.findChild<QLabel*>("Label6")->text().startsWith("Banco: "));

    EXPECT_EQ(cutTexts(sales), "");
    EXPECT_EQ(cutTexts(*windows->update), "");
    saveScreenshot(sales, "captions_sales_window");
    saveScreenshot(*windows->update, "captions_update_window");

    // The texts of a store: a full IPv4 address, a database name of twenty
    // letters, and the business date in the forms of the locales the program
    // meets, on the widest day and month.
    const QDate widest(2024, 12, 28);
    for (const QLocale& locale : {QLocale(QLocale::Portuguese, QLocale::Brazil), QLocale::c(),
                                  QLocale(QLocale::English, QLocale::UnitedStates)}) {
        SCOPED_TRACE(locale.name().toStdString());
        sales.setServerLabel("Ip: 192.168.100.200");
        sales.showDatabaseLabel("Banco: quibor_server_centro - " + locale.toString(widest, QLocale::ShortFormat));
        EXPECT_EQ(cutTexts(sales), "");
    }

    // The monitor switch's other caption.
    sales.Button3Click();
    EXPECT_EQ(cutTexts(sales), "");
}

} // namespace
