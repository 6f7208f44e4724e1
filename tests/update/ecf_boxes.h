#pragma once
// The update window's terminal check boxes, found by the terminal's number.

#include "support/terminal_key.h"
#include "update/update_window.h"

#include <QCheckBox>
#include <QList>

namespace updatetest {

inline QCheckBox* ecfBox(const QWidget& window, int n)
{
    return window.findChild<QCheckBox*>("Ecf" + testsupport::numEcf(n));
}

// Numbers of the ticked terminal boxes.
inline QList<int> tickedBoxes(const QWidget& window)
{
    QList<int> out;
    for (int n = 1; n <= update::TFrmConversor::kBoxCount; ++n)
        if (ecfBox(window, n)->isChecked())
            out << n;
    return out;
}

} // namespace updatetest
