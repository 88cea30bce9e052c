#include "FlatButton.h"

#include <QPainter>

TFlatButton::TFlatButton(const QString& Text, QWidget* Parent) : QPushButton(Text, Parent) {
    setFocusPolicy(Qt::NoFocus);
    setAutoDefault(false);
    setDefault(false);
    setFlat(true);
    setAttribute(Qt::WA_Hover);
}

void TFlatButton::enterEvent(QEnterEvent* Event) {
    FHovered = true;
    update();
    QPushButton::enterEvent(Event);
}

void TFlatButton::leaveEvent(QEvent* Event) {
    FHovered = false;
    update();
    QPushButton::leaveEvent(Event);
}

void TFlatButton::paintEvent(QPaintEvent*) {
    QPainter Painter(this);
    const QPalette& Pal = palette();
    QColor Fill = Pal.color(QPalette::Button);
    QColor Border = Pal.color(QPalette::Mid);
    if (!isEnabled()) {
        Fill = Pal.color(QPalette::Window);
        Border = Pal.color(QPalette::Disabled, QPalette::Mid);
    } else if (isDown()) {
        Fill = Pal.color(QPalette::Highlight).lighter(170);
        Border = Pal.color(QPalette::Highlight);
    } else if (FHovered) {
        Fill = Pal.color(QPalette::Highlight).lighter(190);
        Border = Pal.color(QPalette::Highlight);
    }
    Painter.fillRect(rect(), Fill);
    Painter.setPen(Border);
    Painter.drawRect(rect().adjusted(0, 0, -1, -1));
    Painter.setPen(
        Pal.color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    Painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
}
