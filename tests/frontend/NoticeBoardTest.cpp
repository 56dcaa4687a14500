// Online notices against a loopback server: a good feed swaps in, any failed or
// refused download changes nothing, an exit during a stalled transfer ends at once,
// unsafe "save" names and links are never acted on; the first-run report; and the
// main window's strip, which gives its room to the media list when it is empty.

#include "LoopbackHttpServer.h"
#include "MediaTestSupport.h"
#include "common/KvProgramFolder.h"
#include "frontend/KvFrontEndApp.h"
#include "frontend/KvMainDlg.h"
#include "frontend/KvNoticeBoard.h"
#include "frontend/KvNoticeFeed.h"
#include "frontend/KvNoticeThread.h"
#include "support/TempFolder.h"
#include "ui/KvADListBox.h"
#include "ui/KvListCtrl.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

using namespace velmora;
using namespace velmora::fetest;
using namespace velmora::test;
using Response = LoopbackHttpServer::Response;

namespace {

QByteArray Picture(const char* format, QColor colour)
{
    QImage image(64, 36, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray Item(const QString& pic, const QString& save, const QString& link, const QString& title,
                const QString& disp = QString())
{
    return QStringLiteral("  <item pic=\"%1\" save=\"%2\" link=\"%3\" title=\"%4\" disp=\"%5\"/>\n")
        .arg(pic, save, link, title, disp)
        .toUtf8();
}

QByteArray Feed(const QList<QByteArray>& items)
{
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<msg>\n";
    for (const QByteArray& item : items)
        feed += item;
    return feed + "</msg>\n";
}

// A PNG whose header says width x height: what a decoder would allocate for, whatever
// the few bytes behind it hold.
QByteArray PictureClaiming(int width, int height)
{
    QByteArray png = Picture("PNG", Qt::green);
    // IHDR's width and height (big-endian) follow the signature, length and type.
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = char((width >> (24 - 8 * i)) & 0xFF);
        png[20 + i] = char((height >> (24 - 8 * i)) & 0xFF);
    }
    // The chunk's CRC-32 over type and data.
    quint32 crc = 0xFFFFFFFFu;
    for (int i = 12; i < 12 + 4 + 13; ++i) {
        crc ^= quint8(png[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i)
        png[29 + i] = char((crc >> (24 - 8 * i)) & 0xFF);
    return png;
}

// Every file of a folder with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const QFileInfo& info : QDir(QString::fromStdString(folder)).entryInfoList(QDir::Files | QDir::Hidden))
        files[info.fileName().toStdString()] = ReadFileBytes(info.filePath().toStdString());
    return files;
}

class NoticeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetHost(m_server.Address());
        // The copied program folder may hold what a run of the built program left.
        QFile::remove(QString::fromStdString(m_program.Work() + "skin/first.xml"));
        QDir(QString::fromStdString(Internet())).removeRecursively();
        QDir().mkpath(QString::fromStdString(Internet()));
    }

    void SetHost(const QString& host)
    {
        WriteFileBytes(m_program.Path() + "skin/notices.xml",
                       "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Notices host=\"" + host.toStdString() + "\"/>\n");
    }

    std::string Internet() const { return m_program.Work() + "skin/internet/"; }

    QString Url(const QString& path) const { return m_server.Address() + path; }

    // Old notices, shown before this run's download.
    void StoreOldNotices()
    {
        WriteFileBytes(Internet() + "msg.xml",
                       Feed({Item(Url("/old.png"), "old.png", "https://old.example/", "Old notice")}).toStdString());
        WriteFileBytes(Internet() + "old.png", Picture("PNG", Qt::gray).toStdString());
    }

    // Runs the download thread to its end; returns whether it refilled the list.
    bool RunDownload(CKvNoticeBoard& board)
    {
        QSignalSpy filled(&board, &CKvNoticeBoard::listChanged);
        EXPECT_TRUE(board.Start());
        EXPECT_TRUE(QTest::qWaitFor([&] { return board.Thread()->HasEnded(); }, 20000));
        board.Thread()->wait();
        QApplication::processEvents();
        return filled.count() > 0;
    }

    ProgramScope m_program;
    LoopbackHttpServer m_server;
    CKvADListBox m_list;
};

TEST_F(NoticeTest, AGoodFeedSwapsInAndSkipsItemsThatBreakTheRules)
{
    StoreOldNotices();
    m_server.SetBody("/free/msgfree.xml",
                     Feed({Item(Url("/a.png"), "a.png", "https://example.org/a?x=1&amp;y=2", "First", "More &amp; more"),
                           Item(Url("/evil"), "../escape.png", "https://example.org/", "Climbs out"),
                           Item(Url("/evil"), "/tmp/abs.png", "https://example.org/", "Absolute"),
                           Item(Url("/evil"), ".hidden", "https://example.org/", "Hidden"),
                           Item(Url("/evil"), QString(300, u'n'), "https://example.org/", "Too long"),
                           Item(Url("/evil"), "script.png", "javascript:alert(1)", "Script"),
                           Item(Url("/evil"), "local.png", "file:///etc/passwd", "Local"),
                           Item("file:///etc/passwd", "pic.png", "https://example.org/", "Local picture"),
                           Item(Url("/b.jpg"), "b.jpg", "", "Second")}));
    m_server.SetBody("/a.png", Picture("PNG", Qt::red));
    m_server.SetBody("/b.jpg", Picture("JPEG", Qt::blue));
    m_server.SetBody("/evil", Picture("PNG", Qt::black));

    CKvNoticeBoard board(&m_list);
    board.Fill();
    ASSERT_EQ(m_list.GetItemCount(), 1);
    ASSERT_TRUE(RunDownload(board));

    EXPECT_FALSE(m_server.WasRequested("/evil")) << "skipped items are not downloaded";
    ASSERT_EQ(m_list.GetItemCount(), 2);
    const tagKvADListBoxItem* first = m_list.Item(0);
    EXPECT_EQ(first->szText1, QString::fromStdString(Internet() + "a.png"));
    EXPECT_EQ(first->szText2, "https://example.org/a?x=1&y=2");
    EXPECT_EQ(first->szText3, "First");
    ASSERT_TRUE(first->pExtra);
    EXPECT_EQ(*first->pExtra, "More & more");
    EXPECT_EQ(first->thumbnail.pixelColor(5, 5), QColor(Qt::red));
    EXPECT_EQ(m_list.Item(1)->szText3, "Second");
    EXPECT_FALSE(m_list.Item(1)->thumbnail.isNull());

    const auto files = Snapshot(Internet());
    EXPECT_EQ(files.at("a.png"), Picture("PNG", Qt::red).toStdString());
    EXPECT_EQ(files.count("b.jpg"), 1u);
    EXPECT_EQ(files.count("old.png"), 0u) << "the old feed's pictures go with it";
    EXPECT_EQ(files.size(), 3u) << "no copies left beside the targets";
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(m_program.Path() + "skin/escape.png")));
    EXPECT_FALSE(QFileInfo::exists("/tmp/abs.png"));
}

