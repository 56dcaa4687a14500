#include "ui/KvEditCtrl.h"

#include <QKeyEvent>
#include <QRegularExpressionValidator>

CKvEditCtrl::CKvEditCtrl(QWidget* parent)
    : QLineEdit(parent)
{
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
}

void CKvEditCtrl::SetNumberOnly(bool numberOnly)
{
    m_numberOnly = numberOnly;
    if (numberOnly)
        setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    else
        setValidator(nullptr);
}

void CKvEditCtrl::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit editingEnded(true);
        event->accept();
        return;
    case Qt::Key_Escape:
        emit editingEnded(false);
        event->accept();
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void CKvEditCtrl::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    emit focusEntered();
}

void CKvEditCtrl::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // A popup of our own (the text menu) takes the focus only for a moment.
    if (event->reason() != Qt::PopupFocusReason)
        emit editingEnded(true);
}
