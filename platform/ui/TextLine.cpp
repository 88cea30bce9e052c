#include "TextLine.h"

TPanel::TPanel(QWidget* Parent) : QFrame(Parent) {
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setContentsMargins(1, 1, 1, 1);
}

TTextLine::TTextLine(QWidget* Parent) : TTextLine(QString(), Parent) {}

TTextLine::TTextLine(const QString& Text, QWidget* Parent) : QLabel(Parent) {
    setTextFormat(Qt::PlainText);
    setFrameShape(QFrame::NoFrame);
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::NoFocus);
    setText(Text);
}
