// The window as created, and how server reports become rows. Nothing here
// starts a scan, so no endpoint and no socket is ever made.

#include "CircularGauge.h"
#include "FlatButton.h"
#include "ListGrid.h"
#include "Main.h"
#include "TextLine.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QtTest>
#include <limits>

namespace {

// Reaches the window's own operations; changes none of them.
class TOpenMain : public TfrmMain {
public:
    using TfrmMain::AddServer;
};

struct TReport {
    bool Announce; // false: a find response
    QString Name;
    QString Address;
    qint32 Port;
};

} // namespace

Q_DECLARE_METATYPE(QList<TReport>)

class TWindowTest : public QObject {
    Q_OBJECT
private slots:
    void stateAfterCreate();
    void layout_data();
    void layout();
    void fontsAndTexts();
    void onlyTheListIsATabStop();

    void reportsBecomeRows_data();
    void reportsBecomeRows();
    void rowsAreAppendedAndRepainted();

    void exitWithoutScanClosesQuietly();
};

void TWindowTest::stateAfterCreate() {
    TfrmMain Form;
    QCOMPARE(Form.Aloha(), nullptr);
    QVERIFY(!Form.tmrScan->isActive());
    QVERIFY(Form.ProgressCircle->isHidden());
    QCOMPARE(Form.ProgressCircle->Value(), 30);
    QCOMPARE(Form.ProgressCircle->Minimum(), 0);
    QCOMPARE(Form.ProgressCircle->Maximum(), 30);
    QVERIFY(Form.btnScan->isEnabled());
    QVERIFY(Form.btnExit->isEnabled());
    QCOMPARE(Form.grdServers->EmptyText(), QStringLiteral("Ready to scan."));
    QCOMPARE(Form.grdServers->RowCount(), 0);
    QCOMPARE(Form.pnlVersion->text(), QStringLiteral("Version 5.2.0"));
    QCOMPARE(Form.pnlCopyright->text(),
             QStringLiteral("Copyright \u00A9 2026 Ternwick Software. All rights reserved."));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

void TWindowTest::layout_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QRect>("geometry");

    QTest::newRow("HTMLabel1") << "HTMLabel1" << QRect(8, 8, 529, 46);
    QTest::newRow("grdServers") << "grdServers" << QRect(8, 54, 530, 230);
    QTest::newRow("RzPanel2") << "RzPanel2" << QRect(7, 290, 530, 51);
    QTest::newRow("pnlVersion (in RzPanel2)") << "pnlVersion" << QRect(1, 1, 528, 23);
    QTest::newRow("pnlCopyright (in RzPanel2)") << "pnlCopyright" << QRect(1, 24, 528, 26);
    QTest::newRow("btnScan") << "btnScan" << QRect(547, 7, 90, 30);
    QTest::newRow("btnExit") << "btnExit" << QRect(547, 43, 90, 30);
    QTest::newRow("ProgressCircle") << "ProgressCircle" << QRect(542, 128, 100, 97);
    QTest::newRow("Image1") << "Image1" << QRect(553, 261, 80, 80);
}

void TWindowTest::layout() {
    QFETCH(QString, control);
    QFETCH(QRect, geometry);

    TfrmMain Form;
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));
    QCOMPARE(Form.size(), QSize(647, 348));
    const auto* Control = Form.findChild<QWidget*>(control);
    QVERIFY2(Control, qPrintable(control));
    QCOMPARE(Control->geometry(), geometry);
}

