#include "frontend/KvFinishedOutputs.h"

#include "frontend/KvDesktopOpener.h"
#include "frontend/KvMediaList.h"
#include "frontend/KvMessageDlg.h"
#include "ui/KvMenuEx.h"

#include <QFileInfo>

namespace velmora {

KvFinishedOutputs::KvFinishedOutputs(QWidget* window, std::function<KvMediaList*()> list)
    : m_window(window)
    , m_list(std::move(list))
{
}

KvFinishedOutputs::~KvFinishedOutputs() = default;

void KvFinishedOutputs::AddMenuItems(CKvMenuEx& menu, int row, int showId, int playId) const
{
    const KvMediaList* list = m_list();
    const QString output = list ? list->FinishedOutput(row) : QString();
    if (output.isEmpty())
        return;
    // A file moved or deleted since the Render is said so on the items themselves,
    // rather than the items doing nothing.
    const bool there = QFileInfo(output).isFile();
    const QString gone = there ? QString() : QStringLiteral(" (file is gone)");
    menu.AddItem(0, QString());
    menu.AddItem(showId, QStringLiteral("Show in &Folder") + gone);
    menu.AddItem(playId, QStringLiteral("P&lay") + gone);
    menu.EnableItem(showId, there);
    menu.EnableItem(playId, there);
}

QString KvFinishedOutputs::OutputToOpen(int row)
{
    const KvMediaList* list = m_list();
    const QString output = list ? list->FinishedOutput(row) : QString();
    if (output.isEmpty() || QFileInfo(output).isFile())
        return output;
    KvMessageBox(QStringLiteral("The output file is gone:\n%1").arg(output), CKvMessageDlg::kStyleOk, m_window);
    return QString();
}

std::function<void()> KvFinishedOutputs::TellLater(const QString& text)
{
    // The desktop may answer after the window has gone.
    return [window = m_window, text] {
        if (window)
            KvMessageBox(text, CKvMessageDlg::kStyleOk, window);
    };
}

void KvFinishedOutputs::ShowInFolder(int row)
{
    const QString output = OutputToOpen(row);
    if (!output.isEmpty())
        DesktopOpener().ShowInFolder(
            output, TellLater(QStringLiteral("No file manager could be opened. The output file is here:\n%1").arg(output)));
}

void KvFinishedOutputs::Play(int row)
{
    const QString output = OutputToOpen(row);
    if (!output.isEmpty())
        DesktopOpener().Open(
            output, TellLater(QStringLiteral("No program could be opened to play the output file:\n%1").arg(output)));
}

void KvFinishedOutputs::SetDesktopOpener(std::unique_ptr<KvDesktopOpener> opener)
{
    m_desktopOpener = std::move(opener);
}

KvDesktopOpener& KvFinishedOutputs::DesktopOpener()
{
    // Made on first use: the session bus is not touched by a window that never asks.
    if (!m_desktopOpener)
        m_desktopOpener = std::make_unique<KvSystemDesktopOpener>();
    return *m_desktopOpener;
}

} // namespace velmora
