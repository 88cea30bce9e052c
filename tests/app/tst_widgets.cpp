// The window's widgets on their own: what the gauge paints, what the list shows
// and copies. No sockets.

#include "CircularGauge.h"
#include "FlatButton.h"
#include "ListGrid.h"
#include "TextLine.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QImage>
#include <QtTest>
#include <cmath>

namespace {

// Where a point at the given clock angle (degrees clockwise from twelve) lies
// in the middle of the gauge's ring.
QPoint RingPoint(const TCircularGauge& Gauge, double Degrees) {
    const double Side = std::min(Gauge.width(), Gauge.height()) - 2.0 * Gauge.Margin();
    const double Radius = (Side - Gauge.RingWidth()) / 2.0;
    const double Rad = Degrees * M_PI / 180.0;
    return QPoint(qRound(Gauge.width() / 2.0 + Radius * std::sin(Rad)),
                  qRound(Gauge.height() / 2.0 - Radius * std::cos(Rad)));
}

bool Near(QColor A, QColor B, int Tolerance = 12) {
    return std::abs(A.red() - B.red()) <= Tolerance &&
           std::abs(A.green() - B.green()) <= Tolerance &&
           std::abs(A.blue() - B.blue()) <= Tolerance;
}

QString Rgb(QColor C) {
    return QStringLiteral("(%1,%2,%3)").arg(C.red()).arg(C.green()).arg(C.blue());
}

const QColor LightBlue(157, 206, 255);
const QColor Silver(192, 192, 192);
const QColor Grey(128, 128, 128);

} // namespace

class TWidgetTest : public QObject {
    Q_OBJECT
private slots:
    void gaugeRing_data();
    void gaugeRing();
    void gaugeBackgroundAndNumber();
    void gaugeKeepsValueInRange();

    void gridLayout();
    void gridEmptyTextOnlyWithoutRows();
    void gridIsReadOnlyAndPlain();
    void gridCopiesSelectedRows();

    void textLineShowsMarkupAsText();
    void flatButtonIsNoTabStop();
};

void TWidgetTest::gaugeRing_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<double>("degrees");
    QTest::addColumn<bool>("blue");

    QTest::newRow("full: top blue") << 30 << 5.0 << true;
    QTest::newRow("full: left blue") << 30 << 270.0 << true;
    QTest::newRow("empty: top silver") << 0 << 5.0 << false;
    QTest::newRow("empty: right silver") << 0 << 90.0 << false;
    QTest::newRow("half: right blue (clockwise from top)") << 15 << 90.0 << true;
    QTest::newRow("half: left silver") << 15 << 270.0 << false;
    QTest::newRow("one tick: just past the top blue") << 1 << 6.0 << true;
    QTest::newRow("one tick: a quarter round silver") << 1 << 90.0 << false;
    QTest::newRow("29 of 30: just before the top silver") << 29 << 354.0 << false;
    QTest::newRow("29 of 30: left blue") << 29 << 270.0 << true;
}

void TWidgetTest::gaugeRing() {
    QFETCH(int, value);
    QFETCH(double, degrees);
    QFETCH(bool, blue);

    TCircularGauge Gauge;
    Gauge.SetRange(0, 30);
    Gauge.resize(100, 97);
    Gauge.SetValue(value);
    const QImage Image = Gauge.grab().toImage();
    const QColor Seen = Image.pixelColor(RingPoint(Gauge, degrees));
    const QColor Wanted = blue ? LightBlue : Silver;
    QVERIFY2(Near(Seen, Wanted),
             qPrintable(QStringLiteral("saw %1, wanted %2").arg(Rgb(Seen), Rgb(Wanted))));
}

