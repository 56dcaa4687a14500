#pragma once

// Opening what a finished row wrote: its folder in the file manager, or the file in
// the desktop's player, with the row menu's items for both. A file moved or deleted
// since the Render is said so, on the items and in a message; a desktop that cannot
// open anything is told in a message too, even when it answers late.

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class CKvMenuEx;

namespace velmora {

class KvDesktopOpener;
class KvMediaList;

class KvFinishedOutputs
{
public:
    KvFinishedOutputs(QWidget* window, std::function<KvMediaList*()> list);
    ~KvFinishedOutputs();

    // Adds "Show in Folder" and "Play" (commands showId, playId) for row's output, when
    // the row is finished.
    void AddMenuItems(CKvMenuEx& menu, int row, int showId, int playId) const;
    void ShowInFolder(int row);
    void Play(int row);

    void SetDesktopOpener(std::unique_ptr<KvDesktopOpener> opener);

private:
    QString OutputToOpen(int row);
    std::function<void()> TellLater(const QString& text);
    KvDesktopOpener& DesktopOpener();

    QPointer<QWidget> m_window;
    std::function<KvMediaList*()> m_list;
    std::unique_ptr<KvDesktopOpener> m_desktopOpener;
};

} // namespace velmora
