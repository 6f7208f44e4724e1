#include "app/startup.h"

#include <QApplication>
#include <QMainWindow>

namespace app {

int runProgram(QApplication& application)
{
    // Placeholder windows until the start-up sequence lands.
    QMainWindow sales;
    sales.setWindowTitle("QuiborSync(1.0.0) -Atualizar Vendas(Servidor)");
    sales.show();
    QMainWindow update;
    update.setWindowTitle("QuiborSync");
    update.show();
    return application.exec();
}

} // namespace app
