#include "common/formatar_numero.h"

namespace common {

QString Formatar_Numero(const QString& s, int w, int d)
{
    QString integerPart;
    QString decimalPart;
    bool afterComma = false;

    for (const QChar ch : s) {
        if (ch == QLatin1Char(','))
            afterComma = true;
        if (!afterComma)
            integerPart.append(ch);
        else if (decimalPart.size() < d && ch != QLatin1Char(','))
            decimalPart.append(ch);
    }
    while (decimalPart.size() < d)
        decimalPart.append(QLatin1Char('0'));

    QString result = integerPart + decimalPart;
    if (result.size() < w)
        result.prepend(QString(w - result.size(), QLatin1Char('0')));
    return result;
}

} // namespace common
