#pragma once

// What assistive technology (a screen reader over AT-SPI) sees of the skinned
// toolkit. Qt knows only the windows; the controls inside them are drawn into one
// picture, so each gets an interface of its own here: the window's interface lists
// its manager's visible controls in tab order (an edit field by its real text
// field), then the window's other child widgets.
//
// A control's interface is made when first asked for, registered with Qt and kept
// until the control goes (~CKvButton deletes it), so its identifier stays the same
// for the assistive technology. The notifications cost nothing while no assistive
// technology listens: they make no interface then.

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QString>

#include <vector>

class CKvButton;
class CKvListCtrl;
class CKvUIManager;

namespace velmora {

// Gives CKvDialogBase and the drop-down list window their interfaces (once per
// process; the windows call it when they are made).
void InstallAccessibleFactory();

// The interface of control: for an edit field that of its real text field. nullptr
// for none (no control, or an edit field without its field yet).
QAccessibleInterface* AccessibleInterfaceOf(CKvButton* control);
// Drops the control's interface (and a list's cell interfaces).
void ReleaseAccessibleInterface(CKvButton* control);

// The name assistive technology reads for control (see CKvButton::SetAccessibleName).
QString AccessibleNameOf(const CKvButton* control);

// Tell listening assistive technology that the control took the focus, changed the
// given states, its value, its name, was shown or hidden.
void NotifyAccessibleFocus(CKvButton* control);
void NotifyAccessibleState(CKvButton* control, const QAccessible::State& changed);
void NotifyAccessibleValue(CKvButton* control);
void NotifyAccessibleName(CKvButton* control);
void NotifyAccessibleShown(CKvButton* control, bool shown);
// A list's cell reads differently now; the list's rows were added, removed or moved.
void NotifyAccessibleCell(CKvListCtrl* list, int column, int row);
void NotifyAccessibleRows(CKvListCtrl* list);

// Tests hear the notifications through sink instead of Qt (nullptr: Qt again),
// also where no assistive technology is there to make Qt listen.
using AccessibleEventSink = void (*)(QAccessibleEvent* event);
void SetAccessibleEventSinkForTesting(AccessibleEventSink sink);

// A skinned window (a dialog, the drop-down list's popup): the controls of its
// manager in tab order, then its real child widgets.
class CKvAccessibleWindow : public QAccessibleWidget
{
public:
    CKvAccessibleWindow(QWidget* window, CKvUIManager* manager, QAccessible::Role role);

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // The children in the order they are listed.
    std::vector<QAccessibleInterface*> Children() const;

private:
    QPointer<CKvUIManager> m_manager;
};

} // namespace velmora
