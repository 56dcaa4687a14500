#include "ui/KvUIManager.h"

#include "common/KvProgramFolder.h"
#include "ui/KvAccessible.h"
#include "ui/KvButton.h"
#include "ui/KvCheck.h"
#include "ui/KvColorButton.h"
#include "ui/KvComboBox.h"
#include "ui/KvEdit.h"
#include "ui/KvHListBox.h"
#include "ui/KvLinkButton.h"
#include "ui/KvListCtrl.h"
#include "ui/KvMenuButton.h"
#include "ui/KvProgress.h"
#include "ui/KvRadio.h"
#include "ui/KvSkinDescription.h"
#include "ui/KvSlider.h"
#include "ui/KvStatic.h"
#include "ui/KvVListBox.h"

#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QPainter>
#include <QWidget>

#include <cmath>

using namespace velmora;

namespace {

// Process-wide skin state: every LoadSkin adds to it, the last manager frees it.
struct SharedSkin
{
    tagKvUiColors colors;
    std::vector<tagKvFontData> fonts;
    int toolTipFontId = 0;
    KvSkinImage toolTipBackground;
    QString resourceFolder;
    int managers = 0;
};

SharedSkin& Shared()
{
    static SharedSkin shared;
    return shared;
}

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The text of a child element, or an empty text when there is none.
QString ChildText(const tagKvSkinElement& element, std::string_view name)
{
    const std::string* text = element.ChildText(name);
    return text ? FromUtf8(*text) : QString();
}

// The skin writes line breaks in tool tips as the four characters \r\n.
QString ToolTipFromSkin(QString text)
{
    return text.replace(QStringLiteral("\\r\\n"), QStringLiteral("\n"));
}

struct ControlKind
{
    const char* element;
    int typeCode;
};

constexpr ControlKind kControlKinds[] = {
    {"button", kTypeButton},         {"check", kTypeCheck},       {"radio", kTypeRadio},
    {"sedit", kTypeEdit},            {"progress", kTypeProgress}, {"vlistbox", kTypeVListBox},
    {"hlistbox", kTypeHListBox},     {"combobox", kTypeComboBox}, {"menubutton", kTypeMenuButton},
    {"colorbutton", kTypeColorButton}, {"slider", kTypeSlider},   {"linkbutton", kTypeLinkButton},
    {"static", kTypeStatic},         {"listctrl", kTypeListCtrl},
};

CKvButton* CreateControl(int typeCode)
{
    switch (typeCode) {
    case kTypeButton: return new CKvButton;
    case kTypeCheck: return new CKvCheck;
    case kTypeRadio: return new CKvRadio;
    case kTypeEdit: return new CKvEdit;
    case kTypeProgress: return new CKvProgress;
    case kTypeVListBox: return new CKvVListBox;
    case kTypeHListBox: return new CKvHListBox;
    case kTypeComboBox: return new CKvComboBox;
    case kTypeMenuButton: return new CKvMenuButton;
    case kTypeColorButton: return new CKvColorButton;
    case kTypeSlider: return new CKvSlider;
    case kTypeLinkButton: return new CKvLinkButton;
    case kTypeStatic: return new CKvStatic;
    case kTypeListCtrl: return new CKvListCtrl;
    default: return nullptr;
    }
}

bool TakesKeys(int typeCode)
{
    return (typeCode >= 0 && typeCode <= 19) || typeCode == kTypeCustom23;
}

bool CanTakeFocus(int typeCode)
{
    return typeCode != kTypeHListBox && typeCode != kTypeEmbeddedEdit;
}

} // namespace

CKvUIManager::CKvUIManager(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<CKvButton*>("CKvButton*");
    ++Shared().managers;
}

CKvUIManager::~CKvUIManager()
{
    m_focus = nullptr;
    m_controls.clear();
    if (--Shared().managers == 0) {
        Shared().fonts.clear();
        Shared().toolTipBackground = KvSkinImage();
    }
}

