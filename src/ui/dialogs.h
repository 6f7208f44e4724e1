#pragma once
// Every message box of the program goes through this interface, so a test
// can read what would be shown and answer Yes/No.

#include <QString>
#include <memory>

namespace ui {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Caption "QuiborSync", information icon.
    virtual void info(const QString& text) = 0;
    // Caption "Erro", error icon, task-modal.
    virtual void error(const QString& text) = 0;
    // Caption "QuiborSync", Yes/No; true for Yes.
    virtual bool question(const QString& text) = 0;
    // A plain message: the application's standard box for unguarded
    // failures and short notices.
    virtual void plain(const QString& text) = 0;
};

// The process-wide dialogs; message boxes unless a test installed others.
Dialogs& dialogs();
void setDialogs(std::shared_ptr<Dialogs> replacement);

} // namespace ui
