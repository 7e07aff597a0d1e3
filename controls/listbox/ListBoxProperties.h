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

struct ListBoxProperties
{
    QColor BackColor;
    QFont Font;
    bool AutoCheckError = false;
    int ItemHeight = 18;
    QColor ItemBkColor1;
    QColor ItemBkColor2;
    QColor ItemSelBkColor;
    QColor ItemNorTextColor;
    QColor ItemSelTextColor;
    QColor ItemPlyTextColor;
    QColor ItemErrTextColor;
    bool Border = true;
    QColor BorderColor;
    short BorderWidth = 1;

    // Values of a newly placed control.
    static ListBoxProperties newControl();
    // Values the main window's playlist is stored with.
    static ListBoxProperties mainWindow();

    // Reads every key in the order the store has always been read; a
    // missing or unusable value keeps the current one.
    void read(const PropertyBag &bag);
    // Writes every key with its current value.
    void write(PropertyBag &bag) const;

    bool operator==(const ListBoxProperties &other) const = default;
};

// Colours in the outside world are 0x00BBGGRR: red in the low byte.
QColor colorFromBgr(quint32 bgr);
quint32 bgrFromColor(const QColor &color);
