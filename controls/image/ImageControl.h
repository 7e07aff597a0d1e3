// A picture on the main window that acts like a light-weight control: the
// image buttons (each with its normal and hover pictures), the knobs and
// their tracks, and the singer picture. Mouse events come out as
// signals with the button, the modifier keys and the position in twips, as
// the knob rules expect; geometry can be read and set in twips relative to
// the parent.
#pragma once

#include "controls/MouseCodes.h"

#include <QAccessible>
#include <QLabel>
#include <QPixmap>
#include <functional>
#include <memory>

class ImageControl : public QLabel
{
    Q_OBJECT
public:
    // Mouse buttons as the handlers count them.
    static constexpr int kLeftButton = mousecodes::kLeftButton;
    static constexpr int kRightButton = mousecodes::kRightButton;
    static constexpr int kMiddleButton = mousecodes::kMiddleButton;
    // Modifier keys as the handlers count them.
    static constexpr int kShiftMask = mousecodes::kShiftKey;
    static constexpr int kCtrlMask = mousecodes::kCtrlKey;
    static constexpr int kAltMask = mousecodes::kAltKey;

    explicit ImageControl(QWidget *parent = nullptr);

    QPixmap picture() const { return m_picture; }
    void setPicture(const QPixmap &picture);

    // A picture drawn the first time it is asked for, then kept; copies share
    // the drawing. A session points at few of the buttons, often none, so
    // their hover pictures wait until they are first shown.
    class LazyPicture
    {
    public:
        LazyPicture() = default;
        // A picture already drawn.
        LazyPicture(const QPixmap &picture);
        explicit LazyPicture(std::function<QPixmap()> draw);
        // The picture, drawn now if it was not yet; a null pixmap when there
        // is none.
        QPixmap get() const;
        bool isNull() const { return !m_state; }
        bool isDrawn() const { return m_state && !m_state->draw; }

    private:
        struct State
        {
            std::function<QPixmap()> draw; // empty once drawn
            QPixmap picture;
        };
        std::shared_ptr<State> m_state;
    };

    // A button's two pictures: what it shows normally and while the pointer
    // is over it.
    struct Looks
    {
        QPixmap normal;
        LazyPicture hover;
    };
    const Looks &looks() const { return m_looks; }
    void setLooks(const Looks &looks) { m_looks = looks; }
    void showNormalLook() { setPicture(m_looks.normal); }
    void showHoverLook() { setPicture(m_looks.hover.get()); }

    // Geometry in twips, relative to the parent widget.
    int leftTwips() const;
    void setLeftTwips(int twips);
    int topTwips() const;
    void setTopTwips(int twips);
    int widthTwips() const;
    void setWidthTwips(int twips);
    int heightTwips() const;
    void setHeightTwips(int twips);
    void setGeometryTwips(int left, int top, int width, int height);

    int dpi() const;

    // What a screen reader calls this picture (a plain picture by default);
    // a Button also clicks on Return and Enter when it has the focus.
    QAccessible::Role accessibleRole() const { return m_accessibleRole; }
    void setAccessibleRole(QAccessible::Role role) { m_accessibleRole = role; }

Q_SIGNALS:
    void clicked();
    void doubleClicked();
    void mouseDown(int button, int shift, double x, double y);
    void mouseMoved(int button, int shift, double x, double y);
    void mouseUp(int button, int shift, double x, double y);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    // A button reached with Tab shows its hover picture while it has the focus.
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    static int buttonsOf(Qt::MouseButtons buttons);
    static int shiftOf(Qt::KeyboardModifiers modifiers);

    QPixmap m_picture;
    Looks m_looks;
    bool m_pressedInside = false;
    QAccessible::Role m_accessibleRole = QAccessible::Graphic;
};
