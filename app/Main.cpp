#include "Main.h"

#include "AlohaUDP.h"
#include "CircularGauge.h"
#include "Errors.h"
#include "FlatButton.h"
#include "HostInfo.h"
#include "ListGrid.h"
#include "TextLine.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSvgRenderer>
#include <QTimer>

Q_LOGGING_CATEGORY(lcApp, "lanfinder.app")

namespace {

const QString IconResource = QStringLiteral(":/icons/com.ternwick.Lanfinder.svg");

QFont SegoeUI(int PixelSize) {
    QFont Font(QStringLiteral("Segoe UI"));
    Font.setStyleHint(QFont::SansSerif);
    Font.setPixelSize(PixelSize);
    return Font;
}

// Stands in while the artwork is not built in: a tower with two waves.
void DrawFallbackPicture(QPainter& Painter, const QRectF& Box) {
    Painter.setRenderHint(QPainter::Antialiasing);
    const qreal U = Box.width() / 80.0;
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(QColor(70, 90, 120));
    Painter.drawRoundedRect(QRectF(Box.x() + 18 * U, Box.y() + 14 * U, 26 * U, 56 * U), 3 * U,
                            3 * U);
    Painter.setBrush(QColor(157, 206, 255));
    for (int Slot = 0; Slot < 4; ++Slot)
        Painter.drawRect(QRectF(Box.x() + 22 * U, Box.y() + (20 + 8 * Slot) * U, 18 * U, 3 * U));
    Painter.setBrush(Qt::NoBrush);
    Painter.setPen(QPen(QColor(90, 160, 230), 3 * U, Qt::SolidLine, Qt::RoundCap));
    for (int Wave = 0; Wave < 2; ++Wave) {
        const qreal R = (10 + 8 * Wave) * U;
        Painter.drawArc(QRectF(Box.x() + 44 * U - R, Box.y() + 22 * U - R, 2 * R, 2 * R), -45 * 16,
                        90 * 16);
    }
    Painter.setPen(QPen(QColor(60, 60, 60), 3 * U));
    Painter.drawEllipse(QRectF(Box.x() + 48 * U, Box.y() + 44 * U, 16 * U, 16 * U));
    Painter.drawLine(QPointF(Box.x() + 61 * U, Box.y() + 58 * U),
                     QPointF(Box.x() + 72 * U, Box.y() + 70 * U));
}

QPixmap ProgramPicture(int Side, qreal DevicePixelRatio) {
    QPixmap Picture(QSize(Side, Side) * DevicePixelRatio);
    Picture.setDevicePixelRatio(DevicePixelRatio);
    Picture.fill(Qt::transparent);
    QPainter Painter(&Picture);
    const QRectF Box(0, 0, Side, Side);
    QSvgRenderer Renderer;
    if (QFile::exists(IconResource) && Renderer.load(IconResource))
        Renderer.render(&Painter, Box);
    else
        DrawFallbackPicture(Painter, Box);
    return Picture;
}

QIcon ProgramIcon() {
    if (QFile::exists(IconResource))
        return QIcon(IconResource);
    QIcon Icon;
    for (int Side : {16, 32, 48, 64, 128, 256})
        Icon.addPixmap(ProgramPicture(Side, 1.0));
    return Icon;
}

QString PortText(qint32 ServerPort) {
    return QString::number(ServerPort);
}

} // namespace

