#pragma once
// Event handlers end at their first unguarded failure; the failure is then
// shown in the application's standard error box, as the message loop would.

#include <QString>
#include <exception>
#include <functional>
#include <stdexcept>

namespace ui {

// A failure its run has already told in its window (a line of a status
// pane): the handler ends there, and nothing more is shown.
class AlreadyTold : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The failure's own text: the server's message for database errors.
QString failureText(const std::exception& e);

// Runs `handler`; a failure escaping it goes to dialogs().plain(), but for
// AlreadyTold. Returns false when it failed.
bool runHandler(const std::function<void()>& handler);

} // namespace ui
