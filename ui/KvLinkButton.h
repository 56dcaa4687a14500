#pragma once

#include "ui/KvButton.h"

#include <QString>

// A caption drawn as a link (underlined while hovered, pointing hand cursor).
// A click opens its address when one is set, otherwise it sends the command.
class CKvLinkButton : public CKvButton
{
public:
    CKvLinkButton();

    void OnClick(const QPoint& point) override;
    void DrawContent(QPainter& painter, const QRect& rect) override;

    void SetUrl(const QString& url) { m_url = url; }
    QString Url() const { return m_url; }

private:
    QString m_url;
};