void CKvUIManager::SetWindow(QWidget* window)
{
    if (m_window == window)
        return;
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (m_window)
        m_window->installEventFilter(this);
}

bool CKvUIManager::eventFilter(QObject* watched, QEvent* event)
{
    // On a move between screens of different density the picture is composed
    // afresh at the new ratio (the paint event would notice too; this also
    // repaints a window that Qt would otherwise only scale).
    bool screenChange = event->type() == QEvent::ScreenChangeInternal;
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    screenChange = screenChange || event->type() == QEvent::DevicePixelRatioChange;
#endif
    if (watched == m_window && screenChange && !m_picture.isNull()
        && !qFuzzyCompare(m_picture.devicePixelRatio(), Ratio())) {
        DiscardCachedPictures();
        Invalidate();
    }
    // The skin's fonts follow the application font (FontFromEntry).
    if (watched == m_window && event->type() == QEvent::ApplicationFontChange)
        Invalidate();
    return QObject::eventFilter(watched, event);
}

int CKvUIManager::LoadSkin(QWidget* window, const QString& fileName)
{
    if (!window)
        return 0;
    SetWindow(window);
    LoadDescription(fileName);
    return 1;
}

void CKvUIManager::LoadDescription(const QString& fileName)
{
    tagKvSkinDescription description;
    if (!ReadSkinDescription(QFile::encodeName(fileName).toStdString(), description))
        return;

    bool backgroundSeen = false;
    for (const tagKvSkinElement& element : description.elements) {
        const std::string& name = element.name;
        if (name == "background") {
            // Only the first description counts, even when its picture is unreadable.
            if (!backgroundSeen)
                m_background = KvSkinImage(ResolvePath(FromUtf8(element.text)));
            backgroundSeen = true;
            continue;
        }
        if (name == "tooltipbackground") {
            Shared().toolTipFontId = element.Int("fontid", Shared().toolTipFontId);
            Shared().toolTipBackground = KvSkinImage(ResolvePath(FromUtf8(element.text)));
            continue;
        }
        if (name == "font") {
            tagKvFontData font;
            font.nID = element.Int("id", font.nID);
            font.nSize = element.Int("size", font.nSize);
            font.bBold = element.Int("bold", font.bBold);
            font.bItalic = element.Int("italic", font.bItalic);
            font.bVertical = element.Int("vertical", font.bVertical);
            font.bUnderline = element.Int("underline", font.bUnderline);
            font.clrNormal = uint32_t(element.Int("colornormal", int(font.clrNormal)));
            font.clrHover = uint32_t(element.Int("colorhover", int(font.clrHover)));
            font.clrDown = uint32_t(element.Int("colordown", int(font.clrDown)));
            font.clrDisable = uint32_t(element.Int("colordisable", int(font.clrDisable)));
            const QString face = ChildText(element, "name");
            if (face.size() < 32)
                font.szName = face;
            AddFont(font);
            continue;
        }

        int typeCode = -1;
        for (const ControlKind& kind : kControlKinds) {
            if (name == kind.element)
                typeCode = kind.typeCode;
        }
        CKvButton* control = typeCode >= 0 ? CreateControl(typeCode) : nullptr;
        if (!control)
            continue;

        const int x = element.Int("x", 0);
        const int y = element.Int("y", 0);
        const int width = element.Int("width", 0);
        int height = element.Int("height", 0);
        const int id = element.Int("id", 0);
        control->SetFrameCount(element.Int("state", control->FrameCount()));

        if (auto* combo = dynamic_cast<CKvComboBox*>(control)) {
            // A combo box's "height" is that of its drop-down list.
            combo->SetDropHeight(height);
            height = 22;
            combo->SetEditable(element.Int("edited", 0) != 0);
        }
        if (auto* edit = dynamic_cast<CKvEdit*>(control))
            edit->SetNumberOnly(element.Int("number", 0) != 0);
        if (auto* progress = dynamic_cast<CKvProgress*>(control)) {
            const double minPos = element.Double("minpos", progress->MinPos());
            const double maxPos = element.Double("maxpos", progress->MaxPos());
            const double curPos = element.Double("curpos", progress->Pos());
            progress->SetRange(minPos, maxPos, false);
            progress->SetPos(curPos, false);
        }
        control->Move(x, y, width, height, false);

        if (const std::string* image = element.ChildText("background"))
            control->LoadImage(ResolvePath(FromUtf8(*image)));
        if (element.ChildText("tooltip"))
            control->SetToolTip(ToolTipFromSkin(ChildText(element, "tooltip")));

        AddControl(id, control, typeCode);
        if (element.HasInt("fontid")) {
            control->SetFontId(element.Int("fontid", 0));
            if (auto* edit = dynamic_cast<CKvEdit*>(control))
                edit->UpdateEditFont();
        }
        if (element.ChildText("text"))
            control->SetCaption(ChildText(element, "text"), false);
    }
}

