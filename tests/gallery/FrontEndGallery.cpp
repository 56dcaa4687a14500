// velmora_frontend_gallery: the front end's windows in the states worth looking at,
// each saved as a PNG into one folder:
//
//   velmora_frontend_gallery [output folder]
//
//   main-busy.png       the main window while the queue runs (list locked, progress shown)
//   main-done.png       the main window after a run with a failed row
//   main-menu.png       the context menu of a finished row (Show in Folder, Play)
//   main-drop.png       files dragged over the window, and the same while Render runs
//   message-long.png    the message about 45 files that could not be added, placed on
//                       the screen as the window system would show it
//   settings-8000.png   "Audio Settings" for MP3 at 8000 Hz (the bit rates that rate allows)
//   waiting-opaque.png  the spinner as drawn where the screen has no compositor
//   waiting-count.png   the waiting dialog of a long folder walk: its count and Stop
//   screen-x11.png      under an X server only (xvfb-run): the whole screen with the
//                       spinner and an open menu, as the server really shows them
//
// QT_SCALE_FACTOR=2 (or 1.5) draws every window for a screen of that device pixel
// ratio: the pictures are that many times larger and show the 2x skin.
//
// It runs the real front end in a copy of the built program folder, with an engine
// that never ends, so the busy window stays busy while it is drawn; the source files
// are made with the ffmpeg tools.

#include "frontend/KvFrontEndApp.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvMainDlg.h"
#include "frontend/KvMediaList.h"
#include "frontend/KvMessageDlg.h"
#include "frontend/KvMovieSettingsDlg.h"
#include "frontend/KvWaitingDlg.h"
#include "common/KvAudioFormats.h"
#include "common/KvOptionRecord.h"
#include "common/KvProgramFolder.h"
#include "support/SoundTracks.h"
#include "support/TempFolder.h"
#include "ui/KvCompositor.h"
#include "ui/KvListCtrl.h"
#include "ui/KvMenuEx.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <functional>

using namespace velmora;
using namespace velmora::test;