TfrmMain::TfrmMain(QWidget* Parent)
    : QWidget(Parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Quillory 5 Server Scan"));
    setFont(SegoeUI(15));
    setFixedSize(647, 348);
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    const QIcon Icon = ProgramIcon();
    setWindowIcon(Icon);
    if (QGuiApplication::windowIcon().isNull())
        QGuiApplication::setWindowIcon(Icon);

    grdServers = new TListGrid(this);
    grdServers->setObjectName(QStringLiteral("grdServers"));
    grdServers->setGeometry(8, 54, 530, 230);
    grdServers->SetEmptyText(QStringLiteral("Ready to scan."));
    NxTextColumn1 = grdServers->AddColumn(QStringLiteral("Server Name"), 250);
    NxTextColumn1->setObjectName(QStringLiteral("NxTextColumn1"));
    NxTextColumn2 = grdServers->AddColumn(QStringLiteral("Server IP Address"), 160);
    NxTextColumn2->setObjectName(QStringLiteral("NxTextColumn2"));
    NxTextColumn3 = grdServers->AddColumn(QStringLiteral("Server Port"), 80);
    NxTextColumn3->setObjectName(QStringLiteral("NxTextColumn3"));

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(553, 261, 80, 80);
    Image1->setAttribute(Qt::WA_TransparentForMouseEvents);
    Image1->setPixmap(ProgramPicture(80, devicePixelRatioF()));

    RzPanel2 = new TPanel(this);
    RzPanel2->setObjectName(QStringLiteral("RzPanel2"));
    RzPanel2->setGeometry(7, 290, 530, 51);
    pnlVersion = new TTextLine(QStringLiteral("N/A"), RzPanel2);
    pnlVersion->setObjectName(QStringLiteral("pnlVersion"));
    pnlVersion->setGeometry(1, 1, 528, 23);
    pnlVersion->setFont(SegoeUI(13));
    pnlCopyright = new TTextLine(QStringLiteral("N/A"), RzPanel2);
    pnlCopyright->setObjectName(QStringLiteral("pnlCopyright"));
    pnlCopyright->setGeometry(1, 24, 528, 26);
    pnlCopyright->setFont(SegoeUI(13));

    btnScan = new TFlatButton(QStringLiteral("Scan"), this);
    btnScan->setObjectName(QStringLiteral("btnScan"));
    btnScan->setGeometry(547, 7, 90, 30);
    btnExit = new TFlatButton(QStringLiteral("Exit"), this);
    btnExit->setObjectName(QStringLiteral("btnExit"));
    btnExit->setGeometry(547, 43, 90, 30);

    HTMLabel1 = new QLabel(this);
    HTMLabel1->setObjectName(QStringLiteral("HTMLabel1"));
    HTMLabel1->setGeometry(8, 8, 529, 46);
    HTMLabel1->setTextFormat(Qt::PlainText);
    HTMLabel1->setWordWrap(true);
    HTMLabel1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    HTMLabel1->setText(QStringLiteral("This program will scan your network for any Quillory 5 "
                                      "Servers.  Any servers discovered within 30 seconds will "
                                      "be listed below."));

    tmrScan = new QTimer(this);
    tmrScan->setObjectName(QStringLiteral("tmrScan"));
    tmrScan->setInterval(TickInterval);
    // A coarse timer may fire a little early; a tick must never come before its second is up.
    tmrScan->setTimerType(Qt::PreciseTimer);

    ProgressCircle = new TCircularGauge(this);
    ProgressCircle->setObjectName(QStringLiteral("ProgressCircle"));
    ProgressCircle->setGeometry(542, 128, 100, 97);
    ProgressCircle->SetRange(0, ScanTicks);
    ProgressCircle->SetRingWidth(10);
    ProgressCircle->SetMargin(1);
    ProgressCircle->SetValueFont(SegoeUI(29));
    ProgressCircle->hide();

    connect(btnScan, &QPushButton::clicked, this, [this] { btnScanClick(btnScan); });
    connect(btnExit, &QPushButton::clicked, this, [this] { btnExitClick(btnExit); });
    connect(tmrScan, &QTimer::timeout, this, [this] { tmrScanTimer(tmrScan); });

    if (const QScreen* Screen = screen()) {
        QRect Frame = rect();
        Frame.moveCenter(Screen->availableGeometry().center());
        move(Frame.topLeft());
    }

    FormCreate(this);
}

TfrmMain::~TfrmMain() {
    // The busy cursor belongs to a running scan; a window closed mid-scan hands
    // the application back its normal cursor.
    if (tmrScan->isActive()) {
        tmrScan->stop();
        QGuiApplication::restoreOverrideCursor();
    }
    FormDestroy(this);
}

void TfrmMain::FormCreate(QObject*) {
    ProgressCircle->SetValue(ScanTicks);
    ShowCopyright();
    ShowVersion();
}

void TfrmMain::FormDestroy(QObject*) {
    FAloha.reset();
}

void TfrmMain::btnScanClick(QObject*) {
    StartScan();
}

