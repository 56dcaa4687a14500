// The installed skin: every picture the dialogs load exists with the size its
// control expects, the button strips follow the four-look rules, and the skin
// description and colour scheme read back as intended.

#include "project/KvUiColors.h"
#include "ui/KvUIManager.h"

#include "UiTestSupport.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>

#include <cmath>

namespace {

const QString kSkinRoot = QStringLiteral(VELMORA_SOURCE_DIR);

struct SkinPicture
{
    const char* path;
    int frameWidth;
    int height;
    int frames;
};

const SkinPicture kPictures[] = {
    {"skin/btn/dia-close.png", 16, 16, 4},      {"skin/btn/dia-min.png", 16, 16, 4},
    {"skin/btn/dia-max.png", 16, 16, 4},        {"skin/btn/dia-max1.png", 16, 16, 4},
    {"skin/btn/dia-help.png", 16, 16, 4},       {"skin/btn/menu.png", 25, 25, 4},
    {"skin/btn/add.png", 40, 40, 4},            {"skin/btn/op-remove.png", 30, 30, 4},
    {"skin/btn/op-removeall.png", 30, 30, 4},   {"skin/btn/op-up.png", 30, 30, 4},
    {"skin/btn/op-down.png", 30, 30, 4},        {"skin/btn/op-previewproject.png", 30, 30, 4},
    {"skin/btn/vsetting.png", 92, 40, 4},       {"skin/btn/main-convert.png", 126, 40, 4},
    {"skin/btn/main-convertstop.png", 126, 40, 4}, {"skin/btn/btnlyricplay.png", 30, 30, 4},
    {"skin/btn/btnstop.png", 30, 30, 4},        {"skin/btn/prevpage.png", 24, 24, 4},
    {"skin/btn/nextpage.png", 24, 24, 4},       {"skin/btn/gold.png", 26, 26, 1},
    {"skin/flag/waiting.png", 48, 48, 1},       {"skin/flag/videodefault.png", 128, 72, 1},
    {"skin/flag/ytplay.png", 28, 28, 1},
};

QImage Load(const char* path)
{
    return QImage(kSkinRoot + QString::fromLatin1(path)).convertToFormat(QImage::Format_ARGB32);
}

QImage Frame(const QImage& strip, const SkinPicture& picture, int index)
{
    return strip.copy(index * picture.frameWidth, 0, picture.frameWidth, picture.height);
}

int MaxAlpha(const QImage& image)
{
    int alpha = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            alpha = std::max(alpha, qAlpha(image.pixel(x, y)));
    return alpha;
}

// Amber shows as red well above blue; the scheme's greys and blues never do.
bool HasAccent(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) > 40 && qRed(pixel) > qBlue(pixel) + 60)
                return true;
        }
    }
    return false;
}

class SkinPictureTest : public ::testing::TestWithParam<SkinPicture>
{
protected:
    static void SetUpTestSuite() { velmora::test::EnsureApplication(); }
};

TEST_P(SkinPictureTest, HasItsControlsSizeAndTransparentCorners)
{
    const SkinPicture& picture = GetParam();
    const QImage strip = Load(picture.path);
    ASSERT_FALSE(strip.isNull()) << picture.path;
    EXPECT_EQ(strip.width(), picture.frameWidth * picture.frames) << picture.path;
    EXPECT_EQ(strip.height(), picture.height) << picture.path;
    EXPECT_TRUE(strip.hasAlphaChannel()) << picture.path;
    // The dialog draws beneath every picture, so none paints its corners.
    EXPECT_EQ(qAlpha(strip.pixel(0, 0)), 0) << picture.path;
    EXPECT_EQ(qAlpha(strip.pixel(picture.frameWidth - 1, picture.height - 1)), 0) << picture.path;
}

// The mean difference of alpha between the 1x picture and the 2x one averaged
// over each 2 x 2 block: small when both draw the same shapes in the same places.
double MeanAlphaDifference(const QImage& normal, const QImage& doubled)
{
    double sum = 0;
    for (int y = 0; y < normal.height(); ++y) {
        for (int x = 0; x < normal.width(); ++x) {
            const int block = qAlpha(doubled.pixel(2 * x, 2 * y)) + qAlpha(doubled.pixel(2 * x + 1, 2 * y))
                              + qAlpha(doubled.pixel(2 * x, 2 * y + 1)) + qAlpha(doubled.pixel(2 * x + 1, 2 * y + 1));
            sum += std::abs(block / 4.0 - qAlpha(normal.pixel(x, y)));
        }
    }
    return sum / (normal.width() * normal.height());
}

TEST_P(SkinPictureTest, HasATwoXPictureOfTheSameShapesDrawnAtTwiceTheSize)
{
    const SkinPicture& picture = GetParam();
    const QImage normal = Load(picture.path);
    QString path = QString::fromLatin1(picture.path);
    path.insert(path.size() - 4, QStringLiteral("@2x"));
    const QImage doubled = QImage(kSkinRoot + path).convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(normal.isNull()) << picture.path;
    ASSERT_FALSE(doubled.isNull()) << qPrintable(path);
    ASSERT_EQ(doubled.size(), normal.size() * 2) << qPrintable(path);
    EXPECT_EQ(qAlpha(doubled.pixel(0, 0)), 0) << qPrintable(path);
    // Drawn afresh, not the 1x picture enlarged ...
    EXPECT_NE(doubled, normal.scaled(doubled.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation))
        << qPrintable(path) << " is the 1x picture enlarged";
    // ... and the same geometry: the frames side by side in the same places.
    EXPECT_LT(MeanAlphaDifference(normal, doubled), 2.5) << qPrintable(path);
}

