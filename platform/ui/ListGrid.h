#pragma once
// A read-only list of text rows under a header: no grid lines, no row numbers,
// and an empty-list text in the middle of the body while there are no rows.
// Rows can be selected and copied (Ctrl+C or the context menu) as
// tab-separated lines. Cell texts are always shown as plain text.

#include <QObject>
#include <QStringList>
#include <QTableWidget>

// One column of a TListGrid, named like the form's other controls.
class TTextColumn : public QObject {
    Q_OBJECT
public:
    TTextColumn(int Index, QObject* Parent) : QObject(Parent), FIndex(Index) {}
    int Index() const { return FIndex; }

private:
    int FIndex;
};

class TListGrid : public QTableWidget {
    Q_OBJECT
public:
    explicit TListGrid(QWidget* Parent = nullptr);

    // The column is owned by the grid.
    TTextColumn* AddColumn(const QString& Header, int Width);

    int RowCount() const { return rowCount(); }
    QString Cell(int Row, int Column) const;
    // Appends a row at the end; missing texts leave their cells empty.
    void AddRow(const QStringList& Texts);

    QString EmptyText() const { return FEmptyText; }
    void SetEmptyText(const QString& Text);

    int HeaderHeight() const;
    void SetHeaderHeight(int Height);
    int RowHeight() const;
    void SetRowHeight(int Height);

    // The selected rows from top to bottom, cells joined by tabs, each row ending
    // in a line feed. A tab inside a cell becomes a blank so the columns stay put.
    QString SelectedRowsText() const;
    void CopySelection() const;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;

private:
    QString FEmptyText;
};