struct FailureCase
{
    const char* name;
    void (*script)(LoopbackHttpServer& server);
};

class NoticeFailures : public NoticeTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(NoticeFailures, LeaveTheShownNoticesExactlyAsTheyWere)
{
    StoreOldNotices();
    const QString base = m_server.Address();
    m_server.SetBody("/free/msgfree.xml",
                     Feed({Item(base + "/1.png", "1.png", "https://example.org/1", "One"),
                           Item(base + "/2.png", "2.png", "https://example.org/2", "Two"),
                           Item(base + "/3.png", "3.png", "https://example.org/3", "Three")}));
    m_server.SetBody("/1.png", Picture("PNG", Qt::red));
    m_server.SetBody("/2.png", Picture("PNG", Qt::green));
    m_server.SetBody("/3.png", Picture("PNG", Qt::blue));
    GetParam().script(m_server);

    const auto before = Snapshot(Internet());
    CKvNoticeBoard board(&m_list);
    EXPECT_FALSE(RunDownload(board));
    EXPECT_EQ(Snapshot(Internet()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Downloads, NoticeFailures,
    ::testing::Values(
        FailureCase{"SecondPictureMissing", [](LoopbackHttpServer& s) { s.Set("/2.png", Response{404, "gone"}); }},
        FailureCase{"SecondPictureServerError",
                    [](LoopbackHttpServer& s) { s.Set("/2.png", Response{500, Picture("PNG", Qt::green)}); }},
        FailureCase{"SecondPictureCutShort",
                    [](LoopbackHttpServer& s) {
                        const QByteArray png = Picture("PNG", Qt::green);
                        s.Set("/2.png", Response{200, png.left(png.size() / 2), png.size()});
                    }},
        FailureCase{"SecondPictureIsAWebPage",
                    [](LoopbackHttpServer& s) { s.SetBody("/2.png", "<html>Sign in first</html>"); }},
        FailureCase{"SecondPictureEmpty", [](LoopbackHttpServer& s) { s.Set("/2.png", Response{200, "", -2}); }},
        FailureCase{"SecondPictureIsABomb",
                    [](LoopbackHttpServer& s) { s.SetBody("/2.png", PictureClaiming(40000, 40000)); }},
        FailureCase{"SecondPictureTooLarge",
                    [](LoopbackHttpServer& s) {
                        s.Set("/2.png", Response{200, Picture("PNG", Qt::green)
                                                          + QByteArray(int(kMaxNoticePictureBytes), 'x'), -2});
                    }},
        FailureCase{"FeedTooLarge",
                    [](LoopbackHttpServer& s) {
                        QByteArray feed = Feed({Item(s.Address() + "/1.png", "1.png", "", "One")});
                        feed.insert(feed.indexOf("<msg>"), "<!--" + QByteArray(int(kMaxNoticeFeedBytes), ' ') + "-->");
                        s.SetBody("/free/msgfree.xml", feed);
                    }},
        FailureCase{"FeedWithoutItems", [](LoopbackHttpServer& s) { s.SetBody("/free/msgfree.xml", Feed({})); }},
        FailureCase{"FeedNotXml", [](LoopbackHttpServer& s) { s.SetBody("/free/msgfree.xml", "<msg><item"); }}),
    [](const auto& info) { return std::string(info.param.name); });

// A feed brings its first 20 notices and 20 MB of pictures at most; the list keeps
// thumbnails, never the pictures themselves.
TEST_F(NoticeTest, AFeedBringsAtMostTwentyNoticesAndTwentyMegabytesOfPictures)
{
    QList<QByteArray> items;
    for (int i = 1; i <= 30; ++i)
        items << Item(Url(QStringLiteral("/%1.png").arg(i)), QStringLiteral("%1.png").arg(i), "https://example.org/",
                      QStringLiteral("Notice %1").arg(i));
    m_server.SetBody("/free/msgfree.xml", Feed(items));
    QImage large(1100, 1100, QImage::Format_RGB32);
    quint32 state = 1;
    for (int y = 0; y < large.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(large.scanLine(y));
        for (int x = 0; x < large.width(); ++x)
            line[x] = (state = state * 1664525u + 1013904223u) >> 8;
    }
    QByteArray largePng;
    QBuffer buffer(&largePng);
    buffer.open(QIODevice::WriteOnly);
    large.save(&buffer, "PNG");
    ASSERT_GT(largePng.size(), 3 * 1024 * 1024);
    ASSERT_LT(largePng.size(), qsizetype(kMaxNoticePictureBytes));
    for (int i = 1; i <= 30; ++i)
        m_server.SetBody(QStringLiteral("/%1.png").arg(i), i <= 3 ? largePng : Picture("PNG", Qt::red));

    {
        // Three large pictures and small ones after them: 20 notices, the rest never asked for.
        CKvNoticeBoard board(&m_list);
        ASSERT_TRUE(RunDownload(board));
        EXPECT_EQ(m_list.GetItemCount(), 20);
        EXPECT_TRUE(m_server.WasRequested("/20.png"));
        EXPECT_FALSE(m_server.WasRequested("/21.png"));
        for (int i = 0; i < m_list.GetItemCount(); ++i) {
            const QSize kept = m_list.Item(i)->thumbnail.size();
            EXPECT_LE(std::max(kept.width(), kept.height()), CKvADListBox::kThumbnailSide) << i;
        }
    }
    // Large pictures all the way: the budget ends the feed after the pictures it holds.
    for (int i = 1; i <= 30; ++i)
        m_server.SetBody(QStringLiteral("/%1.png").arg(i), largePng);
    CKvNoticeBoard board(&m_list);
    ASSERT_TRUE(RunDownload(board));
    const int fit = int(kMaxNoticeFeedPictureBytes / std::size_t(largePng.size()));
    EXPECT_EQ(m_list.GetItemCount(), fit);
    qint64 stored = 0;
    for (const QFileInfo& file : QDir(QString::fromStdString(Internet())).entryInfoList(QDir::Files))
        stored += file.fileName() == "msg.xml" ? 0 : file.size();
    EXPECT_LE(stored, qint64(kMaxNoticeFeedPictureBytes));
    EXPECT_EQ(stored, qint64(fit) * largePng.size()) << "the small pictures of the feed before are gone";
}

TEST_F(NoticeTest, ExitDuringAStalledDownloadEndsAtOnceAndKeepsTheNotices)
{
    StoreOldNotices();
    const QByteArray big = Picture("PNG", Qt::red) + QByteArray(100000, 'x');
    m_server.SetBody("/free/msgfree.xml", Feed({Item(Url("/slow.png"), "slow.png", "", "Slow")}));
    m_server.Set("/slow.png", Response{200, big, big.size(), 2000});
    const auto before = Snapshot(Internet());

    CKvNoticeBoard board(&m_list);
    board.Fill();
    ASSERT_TRUE(board.Start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.WasRequested("/slow.png"); }, 20000));
    QTest::qWait(100);
    EXPECT_FALSE(board.Thread()->HasEnded()) << "the transfer is stalled, not over";
    EXPECT_TRUE(board.Stop()) << "the thread ends within the exit path's second";
    EXPECT_TRUE(board.Thread()->HasEnded());
    QApplication::processEvents();
    EXPECT_EQ(Snapshot(Internet()), before);
    ASSERT_EQ(m_list.GetItemCount(), 1);
    EXPECT_EQ(m_list.Item(0)->szText3, "Old notice");
}

