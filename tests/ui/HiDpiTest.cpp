// The skin on screens of more than one device pixel per logical pixel: the dialog
// picture is composed at the screen's ratio, controls draw their 2x pictures into
// their logical rectangles, a change drawn in place matches a full composition, and
// the window shows the picture pixel for pixel, and a window moved to a denser
// screen composes afresh at its ratio. Also: the skin's fonts follow a larger
// application font.
//
// Qt reads QT_SCALE_FACTOR and the platform's screens once, when the application
// starts, so those checks run in a child process of this test program started with
// them.

#include "UiTestSupport.h"

#include "ui/KvButton.h"
#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QWindow>
#include <QPainter>
#include <QProcess>
#include <QTest>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <cmath>

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr const char* kChildVariable = "VELMORA_TEST_CHILD";

// True in the child process started as name: the caller then runs its checks
// there. In the test's own process it runs the current test again in a child with
// the given environment variables (Qt reads them once, at start), expects it to
// pass, and returns false.
bool InChild(const QString& name, const std::vector<std::pair<QString, QString>>& variables)
{
    if (qEnvironmentVariableIsSet(kChildVariable))
        return qEnvironmentVariable(kChildVariable) == name;
    EnsureApplication();
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const auto& [variable, value] : variables)
        environment.insert(variable, value);
    environment.insert(QString::fromLatin1(kChildVariable), name);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=%1.%2").arg(QLatin1String(test->test_suite_name()),
                                                              QLatin1String(test->name()))});
    const bool finished = child.waitForFinished(60000);
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_TRUE(finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
        << qPrintable(name) << ":\n" << output.toStdString();
    EXPECT_TRUE(output.contains(QLatin1String("[  PASSED  ] 1 test"))) << qPrintable(name);
    return false;
}

bool InChildAt(const char* ratio)
{
    return InChild(QStringLiteral("ratio ") + QLatin1String(ratio), {{QStringLiteral("QT_SCALE_FACTOR"), QLatin1String(ratio)}});
}

QImage Plain(QImage image)
{
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(1.0);
    return image;
}

// A strip of four frames of frameSize, each a checkerboard of one pixel squares in
// its colour and black (the first frame) or nothing (the others, so that what lies
// behind the control shows through): nothing an enlarged smaller picture could look
// like.
QImage Checkered(const QSize& frameSize, const std::vector<QColor>& colors)
{
    QImage image(frameSize.width() * int(colors.size()), frameSize.height(), QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int index = x / frameSize.width();
            const QRgb gap = index == 0 ? qRgb(0, 0, 0) : qRgba(0, 0, 0, 0);
            image.setPixel(x, y, (x + y) % 2 ? gap : colors[size_t(index)].rgb());
        }
    }
    return image;
}

// The pixels of shown where frame is opaque that differ from it.
int Mismatches(const QImage& shown, const QImage& frame)
{
    if (shown.size() != frame.size())
        return frame.width() * frame.height();
    int count = 0;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            count += qAlpha(frame.pixel(x, y)) == 255 && shown.pixel(x, y) != frame.pixel(x, y);
    return count;
}

// The window's mouse move at a logical point. (QTest's moves land off by a pixel or
// two at fractional ratios on the offscreen platform: it rounds the window's place.)
void MoveMouse(QWidget& window, const QPoint& point)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(point), QPointF(window.mapToGlobal(point)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &move);
}

void ChecksAt(double ratio)
{
    SkinFolder skin;
    const std::vector<QColor> looks = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
    const QString strip = skin.SaveImage("skin/btn/strip.png", SkinFolder::Strip(20, 10, looks));
    const QImage doubled = Checkered(QSize(40, 20), looks);
    skin.SaveImage("skin/btn/strip@2x.png", doubled);

    // Odd logical places: at 1.5 the button's edges fall inside device pixels.
    const QRect place(11, 41, 20, 10);
    CKvButton* button = nullptr;
    TestDialog dialog([&](CKvUIManager& manager) {
        button = new CKvButton;
        button->LoadImage(strip);
        button->Move(place.x(), place.y(), place.width(), place.height());
        manager.AddControl(1, button, kTypeButton);
        auto* label = new CKvButton;
        label->Move(40, 40, 90, 14);
        manager.AddControl(2, label, kTypeButton);
        label->SetFontId(1);
        label->SetCaption(QStringLiteral("Ratio"));
    });
    tagKvFontData font;
    font.nID = 1;
    CKvUIManager::AddFont(font);
    ASSERT_TRUE(ShowActive(dialog));
    ASSERT_DOUBLE_EQ(dialog.devicePixelRatioF(), ratio);
    CKvUIManager& manager = *dialog.Manager();
    manager.Compose();

    const QImage& picture = manager.Picture();
    EXPECT_DOUBLE_EQ(picture.devicePixelRatio(), ratio);
    EXPECT_EQ(picture.size(), QSize(int(std::ceil(400 * ratio)), int(std::ceil(300 * ratio))));
    // The button's device pixels at ratio 2.
    const QRect pixels(place.topLeft() * 2, place.size() * 2);
    auto frame = [&](int index) { return Plain(doubled.copy(index * 40, 0, 40, 20)); };
    if (ratio == 2.0) {
        // Drawn from the 2x picture, pixel for pixel, into the logical rectangle.
        EXPECT_EQ(Plain(picture.copy(pixels)), frame(0)) << "normal look";
    }

    // The mouse works in logical pixels: a point inside the button hovers it, and
    // the new look is drawn in place over the copy of what lies behind it.
    MoveMouse(dialog, place.center());
    ASSERT_EQ(button->GetLook(), CKvButton::LookHover);
    ASSERT_FALSE(manager.NeedsCompose()) << "the hover must be drawn in place, not by composing afresh";
    const QImage inPlace = Plain(manager.Picture());
    if (ratio == 2.0) {
        EXPECT_EQ(Mismatches(inPlace.copy(pixels), frame(1)), 0) << "hover look, drawn in place";
        // The window shows the picture at its own pixels, not a scaled part of it.
        const QImage shown = Plain(dialog.grab().toImage());
        EXPECT_EQ(shown.size(), picture.size());
        EXPECT_EQ(Mismatches(shown.copy(pixels), frame(1)), 0) << "hover look, as the window shows it";
    }
    manager.Compose();
    EXPECT_EQ(inPlace, Plain(manager.Picture())) << "a change drawn in place differs from the full picture";

    // And back: the copy behind the button is put back where it came from.
    MoveMouse(dialog, QPoint(300, 200));
    ASSERT_EQ(button->GetLook(), CKvButton::LookNormal);
    const QImage restored = Plain(manager.Picture());
    manager.Compose();
    EXPECT_EQ(restored, Plain(manager.Picture())) << "the normal look drawn in place differs from the full picture";
}

} // namespace

