#pragma once
// Controls of the two windows, made the same way in both: named (tests find
// them by name), placed at fixed positions in fixed-size windows.

#include <QColor>
#include <QRect>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace ui {

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry);
QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text, const QRect& geometry);
// Read-only, its scroll bar always shown.
QPlainTextEdit* makePane(QWidget* parent, const QString& name, const QRect& geometry);

void paintText(QWidget* w, const QColor& color);
// `pointSize` 0 keeps the size.
void makeBold(QWidget* w, int pointSize = 0);

} // namespace ui