TEST_F(NoticeTest, OnlyWebLinksReachTheOpenerWhole)
{
    CKvNoticeBoard board(&m_list);
    QList<QUrl> opened;
    board.SetOpener([&](const QUrl& url) {
        opened << url;
        return true;
    });
    for (const char* refused :
         {"javascript:alert(1)", "JavaScript:alert(1)", "file:///etc/passwd", "data:text/html,<b>x</b>", "ftp://host/x",
          "http://", "https:///path", " https://example.org/", "https://example.org/a b", "https://exa mple.org/",
          "https://example.org/\n--flag", "-https://example.org/", ""})
        EXPECT_FALSE(board.OpenLink(QString::fromUtf8(refused))) << refused;
    EXPECT_TRUE(opened.isEmpty());

    EXPECT_TRUE(board.OpenLink("https://example.org/page?a=1&b=$(touch%20x);c"));
    EXPECT_TRUE(board.OpenLink("HTTP://Example.org:8080/"));
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0].toString(QUrl::FullyEncoded), "https://example.org/page?a=1&b=$(touch%20x);c");
    EXPECT_EQ(opened[1].host(), "example.org");

    // A stored feed edited by hand is held to the same rules when the list is filled.
    WriteFileBytes(Internet() + "msg.xml",
                   Feed({Item(Url("/x.png"), "x.png", "javascript:alert(1)", "Script"),
                         Item(Url("/y.png"), "y.png", "https://example.org/y", "Fine")})
                       .toStdString());
    for (const char* name : {"x.png", "y.png"})
        WriteFileBytes(Internet() + name, Picture("PNG", Qt::gray).toStdString());
    board.Fill();
    ASSERT_EQ(m_list.GetItemCount(), 1);
    EXPECT_TRUE(board.OpenItem(0));
    EXPECT_FALSE(board.OpenItem(5));
    EXPECT_EQ(opened.last().toString(), "https://example.org/y");
}

