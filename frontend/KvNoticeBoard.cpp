#include "frontend/KvNoticeBoard.h"

#include "common/KvProcess.h"
#include "common/KvProgramFolder.h"
#include "frontend/KvNoticeFeed.h"
#include "frontend/KvNoticeThread.h"
#include "ui/KvADListBox.h"
#include "ui/KvUiTypes.h"
#include "xml/KvXmlNode.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTimer>

using namespace velmora;

namespace {

// The notices and the staging folder are written by us, so they live in the work folder.
QString WorkFile(const char* relative)
{
    return QString::fromStdString(WritablePath(relative));
}

bool IsWebUrl(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty();
}

} // namespace

CKvNoticeBoard::CKvNoticeBoard(CKvADListBox* list, QObject* parent)
    : QObject(parent)
    , m_list(list)
    , m_opener(&CKvNoticeBoard::OpenWithDesktop)
{
}

CKvNoticeBoard::~CKvNoticeBoard()
{
    if (m_thread && !m_thread->wait(QDeadlineTimer(0))) {
        // Still in a transfer after the exit path's wait: the process is ending, and
        // a running thread must not be destroyed. It finishes (or dies with the
        // process) on its own; nothing it emits reaches us any more.
        m_thread->RequestStop();
        m_thread->disconnect(this);
        CKvNoticeThread* thread = m_thread.release();
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    }
    ReapTools();
}

QString CKvNoticeBoard::NoticeFolder()
{
    return WorkFile("skin/internet/");
}

QString CKvNoticeBoard::StagingFolder()
{
    return WorkFile("tmp/link/");
}

QString CKvNoticeBoard::NoticeHost()
{
    CKvXmlNode document;
    if (!document.Load(ProgramPath("skin/notices.xml")))
        return QString();
    const CKvXmlNode* root = document.FirstElement();
    if (!root || root->GetName() != L"Notices")
        return QString();
    QString host = QString::fromStdWString(root->GetStringAttribute(L"host")).trimmed();
    while (host.endsWith(u'/'))
        host.chop(1);
    if (host.isEmpty())
        return QString();
    if (!host.contains(QLatin1String("://")))
        host.prepend(QLatin1String("https://"));
    if (!IsNoticeWebAddress(host.toStdWString()) || !IsWebUrl(QUrl(host, QUrl::StrictMode)))
        return QString();
    return host;
}

int CKvNoticeBoard::FirstRunReport()
{
    const std::string marker = WritablePath("skin/first.xml");
    if (QFileInfo::exists(QString::fromStdString(marker)))
        return 0;
    int started = 0;
    const QString host = NoticeHost();
    if (!host.isEmpty()) {
        const std::string tool = ProgramPath("kvinfo");
        for (const char* page : {"/versionlog.php?versiontype=vlma106", "/newversionlog.php?versiontype=vlma106&user=nouse"}) {
            const pid_t pid = SpawnProgram(tool, {(host + QLatin1String(page)).toStdString()});
            if (pid > 0) {
                m_tools.push_back(pid);
                ++started;
            }
        }
        if (!m_tools.empty() && !m_reaper) {
            // The tool ends on its own; collect it so it does not linger.
            m_reaper = new QTimer(this);
            connect(m_reaper, &QTimer::timeout, this, &CKvNoticeBoard::ReapTools);
            m_reaper->start(500);
        }
    }
    CKvXmlNode document;
    document.AddChild(L"FirstRunFalse");
    document.Save(marker, CKvXmlNode::kUtf16Le);
    return started;
}

void CKvNoticeBoard::ReapTools()
{
    std::erase_if(m_tools, [](pid_t pid) { return !IsProcessAlive(pid); });
    if (m_tools.empty() && m_reaper)
        m_reaper->stop();
}

void CKvNoticeBoard::Fill()
{
    if (!m_list)
        return;
    m_list->DeleteAllItems();
    const QString folder = NoticeFolder();
    QFile feed(folder + QLatin1String(kNoticeFeedName));
    if (feed.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = feed.read(kMaxNoticeFeedBytes + 1);
        for (const tagKvNoticeItem& item : UsableNoticeItems(std::string_view(bytes.constData(), bytes.size()))) {
            const QString picture = folder + QString::fromStdWString(item.save);
            const QString link = QString::fromStdWString(item.link);
            // Shown only what works: a notice whose picture did not come (the feed's
            // budget ran out before it) or whose link would not open is left out.
            if (!QFileInfo::exists(picture) || (!link.isEmpty() && !IsOpenableLink(link)))
                continue;
            const int index = m_list->AddItem(0, 0, picture, link, QString::fromStdWString(item.title),
                                              QString::fromStdWString(item.disp));
            // A path too long for the item's field still shows its picture.
            if (picture.size() > CKvADListBox::kMaxText)
                m_list->SetItemImage(index,
                                     LoadPictureWithin(picture, QSize(CKvADListBox::kThumbnailSide, CKvADListBox::kThumbnailSide),
                                                       kMaxNoticePictureSide),
                                     false);
        }
    }
    emit listChanged();
}

bool CKvNoticeBoard::Start()
{
    if (m_thread)
        return false;
    const QString host = NoticeHost();
    if (host.isEmpty())
        return false;
    m_thread = std::make_unique<CKvNoticeThread>(host + QLatin1String("/free/msgfree.xml"), StagingFolder(),
                                                 NoticeFolder());
    // Queued: the refill runs on the GUI thread, never beside a paint of the list.
    connect(m_thread.get(), &CKvNoticeThread::noticesChanged, this, &CKvNoticeBoard::Fill, Qt::QueuedConnection);
    m_thread->start();
    return true;
}

bool CKvNoticeBoard::Stop(int timeoutMs)
{
    if (!m_thread)
        return true;
    m_thread->RequestStop();
    if (m_thread->wait(QDeadlineTimer(0)))
        return true;
    const bool cursor = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    if (cursor)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ended = m_thread->wait(QDeadlineTimer(timeoutMs));
    if (cursor)
        QApplication::restoreOverrideCursor();
    return ended;
}

bool CKvNoticeBoard::OpenItem(int index)
{
    const tagKvADListBoxItem* item = m_list ? m_list->Item(index) : nullptr;
    return item && OpenLink(item->szText2);
}

bool CKvNoticeBoard::IsOpenableLink(const QString& address)
{
    return IsNoticeWebAddress(address.toStdWString()) && IsWebUrl(QUrl(address, QUrl::StrictMode));
}

bool CKvNoticeBoard::OpenLink(const QString& address)
{
    return IsOpenableLink(address) && m_opener && m_opener(QUrl(address, QUrl::StrictMode));
}

bool CKvNoticeBoard::OpenWithDesktop(const QUrl& url)
{
    if (QDesktopServices::openUrl(url))
        return true;
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
}
