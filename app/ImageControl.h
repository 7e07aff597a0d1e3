// A picture on the main window that acts like a light-weight control: the
// image buttons, the knobs and their tracks, the singer picture and the
// invisible picture stores of the hover effect. Mouse events come out as
// signals with the button, the modifier keys and the position in twips, as
// the knob rules expect; geometry can be read and set in twips relative to
// the parent.
#pragma once

#include "controls/MouseCodes.h"

#include <QLabel>
#include <QPixmap>

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

    // Geometry in twips, relative to the parent widget.
    int Left() const;
    void setLeft(int twips);
    int Top() const;
    void setTop(int twips);
    int Width() const;
    void setWidth(int twips);
    int Height() const;
    void setHeight(int twips);
    void setGeometryTwips(int left, int top, int width, int height);

    int dpi() const;

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

private:
    static int buttonsOf(Qt::MouseButtons buttons);
    static int shiftOf(Qt::KeyboardModifiers modifiers);

    QPixmap m_picture;
    bool m_pressedInside = false;
};
