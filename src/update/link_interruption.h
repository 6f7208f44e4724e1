#pragma once
// A server or terminal that goes away during a run of this window is never a
// box: nothing is wrong with the data and the next request brings it, while
// a box would hold the run until someone clicks. The run's work on that link
// ends with one red line in Memo1, the same text goes into the run's copy
// log when it has one, and what was not written is neither stamped nor
// closed, so the next request serves it. Other terminals are still served
// when only a terminal went.

#include <QString>
#include <QStringList>
#include <functional>
#include <stdexcept>

namespace db {
class Connection;
class CopyLogBook;
} // namespace db

namespace update {

// Raised inside a run when the server's link went: the run ends there, and
// so does the handler that started it. `told`: its line is in the pane
// already, so whoever catches it further out adds none.
class ServidorInterrompido : public std::runtime_error {
public:
    explicit ServidorInterrompido(const QString& reason, bool told = false)
        : std::runtime_error(reason.toStdString()), reason_(reason), told_(told) {}
    const QString& reason() const { return reason_; }
    bool told() const { return told_; }

private:
    QString reason_;
    bool told_;
};

// "Servidor: exportação interrompida - " + reason.
QString linhaServidorInterrompido(const QString& reason);
// "Ecf07 - " + run + ": caixa ignorado - " + reason; a NUM_ECF that is no
// number is shown as it is.
QString linhaCaixaIgnorado(const QString& numEcf, const QString& run, const QString& reason);

// The link failures of one run, told in its pane and its logs.
class Interrupcoes {
public:
    // `run`: the run's name in a terminal's line. `addLine`: the view's red
    // line in Memo1.
    Interrupcoes(db::Connection& server, QString run, std::function<void(const QString&)> addLine);

    // The run's copy logs (full paths): every line lands in each, a
    // terminal's under that terminal's section.
    void useLogs(db::CopyLogBook& logs, const QStringList& paths);

    // A failure met while serving terminal `numEcf`. The terminal's link
    // went: its line is told and true returned, so the run goes on with the
    // next terminal. The server's link went: raises ServidorInterrompido.
    // Anything else is the statement's own refusal: false, and the caller
    // keeps its own handling of it.
    bool caixaPerdido(const std::exception& failure, const QString& numEcf);

    // A failure that ends the run. The server's link went (or a
    // ServidorInterrompido): its line is told, unless it was already, and
    // a ServidorInterrompido that says so is raised, ending the handler
    // too. Returns otherwise: the caller passes the failure on.
    void encerrarSeServidorPerdido(const std::exception& failure);

private:
    void tell(const QString& line, const QString& section);

    db::Connection& server_;
    QString run_;
    std::function<void(const QString&)> addLine_;
    db::CopyLogBook* logs_ = nullptr;
    QStringList logPaths_;
};

} // namespace update
