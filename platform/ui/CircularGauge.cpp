#include "CircularGauge.h"

#include <QPainter>
#include <algorithm>

TCircularGauge::TCircularGauge(QWidget* Parent) : QWidget(Parent), FValueFont(font()) {
    setFocusPolicy(Qt::NoFocus);
}

void TCircularGauge::SetRange(int Minimum, int Maximum) {
    FMinimum = Minimum;
    FMaximum = std::max(Maximum, Minimum + 1);
    SetValue(FValue);
    update();
}

void TCircularGauge::SetValue(int Value) {
    const int Clamped = std::clamp(Value, FMinimum, FMaximum);
    if (Clamped == FValue)
        return;
    FValue = Clamped;
    update();
}

void TCircularGauge::SetRingWidth(int Width) {
    FRingWidth = std::max(1, Width);
    update();
}

void TCircularGauge::SetMargin(int Margin) {
    FMargin = std::max(0, Margin);
    update();
}

void TCircularGauge::SetArcColor(const QColor& Color) {
    FArcColor = Color;
    update();
}

void TCircularGauge::SetRingColor(const QColor& Color) {
    FRingColor = Color;
    update();
}

void TCircularGauge::SetBackgroundColor(const QColor& Color) {
    FBackgroundColor = Color;
    update();
}

void TCircularGauge::SetValueColor(const QColor& Color) {
    FValueColor = Color;
    update();
}

void TCircularGauge::SetValueFont(const QFont& Font) {
    FValueFont = Font;
    update();
}

void TCircularGauge::paintEvent(QPaintEvent*) {
    QPainter Painter(this);
    Painter.fillRect(rect(), FBackgroundColor);
    Painter.setRenderHint(QPainter::Antialiasing);

    // The ring is centred in the widget; a pen of RingWidth straddles the circle's
    // path, so the path runs half a ring inside the outer edge.
    const qreal Side = std::min(width(), height()) - 2.0 * FMargin;
    if (Side <= FRingWidth)
        return;
    const qreal Diameter = Side - FRingWidth;
    const QRectF Circle((width() - Diameter) / 2.0, (height() - Diameter) / 2.0, Diameter,
                        Diameter);

    QPen Pen(FRingColor, FRingWidth, Qt::SolidLine, Qt::FlatCap);
    Painter.setPen(Pen);
    Painter.drawEllipse(Circle);

    const qreal Fraction = qreal(FValue - FMinimum) / qreal(FMaximum - FMinimum);
    if (Fraction > 0) {
        Pen.setColor(FArcColor);
        Painter.setPen(Pen);
        // Angles in 1/16 degree, counter-clockwise positive: start at 90 degrees
        // (the top) and run a negative span to go clockwise.
        const int Span = -qRound(Fraction * 360.0 * 16.0);
        if (Fraction >= 1.0)
            Painter.drawEllipse(Circle);
        else
            Painter.drawArc(Circle, 90 * 16, Span);
    }

    Painter.setFont(FValueFont);
    Painter.setPen(FValueColor);
    Painter.drawText(rect(), Qt::AlignCenter, QString::number(FValue));
}
