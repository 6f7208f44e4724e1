#pragma once

class QApplication;

namespace app {

// Creates both windows in order and runs the message loop.
int runProgram(QApplication& application);

} // namespace app
