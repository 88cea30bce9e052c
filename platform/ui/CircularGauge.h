#pragma once
// A countdown ring: the arc from twelve o'clock clockwise covers Value/Maximum of
// the circle, the rest of the ring stays silver, and the value stands in the centre.

#include <QWidget>

class TCircularGauge : public QWidget {
    Q_OBJECT
public:
    explicit TCircularGauge(QWidget* Parent = nullptr);

    int Minimum() const { return FMinimum; }
    int Maximum() const { return FMaximum; }
    // Keeps Minimum < Maximum and the value inside the range.
    void SetRange(int Minimum, int Maximum);
    int Value() const { return FValue; }
    void SetValue(int Value);

    int RingWidth() const { return FRingWidth; }
    void SetRingWidth(int Width);
    int Margin() const { return FMargin; }
    void SetMargin(int Margin);

    QColor ArcColor() const { return FArcColor; }
    void SetArcColor(const QColor& Color);
    QColor RingColor() const { return FRingColor; }
    void SetRingColor(const QColor& Color);
    QColor BackgroundColor() const { return FBackgroundColor; }
    void SetBackgroundColor(const QColor& Color);
    QColor ValueColor() const { return FValueColor; }
    void SetValueColor(const QColor& Color);
    // The number's font; the widget's own font is left to its parent.
    QFont ValueFont() const { return FValueFont; }
    void SetValueFont(const QFont& Font);

    QSize sizeHint() const override { return {100, 100}; }

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    int FMinimum = 0;
    int FMaximum = 100;
    int FValue = 0;
    int FRingWidth = 10;
    int FMargin = 1;
    QColor FArcColor{157, 206, 255};
    QColor FRingColor{192, 192, 192};
    QColor FBackgroundColor{Qt::white};
    QColor FValueColor{128, 128, 128};
    QFont FValueFont;
};
