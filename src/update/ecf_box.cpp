#include "update/ecf_box.h"

namespace update {

int caixaDoNumEcf(const QString& numEcf)
{
    // Box names carry exactly three digits, so "7" or " 07" name no box.
    if (numEcf.size() != 3)
        return 0;
    for (const QChar c : numEcf)
        if (c < u'0' || c > u'9')
            return 0;
    const int n = numEcf.toInt();
    return n >= 1 && n <= kEcfBoxCount ? n : 0;
}

} // namespace update
