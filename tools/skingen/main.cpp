// velmora_skingen: draws every image of Velmora's skin into a skin folder, each
// twice: "name.png" for standard screens and "name@2x.png", drawn at twice the
// size, for screens of a device pixel ratio above 1.
//
//   velmora_skingen <skin folder> [--sheet <contact sheet.png>] [--zoom <n>] [--only <text>]
//
// --only limits the contact sheet to images whose path contains the text.

#include "ContactSheet.h"
#include "SkinArtist.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>

using namespace velmora::skingen;

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();

    QString sheetPath;
    int zoom = 3;
    QString skinFolder;
    QString only;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--sheet") && i + 1 < args.size())
            sheetPath = args[++i];
        else if (args[i] == QLatin1String("--zoom") && i + 1 < args.size())
            zoom = args[++i].toInt();
        else if (args[i] == QLatin1String("--only") && i + 1 < args.size())
            only = args[++i];
        else
            skinFolder = args[i];
    }
    if (skinFolder.isEmpty()) {
        std::fprintf(stderr, "usage: velmora_skingen <skin folder> [--sheet <png>] [--zoom <n>] [--only <text>]\n");
        return 2;
    }

    const SkinArtist artist;
    std::vector<std::pair<QString, QImage>> drawn;
    for (const SkinImage& image : artist.Images()) {
        const QImage picture = artist.Render(image);
        const QString target = QDir(skinFolder).filePath(image.path);
        QDir().mkpath(QFileInfo(target).absolutePath());
        if (!picture.save(target, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
            return 1;
        }
        const QString doubled = DoubledPath(target);
        if (!artist.Render(image, 2).save(doubled, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(doubled));
            return 1;
        }
        if (only.isEmpty() || image.path.contains(only))
            drawn.emplace_back(image.path, picture);
    }
    std::printf("%zu images (and their @2x pictures) written to %s\n", artist.Images().size(), qPrintable(skinFolder));

    if (!sheetPath.isEmpty()) {
        const Palette& colors = artist.Colors();
        const QImage sheet = MakeContactSheet(drawn, colors.dialog, colors.edge.lighter(150), zoom);
        if (!sheet.save(sheetPath, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(sheetPath));
            return 1;
        }
    }
    return 0;
}
