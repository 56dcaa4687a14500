// velmora_gallery: draws the control gallery and saves it as a PNG.
//
//   velmora_gallery [output.png] [program folder]
//
// The program folder is where skin/ is read from; by default the source tree's,
// so the gallery shows the committed skin without a build of the program folder.
// QT_SCALE_FACTOR=2 draws it for a screen of device pixel ratio 2 (the 2x skin).

#include "GalleryDialog.h"

#include "common/KvJobBlock.h"
#include "frontend/KvFrontEndState.h"
#include "frontend/KvPreviewMovieDlg.h"
#include "project/KvUiColors.h"
#include "ui/KvUIManager.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QTest>

#include <cstdio>
#include <unistd.h>

namespace {

// The preview bar of an hour-long row, playing and then stopped. The gallery stands
// in for the engine: the bar follows this process (which it never kills: it is its
// own) and the job block the gallery writes.
std::vector<QImage> PreviewBarFaces(const QString& folder)
{
    velmora::KvFrontEndState::Instance().Reset(folder.toStdString());
    velmora::tagKvJobBlock block{};
    block.dDuration = 3725.25;
    velmora::KvFrontEndState::Instance().SetJobBlock(&block);

    std::vector<QImage> faces;
    {
        CKvPreviewMovieDlg bar;
        bar.SetFadeEnabled(false);
        bar.SetEngineStarter([] { return getpid(); });
        bar.show();
        // What an engine writes once it plays.
        velmora::StoreRelease(block.nState, velmora::kKvJobRunning);
        velmora::StoreRelease(block.dPosition, 1240.37);
        if (!QTest::qWaitFor([&] { return bar.CurrentPhase() == CKvPreviewMovieDlg::Phase::Playing; }, 3000))
            std::fprintf(stderr, "the preview bar did not start to play\n");
        QTest::qWait(150);
        faces.push_back(bar.grab().toImage());
        velmora::StoreRelease(block.nState, velmora::kKvJobIdle);
        if (!QTest::qWaitFor([&] { return bar.CurrentPhase() == CKvPreviewMovieDlg::Phase::Stopped; }, 3000))
            std::fprintf(stderr, "the preview bar did not stop\n");
        faces.push_back(bar.grab().toImage());
    }
    velmora::KvFrontEndState::Instance().SetJobBlock(nullptr);
    return faces;
}

// The gallery with the bar's faces below it.
QImage WithPreviewBar(const QImage& gallery, const std::vector<QImage>& faces)
{
    // Laid out in logical pixels, at the pictures' device pixel ratio.
    constexpr int kGap = 10;
    const qreal ratio = gallery.devicePixelRatio();
    const auto logical = [](const QImage& image) { return image.deviceIndependentSize().toSize(); };
    int width = logical(gallery).width();
    int height = logical(gallery).height();
    for (const QImage& face : faces) {
        width = std::max(width, logical(face).width());
        height += kGap + logical(face).height();
    }
    QImage picture(QSize(width, height) * ratio, QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(ratio);
    picture.fill(QColor(24, 26, 30));
    QPainter painter(&picture);
    painter.drawImage(0, 0, gallery);
    int y = logical(gallery).height();
    for (const QImage& face : faces) {
        y += kGap;
        painter.drawImage(0, y, face);
        y += logical(face).height();
    }
    return picture;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString output = args.size() > 1 ? args[1] : QStringLiteral(VELMORA_GALLERY_OUTPUT);
    QString folder = args.size() > 2 ? args[2] : QStringLiteral(VELMORA_SOURCE_DIR);
    if (!folder.endsWith(u'/'))
        folder += u'/';

    CKvUIManager::SetResourceFolder(folder);
    LoadUiColors((folder + QStringLiteral("skin/uicolors/UIColors.uic")).toStdString(), CKvUIManager::Colors());

    QImage picture;
    {
        velmora::GalleryDialog dialog;
        dialog.show();
        picture = dialog.Snapshot();
    }
    picture = WithPreviewBar(picture, PreviewBarFaces(folder));

    QDir().mkpath(QFileInfo(output).absolutePath());
    if (picture.isNull() || !picture.save(output, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("gallery written to %s\n", qPrintable(output));
    return 0;
}