void TWindowTest::fontsAndTexts() {
    TfrmMain Form;
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));

    QCOMPARE(Form.windowTitle(), QStringLiteral("Quillory 5 Server Scan"));
    QCOMPARE(Form.minimumSize(), Form.maximumSize());
    QVERIFY(Form.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(Form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(Form.font().pixelSize(), 15);
    QCOMPARE(Form.grdServers->font().pixelSize(), 15);
    QCOMPARE(Form.pnlVersion->font().pixelSize(), 13);
    QCOMPARE(Form.pnlCopyright->font().pixelSize(), 13);
    QCOMPARE(Form.ProgressCircle->ValueFont().pixelSize(), 29);
    QCOMPARE(Form.ProgressCircle->ArcColor(), QColor(157, 206, 255));
    QCOMPARE(Form.ProgressCircle->RingColor(), QColor(192, 192, 192));
    QCOMPARE(Form.ProgressCircle->ValueColor(), QColor(128, 128, 128));
    QCOMPARE(Form.ProgressCircle->RingWidth(), 10);

    QCOMPARE(Form.HTMLabel1->text(),
             QStringLiteral("This program will scan your network for any Quillory 5 Servers.  Any "
                            "servers discovered within 30 seconds will be listed below."));
    QCOMPARE(Form.HTMLabel1->textFormat(), Qt::PlainText);
    // The two sentences take two lines at this width.
    const QFontMetrics Metrics(Form.HTMLabel1->font());
    const QRect Wrapped =
        Metrics.boundingRect(QRect(0, 0, 529, 1000), Qt::TextWordWrap, Form.HTMLabel1->text());
    QCOMPARE(Wrapped.height() / Metrics.lineSpacing(), 2);

    QCOMPARE(Form.btnScan->text(), QStringLiteral("Scan"));
    QCOMPARE(Form.btnExit->text(), QStringLiteral("Exit"));

    QCOMPARE(Form.grdServers->columnCount(), 3);
    const QStringList Headers{QStringLiteral("Server Name"), QStringLiteral("Server IP Address"),
                              QStringLiteral("Server Port")};
    const QList<int> Widths{250, 160, 80};
    const QList<TTextColumn*> Columns{Form.NxTextColumn1, Form.NxTextColumn2, Form.NxTextColumn3};
    for (int Column = 0; Column < 3; ++Column) {
        QCOMPARE(Columns[Column]->Index(), Column);
        QCOMPARE(Form.grdServers->horizontalHeaderItem(Column)->text(), Headers[Column]);
        QCOMPARE(Form.grdServers->columnWidth(Column), Widths[Column]);
    }
    QCOMPARE(Form.grdServers->horizontalHeader()->height(), 26);
    QCOMPARE(Form.grdServers->RowHeight(), 20);

    QVERIFY(!Form.Image1->pixmap().isNull());
    QVERIFY(!Form.windowIcon().isNull());

    // Centred on the screen it opened on, give or take the window frame.
    const QRect Screen = Form.screen()->availableGeometry();
    const QPoint Offset = Form.geometry().center() - Screen.center();
    QVERIFY2(std::abs(Offset.x()) <= 4 && std::abs(Offset.y()) <= 4,
             qPrintable(QStringLiteral("off centre by %1,%2").arg(Offset.x()).arg(Offset.y())));
}

void TWindowTest::onlyTheListIsATabStop() {
    TfrmMain Form;
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));
    for (QWidget* Child : Form.findChildren<QWidget*>()) {
        if (Child == Form.grdServers || Form.grdServers->isAncestorOf(Child))
            continue;
        QVERIFY2(!(Child->focusPolicy() & Qt::TabFocus), qPrintable(Child->objectName()));
    }
    QVERIFY(Form.grdServers->focusPolicy() & Qt::TabFocus);
}

