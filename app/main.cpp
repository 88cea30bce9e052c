#include "Main.h"
#include "CrashReporter.h"
#include "HostInfo.h"

#include <QDir>

int main(int argc, char* argv[]) {
    TReportingApplication Application(argc, argv);
    // The name doubles as the display name. Setting a display name of its own
    // would make X11 window managers show "Quillory 5 Server Scan — Lanfinder".
    QApplication::setApplicationName(QStringLiteral("Lanfinder"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.ternwick.Lanfinder"));

    // Before the window exists, so that nothing the window does escapes it.
    TCrashReporter Reporter;
    const QString Documents = GetCommonDocumentsFolder();
    if (!Documents.isEmpty())
        Reporter.SetReportFolder(
            QDir(Documents).filePath(QStringLiteral("Ternwick Software/Quillory 5")));
    Reporter.SetProgramVersion(GetFileVersionText(QString()));
    Reporter.SetMailSubject(QStringLiteral("Quillory 5 Exception Report."));
    Reporter.Install();
    Application.SetCrashReporter(&Reporter);

    TfrmMain frmMain;
    frmMain.show();
    return Application.exec();
}