void CKvUIManager::AddControl(int id, CKvButton* control, int typeCode)
{
    if (!control)
        return;
    m_controls.push_back(Entry{id, std::unique_ptr<CKvButton>(control), typeCode});
    if (typeCode == kTypeToolTip)
        m_toolTip = control;
    if (typeCode == kTypeListOnly)
        return;
    control->SetParentWindow(m_window);
    control->SetId(id);
    control->SetManager(this);
    control->SetTypeCode(typeCode);
    ApplyDefaultFont(control, typeCode);
    if (typeCode == kTypeEdit || typeCode == kTypeEmbeddedEdit || typeCode == kTypeComboBox) {
        // Edit fields own a real text field from the moment they are registered.
        if (auto* edit = dynamic_cast<CKvEdit*>(control))
            edit->CreateEditWindow();
    }
}

void CKvUIManager::ApplyDefaultFont(CKvButton* control, int typeCode)
{
    switch (typeCode) {
    case kTypeCheck:
    case kTypeRadio:
    case kTypeStatic:
    case kTypeCustom23:
        control->SetFontId(6);
        break;
    case kTypeEdit:
    case kTypeLinkButton:
    case kTypeListCtrl:
    case kTypeEmbeddedEdit:
        control->SetFontId(3);
        break;
    case kTypeButton:
    case kTypeMenuButton:
    case kTypeCustom15:
        break;
    default:
        control->SetFontId(1);
        break;
    }
}

CKvButton* CKvUIManager::FindControl(int id, int typeCode) const
{
    for (const Entry& entry : m_controls) {
        if (entry.id == id && entry.typeCode == typeCode)
            return entry.control.get();
    }
    return nullptr;
}

CKvButton* CKvUIManager::ControlAt(int index) const
{
    if (index < 0 || index >= ControlCount())
        return nullptr;
    return m_controls[size_t(index)].control.get();
}

int CKvUIManager::TypeAt(int index) const
{
    if (index < 0 || index >= ControlCount())
        return -1;
    return m_controls[size_t(index)].typeCode;
}

void CKvUIManager::Dispatch(int message, const QPoint& point)
{
    // Indexed, because a control's handler may run a menu whose event loop
    // registers further controls.
    for (size_t i = 0; i < m_controls.size(); ++i) {
        const int typeCode = m_controls[i].typeCode;
        if (typeCode > kTypeLast || typeCode == kTypeEmbeddedEdit || typeCode == kTypeListOnly)
            continue;
        CKvButton* control = m_controls[i].control.get();
        if (control->OnMouseMessage(message, point))
            RedrawControl(control);
    }
}

