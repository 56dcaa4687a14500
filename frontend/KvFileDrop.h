#pragma once

// Files and folders dropped on the main window: which drags it takes (links that can
// be taken as a copy; never a move, since a source told "moved" may delete its
// files), the hint it shows over the list while a drag waits (welcome, or why not
// now), and the answer to the drop itself. What the window does with the dropped
// files is its own business.

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

class QDragEnterEvent;
class QDragLeaveEvent;
class QDragMoveEvent;
class QDropEvent;
class QPainter;
class QRect;

namespace velmora {

class KvFileDrop
{
public:
    // refusal: why files cannot be added now (empty: they can), asked at every move
    // and at the drop. changed: the hint changed and wants a repaint.
    KvFileDrop(std::function<QString()> refusal, std::function<void()> changed);

    void Enter(QDragEnterEvent& event);
    void Move(QDragMoveEvent& event);
    void Leave(QDragLeaveEvent& event);
    // Answers the drop; false when it names no files. urls and refusal say what was
    // dropped and why it cannot be added now (empty: it can).
    bool Drop(QDropEvent& event, QList<QUrl>& urls, QString& refusal);

    const QString& Hint() const { return m_hint; }
    // Over the list, where the rows will appear: the accent frame when the files are
    // welcome, the danger colour and the reason when they are not.
    void Paint(QPainter& painter, const QRect& area) const;

private:
    void SetHint(const QString& text, bool refused);

    std::function<QString()> m_refusal;
    std::function<void()> m_changed;
    QString m_hint;
    bool m_refused = false;
};

} // namespace velmora
