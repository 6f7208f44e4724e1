#pragma once
// Program folder and the copy runs' log paths. The relative names keep the
// backslashes they are written with ("QuiborSync_Logs\Log_Transacoes.log");
// this is the one place that turns them into native paths.

#include <QString>

namespace common {

// Folder of the running executable, ending with a separator. Tests point it
// at a temporary folder.
QString programFolder();
void setProgramFolder(const QString& folder);

// programFolder() + relative name, with native separators.
QString programPath(const QString& relativeName);

} // namespace common
