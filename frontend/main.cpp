// velmora: the front end. Files named on the command line are added to the list as
// the Add command adds them (so a file manager's "Open with" works); when Velmora
// already runs from this folder, they are handed to that window instead. With
// --render it converts them without a window (KvCommandLine.h).
//
//   velmora [file ...]
//   velmora --render FOLDER [options] FILE...
//   velmora --version | --help

#include "frontend/KvCommandLine.h"
#include "frontend/KvFrontEndApp.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

QtMessageHandler g_defaultHandler = nullptr;

void PrintNoDisplay(const char* reason)
{
    std::fprintf(stderr,
                 "velmora: cannot open a window: %s.\n"
                 "Velmora needs a graphical session: start it from the desktop, or set DISPLAY (or\n"
                 "WAYLAND_DISPLAY) to a running display.\n",
                 reason);
}

// While the application object starts: Qt ends the process when no platform plugin
// can start (no display to connect to); say why in words a user can act on instead of
// suggesting a reinstall.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        const QByteArray display = qgetenv("DISPLAY");
        const QByteArray reason = display.isEmpty() ? QByteArrayLiteral("no display could be reached")
                                                    : "the display " + display + " could not be reached";
        PrintNoDisplay(reason.constData());
        std::fflush(stderr);
        _exit(1);
    }
    g_defaultHandler(type, context, message);
}

bool HasDisplay()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    // Answered without a display: packaging scripts and users at a console ask these.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("velmora %s\n", VELMORA_VERSION);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: velmora [file ...]\n"
                    "       velmora --render FOLDER [options] FILE...\n"
                    "Extracts the sound tracks of video and audio files into audio files (MP3, WMA,\n"
                    "AAC, ALAC, Opus, Vorbis, FLAC, WAV) or keeps them as they are.\n"
                    "Files named here are put in the list (into the running window when Velmora runs).\n"
                    "  --render   convert without a window (\"velmora --render --help\" tells how)\n"
                    "  --version  print the version and end\n"
                    "  --help     print this text and end\n");
        return 0;
    }
    // A render needs no display: it starts no GUI at all.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (velmora::KvCommandLine::IsRender(arguments)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("velmora"));
        QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
        // Numbers in job files are written the C way whatever the user's locale.
        std::setlocale(LC_NUMERIC, "C");
        const int code = velmora::KvCommandLine::Run(arguments);
        std::fflush(nullptr);
        return code;
    }
    if (!HasDisplay()) {
        PrintNoDisplay("no display is set (DISPLAY and WAYLAND_DISPLAY are empty)");
        return 1;
    }

    g_defaultHandler = qInstallMessageHandler(StartupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_defaultHandler);
    QApplication::setApplicationName(QStringLiteral("velmora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Velmora"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
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
    const int code = lumo.ExitInstance();
    // A start that could not work ends as a failure (after its message).
    return lumo.StartupError().isEmpty() ? code : 1;
}
