#include "frontend/KvFileDrop.h"

#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>

namespace velmora {

namespace {

// The files are read where they lie: a copy is all a drop may stand for, never a move.
Qt::DropAction CopyActionOf(const QDropEvent& event)
{
    if (event.possibleActions() & Qt::CopyAction)
        return Qt::CopyAction;
    if (event.possibleActions() & Qt::LinkAction)
        return Qt::LinkAction;
    return Qt::IgnoreAction;
}

// A drag of links (files, folders, web addresses) that can be taken as a copy.
bool NamesFiles(const QDropEvent& event)
{
    return event.mimeData() && event.mimeData()->hasUrls() && CopyActionOf(event) != Qt::IgnoreAction;
}

} // namespace

KvFileDrop::KvFileDrop(std::function<QString()> refusal, std::function<void()> changed)
    : m_refusal(std::move(refusal))
    , m_changed(std::move(changed))
{
}

void KvFileDrop::Enter(QDragEnterEvent& event)
{
    // Taken whenever it names files, even while they cannot be added now: a widget that
    // refuses the enter hears nothing more of the drag, not even its leaving. The move
    // that always follows answers yes or no, and that is what the pointer shows.
    if (NamesFiles(event)) {
        event.setDropAction(CopyActionOf(event));
        event.accept();
    } else {
        event.ignore();
    }
}

void KvFileDrop::Move(QDragMoveEvent& event)
{
    if (!NamesFiles(event)) {
        SetHint(QString(), false);
        event.ignore();
        return;
    }
    // Asked again on every move: a Render that ends while the pointer waits over the
    // window makes the drop welcome from then on.
    const QString refusal = m_refusal();
    SetHint(refusal.isEmpty() ? QStringLiteral("Drop files or folders to add them") : refusal, !refusal.isEmpty());
    if (refusal.isEmpty()) {
        event.setDropAction(CopyActionOf(event));
        event.accept();
    } else {
        event.ignore();
    }
}

void KvFileDrop::Leave(QDragLeaveEvent& event)
{
    SetHint(QString(), false);
    event.accept();
}

bool KvFileDrop::Drop(QDropEvent& event, QList<QUrl>& urls, QString& refusal)
{
    SetHint(QString(), false);
    if (!NamesFiles(event)) {
        event.ignore();
        return false;
    }
    refusal = m_refusal();
    urls = event.mimeData()->urls();
    if (refusal.isEmpty()) {
        event.setDropAction(CopyActionOf(event));
        event.accept();
    } else {
        event.ignore();
    }
    return true;
}

void KvFileDrop::SetHint(const QString& text, bool refused)
{
    if (text == m_hint && refused == m_refused)
        return;
    m_hint = text;
    m_refused = refused;
    if (m_changed)
        m_changed();
}

void KvFileDrop::Paint(QPainter& painter, const QRect& area) const
{
    if (m_hint.isEmpty())
        return;
    const QColor edge = m_refused ? DangerColor() : AccentColor();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(ColorFromRef(CKvUIManager::Colors().clrDlgBK, 200));
    painter.setPen(QPen(edge, 2, Qt::DashLine));
    painter.drawRoundedRect(QRectF(area), 6, 6);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(16);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(m_refused ? edge : ColorFromRef(CKvUIManager::Colors().clrText));
    painter.drawText(area.adjusted(20, 0, -20, 0), Qt::AlignCenter | Qt::TextWordWrap, m_hint);
    painter.restore();
}

} // namespace velmora