TEST_F(NoticeTest, FirstRunReportAsksTheVersionLogOnceWithTheTool)
{
    const std::string marker = m_program.Work() + "skin/first.xml";
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(m_program.Path() + "kvinfo")));
    CKvNoticeBoard board(&m_list);
    EXPECT_EQ(board.FirstRunReport(), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_server.Requests().size() == 2; }, 20000));
    EXPECT_TRUE(m_server.WasRequested("/versionlog.php?versiontype=vlma106"));
    EXPECT_TRUE(m_server.WasRequested("/newversionlog.php?versiontype=vlma106&user=nouse"));
    EXPECT_NE(ReadFileBytes(marker).find(std::string("F\0i\0r\0s\0t\0R\0u\0n\0F\0a\0l\0s\0e", 25)), std::string::npos);

    // The second start of the installation reports nothing.
    EXPECT_EQ(board.FirstRunReport(), 0);
}

TEST_F(NoticeTest, WithoutAHostNothingIsFetchedOrReported)
{
    for (const char* host : {"", "   ", "ftp://example.org", "javascript:alert(1)"}) {
        SetHost(QString::fromLatin1(host));
        EXPECT_TRUE(CKvNoticeBoard::NoticeHost().isEmpty()) << host;
    }
    CKvNoticeBoard board(&m_list);
    EXPECT_FALSE(board.Start());
    EXPECT_EQ(board.Thread(), nullptr);
    EXPECT_TRUE(board.Stop());
    EXPECT_EQ(board.FirstRunReport(), 0);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(m_program.Work() + "skin/first.xml")))
        << "written anyway, so the report is not tried again";
    QTest::qWait(200);
    EXPECT_TRUE(m_server.Requests().isEmpty());

    SetHost("notices.example.org/");
    EXPECT_EQ(CKvNoticeBoard::NoticeHost(), "https://notices.example.org");
    SetHost("http://127.0.0.1:8080/base//");
    EXPECT_EQ(CKvNoticeBoard::NoticeHost(), "http://127.0.0.1:8080/base");
}

