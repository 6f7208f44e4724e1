#include "ui/controls.h"

#include <QFont>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace ui {

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& text, const QRect& geometry)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& text, const QRect& geometry)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setGeometry(geometry);
    return button;
}

QPlainTextEdit* makePane(QWidget* parent, const QString& name, const QRect& geometry)
{
    auto* pane = new QPlainTextEdit(parent);
    pane->setObjectName(name);
    pane->setReadOnly(true);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane->setGeometry(geometry);
    return pane;
}

void paintText(QWidget* w, const QColor& color)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, color);
    p.setColor(QPalette::ButtonText, color);
    w->setPalette(p);
}

void makeBold(QWidget* w, int pointSize)
{
    QFont f = w->font();
    f.setBold(true);
    if (pointSize > 0)
        f.setPointSize(pointSize);
    w->setFont(f);
}

} // namespace ui
