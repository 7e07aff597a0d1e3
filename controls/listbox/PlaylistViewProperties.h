// The persisted properties of the playlist control, their two sets of
// starting values (a freshly placed control, and what the main window's
// playlist stores) and their reading from and writing to the host's
// property store. Kept out of the widget so the main window and the tests
// can build and compare property sets without a control.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class PropertyBag;

struct PlaylistViewProperties
{
    QColor backColor;
    QFont listFont;
    bool autoCheckError = false;
    int itemHeight = 18;
    QColor itemBackColor1;
    QColor itemBackColor2;
    QColor selectedBackColor;
    QColor textColor;
    QColor selectedTextColor;
    QColor playingTextColor;
    QColor errorTextColor;
    bool border = true;
    QColor borderColor;
    short borderWidth = 1;

    // Values of a newly placed control.
    static PlaylistViewProperties newControl();
    // Values the main window's playlist is stored with.
    static PlaylistViewProperties mainWindow();

    // Reads every key in the order the store has always been read; a
    // missing or unusable value keeps the current one.
    void read(const PropertyBag &bag);
    // Writes every key with its current value.
    void write(PropertyBag &bag) const;

    bool operator==(const PlaylistViewProperties &other) const = default;
};

// Colours in the outside world are 0x00BBGGRR: red in the low byte.
QColor colorFromBgr(quint32 bgr);
quint32 bgrFromColor(const QColor &color);
