#pragma once
// Event handlers end at their first unguarded failure; the failure is then
// shown in the application's standard error box, as the message loop would.

#include <QString>
#include <exception>
#include <functional>

namespace ui {

// The failure's own text: the server's message for database errors.
QString failureText(const std::exception& e);

// Runs `handler`; a failure escaping it goes to dialogs().plain(). Returns
// false when it failed.
bool runHandler(const std::function<void()>& handler);

} // namespace ui
