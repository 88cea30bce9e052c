// Texts from the network are untrusted: in the window they are plain text
// (cells, tooltips, boxes), in the log they go through the one-line rule. One
// real scan in the network lab, fed datagrams with markup and control
// characters in their names.

#include "LabScan.h"

#include <QHelpEvent>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QToolTip>

using namespace labscan;

namespace {

const QRegularExpression WholeLine(QStringLiteral(
    "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d[^;\\r\\n]*;[A-Za-z]+;[^\\r\\n]*;\\r\\n$"));

QByteArray Line(const char* Name, const QByteArray& Value) {
    return QByteArray(Name) + '=' + Value + "\r\n";
}

QByteArray Header(const char* Kind) {
    return Line("protocol", "aloha") + Line("application", "quillory") + Line("message_type", Kind);
}

// The width of what is drawn in a cell, in pixels.
int InkWidth(TListGrid& Grid, int Row) {
    QTableWidgetItem* Item = Grid.item(Row, 0);
    Grid.scrollToItem(Item);
    const QImage Image = Grid.viewport()->grab(Grid.visualItemRect(Item)).toImage();
    const QRgb Background = Image.pixel(Image.width() - 1, Image.height() / 2);
    int Left = Image.width();
    int Right = -1;
    for (int Y = 0; Y < Image.height(); ++Y)
        for (int X = 0; X < Image.width(); ++X)
            if (Image.pixel(X, Y) != Background) {
                Left = std::min(Left, X);
                Right = std::max(Right, X);
            }
    return Right < Left ? 0 : Right - Left + 1;
}

} // namespace

class TUntrustedTextTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void serverNamesShowAsPlainText_data();
    void serverNamesShowAsPlainText();
    void logEntriesStayOneLine_data();
    void logEntriesStayOneLine();
    void completionShowsNoNetworkText();

private:
    QString LogFolder() const { return WorkstationLogs(FState.path()); }

    QTemporaryDir FState;
    std::unique_ptr<TBoxWatcher> FBoxes;
    std::unique_ptr<TfrmMain> FForm;
};

void TUntrustedTextTest::initTestCase() {
    QVERIFY(FState.isValid());
    qputenv("XDG_STATE_HOME", FState.path().toLocal8Bit());
    FBoxes = std::make_unique<TBoxWatcher>();
    FForm = std::make_unique<TfrmMain>();
    FForm->show();
    QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
    QTest::mouseClick(FForm->btnScan, Qt::LeftButton);
    QVERIFY(FForm->Aloha());
    // The ticks are ours to give: the scan stays open for every row below.
    FForm->tmrScan->stop();
}

void TUntrustedTextTest::serverNamesShowAsPlainText_data() {
    QTest::addColumn<QByteArray>("Kind");
    QTest::addColumn<QByteArray>("Sent");
    QTest::addColumn<QString>("Shown");
    QTest::addColumn<bool>("Markup");

    const QByteArray Announce = "server_announce";
    const QByteArray Response = "find_server_response";
    QTest::newRow("bold tags") << Announce << QByteArray("<b>x</b>") << "<b>x</b>" << true;
    QTest::newRow("image tag") << Response << QByteArray("<img src=x.png>") << "<img src=x.png>"
                               << true;
    QTest::newRow("line break tag") << Announce << QByteArray("one<BR>two") << "one<BR>two" << true;
    QTest::newRow("entities") << Response << QByteArray("&lt;i&gt;&amp;") << "&lt;i&gt;&amp;"
                              << true;
    QTest::newRow("tab") << Announce << QByteArray("tab\there") << "tab\there" << false;
    QTest::newRow("escape sequence")
        << Response << QByteArray("\x1b[31mred\x1b[0m") << "\x1b[31mred\x1b[0m" << false;
    QTest::newRow("code page bytes")
        << Announce << QByteArray("caf\xe9 \x93q\x94") << QStringLiteral(u"café “q”") << false;
    // A lone break ends the line, and with it the name; NUL ends the message.
    QTest::newRow("lone CR") << Announce << QByteArray("cr-left\rright") << "cr-left" << false;
    QTest::newRow("lone LF") << Response << QByteArray("lf-left\nright") << "lf-left" << false;
    QTest::newRow("NUL") << Announce << QByteArray("nul-left\0right", 14) << "nul-left" << false;
}