bool CKvUIManager::OnKeyMessage(const QKeyEvent& event)
{
    if (!m_window || !m_window->isActiveWindow())
        return false;
    if (event.type() == QEvent::KeyPress && event.key() == Qt::Key_Tab) {
        FocusNext();
        return true;
    }
    if (event.type() == QEvent::KeyPress && event.key() == Qt::Key_Backtab) {
        FocusPrevious();
        return true;
    }
    if (m_focus && TakesKeys(m_focusType) && m_focus->OnKey(event)) {
        // Once the keys are used, the focused control shows it.
        if (!m_focusCue && m_focus && event.type() == QEvent::KeyPress) {
            m_focusCue = true;
            RedrawControl(m_focus);
        }
        return true;
    }
    return false;
}

void CKvUIManager::FocusNext()
{
    MoveFocus(1);
}

void CKvUIManager::FocusPrevious()
{
    MoveFocus(-1);
}

bool CKvUIManager::IsTabStopKind(int typeCode)
{
    return typeCode >= 0 && typeCode <= kTypeLast && typeCode != kTypeListOnly && typeCode != kTypeStatic
           && typeCode != kTypeToolTip && CanTakeFocus(typeCode);
}

void CKvUIManager::SetTabOrder(const std::vector<CKvButton*>& order)
{
    m_tabOrder = order;
}

std::vector<int> CKvUIManager::TabSequence() const
{
    // The controls the dialog put in order come first, in that order; the rest
    // follow in the order they were registered.
    std::vector<int> sequence;
    std::vector<bool> placed(m_controls.size(), false);
    for (CKvButton* control : m_tabOrder) {
        for (size_t i = 0; i < m_controls.size(); ++i) {
            if (m_controls[i].control.get() == control && !placed[i]) {
                sequence.push_back(int(i));
                placed[i] = true;
            }
        }
    }
    for (size_t i = 0; i < m_controls.size(); ++i) {
        if (!placed[i])
            sequence.push_back(int(i));
    }
    return sequence;
}

void CKvUIManager::MoveFocus(int direction)
{
    const std::vector<int> sequence = TabSequence();
    const int count = int(sequence.size());
    if (count == 0)
        return;
    int start = direction > 0 ? -1 : count;
    for (int i = 0; i < count; ++i) {
        if (m_controls[size_t(sequence[size_t(i)])].control.get() == m_focus)
            start = i;
    }
    // Walk on from the focused control, wrapping; controls that cannot hold the
    // focus (hidden, disabled, never-focused kinds) are passed over so that TAB
    // never gets stuck on them.
    for (int step = 1; step <= count; ++step) {
        const int index = sequence[size_t(((start + direction * step) % count + count) % count)];
        const Entry& entry = m_controls[size_t(index)];
        CKvButton* control = entry.control.get();
        if (!IsTabStopKind(entry.typeCode) || !control->IsVisible() || !control->IsEnabled())
            continue;
        SetFocusControl(control, entry.typeCode, true);
        return;
    }
}

void CKvUIManager::SetFocusControl(CKvButton* control, int typeCode, bool showCue)
{
    m_focusCue = showCue;
    if (m_focus && m_focus != control) {
        CKvButton* previous = m_focus;
        m_focus = nullptr;
        m_focusType = -1;
        previous->KillFocus();
        RedrawControl(previous);
    }
    if (!control || !CanTakeFocus(typeCode))
        return;
    m_focus = control;
    m_focusType = typeCode;
    control->SetFocus();
    RedrawControl(control);
    NotifyAccessibleFocus(control);
}

void CKvUIManager::Compose()
{
    if (!m_window)
        return;
    const QSize size = m_window->size();
    if (size.isEmpty())
        return;
    const qreal ratio = Ratio();
    const QSize pixels(int(std::ceil(size.width() * ratio)), int(std::ceil(size.height() * ratio)));
    if (m_picture.size() != pixels)
        m_picture = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    m_picture.setDevicePixelRatio(ratio);
    m_pictureSize = size;
    const QRect area(QPoint(0, 0), size);

    QPainter painter(&m_picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(area, ColorFromRef(Colors().clrDlgBK));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!m_background.IsNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(area, m_background.For(ratio));
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    }
    emit drawFrame(painter);
    for (size_t i = 0; i < m_controls.size(); ++i) {
        if (m_controls[i].typeCode > kTypeLast || m_controls[i].typeCode == kTypeListOnly)
            continue;
        painter.save();
        m_controls[i].control->Draw(&painter);
        painter.restore();
    }
    m_stale = false;
}

