#pragma once
// Frameless pieces of a fixed layout: a panel that only groups and fills, and a
// single line of plain text centred in its box.

#include <QFrame>
#include <QLabel>

class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(QWidget* Parent = nullptr);
};

// Never interprets markup: what it is given is what it shows.
class TTextLine : public QLabel {
    Q_OBJECT
public:
    explicit TTextLine(QWidget* Parent = nullptr);
    explicit TTextLine(const QString& Text, QWidget* Parent = nullptr);
};
