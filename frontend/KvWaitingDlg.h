#pragma once

// The busy indicator shown while the engine starts a preview: a borderless,
// always-on-top tool window with a translucent background, showing the spinner
// picture in the dialog edge colour, turned by 10 degrees every 100 ms. Where the
// screen has no compositor a translucent window would show as a black square, so
// there it is an opaque panel in the dialog colours with the same spinner and text.
// It lives on the GUI thread; whoever opened it closes it (Close or deleting it).
//
// A waiting that can be ended (SetStopHandler) is a small opaque panel in the dialog
// colours instead: the spinner at its left, a line of text beside it (what has been
// done so far) and a Stop button below the text. While it shows it has the focus and
// is the one window of the program that takes input; a click on Stop, Esc, Enter,
// Space, or closing the window press Stop.

#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>

class CKvWaitingDlg : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kTimerId = 1;
    static constexpr int kTimerInterval = 100; // ms
    static constexpr int kAngleStep = 10;      // degrees
    static constexpr int kMargin = 50;         // added to the picture's width and height

    // The panel of a waiting that can be ended, and its Stop button's place on it.
    static constexpr int kPanelWidth = 380;
    static constexpr int kPanelHeight = 88;
    static constexpr int kPanelPadding = 20;
    static constexpr int kStopWidth = 76;
    static constexpr int kStopHeight = 24;

    explicit CKvWaitingDlg(QWidget* parent = nullptr);
    ~CKvWaitingDlg() override;

    // Sizes and centres the window, draws it at angle 0, starts the timer and shows it.
    void Open();
    // Stops the timer and closes the window.
    void Close();

    // Makes the waiting one that can be ended: stop runs (once) on the GUI thread when
    // Stop is pressed. Set before Open.
    void SetStopHandler(std::function<void()> stop);
    bool HasStopButton() const { return bool(m_stop); }
    QRect StopButtonRect() const;
    // The line beside the spinner ("Looking for media files… 1,234 found").
    void SetText(const QString& text);
    QString Text() const { return m_text; }

    int Angle() const { return m_angle; }
    bool IsTurning() const { return m_timer != 0; }
    const QImage& Spinner() const { return m_spinner; }
    // True when the window is drawn opaque (decided when it is made).
    bool IsOpaque() const { return m_opaque; }
    // The next angle after angle: + 10, back to 10 once past 360.
    static int NextAngle(int angle);
    // The window as drawn now (also what paintEvent shows).
    QImage Render() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void PrepareSpinner();
    void PressStop();
    void DrawPanel(QPainter& painter) const;
    void SetHover(bool hover);

    QImage m_spinner;
    QImage m_spinner2x; // for denser screens; null when the skin has none
    bool m_opaque = false;
    int m_angle = 0;
    int m_timer = 0;
    std::function<void()> m_stop;
    QString m_text;
    bool m_hover = false;
    bool m_pressed = false;
    bool m_stopped = false;
    bool m_closing = false;
};
