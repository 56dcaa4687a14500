// velmora_gallery: draws the control gallery and saves it as a PNG.
//
//   velmora_gallery [output.png] [program folder]
//
// The program folder is where skin/ is read from; by default the source tree's,
// so the gallery shows the committed skin without a build of the program folder.

#include "GalleryDialog.h"

#include "project/KvUiColors.h"
#include "ui/KvUIManager.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

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

    velmora::GalleryDialog dialog;
    dialog.show();
    const QImage picture = dialog.Snapshot();

    QDir().mkpath(QFileInfo(output).absolutePath());
    if (picture.isNull() || !picture.save(output, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(output));
        return 1;
    }
    std::printf("gallery written to %s\n", qPrintable(output));
    return 0;
}
