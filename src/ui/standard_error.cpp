#include "ui/standard_error.h"

#include "db/errors.h"
#include "ui/dialogs.h"

namespace ui {

QString failureText(const std::exception& e)
{
    if (const auto* dbError = dynamic_cast<const db::Error*>(&e))
        return dbError->message();
    return QString::fromUtf8(e.what());
}

bool runHandler(const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (const AlreadyTold&) {
    } catch (const std::exception& e) {
        dialogs().plain(failureText(e));
    } catch (...) {
        dialogs().plain(QStringLiteral("Erro desconhecido"));
    }
    return false;
}

} // namespace ui
