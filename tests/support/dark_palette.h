#pragma once
// A palette as dark desktop themes give it: light text on dark bases.
#include <QColor>
#include <QPalette>

namespace yunshan::test {

inline QPalette dark_palette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(45, 45, 45));
    p.setColor(QPalette::WindowText, QColor(230, 230, 230));
    p.setColor(QPalette::Base, QColor(30, 30, 30));
    p.setColor(QPalette::AlternateBase, QColor(40, 40, 40));
    p.setColor(QPalette::Text, QColor(235, 235, 235));
    p.setColor(QPalette::Button, QColor(50, 50, 50));
    p.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    p.setColor(QPalette::Highlight, QColor(60, 90, 140));
    p.setColor(QPalette::HighlightedText, Qt::white);
    return p;
}

} // namespace yunshan::test