class SkinStripTest : public SkinPictureTest
{
};

TEST_P(SkinStripTest, LooksDifferAndTheDisabledLookIsFaintAndPlain)
{
    const SkinPicture& picture = GetParam();
    const QImage strip = Load(picture.path);
    ASSERT_FALSE(strip.isNull()) << picture.path;
    const QImage normal = Frame(strip, picture, 0);
    EXPECT_NE(normal, Frame(strip, picture, 1)) << picture.path << ": hover looks like normal";
    EXPECT_NE(normal, Frame(strip, picture, 2)) << picture.path << ": pressed looks like normal";
    const QImage disabled = Frame(strip, picture, 3);
    EXPECT_LE(MaxAlpha(disabled), 103) << picture.path; // 40 % opacity
    EXPECT_GT(MaxAlpha(disabled), 0) << picture.path;
    EXPECT_FALSE(HasAccent(disabled)) << picture.path;
}

std::string PictureName(const ::testing::TestParamInfo<SkinPicture>& info)
{
    QString name = QString::fromLatin1(info.param.path).section(u'/', -1);
    name.chop(4);
    name.remove(u'-');
    return name.toStdString();
}

std::vector<SkinPicture> Strips()
{
    std::vector<SkinPicture> strips;
    for (const SkinPicture& picture : kPictures)
        if (picture.frames == 4)
            strips.push_back(picture);
    return strips;
}

INSTANTIATE_TEST_SUITE_P(Skin, SkinPictureTest, ::testing::ValuesIn(kPictures), PictureName);
INSTANTIATE_TEST_SUITE_P(Skin, SkinStripTest, ::testing::ValuesIn(Strips()), PictureName);

TEST(SkinFiles, RenderCarriesTheAccentAndTheSpinnerIsWhite)
{
    velmora::test::EnsureApplication();
    const SkinPicture render = kPictures[13];
    ASSERT_STREQ(render.path, "skin/btn/main-convert.png");
    EXPECT_TRUE(HasAccent(Frame(Load(render.path), render, 0)));

    // The waiting dialog tints the spinner itself, so only its alpha may vary.
    const QImage spinner = Load("skin/flag/waiting.png");
    ASSERT_FALSE(spinner.isNull());
    int lit = 0;
    for (int y = 0; y < spinner.height(); ++y) {
        for (int x = 0; x < spinner.width(); ++x) {
            const QRgb pixel = spinner.pixel(x, y);
            if (qAlpha(pixel) == 0)
                continue;
            ++lit;
            EXPECT_EQ(qRed(pixel) & qGreen(pixel) & qBlue(pixel), 255) << x << "," << y;
        }
    }
    EXPECT_GT(lit, 100);
}

TEST(SkinFiles, DescriptionDefinesTheSharedFontsAndNothingElse)
{
    velmora::test::EnsureApplication();
    CKvUIManager::SetResourceFolder(kSkinRoot);
    QWidget window;
    CKvUIManager manager;
    const size_t before = CKvUIManager::Fonts().size();
    EXPECT_EQ(manager.LoadSkin(&window, CKvUIManager::ResolvePath(QStringLiteral("skin/mainwnd.xml"))), 1);

    const auto& fonts = CKvUIManager::Fonts();
    ASSERT_EQ(fonts.size(), before + 8);
    for (size_t i = before; i < fonts.size(); ++i) {
        EXPECT_EQ(fonts[i].nID, int(i - before));
        EXPECT_EQ(fonts[i].szName, QStringLiteral("Arial"));
        EXPECT_GE(fonts[i].nSize, 12);
        EXPECT_LE(fonts[i].nSize, 15);
        EXPECT_EQ(fonts[i].clrNormal, 15525602u);
    }
    EXPECT_EQ(CKvUIManager::ToolTipFontId(), 4);
    // Every dialog loads this file: a background or a control here would show in all of them.
    EXPECT_FALSE(manager.HasBackground());
    EXPECT_EQ(manager.ControlCount(), 0);
    CKvUIManager::SetResourceFolder(QString());
}

TEST(SkinFiles, ColourSchemeIsTheDarkScheme)
{
    tagKvUiColors colors;
    ASSERT_TRUE(LoadUiColors((kSkinRoot + QStringLiteral("skin/uicolors/UIColors.uic")).toStdString(), colors));
    EXPECT_EQ(colors.clrDlgBK, 2959140u);    // 36, 39, 45
    EXPECT_EQ(colors.clrDlgEdge, 7233108u);  // 84, 94, 110
    EXPECT_EQ(colors.clrCtrlBK, 4142898u);   // 50, 55, 63
    EXPECT_EQ(colors.clrText, 15525602u);    // 226, 230, 236
}

} // namespace
