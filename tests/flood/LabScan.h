#pragma once
// What the flood, fault and untrusted-text tests share: a lab-only main for a
// widgets test, server hosts ("aloha serve" in hosts of their own), reports
// sent as datagrams into the lab, and readings of the window, the log folder
// and the process's memory.

#include "AlohaMessages.h"
#include "AnsiCodePage.h"
#include "BoxWatcher.h"
#include "CircularGauge.h"
#include "FlatButton.h"
#include "LabGuard.h"
#include "ListGrid.h"
#include "Main.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QUdpSocket>
#include <QtTest>
#include <memory>
#include <vector>

namespace labscan {

inline const QHostAddress LabBroadcast() {
    return QHostAddress(QStringLiteral("198.18.0.255"));
}
constexpr quint16 AlohaPort = 15350;
inline const QString Application = QStringLiteral("quillory");
inline const QString NoneFound = QStringLiteral("No Quillory Servers were found on this network.");
inline const QString Completed = QStringLiteral("Server scan has completed.");

inline QString BinDir() {
    return qEnvironmentVariable("LANFINDER_BIN_DIR");
}

inline QString Netlab() {
    return QDir(qEnvironmentVariable("LANFINDER_SOURCE_DIR"))
        .filePath(QStringLiteral("scripts/netlab"));
}

// The window's log folder below the state folder the test points the program at.
inline QString WorkstationLogs(const QString& State) {
    return QDir(State).filePath(QStringLiteral("Ternwick Software/Quillory 5/WorkstationLogs"));
}

// Raw bytes to every listener on the lab's port 15350.
inline bool SendToLab(const QByteArray& Datagram) {
    QUdpSocket Socket;
    return Socket.writeDatagram(Datagram, LabBroadcast(), AlohaPort) == Datagram.size();
}

inline QStringList Names(const TfrmMain& Form) {
    QStringList Result;
    for (int Row = 0; Row < Form.grdServers->RowCount(); ++Row)
        Result << Form.grdServers->Cell(Row, 0);
    return Result;
}

// Ticks by hand up to and including the 31st; the completion box goes to Boxes.
inline void FinishScan(TfrmMain& Form, TBoxWatcher& Boxes) {
    while (Form.Aloha() && Form.Counter() > 0)
        Form.tmrScanTimer(Form.tmrScan);
    if (Form.Aloha()) {
        Boxes.Expect();
        Form.tmrScanTimer(Form.tmrScan);
    }
}

// Resident memory of this process in kB (VmRSS), 0 where it can't be read.
inline qint64 ResidentKb() {
    QFile Status(QStringLiteral("/proc/self/status"));
    if (!Status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& Line : Status.readAll().split('\n'))
        if (Line.startsWith("VmRSS:"))
            return Line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// Every line of every log file in Folder, in file name order; each line keeps
// its terminator so a stray break shows.
inline QStringList LogLines(const QString& Folder, const QString& Pattern = QStringLiteral("*")) {
    QStringList Lines;
    const QDir Dir(Folder);
    for (const QString& Name : Dir.entryList({Pattern}, QDir::Files, QDir::Name)) {
        QFile File(Dir.filePath(Name));
        if (!File.open(QIODevice::ReadOnly))
            continue;
        const QString Text = AnsiDecode(File.readAll());
        qsizetype From = 0;
        while (From < Text.size()) {
            qsizetype End = Text.indexOf(QStringLiteral("\r\n"), From);
            End = End < 0 ? Text.size() : End + 2;
            Lines << Text.mid(From, End - From);
            From = End;
        }
    }
    return Lines;
}

// "aloha serve" hosts of their own names in the lab, stopped on destruction.
// A host counts as up once its hello has been heard.
class TServerHosts {
public:
    TServerHosts() = default;
    ~TServerHosts() { Stop(); }
    TServerHosts(const TServerHosts&) = delete;
    TServerHosts& operator=(const TServerHosts&) = delete;

    bool Start(const QStringList& HostNames, int TimeoutMs = 15000) {
        QUdpSocket Ear;
        if (!Ear.bind(QHostAddress::AnyIPv4, AlohaPort,
                      QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
            return false;
        QSet<QString> Greeted;
        QObject::connect(&Ear, &QUdpSocket::readyRead, [&] {
            while (Ear.hasPendingDatagrams()) {
                const auto Message =
                    DecodeMessage(AnsiDecode(Ear.receiveDatagram().data()), Application);
                if (Message && Message->Kind == TAlohaMessageKind::ServerHello)
                    Greeted.insert(Message->ServerName);
            }
        });
        const QString Aloha = QDir(BinDir()).filePath(QStringLiteral("aloha"));
        for (const QString& Host : HostNames) {
            auto Server = std::make_unique<QProcess>();
            Server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            Server->start(Netlab(), {QStringLiteral("host"), Host, QStringLiteral("--"), Aloha,
                                     QStringLiteral("serve")});
            if (!Server->waitForStarted(10000))
                return false;
            FServers.push_back(std::move(Server));
        }
        return QTest::qWaitFor([&] { return Greeted.size() == HostNames.size(); }, TimeoutMs);
    }

    void Stop() {
        for (auto& Server : FServers) {
            Server->terminate();
            if (!Server->waitForFinished(5000))
                Server->kill();
            Server->waitForFinished(2000);
        }
        FServers.clear();
    }

private:
    std::vector<std::unique_ptr<QProcess>> FServers;
};

} // namespace labscan

// A widgets test that opens sockets: it runs in the network lab or not at all.
#define LANFINDER_LAB_WIDGETS_TEST_MAIN(TestClass)                                                 \
    int main(int argc, char* argv[]) {                                                             \
        if (SkipOutsideNetworkLab(argv[0]))                                                        \
            return 77;                                                                             \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                               \
        QApplication App(argc, argv);                                                              \
        TestClass Test;                                                                            \
        return QTest::qExec(&Test, argc, argv);                                                    \
    }