void TWidgetTest::gaugeBackgroundAndNumber() {
    TCircularGauge Gauge;
    Gauge.SetRange(0, 30);
    Gauge.resize(100, 97);
    QFont Font;
    Font.setPixelSize(29);
    Gauge.SetValueFont(Font);
    Gauge.SetValue(30);
    const QImage Thirty = Gauge.grab().toImage();

    // Corners lie outside the ring; inside the ring only the number is drawn.
    QCOMPARE(Thirty.pixelColor(0, 0), QColor(Qt::white));
    QCOMPARE(Thirty.pixelColor(99, 96), QColor(Qt::white));
    QCOMPARE(Thirty.pixelColor(50, 20), QColor(Qt::white));
    int GreyPixels = 0;
    for (int Y = 30; Y < 67; ++Y)
        for (int X = 30; X < 70; ++X) {
            const QColor C = Thirty.pixelColor(X, Y);
            QVERIFY2(C.red() == C.green() && C.green() == C.blue(),
                     qPrintable(QStringLiteral("coloured pixel %1 in the centre").arg(Rgb(C))));
            if (Near(C, Grey, 2))
                ++GreyPixels;
        }
    QVERIFY2(GreyPixels > 20, "the value is drawn in grey");

    Gauge.SetValue(29);
    const QImage TwentyNine = Gauge.grab().toImage();
    QVERIFY(TwentyNine.copy(30, 30, 40, 37) != Thirty.copy(30, 30, 40, 37));
}

void TWidgetTest::gaugeKeepsValueInRange() {
    TCircularGauge Gauge;
    Gauge.SetRange(0, 30);
    Gauge.SetValue(31);
    QCOMPARE(Gauge.Value(), 30);
    Gauge.SetValue(-1);
    QCOMPARE(Gauge.Value(), 0);
}

void TWidgetTest::gridLayout() {
    TListGrid Grid;
    Grid.resize(530, 230);
    Grid.AddColumn(QStringLiteral("Server Name"), 250);
    TTextColumn* Second = Grid.AddColumn(QStringLiteral("Server IP Address"), 160);
    Grid.AddRow({QStringLiteral("A"), QStringLiteral("198.18.0.2"), QStringLiteral("1")});
    Grid.AddRow({QStringLiteral("B"), QStringLiteral("198.18.0.3"), QStringLiteral("2")});
    Grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Grid));

    QCOMPARE(Second->Index(), 1);
    QCOMPARE(Grid.horizontalHeader()->height(), 26);
    QCOMPARE(Grid.rowHeight(0), 20);
    QCOMPARE(Grid.rowHeight(1), 20);
    QCOMPARE(Grid.columnWidth(0), 250);
    QCOMPARE(Grid.columnWidth(1), 160);
    QVERIFY(!Grid.verticalHeader()->isVisible());
    QVERIFY(!Grid.showGrid());
    QVERIFY(!Grid.horizontalHeader()->sectionsClickable());
    QVERIFY(!Grid.isSortingEnabled());
}

void TWidgetTest::gridEmptyTextOnlyWithoutRows() {
    TListGrid Grid;
    Grid.resize(530, 230);
    Grid.AddColumn(QStringLiteral("Server Name"), 250);
    Grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Grid));

    auto BodyHasInk = [&Grid] {
        const QImage Body = Grid.viewport()->grab().toImage();
        const QColor Base = Body.pixelColor(Body.width() - 2, Body.height() - 2);
        // The middle third, where a centred text lies and a first row does not.
        for (int Y = Body.height() / 3; Y < 2 * Body.height() / 3; ++Y)
            for (int X = 0; X < Body.width(); ++X)
                if (Body.pixelColor(X, Y) != Base)
                    return true;
        return false;
    };

    QVERIFY2(!BodyHasInk(), "no text set, nothing drawn");
    Grid.SetEmptyText(QStringLiteral("Ready to scan."));
    QVERIFY2(BodyHasInk(), "the empty-list text is drawn in the middle");
    Grid.AddRow({QStringLiteral("SRV-ONE")});
    QVERIFY2(!BodyHasInk(), "a row hides the empty-list text");
    QCOMPARE(Grid.EmptyText(), QStringLiteral("Ready to scan."));
}

