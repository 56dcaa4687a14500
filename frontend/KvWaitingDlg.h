#pragma once

// The busy indicator shown while the engine starts a preview: a borderless,
// always-on-top tool window with a translucent background, showing the spinner
// picture in the dialog edge colour, turned by 10 degrees every 100 ms. Where the
// screen has no compositor a translucent window would show as a black square, so
// there it is an opaque panel in the dialog colours with the same spinner and text.
// It lives on the GUI thread; whoever opened it closes it (Close or deleting it).

#include <QImage>
#include <QString>
#include <QWidget>

class CKvWaitingDlg : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kTimerId = 1;
    static constexpr int kTimerInterval = 100; // ms
    static constexpr int kAngleStep = 10;      // degrees
    static constexpr int kMargin = 50;         // added to the picture's width and height

    explicit CKvWaitingDlg(QWidget* parent = nullptr);
    ~CKvWaitingDlg() override;

    // Sizes and centres the window, draws it at angle 0, starts the timer and shows it.
    void Open();
    // Stops the timer and closes the window.
    void Close();

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

private:
    void PrepareSpinner();

    QImage m_spinner;
    QImage m_spinner2x; // for denser screens; null when the skin has none
    bool m_opaque = false;
    int m_angle = 0;
    int m_timer = 0;
};