TEST(HiDpi, ControlsDrawTheirTwoXPictureAndChangesInPlaceMatchTheFullPicture)
{
    for (const char* ratio : {"1.5", "2"}) {
        if (InChildAt(ratio)) {
            ChecksAt(QString::fromLatin1(ratio).toDouble());
            return;
        }
    }
}

TEST(HiDpi, AWindowMovedToADenserScreenComposesItsPictureAfreshAtThatRatio)
{
    // Two screens side by side: a standard one and one of ratio 2 (the offscreen
    // platform reads them from a file).
    TempFolder folder("velmora-screens");
    const QString screens = QString::fromStdString(folder.Path()) + QStringLiteral("screens.json");
    QFile file(screens);
    file.open(QIODevice::WriteOnly);
    file.write(R"({"screens": [{"name": "standard", "x": 0, "y": 0, "width": 800, "height": 600, "dpr": 1},
                             {"name": "dense", "x": 800, "y": 0, "width": 1600, "height": 1200, "dpr": 2}]})");
    file.close();
    if (!InChild(QStringLiteral("two screens"),
                 {{QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + screens}}))
        return;

    SkinFolder skin;
    const std::vector<QColor> looks = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
    const QString strip = skin.SaveImage("skin/btn/strip.png", SkinFolder::Strip(20, 10, looks));
    const QImage doubled = Checkered(QSize(40, 20), looks);
    skin.SaveImage("skin/btn/strip@2x.png", doubled);
    TestDialog dialog([&](CKvUIManager& manager) {
        auto* button = new CKvButton;
        button->LoadImage(strip);
        button->Move(10, 40, 20, 10);
        manager.AddControl(1, button, kTypeButton);
    });
    QScreen* standard = nullptr;
    QScreen* dense = nullptr;
    for (QScreen* screen : QGuiApplication::screens())
        (screen->devicePixelRatio() > 1 ? dense : standard) = screen;
    ASSERT_TRUE(standard && dense);
    dialog.setScreen(standard);
    ASSERT_TRUE(ShowActive(dialog));
    CKvUIManager& manager = *dialog.Manager();
    QApplication::processEvents();
    ASSERT_DOUBLE_EQ(manager.Picture().devicePixelRatio(), 1.0);

    dialog.windowHandle()->setScreen(dense);
    QApplication::processEvents();
    ASSERT_DOUBLE_EQ(dialog.devicePixelRatioF(), 2.0);
    const QImage shown = Plain(dialog.grab().toImage());
    EXPECT_DOUBLE_EQ(manager.Picture().devicePixelRatio(), 2.0);
    EXPECT_EQ(manager.Picture().size(), QSize(800, 600));
    EXPECT_EQ(shown.copy(20, 80, 40, 20), Plain(doubled.copy(0, 0, 40, 20))) << "the 2x picture, as the window shows it";
}

TEST(HiDpi, SkinFontsGrowWithALargerApplicationFontAndStayAsTheyAreOnAStandardDesktop)
{
    EnsureApplication();
    const QFont saved = QApplication::font();
    tagKvFontData entry;
    entry.nSize = 12;
    // What Qt gives without a desktop theme (9 pt here) is no reason to change.
    EXPECT_EQ(FontFromEntry(entry).pixelSize(), 12) << "application font " << saved.pointSizeF() << " pt";

    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInchY();
    QFont standard = saved;
    standard.setPointSizeF(kStandardFontPoints * 96.0 / dpi);
    QApplication::setFont(standard);
    EXPECT_EQ(FontFromEntry(entry).pixelSize(), 12) << "the standard size";

    QFont larger = saved;
    larger.setPointSizeF(kStandardFontPoints * 1.5 * 96.0 / dpi);
    QApplication::setFont(larger);
    EXPECT_EQ(FontFromEntry(entry).pixelSize(), 18);
    entry.nSize = 15;
    EXPECT_EQ(FontFromEntry(entry).pixelSize(), 23) << "15 x 1.5, rounded";
    QApplication::setFont(saved);
}
