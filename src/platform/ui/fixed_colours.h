#pragma once
// Text drawn in a colour of its own (blue captions, black counts) needs a
// background of its own too: under a dark desktop palette the window's face
// turns dark grey, and blue or black text on it can hardly be read. Such
// text gets this light face behind it; all other text and backgrounds
// follow the palette.
#include <QColor>
#include <QPalette>
#include <QWidget>

namespace vq::platform {

// The light button face of the classic desktop.
inline QColor fixedFace() {
    return QColor(240, 240, 240);
}

// Draws w's own text in `text` on the fixed face.
inline void setTextOnFixedFace(QWidget* w, const QColor& text) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, text);
    pal.setColor(QPalette::Window, fixedFace());
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

} // namespace vq::platform
