#include "sales/run_ending.h"

#include "db/link_failure.h"

namespace sales {
namespace {

bool toldApart(const std::exception& failure)
{
    return dynamic_cast<const ServerLost*>(&failure) || dynamic_cast<const TerminalSkipped*>(&failure);
}

} // namespace

QString serverLostLine(const QString& reason)
{
    return QStringLiteral("Servidor: importa\u00e7\u00e3o interrompida - ") + reason;
}

void raiseIfServerLinkFailed(const std::exception& failure)
{
    if (!toldApart(failure) && db::isLinkFailure(failure))
        throw ServerLost(db::failureReason(failure));
}

void raiseIfTerminalLinkFailed(const std::exception& failure)
{
    if (!toldApart(failure) && db::isLinkFailure(failure))
        throw TerminalSkipped(db::failureReason(failure));
}

std::optional<QString> serverLostReason(const std::exception& failure)
{
    if (const auto* lost = dynamic_cast<const ServerLost*>(&failure))
        return lost->reason();
    if (!dynamic_cast<const TerminalSkipped*>(&failure) && db::isLinkFailure(failure))
        return db::failureReason(failure);
    return std::nullopt;
}

bool refusedForItsData(const std::exception& failure)
{
    return !toldApart(failure) && !db::isLinkFailure(failure);
}

} // namespace sales
