#pragma once
// The store the terminal-pass benchmarks share: 33 active terminals in
// LICENCA_IF, every third of them (up to ten, spread over the list) at a
// silent address whose connects time out, the others at the test cluster.

#include "support/test_db.h"

#include <QChar>
#include <QString>

namespace benchstore {

constexpr int kTerminals = 33;
constexpr int kSilent = 10;

// The answering terminals log in to `tillDatabase` with the test user and
// `password`; each row starts with IMPORTACAO `importacao`.
inline void registerTerminals(const testsupport::TestDatabase& server, const QString& tillDatabase,
                              const QString& password, const QString& silentPort, int importacao)
{
    int silentLeft = kSilent;
    for (int n = 1; n <= kTerminals; ++n) {
        const bool isSilent = silentLeft > 0 && n % 3 == 1;
        silentLeft -= isSilent;
        const QString port = isSilent ? silentPort : QString::number(testsupport::testPort());
        server.exec(QString("INSERT INTO LICENCA_IF (NUM_ECF, BANCO, USUARIO, SENHA, IP, PORTA, STATUS, "
                            "IMPORTACAO, DT_SYNC, HR_SYNC) VALUES ('%1', '%2', '%3', '%4', '%5', '%6', 'A', %7, "
                            "current_date, current_time)")
                        .arg(n, 3, 10, QChar('0'))
                        .arg(tillDatabase, testsupport::testUser(), password, testsupport::testHost(), port)
                        .arg(importacao));
    }
}

} // namespace benchstore
