#pragma once
// Version texts: the stamp written into CONFIG.VERSAO_SYNC and the window
// captions.

#include <QString>

namespace app {

inline constexpr char kVersionNumber[] = "2.0.1";
inline constexpr char kVersionDate[] = "01-11-2022";

// Number and date joined by "|" without blanks.
inline QString versionStamp()
{
    return QLatin1String(kVersionNumber) + QLatin1Char('|') + QLatin1String(kVersionDate);
}

// The sales window's caption once it has started; the leading blank belongs
// to it.
inline QString versionCaption()
{
    return QStringLiteral(" QuiborSync(") + QLatin1String(kVersionNumber)
           + QStringLiteral(" | ") + QLatin1String(kVersionDate)
           + QStringLiteral(") -Atualizar Vendas(Servidor)");
}

// Caption the sales window shows until its start-up sets the one above.
inline QString builtInCaption()
{
    return QStringLiteral("QuiborSync(1.0.0) -Atualizar Vendas(Servidor)");
}

} // namespace app
