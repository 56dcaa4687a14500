#include "frontend/KvHelpPanel.h"

#include "ui/KvUIManager.h"
#include "ui/KvUiTypes.h"

#include <QPainter>

namespace velmora {

namespace {

constexpr int kPadding = 6;

} // namespace

KvHelpPanel::KvHelpPanel()
{
    SetAlignment(AlignLeft);
}

void KvHelpPanel::DrawContent(QPainter& painter, const QRect& rect)
{
    const tagKvUiColors& colors = CKvUIManager::Colors();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(rect, ShiftColorRef(colors.clrDlgBK, 6));
    painter.setPen(ColorFromRef(colors.clrDlgEdge, 100));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    if (!m_caption.isEmpty()) {
        QString text = m_caption;
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        const tagKvFontData* entry = Font();
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(entry ? FontFromEntry(*entry) : QFont(QStringLiteral("Arial")));
        painter.setPen(CaptionColor());
        painter.setClipRect(rect.adjusted(1, 1, -1, -1));
        // An empty line between paragraphs takes half a line: the longest help
        // then fits its panel without losing its last line.
        QRect box = rect.adjusted(kPadding, kPadding - 2, -kPadding, -kPadding);
        const int gap = painter.fontMetrics().lineSpacing() / 2;
        for (const QString& paragraph : text.split(QStringLiteral("\n\n"))) {
            const QRect used = painter.boundingRect(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, paragraph);
            painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, paragraph);
            box.setTop(box.top() + used.height() + gap);
            if (box.height() <= 0)
                break;
        }
    }
    painter.restore();
}

} // namespace velmora