void TUntrustedTextTest::serverNamesShowAsPlainText() {
    QFETCH(QByteArray, Kind);
    QFETCH(QByteArray, Sent);
    QFETCH(QString, Shown);
    QFETCH(bool, Markup);

    // The name last, so that whatever it cuts off is only the name's own rest.
    const QByteArray Datagram = Header(Kind.constData()) +
                                Line("server_ip_address", "198.18.0.20") +
                                Line("server_port", "15350") + Line("server_name", Sent);
    QVERIFY(SendToLab(Datagram));
    TListGrid& Grid = *FForm->grdServers;
    QVERIFY(QTest::qWaitFor([&] { return Names(*FForm).contains(Shown); }, 3000));
    QCOMPARE(Names(*FForm).count(Shown), 1);
    const int Row = int(Names(*FForm).indexOf(Shown));

    if (Markup) {
        // Drawn as typed: markup rendered would draw "x" or an image instead.
        const int Ink = InkWidth(Grid, Row);
        const int Plain = Grid.fontMetrics().horizontalAdvance(Shown);
        QVERIFY2(Ink >= Plain * 3 / 4 && Ink <= Plain + 4,
                 qPrintable(QStringLiteral("ink %1 px, plain text %2 px").arg(Ink).arg(Plain)));
    }

    // No tooltip carries the name as markup.
    const QRect Cell = Grid.visualItemRect(Grid.item(Row, 0));
    QHelpEvent Help(QEvent::ToolTip, Cell.center(), Grid.viewport()->mapToGlobal(Cell.center()));
    QApplication::sendEvent(Grid.viewport(), &Help);
    if (QToolTip::isVisible())
        QVERIFY2(!Qt::mightBeRichText(QToolTip::text()) ||
                     QToolTip::text() == Shown.toHtmlEscaped(),
                 qPrintable(QToolTip::text()));
    QToolTip::hideText();
}

void TUntrustedTextTest::logEntriesStayOneLine_data() {
    QTest::addColumn<QByteArray>("ComputerName");
    QTest::addColumn<QString>("Logged");

    QTest::newRow("bold tags") << QByteArray("<b>pc</b>") << "from pc at";
    QTest::newRow("image tag") << QByteArray("pc<img src=x.png>") << "from pc at";
    QTest::newRow("line break tag") << QByteArray("pc<BR>next") << "from pc next at";
    QTest::newRow("unclosed bracket") << QByteArray("a<b") << "from a<b at";
    QTest::newRow("tab") << QByteArray("pc\tnext") << "from pc\tnext at";
    QTest::newRow("escape sequence") << QByteArray("pc\x1b[2J") << "from pc\x1b[2J at";
    QTest::newRow("lone CR") << QByteArray("pc\rnext") << "from pc at";
    QTest::newRow("lone LF") << QByteArray("pc\nnext") << "from pc at";
    QTest::newRow("NUL") << QByteArray("pc\0next", 7) << "from pc at";
}

void TUntrustedTextTest::logEntriesStayOneLine() {
    QFETCH(QByteArray, ComputerName);
    QFETCH(QString, Logged);

    // Each request its own sender address, to find its entry by.
    static int Serial = 0;
    const QString From = QStringLiteral("10.0.0.%1").arg(++Serial);
    QVERIFY(SendToLab(Header("find_server") + Line("from_ip_address", From.toLatin1()) +
                      Line("computer_name", ComputerName)));
    const QString Tail = QStringLiteral(" at ") + From + QStringLiteral(";\r\n");
    QStringList Entries;
    QVERIFY(QTest::qWaitFor(
        [&] {
            Entries.clear();
            for (const QString& L : LogLines(LogFolder()))
                if (L.endsWith(Tail))
                    Entries << L;
            return !Entries.isEmpty();
        },
        3000));
    QCOMPARE(Entries.size(), 1);
    QVERIFY2(WholeLine.match(Entries[0]).hasMatch(), qPrintable(Entries[0]));
    QVERIFY2(Entries[0].contains(QStringLiteral(";Info;Received Find Server Request ") + Logged +
                                 QLatin1Char(' ') + From + QLatin1Char(';')),
             qPrintable(Entries[0]));
}

void TUntrustedTextTest::completionShowsNoNetworkText() {
    FinishScan(*FForm, *FBoxes);
    QCOMPARE(FForm->Aloha(), nullptr);
    // The only box is the system's own.
    QCOMPARE(FBoxes->Seen().size(), 1);
    QCOMPARE(FBoxes->Seen()[0].Text, Completed);

    // The whole file: one line per entry, however the texts were made.
    const QStringList Lines = LogLines(LogFolder());
    QVERIFY(Lines.size() >= 9);
    for (const QString& L : Lines)
        QVERIFY2(WholeLine.match(L).hasMatch(), qPrintable(L.toUtf8().toPercentEncoding()));
}

LANFINDER_LAB_WIDGETS_TEST_MAIN(TUntrustedTextTest)
#include "tst_untrusted.moc"
