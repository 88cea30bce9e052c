#pragma once
// The program's one window: explains the tool, runs a 30-second scan for
// servers with one discovery endpoint per scan, lists each server name once and
// counts the scan down. The window owns its controls and, during a scan, the
// endpoint.

#include <QSet>
#include <QString>
#include <QWidget>
#include <memory>

class QLabel;
class QTimer;
class TAlohaUDP;
class TCircularGauge;
class TFlatButton;
class TListGrid;
class TPanel;
class TTextColumn;
class TTextLine;

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    static constexpr int ScanTicks = 30;
    static constexpr int TickInterval = 1000; // ms

    explicit TfrmMain(QWidget* Parent = nullptr);
    ~TfrmMain() override;

    // The controls, in the order of the window's layout.
    TListGrid* grdServers;
    TTextColumn* NxTextColumn1;
    TTextColumn* NxTextColumn2;
    TTextColumn* NxTextColumn3;
    QLabel* Image1;
    TPanel* RzPanel2;
    TTextLine* pnlCopyright;
    TTextLine* pnlVersion;
    TFlatButton* btnScan;
    TFlatButton* btnExit;
    QLabel* HTMLabel1;
    QTimer* tmrScan;
    TCircularGauge* ProgressCircle;

    void FormCreate(QObject* Sender);
    void FormDestroy(QObject* Sender);
    void btnScanClick(QObject* Sender);
    void btnExitClick(QObject* Sender);
    void tmrScanTimer(QObject* Sender);
    void AlohaFindServerResponseReceived(TAlohaUDP* Sender, const QString& ServerName,
                                         const QString& IPAddress, qint32 ServerPort);
    void AlohaServerAnnounce(TAlohaUDP* Sender, const QString& ServerName, const QString& IPAddress,
                             qint32 ServerPort);

    // The running scan's endpoint (null outside a scan) and its ticks left.
    const TAlohaUDP* Aloha() const { return FAloha.get(); }
    int Counter() const { return FCounter; }

protected:
    // Makes the workstation endpoint of one scan.
    virtual std::unique_ptr<TAlohaUDP> CreateAloha();

    void StartScan();
    bool StartAloha();
    void StopAloha();
    void AddServer(const QString& ServerName, const QString& IPAddress, const QString& ServerPort);
    void ShowVersion();
    void ShowCopyright();

private:
    std::unique_ptr<TAlohaUDP> FAloha;
    qint32 FCounter = 0;
    // Column 0 of every row, so a report needs no walk over the list.
    QSet<QString> FServerNames;
};
