#include "ListGrid.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <algorithm>

namespace {
constexpr Qt::Alignment CellAlignment = Qt::AlignLeft | Qt::AlignVCenter;
}

TListGrid::TListGrid(QWidget* Parent) : QTableWidget(Parent) {
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::DefaultContextMenu);

    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    SetRowHeight(20);

    QHeaderView* Header = horizontalHeader();
    Header->setSectionsClickable(false);
    Header->setSectionsMovable(false);
    Header->setHighlightSections(false);
    Header->setSortIndicatorShown(false);
    Header->setStretchLastSection(false);
    Header->setDefaultAlignment(CellAlignment);
    Header->setMinimumSectionSize(1);
    SetHeaderHeight(26);
}

TTextColumn* TListGrid::AddColumn(const QString& Header, int Width) {
    const int Index = columnCount();
    setColumnCount(Index + 1);
    auto* Item = new QTableWidgetItem(Header);
    Item->setTextAlignment(CellAlignment);
    setHorizontalHeaderItem(Index, Item);
    horizontalHeader()->setSectionResizeMode(Index, QHeaderView::Fixed);
    horizontalHeader()->resizeSection(Index, Width);
    return new TTextColumn(Index, this);
}

QString TListGrid::Cell(int Row, int Column) const {
    const QTableWidgetItem* Item = item(Row, Column);
    return Item ? Item->text() : QString();
}

void TListGrid::AddRow(const QStringList& Texts) {
    const int Row = rowCount();
    insertRow(Row);
    for (int Column = 0; Column < columnCount(); ++Column) {
        auto* Item = new QTableWidgetItem(Column < Texts.size() ? Texts[Column] : QString());
        Item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        Item->setTextAlignment(CellAlignment);
        setItem(Row, Column, Item);
    }
}

void TListGrid::SetEmptyText(const QString& Text) {
    if (Text == FEmptyText)
        return;
    FEmptyText = Text;
    viewport()->update();
}

int TListGrid::HeaderHeight() const {
    return horizontalHeader()->height();
}

void TListGrid::SetHeaderHeight(int Height) {
    horizontalHeader()->setFixedHeight(Height);
}

int TListGrid::RowHeight() const {
    return verticalHeader()->defaultSectionSize();
}

void TListGrid::SetRowHeight(int Height) {
    verticalHeader()->setDefaultSectionSize(Height);
}

QString TListGrid::SelectedRowsText() const {
    QList<int> Rows;
    for (const QModelIndex& Index : selectionModel()->selectedRows())
        Rows.append(Index.row());
    std::sort(Rows.begin(), Rows.end());

    QString Text;
    for (int Row : Rows) {
        QStringList Cells;
        for (int Column = 0; Column < columnCount(); ++Column)
            Cells.append(Cell(Row, Column).replace(QLatin1Char('\t'), QLatin1Char(' ')));
        Text += Cells.join(QLatin1Char('\t'));
        Text += QLatin1Char('\n');
    }
    return Text;
}

void TListGrid::CopySelection() const {
    const QString Text = SelectedRowsText();
    if (!Text.isEmpty())
        QApplication::clipboard()->setText(Text);
}

void TListGrid::paintEvent(QPaintEvent* Event) {
    QTableWidget::paintEvent(Event);
    if (rowCount() > 0 || FEmptyText.isEmpty())
        return;
    QPainter Painter(viewport());
    Painter.setFont(font());
    Painter.setPen(palette().color(QPalette::Text));
    Painter.drawText(viewport()->rect(), Qt::AlignCenter | Qt::TextWordWrap, FEmptyText);
}

void TListGrid::keyPressEvent(QKeyEvent* Event) {
    if (Event->matches(QKeySequence::Copy)) {
        CopySelection();
        Event->accept();
        return;
    }
    QTableWidget::keyPressEvent(Event);
}

void TListGrid::contextMenuEvent(QContextMenuEvent* Event) {
    QMenu Menu(this);
    QAction* Copy = Menu.addAction(tr("Copy"));
    Copy->setShortcut(QKeySequence::Copy);
    Copy->setEnabled(selectionModel()->hasSelection());
    connect(Copy, &QAction::triggered, this, &TListGrid::CopySelection);
    Menu.exec(Event->globalPos());
}