TEST(NoticeFeed, ItemsAnywhereInDocumentOrderWithTheirAttributes)
{
    const std::string feed = "<?xml version=\"1.0\"?>\n<root><item title=\"1\" pic=\"p\"/>"
                             "<group><item title=\"2\" link=\"a&amp;b\"><item title=\"3\"/></item></group>"
                             "<other/><item title=\"4\" save=\"s\" disp=\"d\"/></root>";
    const auto items = ReadNoticeFeed(feed);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].title, L"1");
    EXPECT_EQ(items[0].pic, L"p");
    EXPECT_EQ(items[1].link, L"a&b");
    EXPECT_EQ(items[2].title, L"3");
    EXPECT_EQ(items[3].save, L"s");
    EXPECT_EQ(items[3].disp, L"d");
    EXPECT_TRUE(items[3].link.empty());
    EXPECT_TRUE(ReadNoticeFeed("<root><item title=\"x\"></root>").empty());
    EXPECT_TRUE(ReadNoticeFeed("").empty());
}

TEST(NoticeFeed, SaveNamesArePlainFileNames)
{
    for (const std::wstring& bad :
         {std::wstring(L"../x"), std::wstring(L"/etc/x"), std::wstring(L".hidden"), std::wstring(300, L'a'),
          std::wstring(101, L'a'), std::wstring(L"a/b.png"), std::wstring(L"a\\b.png"), std::wstring(L".."),
          std::wstring(L""), std::wstring(L"msg.xml"), std::wstring(L"MSG.XML"), std::wstring(L"caf\u00E9.png"),
          std::wstring(L"a b.png"), std::wstring(L"a\0b", 3), std::wstring(L"~x")})
        EXPECT_FALSE(IsPlainNoticeName(bad)) << std::string(bad.begin(), bad.end());
    for (const std::wstring& good : {std::wstring(L"a.png"), std::wstring(L"Banner_2024-05.v2.JPG"),
                                     std::wstring(100, L'a'), std::wstring(L"a..b"), std::wstring(L"-x")})
        EXPECT_TRUE(IsPlainNoticeName(good));
    EXPECT_TRUE(IsNoticePicture(std::string("\x89PNG\r\n\x1A\n....", 12)));
    EXPECT_TRUE(IsNoticePicture("\xFF\xD8\xFF\xE0"));
    for (const char* other : {"GIF89a", "<html>", "\x89PNG", "BM", ""})
        EXPECT_FALSE(IsNoticePicture(other)) << other;
}

