#include "ui/dialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace ui {
namespace {

class MessageBoxDialogs : public Dialogs {
public:
    void info(const QString& text) override
    {
        QMessageBox::information(QApplication::activeWindow(), "QuiborSync", text);
    }
    void error(const QString& text) override
    {
        QMessageBox box(QMessageBox::Critical, "Erro", text, QMessageBox::Ok);
        box.setWindowModality(Qt::ApplicationModal);
        box.exec();
    }
    bool question(const QString& text) override
    {
        QMessageBox box(QMessageBox::Information, "QuiborSync", text, QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }
    void plain(const QString& text) override
    {
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok);
        box.exec();
    }
};

std::shared_ptr<Dialogs>& current()
{
    static std::shared_ptr<Dialogs> d = std::make_shared<MessageBoxDialogs>();
    return d;
}

} // namespace

Dialogs& dialogs() { return *current(); }

void setDialogs(std::shared_ptr<Dialogs> replacement)
{
    current() = replacement ? std::move(replacement) : std::make_shared<MessageBoxDialogs>();
}

} // namespace ui