void TWidgetTest::gridIsReadOnlyAndPlain() {
    TListGrid Grid;
    Grid.AddColumn(QStringLiteral("Server Name"), 250);
    Grid.AddColumn(QStringLiteral("Server Port"), 80);
    Grid.AddRow({QStringLiteral("<b>bold</b>")}); // second cell missing
    QCOMPARE(Grid.RowCount(), 1);
    QCOMPARE(Grid.Cell(0, 0), QStringLiteral("<b>bold</b>"));
    QCOMPARE(Grid.Cell(0, 1), QString());
    QCOMPARE(Grid.Cell(5, 0), QString());
    QVERIFY(!(Grid.item(0, 0)->flags() & Qt::ItemIsEditable));
    QCOMPARE(Grid.editTriggers(), QAbstractItemView::NoEditTriggers);
}

void TWidgetTest::gridCopiesSelectedRows() {
    TListGrid Grid;
    Grid.resize(530, 230);
    Grid.AddColumn(QStringLiteral("Server Name"), 250);
    Grid.AddColumn(QStringLiteral("Server IP Address"), 160);
    Grid.AddColumn(QStringLiteral("Server Port"), 80);
    Grid.AddRow({QStringLiteral("SRV-ONE"), QStringLiteral("198.18.0.2"), QStringLiteral("15350")});
    Grid.AddRow({QStringLiteral("SRV\tTAB"), QStringLiteral("198.18.0.3"), QStringLiteral("-1")});
    Grid.AddRow({QStringLiteral("SRV-THREE"), QStringLiteral("198.18.0.4"), QStringLiteral("0")});
    Grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Grid));

    QCOMPARE(Grid.SelectedRowsText(), QString());
    // Selected bottom first: the copy still runs top to bottom.
    Grid.selectionModel()->select(Grid.model()->index(2, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Grid.selectionModel()->select(Grid.model()->index(0, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QString Expected =
        QStringLiteral("SRV-ONE\t198.18.0.2\t15350\nSRV-THREE\t198.18.0.4\t0\n");
    QCOMPARE(Grid.SelectedRowsText(), Expected);

    QApplication::clipboard()->clear();
    Grid.setFocus();
    QTest::keyClick(&Grid, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), Expected);

    // A tab inside a name must not shift the columns of what is pasted.
    Grid.clearSelection();
    Grid.selectRow(1);
    QCOMPARE(Grid.SelectedRowsText(), QStringLiteral("SRV TAB\t198.18.0.3\t-1\n"));
    QCOMPARE(Grid.Cell(1, 0), QStringLiteral("SRV\tTAB"));
}

void TWidgetTest::textLineShowsMarkupAsText() {
    TTextLine Line(QStringLiteral("<i>Version</i>"));
    QCOMPARE(Line.textFormat(), Qt::PlainText);
    QCOMPARE(Line.alignment(), Qt::AlignCenter);
    QCOMPARE(Line.frameShape(), QFrame::NoFrame);
}

void TWidgetTest::flatButtonIsNoTabStop() {
    QWidget Form;
    auto* Grid = new TListGrid(&Form);
    auto* Button = new TFlatButton(QStringLiteral("Scan"), &Form);
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));
    Grid->setFocus();
    QTest::keyClick(Grid, Qt::Key_Tab);
    QVERIFY(!Button->hasFocus());
    QCOMPARE(Button->focusPolicy(), Qt::NoFocus);

    int Clicks = 0;
    connect(Button, &QPushButton::clicked, [&Clicks] { ++Clicks; });
    QTest::mouseClick(Button, Qt::LeftButton);
    QCOMPARE(Clicks, 1);
    Button->setEnabled(false);
    QTest::mouseClick(Button, Qt::LeftButton);
    QCOMPARE(Clicks, 1);
}

QTEST_MAIN(TWidgetTest)
#include "tst_widgets.moc"
