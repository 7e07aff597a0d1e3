// The Button and Shift codes that mouse events of the window's controls
// carry: buttons 1 left, 2 right, 4 middle; keys 1 Shift, 2 Ctrl, 4 Alt,
// each combined bit by bit.
#pragma once

#include <Qt>

namespace mousecodes {

constexpr int kLeftButton = 1;
constexpr int kRightButton = 2;
constexpr int kMiddleButton = 4;

constexpr int kShiftKey = 1;
constexpr int kCtrlKey = 2;
constexpr int kAltKey = 4;

inline int buttonCode(Qt::MouseButtons buttons)
{
    int code = 0;
    if (buttons & Qt::LeftButton)
        code |= kLeftButton;
    if (buttons & Qt::RightButton)
        code |= kRightButton;
    if (buttons & Qt::MiddleButton)
        code |= kMiddleButton;
    return code;
}

inline int shiftCode(Qt::KeyboardModifiers modifiers)
{
    int code = 0;
    if (modifiers & Qt::ShiftModifier)
        code |= kShiftKey;
    if (modifiers & Qt::ControlModifier)
        code |= kCtrlKey;
    if (modifiers & Qt::AltModifier)
        code |= kAltKey;
    return code;
}

} // namespace mousecodes
