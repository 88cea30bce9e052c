#pragma once
// A push button with a flat look that the Tab key passes over; it is meant to
// be clicked, and never takes the keyboard focus from the form's one Tab stop.

#include <QPushButton>

class TFlatButton : public QPushButton {
    Q_OBJECT
public:
    explicit TFlatButton(const QString& Text, QWidget* Parent = nullptr);

protected:
    void paintEvent(QPaintEvent* Event) override;
    void enterEvent(QEnterEvent* Event) override;
    void leaveEvent(QEvent* Event) override;

private:
    bool FHovered = false;
};
