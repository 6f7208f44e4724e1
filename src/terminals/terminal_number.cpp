#include "terminals/terminal_number.h"

#include "db/errors.h"

namespace terminals {

std::optional<int> tryNumeroEcf(const QString& numEcf)
{
    const QString t = numEcf.trimmed();
    int i = 0;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        ++i;
    if (i == t.size())
        return std::nullopt;
    for (int j = i; j < t.size(); ++j)
        if (t[j] < u'0' || t[j] > u'9')
            return std::nullopt;
    bool ok = false;
    const int n = t.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return n;
}

int numeroEcf(const QString& numEcf)
{
    if (auto n = tryNumeroEcf(numEcf))
        return *n;
    throw db::UsageError(QString("'%1' não é um número inteiro válido").arg(numEcf));
}

QString numEcfText(int n) { return QString("%1").arg(n, 3, 10, QChar(u'0')); }
QString twoDigits(int n) { return QString("%1").arg(n, 2, 10, QChar(u'0')); }
QString ecfLabel(int n) { return "Ecf" + twoDigits(n); }
QString ecfBoxName(int n) { return "Ecf" + numEcfText(n); }
QString logSection(const QString& numEcf) { return "Ecf " + numEcf; }
QString onPrefix(int n) { return ecfLabel(n) + " - ON - "; }
QString offPrefix(int n) { return ecfLabel(n) + " - OFF - "; }

} // namespace terminals