namespace {

bool Save(const QImage& picture, const QString& folder, const char* name)
{
    const QString path = folder + QLatin1String(name);
    if (picture.isNull() || !picture.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

QImage Grab(QWidget& window)
{
    QApplication::processEvents();
    return window.grab().toImage();
}

// The screen with window where the window system puts it, over a plain desktop.
QImage OnScreen(QWidget& window)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const qreal ratio = window.devicePixelRatioF();
    QImage picture(QSizeF(QSizeF(screen.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(ratio);
    picture.fill(QColor(70, 80, 95));
    QPainter painter(&picture);
    painter.drawImage(window.geometry().topLeft() - screen.topLeft(), Grab(window));
    return picture;
}

// window with the popup that opens while open() runs drawn where it shows.
QImage WithPopup(QWidget& window, const std::function<void()>& open)
{
    QImage picture;
    QTimer::singleShot(300, [&] {
        QImage shot = Grab(window);
        if (QWidget* popup = QApplication::activePopupWidget()) {
            QPainter painter(&shot);
            painter.drawImage(window.mapFromGlobal(popup->pos()), popup->grab().toImage());
            popup->close();
        }
        picture = shot;
    });
    open();
    return picture;
}

// window while files are dragged over it.
QImage WhileDragging(QWidget& window, const QStringList& files)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& file : files)
        urls << QUrl::fromLocalFile(file);
    data.setUrls(urls);
    const QPoint at(window.width() / 2, window.height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &move);
    const QImage picture = Grab(window);
    QDragLeaveEvent leave;
    QApplication::sendEvent(&window, &leave);
    return picture;
}

bool MakeSound(const std::string& path, double seconds)
{
    return RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds)
                      + " " + ShellQuote(path))
        == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    QString output = args.size() > 1 ? args[1] : QStringLiteral(VELMORA_GALLERY_DIR);
    if (!output.endsWith(u'/'))
        output += u'/';
    QDir().mkpath(output);

    TempProgramFolder program(true);
    SetProgramFolderForTesting(program.Path());
    CKvUIManager::SetResourceFolder(QString::fromStdString(program.Path()));
    const std::string engine = program.Path() + "kvengine";
    std::filesystem::remove(engine);
    WriteFileBytes(engine, "#!/bin/sh\nexec sleep 60\n");
    std::filesystem::permissions(engine, std::filesystem::perms::owner_all);
    SetMessageHookForTesting([](const QString&, const QString&, int) { return int(CKvMessageDlg::kIdOk); });

    TempFolder media("velmora-gallery");
    const std::string names[] = {
        "Holiday in the mountains 2023 - the long version with the whole family and the dog.mp4",
        "Interview.wav", "Concert recording, second set.mp3", "lecture.wav"};
    QStringList files;
    for (const std::string& name : names) {
        // The film has an English and a German sound track: its row offers them.
        const bool film = name.ends_with(".mp4");
        if (!(film ? MakeTwoTrackFilm(media.Path() + name, "-c:v mpeg4 -c:a:0 aac -c:a:1 ac3")
                   : MakeSound(media.Path() + name, 3.0)))
            return 1;
        files << QString::fromStdString(media.Path() + name);
    }
    TempFolder target("velmora-gallery-out");

    bool ok = true;
    {
        CKvLumoApp lumo;
        if (!lumo.Startup())
            return 1;
        CKvMainDlg* window = lumo.CreateMainWindow();
        window->show();
        QApplication::processEvents();
        window->MediaList()->AddFiles(files);
        window->SetFolderChooser([&target] { return QString::fromStdString(target.Path()); });

        // Busy: the first row done earlier, the second converting.
        KvMediaList& list = *window->MediaList();
        list.SetState(0, KvRowState::Finished);
        window->OnRender();
        list.SetState(1, KvRowState::Running, 42.5);
        ok &= Save(Grab(*window), output, "main-busy.png");
        window->OnRender();

        // Done: three converted, one failed with its reason.
        list.SetState(1, KvRowState::Finished);
        list.SetState(2, KvRowState::Failed);
        list.SetRowToolTip(2, QStringLiteral("The disk is full."));
        list.SetState(3, KvRowState::Finished);
        ok &= Save(Grab(*window), output, "main-done.png");

        // The finished row's menu, its output there.
        const std::string rendered = target.Path() + "(output001)Interview.wma";
        WriteFileBytes(rendered, "sound");
        list.SetRowOutput(1, QString::fromStdString(rendered));
        window->ListControl()->SetSelectedRow(1, false);
        QCursor::setPos(window->mapToGlobal(window->ListControl()->CellRect(0, 1).center()));
        ok &= Save(WithPopup(*window, [&] { window->Manager()->SendNotify(kMsgListContext, window->ListControl(), 1); }),
                   output, "main-menu.png");

        // Files dragged over the window, idle and then busy, one above the other.
        const QImage welcome = WhileDragging(*window, files);
        window->OnRender();
        const QImage refused = WhileDragging(*window, files);
        window->OnRender();
        QImage both(welcome.width(), welcome.height() + refused.height(), QImage::Format_ARGB32_Premultiplied);
        both.setDevicePixelRatio(welcome.devicePixelRatio());
        QPainter stack(&both);
        stack.drawImage(0, 0, welcome);
        stack.drawImage(QPointF(0, welcome.deviceIndependentSize().height()), refused);
        stack.end();
        ok &= Save(both, output, "main-drop.png");
        lumo.DestroyMainWindow();
        lumo.ExitInstance();
    }

    // 45 files that could not be read, under long folder names.
    std::vector<KvSkippedFile> skipped;
    for (int i = 0; i < 45; ++i)
        skipped.push_back({QStringLiteral("/home/ana/Videos/Camera/2023-07-%1/VID_20230714_1830%2_HDR_stabilised_export.mp4")
                               .arg(i % 28 + 1, 2, 10, QChar(u'0'))
                               .arg(i, 2, 10, QChar(u'0')),
                           KvMediaList::ReasonUnreadable()});
    CKvMessageDlg message(QString(), KvMediaList::SkippedMessage(skipped), CKvMessageDlg::kStyleOk);
    message.SetFadeEnabled(false);
    message.show();
    ok &= Save(OnScreen(message), output, "message-long.png");
    message.hide();

    KvFrontEndState& state = KvFrontEndState::Instance();
    state.Reset(program.Path());
    tagKvOptionRecord& record = state.CurrentRecord();
    record.nOutputType = kKvOutputMp3;
    record.nSampleRate = 8000;
    record.nAudioBitrate = 640;
    CKvMovieSettingsDlg settings(state);
    settings.SetFadeEnabled(false);
    settings.show();
    ok &= Save(Grab(settings), output, "settings-8000.png");
    settings.hide();
    for (const auto& [type, name] : {std::pair{kKvOutputFlac, "settings-flac.png"}, std::pair{kKvOutputOriginal, "settings-original.png"}}) {
        record.nOutputType = type;
        record.nSampleRate = kKvRateOfSource;
        record.nChannels = kKvChannelsOfSource;
        record.nAudioQuality = 5;
        CKvMovieSettingsDlg formatSettings(state);
        formatSettings.SetFadeEnabled(false);
        formatSettings.show();
        ok &= Save(Grab(formatSettings), output, name);
        formatSettings.hide();
    }

    SetCompositorForTesting(0);
    CKvWaitingDlg waiting;
    waiting.setWindowTitle(QStringLiteral("Please wait"));
    waiting.Open();
    ok &= Save(waiting.Render(), output, "waiting-opaque.png");
    waiting.Close();
    SetCompositorForTesting(-1);
    {
        CKvWaitingDlg counting;
        counting.SetStopHandler([] {});
        counting.SetText(QStringLiteral("Looking for media files\u2026 1,234 found"));
        counting.Open();
        QApplication::processEvents();
        ok &= Save(counting.Render(), output, "waiting-count.png");
        counting.Close();
    }

    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // What the X server shows: where no compositor runs, the spinner and the menu
        // shadow must come out in the dialog colours, not as black boxes.
        std::printf("compositor: %s\n", HasCompositor() ? "yes" : "no");
        // A light desktop behind them, so what is black shows.
        QWidget desktop(nullptr, Qt::FramelessWindowHint);
        desktop.setAutoFillBackground(true);
        desktop.setPalette(QPalette(QColor(70, 80, 95)));
        desktop.setGeometry(QGuiApplication::primaryScreen()->geometry());
        desktop.show();
        CKvWaitingDlg spinner;
        spinner.setWindowTitle(QStringLiteral("Please wait"));
        spinner.Open();
        CKvMenuEx menu;
        menu.AddItem(1, QStringLiteral("&Add Files..."));
        menu.AddItem(2, QStringLiteral("&Exit"));
        QImage screen;
        QTimer::singleShot(800, [&] {
            screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
            menu.Close();
        });
        const QRect area = QGuiApplication::primaryScreen()->geometry();
        menu.TrackMenu(CKvMenuEx::TPM_RETURNCMD, area.center() + QPoint(80, 0), nullptr);
        spinner.Close();
        ok &= Save(screen, output, "screen-x11.png");
    }

    SetMessageHookForTesting({});
    SetProgramFolderForTesting(std::string());
    return ok ? 0 : 1;
}
