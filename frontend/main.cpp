// velmora: the front end. Files named on the command line are added to the list as
// the Add command adds them (so a file manager's "Open with" works); when Velmora
// already runs from this folder, they are handed to that window instead.

#include "frontend/KvFrontEndApp.h"

#include <QApplication>
#include <QFileInfo>
#include <QUrl>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmora"));
    QApplication::setDesktopFileName(QStringLiteral("velmora"));

    QStringList files;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        QString file = args[i];
        // A URL from a file manager ("%U") becomes its local path.
        if (file.startsWith(QStringLiteral("file://")))
            file = QUrl(file).toLocalFile();
        if (!file.isEmpty())
            files << QFileInfo(file).absoluteFilePath();
    }

    CKvLumoApp lumo;
    lumo.InitInstance(files);
    return lumo.ExitInstance();
}
