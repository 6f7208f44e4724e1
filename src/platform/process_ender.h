#pragma once
// Ending every running copy of the program, this one included ("Sair dos
// Sistema"). Tests replace the ender so they survive pressing the button.

#include <functional>

namespace app {

// Ends every process running the program's executable, then this one.
void endEveryCopy();

// Replaces what endEveryCopy() does; an empty function restores the default.
void setProcessEnder(std::function<void()> ender);

} // namespace app
