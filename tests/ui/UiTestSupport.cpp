#include "UiTestSupport.h"

#include "ui/KvUIManager.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

namespace velmora::test {

namespace {

// gtest_main owns main(); the application is made once, on first use, and
// lives until the process ends.
int g_argc = 1;
char g_name[] = "test_ui";
char* g_argv[] = {g_name, nullptr};

} // namespace

void EnsureApplication()
{
    if (QApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(g_argc, g_argv);
}

SkinFolder::SkinFolder()
    : m_folder("velmora-ui")
{
    EnsureApplication();
    CKvUIManager::SetResourceFolder(Path());
}

SkinFolder::~SkinFolder()
{
    CKvUIManager::SetResourceFolder(QString());
}

QString SkinFolder::Write(const QString& relative, const QByteArray& bytes) const
{
    const QString path = Path() + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
    return path;
}

QString SkinFolder::SaveImage(const QString& relative, const QImage& image) const
{
    const QString path = Path() + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    image.save(path, "PNG");
    return path;
}

QImage SkinFolder::Strip(int frameWidth, int height, const std::vector<QColor>& colors)
{
    QImage image(frameWidth * int(colors.size()), height, QImage::Format_ARGB32);
    QPainter painter(&image);
    for (size_t i = 0; i < colors.size(); ++i)
        painter.fillRect(QRect(int(i) * frameWidth, 0, frameWidth, height), colors[i]);
    return image;
}

QImage SkinFolder::Filled(int width, int height, const QColor& color)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

TestDialog::TestDialog(Builder builder, bool withDefaults)
    : m_builder(std::move(builder))
    , m_withDefaults(withDefaults)
{
    SetFadeEnabled(false);
    resize(400, 300);
}

void TestDialog::CreateControls()
{
    if (m_withDefaults)
        CKvDialogBase::CreateControls();
    if (m_builder)
        m_builder(*Manager());
}

bool ShowActive(QWidget& widget)
{
    widget.show();
    widget.activateWindow();
    return QTest::qWaitForWindowActive(&widget);
}

QColor PixelAt(const CKvUIManager& manager, int x, int y)
{
    return QColor::fromRgba(manager.Picture().pixel(x, y));
}

} // namespace velmora::test