void TWindowTest::reportsBecomeRows_data() {
    QTest::addColumn<QList<TReport>>("reports");
    QTest::addColumn<QStringList>("rows"); // name|address|port

    const QString A = QStringLiteral("198.18.0.2");
    const QString B = QStringLiteral("198.18.0.3");
    QTest::newRow("answer and announcement of one server: one row")
        << QList<TReport>{{false, "SRV-ONE", A, 15350}, {true, "SRV-ONE", A, 15350}}
        << QStringList{"SRV-ONE|198.18.0.2|15350"};
    QTest::newRow("same name, other address and port: the first report stays")
        << QList<TReport>{{true, "SRV-ONE", A, 15350}, {false, "SRV-ONE", B, 12600}}
        << QStringList{"SRV-ONE|198.18.0.2|15350"};
    QTest::newRow("names differing in case: two rows")
        << QList<TReport>{{true, "srv-one", A, 1}, {true, "SRV-ONE", B, 2}}
        << QStringList{"srv-one|198.18.0.2|1", "SRV-ONE|198.18.0.3|2"};
    QTest::newRow("a trailing blank makes another name")
        << QList<TReport>{{true, "SRV", A, 1}, {true, "SRV ", A, 1}}
        << QStringList{"SRV|198.18.0.2|1", "SRV |198.18.0.2|1"};
    QTest::newRow("composed and decomposed accents are other code units")
        << QList<TReport>{{true, QStringLiteral("Caf\u00E9"), A, 1},
                          {true, QStringLiteral("Cafe\u0301"), A, 1}}
        << QStringList{QStringLiteral("Caf\u00E9|198.18.0.2|1"),
                       QStringLiteral("Cafe\u0301|198.18.0.2|1")};
    QTest::newRow("an empty name is a name too, listed once")
        << QList<TReport>{{true, "", "", 12600}, {false, "", A, 1}} << QStringList{"||12600"};
    QTest::newRow("port 0") << QList<TReport>{{false, "S", A, 0}} << QStringList{"S|198.18.0.2|0"};
    QTest::newRow("negative port keeps its minus")
        << QList<TReport>{{false, "S", A, -15350}} << QStringList{"S|198.18.0.2|-15350"};
    QTest::newRow("smallest port")
        << QList<TReport>{{true, "S", A, std::numeric_limits<qint32>::min()}}
        << QStringList{"S|198.18.0.2|-2147483648"};
    QTest::newRow("largest port") << QList<TReport>{{true, "S", A,
                                                     std::numeric_limits<qint32>::max()}}
                                  << QStringList{"S|198.18.0.2|2147483647"};
    QTest::newRow("markup in a name is kept as text")
        << QList<TReport>{{true, "<b>SRV</b>", A, 1}} << QStringList{"<b>SRV</b>|198.18.0.2|1"};
}

void TWindowTest::reportsBecomeRows() {
    QFETCH(QList<TReport>, reports);
    QFETCH(QStringList, rows);

    TfrmMain Form;
    for (const TReport& R : reports) {
        if (R.Announce)
            Form.AlohaServerAnnounce(nullptr, R.Name, R.Address, R.Port);
        else
            Form.AlohaFindServerResponseReceived(nullptr, R.Name, R.Address, R.Port);
    }
    QStringList Seen;
    for (int Row = 0; Row < Form.grdServers->RowCount(); ++Row)
        Seen << Form.grdServers->Cell(Row, 0) + '|' + Form.grdServers->Cell(Row, 1) + '|' +
                    Form.grdServers->Cell(Row, 2);
    QCOMPARE(Seen, rows);
}

void TWindowTest::rowsAreAppendedAndRepainted() {
    TOpenMain Form;
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));
    Form.AddServer(QStringLiteral("B"), QStringLiteral("198.18.0.3"), QStringLiteral("1"));
    Form.AddServer(QStringLiteral("A"), QStringLiteral("198.18.0.2"), QStringLiteral("2"));
    Form.AddServer(QStringLiteral("B"), QStringLiteral("198.18.0.9"), QStringLiteral("9"));
    QCOMPARE(Form.grdServers->RowCount(), 2);
    QCOMPARE(Form.grdServers->Cell(0, 0), QStringLiteral("B")); // never sorted
    QCOMPARE(Form.grdServers->Cell(1, 0), QStringLiteral("A"));
    QCOMPARE(Form.grdServers->Cell(0, 1), QStringLiteral("198.18.0.3"));
    QCOMPARE(Form.grdServers->Cell(0, 2), QStringLiteral("1"));
}

void TWindowTest::exitWithoutScanClosesQuietly() {
    TfrmMain Form;
    Form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form));
    bool BoxSeen = false;
    QTimer Watch;
    connect(&Watch, &QTimer::timeout, [&BoxSeen] {
        if (QWidget* Box = QApplication::activeModalWidget()) {
            BoxSeen = true;
            Box->close();
        }
    });
    Watch.start(20);
    QTest::mouseClick(Form.btnExit, Qt::LeftButton);
    QVERIFY(!Form.isVisible());
    QTest::qWait(200);
    QVERIFY(!BoxSeen);
    QCOMPARE(Form.Aloha(), nullptr);
}

QTEST_MAIN(TWindowTest)
#include "tst_window.moc"
