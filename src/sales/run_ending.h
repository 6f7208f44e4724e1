#pragma once
// Failures that end a run's work on a link rather than a row's: nothing is
// wrong with the row, the next run brings it, so they are never shown in a
// row's box. A terminal that cannot be served now is left for a later pass
// and the run goes on with the next one; a lost server link ends the run,
// said in one line of the status pane, and every request it did not finish
// stays for the next run.

#include <QString>
#include <exception>
#include <optional>
#include <stdexcept>

namespace sales {

// A terminal the run cannot serve now: its link could not be made or was
// lost, it stopped answering, or its till holds a lock the run needs. Its
// remaining tables are left as they are (rows at 0 or 1 wait for a later
// pass), and the run goes on with the next terminal.
class TerminalSkipped : public std::runtime_error {
public:
    explicit TerminalSkipped(const QString& reason)
        : std::runtime_error(reason.toStdString()), reason_(reason) {}
    const QString& reason() const { return reason_; }

private:
    QString reason_;
};

// The server link failed (lost, restarting, or a statement given up on) in
// the middle of a terminal's work: the run ends where it is.
class ServerLost : public std::runtime_error {
public:
    explicit ServerLost(const QString& reason)
        : std::runtime_error(reason.toStdString()), reason_(reason) {}
    const QString& reason() const { return reason_; }

private:
    QString reason_;
};

// The pane line (and copy-log line) of a run ended by the server link:
// "Servidor: importação interrompida - " + reason.
QString serverLostLine(const QString& reason);

// For code whose statements all go to the server: raises ServerLost when
// `failure` is a failure of the link; returns otherwise (a ServerLost or a
// TerminalSkipped, already told apart, included).
void raiseIfServerLinkFailed(const std::exception& failure);
// The same for code whose statements all go to the terminal: raises
// TerminalSkipped.
void raiseIfTerminalLinkFailed(const std::exception& failure);

// The reason of a failure that ends the run at the server link: a
// ServerLost, or a failure of the link met where only server statements
// run. None for any other failure.
std::optional<QString> serverLostReason(const std::exception& failure);

// The row's own failure, refused by the server for its data: the one shown
// in the row's box. False for everything that ends a run's work on a link.
bool refusedForItsData(const std::exception& failure);

} // namespace sales