// The main window with notices configured: the strip shows when there are notices,
// a click opens the link, and closing during a stalled feed does not wait.
class MainWindowNotices : public NoticeTest
{
protected:
    void Open()
    {
        ASSERT_TRUE(m_app.Startup());
        m_dialog = m_app.CreateMainWindow();
        m_dialog->show();
        QApplication::processEvents();
    }

    void TearDown() override
    {
        m_app.DestroyMainWindow();
        m_app.ExitInstance();
    }

    CKvLumoApp m_app;
    CKvMainDlg* m_dialog = nullptr;
};

TEST_F(MainWindowNotices, TheStripAppearsWithNoticesAndItsClickOpensTheLink)
{
    m_server.SetBody("/free/msgfree.xml", Feed({Item(Url("/a.png"), "a.png", "https://example.org/a", "A notice")}));
    m_server.SetBody("/a.png", Picture("PNG", Qt::red));
    Open();
    CKvADListBox* strip = m_dialog->NoticeList();
    EXPECT_FALSE(strip->IsVisible()) << "no stored notices yet";
    EXPECT_EQ(m_dialog->ListControl()->Rect(), QRect(10, 80, 979, 560)) << "the list takes the strip's room";

    ASSERT_TRUE(QTest::qWaitFor([&] { return strip->GetItemCount() == 1; }, 20000));
    EXPECT_TRUE(strip->IsVisible());
    EXPECT_EQ(strip->Rect(), QRect(1, 520, 997, 120));
    EXPECT_EQ(m_dialog->ListControl()->Rect(), QRect(10, 80, 979, 430));

    QList<QUrl> opened;
    m_dialog->Notices()->SetOpener([&](const QUrl& url) {
        opened << url;
        return true;
    });
    QTest::mouseClick(m_dialog, Qt::LeftButton, {}, strip->ItemRect(0).center());
    QTest::qWait(50);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].toString(), "https://example.org/a");
}

TEST_F(MainWindowNotices, ClosingDuringAStalledFeedDoesNotHoldTheWindow)
{
    m_server.Set("/free/msgfree.xml", Response{200, "<msg>", 5000, 3});
    Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.WasRequested("/free/msgfree.xml"); }, 20000));
    m_dialog->OnCancel();
    EXPECT_TRUE(m_dialog->Notices()->Thread()->HasEnded());
    EXPECT_FALSE(m_dialog->isVisible());
}

} // namespace
