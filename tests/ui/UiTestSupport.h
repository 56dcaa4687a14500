#pragma once

// Shared pieces of the toolkit's widget tests: the application object, a
// temporary program folder with pictures and skin files made on the spot, and
// a dialog whose controls the test decides.

#include "support/TempFolder.h"
#include "ui/KvDialogBase.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <functional>

namespace velmora::test {

// Makes sure a QApplication exists (offscreen unless the caller chose a platform).
void EnsureApplication();

// A temporary folder that serves as the program folder of the skin loader.
class SkinFolder
{
public:
    SkinFolder();
    ~SkinFolder();

    QString Path() const { return QString::fromStdString(m_folder.Path()); }
    // Writes a file under the folder (parents created) and returns its full path.
    QString Write(const QString& relative, const QByteArray& bytes) const;
    // Saves a picture as PNG under the folder.
    QString SaveImage(const QString& relative, const QImage& image) const;
    // A strip of frames side by side, frame i filled with colors[i].
    static QImage Strip(int frameWidth, int height, const std::vector<QColor>& colors);
    static QImage Filled(int width, int height, const QColor& color);

private:
    TempFolder m_folder;
};

// A skinned dialog that builds its controls with the given function instead
// of the default close, OK and Cancel; it never fades unless asked.
class TestDialog : public CKvDialogBase
{
public:
    using Builder = std::function<void(CKvUIManager&)>;

    explicit TestDialog(Builder builder = {}, bool withDefaults = false);

    void CreateControls() override;

private:
    Builder m_builder;
    bool m_withDefaults;
};

// Shows the dialog and makes it the active window.
bool ShowActive(QWidget& widget);

// The colour of a pixel of the dialog's composed picture.
QColor PixelAt(const CKvUIManager& manager, int x, int y);

} // namespace velmora::test
