#include "update/link_interruption.h"

#include "db/connection.h"
#include "db/copy/copy_log_book.h"
#include "db/link_failure.h"
#include "terminals/terminal_number.h"

namespace update {

QString linhaServidorInterrompido(const QString& reason)
{
    return QStringLiteral("Servidor: exporta\u00e7\u00e3o interrompida - ") + reason;
}

QString linhaCaixaIgnorado(const QString& numEcf, const QString& run, const QString& reason)
{
    const std::optional<int> n = terminals::tryNumeroEcf(numEcf);
    const QString ecf = n ? terminals::ecfLabel(*n) : QStringLiteral("Ecf") + numEcf;
    return ecf + QStringLiteral(" - ") + run + QStringLiteral(": caixa ignorado - ") + reason;
}

Interrupcoes::Interrupcoes(db::Connection& server, QString run, std::function<void(const QString&)> addLine)
    : server_(server), run_(std::move(run)), addLine_(std::move(addLine))
{
}

void Interrupcoes::useLogs(db::CopyLogBook& logs, const QStringList& paths)
{
    logs_ = &logs;
    logPaths_ = paths;
}

bool Interrupcoes::caixaPerdido(const std::exception& failure, const QString& numEcf)
{
    if (const auto* servidor = dynamic_cast<const ServidorInterrompido*>(&failure))
        throw ServidorInterrompido(*servidor);
    if (!db::isLinkFailure(failure))
        return false;
    const QString reason = db::failureReason(failure);
    // A terminal's step also runs statements on the server: when the
    // server's link is the one found lost, every later terminal would fail
    // on it too.
    if (!server_.linkUp())
        throw ServidorInterrompido(reason);
    tell(linhaCaixaIgnorado(numEcf, run_, reason), terminals::logSection(numEcf));
    return true;
}

void Interrupcoes::encerrarSeServidorPerdido(const std::exception& failure)
{
    const auto* servidor = dynamic_cast<const ServidorInterrompido*>(&failure);
    if (!servidor && !db::isLinkFailure(failure))
        return;
    const QString reason = servidor ? servidor->reason() : db::failureReason(failure);
    if (!servidor || !servidor->told())
        tell(linhaServidorInterrompido(reason), QString());
    throw ServidorInterrompido(reason, true);
}

void Interrupcoes::tell(const QString& line, const QString& section)
{
    addLine_(line);
    if (!logs_)
        return;
    for (const QString& path : logPaths_) {
        try {
            logs_->note(path, section, line);
        } catch (const std::exception&) {
            // The pane has the line; a log that cannot be written must not
            // hold the run either.
        }
    }
}

} // namespace update