qreal CKvUIManager::Ratio() const
{
    return m_window ? m_window->devicePixelRatioF() : 1.0;
}

bool CKvUIManager::NeedsCompose() const
{
    if (m_stale || m_picture.isNull() || !m_window)
        return true;
    return m_pictureSize != m_window->size() || !qFuzzyCompare(m_picture.devicePixelRatio(), Ratio());
}

QRect CKvUIManager::DeviceRect(const QRect& logical) const
{
    const qreal ratio = m_picture.isNull() ? Ratio() : m_picture.devicePixelRatio();
    if (ratio == 1.0)
        return logical;
    return QRectF(QPointF(logical.topLeft()) * ratio, QSizeF(logical.size()) * ratio).toAlignedRect();
}

void CKvUIManager::Blit(QPainter& painter, const QRect& area) const
{
    if (m_picture.isNull())
        return;
    const qreal ratio = m_picture.devicePixelRatio();
    const QRect source = DeviceRect(area);
    const QRectF target(QPointF(source.topLeft()) / ratio, QSizeF(source.size()) / ratio);
    painter.drawImage(target, m_picture, QRectF(source));
}

void CKvUIManager::Paint()
{
    Compose();
    if (m_window)
        m_window->update();
}

void CKvUIManager::Invalidate()
{
    m_stale = true;
    if (m_window)
        m_window->update();
}

void CKvUIManager::DiscardCachedPictures()
{
    for (Entry& entry : m_controls)
        entry.control->ReleaseCache();
}

void CKvUIManager::RedrawControl(CKvButton* control)
{
    if (!control || !m_window)
        return;
    if (NeedsCompose()) {
        Invalidate();
        return;
    }
    control->Draw(nullptr);
}

void CKvUIManager::PostCommand(int id)
{
    QMetaObject::invokeMethod(this, [this, id] { emit command(id); }, Qt::QueuedConnection);
}

void CKvUIManager::SendNotify(int message, CKvButton* control, qint64 param)
{
    emit notification(message, control, param);
}

void CKvUIManager::PostNotify(int message, CKvButton* control, qint64 param)
{
    QMetaObject::invokeMethod(this, [this, message, control, param] { emit notification(message, control, param); },
                              Qt::QueuedConnection);
}

tagKvUiColors& CKvUIManager::Colors()
{
    return Shared().colors;
}

const tagKvFontData* CKvUIManager::FindFont(int id)
{
    for (const tagKvFontData& font : Shared().fonts) {
        if (font.nID == id)
            return &font;
    }
    return nullptr;
}

const std::vector<tagKvFontData>& CKvUIManager::Fonts()
{
    return Shared().fonts;
}

void CKvUIManager::AddFont(const tagKvFontData& font)
{
    Shared().fonts.push_back(font);
}

int CKvUIManager::ToolTipFontId()
{
    return Shared().toolTipFontId;
}

const KvSkinImage& CKvUIManager::ToolTipBackground()
{
    return Shared().toolTipBackground;
}

QString CKvUIManager::ResourceFolder()
{
    QString& folder = Shared().resourceFolder;
    if (folder.isEmpty() && QCoreApplication::instance())
        folder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    return folder;
}

void CKvUIManager::SetResourceFolder(const QString& folder)
{
    QString normalised = folder;
    if (!normalised.isEmpty() && !normalised.endsWith(QLatin1Char('/')))
        normalised += QLatin1Char('/');
    Shared().resourceFolder = normalised;
}

QString CKvUIManager::ResolvePath(const QString& relative)
{
    QString path = relative.trimmed();
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QString::fromStdString(velmora::ProgramPath(ResourceFolder().toStdString(), path.toStdString()));
}