void TfrmMain::btnExitClick(QObject*) {
    close();
}

void TfrmMain::ShowVersion() {
    pnlVersion->setText(QStringLiteral("Version ") + GetFileVersionText(QString()));
}

void TfrmMain::ShowCopyright() {
    pnlCopyright->setText(
        QStringLiteral("Copyright \u00A9 2026 Ternwick Software. All rights reserved."));
}

std::unique_ptr<TAlohaUDP> TfrmMain::CreateAloha() {
    return std::make_unique<TAlohaUDP>(false);
}

void TfrmMain::StartScan() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    btnScan->setEnabled(false);
    grdServers->SetEmptyText(QStringLiteral("Scanning for Quillory 5 Servers on your network..."));
    FCounter = ScanTicks;
    ProgressCircle->SetValue(ScanTicks);
    ProgressCircle->show();
    tmrScan->setInterval(TickInterval);
    tmrScan->start();

    FAloha = CreateAloha();
    FAloha->SetOnFindServerResponseReceived(
        [this](TAlohaUDP* Sender, const QString& Name, const QString& Address, qint32 Port) {
            AlohaFindServerResponseReceived(Sender, Name, Address, Port);
        });
    FAloha->SetOnServerAnnounce(
        [this](TAlohaUDP* Sender, const QString& Name, const QString& Address, qint32 Port) {
            AlohaServerAnnounce(Sender, Name, Address, Port);
        });
    FAloha->SetActivityLogEnabled(true);

    // The error box of StartAloha runs its own event loop, and a scan that
    // completes inside it releases the endpoint: after a failed start FAloha
    // may be gone, so it is touched only on success.
    if (StartAloha())
        FAloha->SendFindServerMessage();
}

bool TfrmMain::StartAloha() {
    QString Reason;
    try {
        return FAloha->StartCommunication();
    } catch (const EError& E) {
        Reason = E.Message();
    } catch (const std::exception& E) {
        Reason = QString::fromLocal8Bit(E.what());
    }
    qCWarning(lcApp) << "Starting the scan's endpoint failed:" << Reason;
    QMessageBox Box(QMessageBox::Critical, QStringLiteral("Error"), Reason, QMessageBox::Ok, this);
    Box.setTextFormat(Qt::PlainText);
    Box.exec();
    return false;
}

void TfrmMain::StopAloha() {
    if (FAloha)
        FAloha->StopCommunication();
}

void TfrmMain::AddServer(const QString& ServerName, const QString& IPAddress,
                         const QString& ServerPort) {
    if (!FServerNames.contains(ServerName)) {
        FServerNames.insert(ServerName);
        grdServers->AddRow({ServerName, IPAddress, ServerPort});
    }
    // Painted on the event loop's next pass, once for all the reports that came
    // in together: painting the list synchronously costs over a millisecond, and
    // once per report it held a burst of answers up for seconds.
    grdServers->viewport()->update();
}

void TfrmMain::AlohaFindServerResponseReceived(TAlohaUDP*, const QString& ServerName,
                                               const QString& IPAddress, qint32 ServerPort) {
    AddServer(ServerName, IPAddress, PortText(ServerPort));
}

void TfrmMain::AlohaServerAnnounce(TAlohaUDP*, const QString& ServerName, const QString& IPAddress,
                                   qint32 ServerPort) {
    AddServer(ServerName, IPAddress, PortText(ServerPort));
}

void TfrmMain::tmrScanTimer(QObject*) {
    if (FCounter == 0) {
        tmrScan->stop();
        StopAloha();
        btnScan->setEnabled(true);
        FAloha.reset();
        if (grdServers->RowCount() == 0)
            grdServers->SetEmptyText(
                QStringLiteral("No Quillory Servers were found on this network."));
        ProgressCircle->hide();
        QGuiApplication::restoreOverrideCursor();
        QMessageBox Box(QMessageBox::Information, QStringLiteral("Information"),
                        QStringLiteral("Server scan has completed."), QMessageBox::Ok, this);
        Box.setTextFormat(Qt::PlainText);
        Box.exec();
        return;
    }
    --FCounter;
    ProgressCircle->SetValue(FCounter);
}
