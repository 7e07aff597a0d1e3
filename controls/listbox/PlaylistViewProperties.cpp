#include "controls/listbox/PlaylistViewProperties.h"

#include "controls/PropertyBag.h"
#include "controls/listbox/ListGeometry.h"

#include <QVariant>

#include <algorithm>
#include <limits>

namespace {

// Property store keys, exactly as the control has always saved them.
const QString kBackColor = QStringLiteral("BackColor");
const QString kFont = QStringLiteral("Font");
const QString kAutoCheckError = QStringLiteral("AutoCheckError");
const QString kItemHeight = QStringLiteral("ItemHeight");
const QString kItemBkColor1 = QStringLiteral("ItemBkColor1");
const QString kItemBkColor2 = QStringLiteral("ItemBkColor2");
const QString kItemSelBkColor = QStringLiteral("ItemSelBkColor");
const QString kItemNorTextColor = QStringLiteral("ItemNorTextColor");
const QString kItemSelTextColor = QStringLiteral("ItemSelTextColor");
const QString kItemPlyTextColor = QStringLiteral("ItemPlyTextColor");
const QString kItemErrTextColor = QStringLiteral("ItemErrTextColor");
const QString kBorder = QStringLiteral("Border");
const QString kBorderColor = QStringLiteral("BorderColor");
const QString kBorderWidth = QStringLiteral("BorderWidth");

// Point size of both starting fonts.
constexpr int kFontPointSize = 9;

// The fonts the control was designed with are Windows fonts; on systems
// without them the closest CJK faces stand in, in this order.
QFont fontWithFallbacks(const QStringList &families)
{
    QFont font(families.first(), kFontPointSize, QFont::Normal);
    font.setFamilies(families);
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QColor readColor(const QVariant &value, const QColor &current)
{
    if (!value.isValid())
        return current;
    if (value.metaType().id() == QMetaType::QColor) {
        const QColor color = value.value<QColor>();
        return color.isValid() ? color : current;
    }
    if (value.metaType().id() == QMetaType::QString) {
        const QColor color = QColor::fromString(value.toString());
        return color.isValid() ? color : current;
    }
    // A number is an outside-world colour value; one with the high byte set
    // (a system colour index) has no fixed RGB and is ignored.
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < 0 || number > 0xFFFFFF)
        return current;
    return colorFromBgr(quint32(number));
}

QFont readFont(const QVariant &value, const QFont &current)
{
    if (value.metaType().id() == QMetaType::QFont)
        return value.value<QFont>();
    if (value.metaType().id() == QMetaType::QString) {
        QFont font;
        if (font.fromString(value.toString()))
            return font;
    }
    return current;
}

bool readBool(const QVariant &value, bool current)
{
    if (!value.isValid())
        return current;
    // Booleans that crossed a control interface arrive as -1 / 0.
    if (value.metaType().id() == QMetaType::Bool)
        return value.toBool();
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    return ok ? number != 0 : current;
}

qlonglong readInteger(const QVariant &value, qlonglong current, qlonglong low, qlonglong high)
{
    bool ok = false;
    const qlonglong number = value.isValid() ? value.toLongLong(&ok) : current;
    if (!ok)
        return current;
    return std::clamp(number, low, high);
}

} // namespace

QColor colorFromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

quint32 bgrFromColor(const QColor &color)
{
    return quint32(color.red()) | quint32(color.green()) << 8 | quint32(color.blue()) << 16;
}

PlaylistViewProperties PlaylistViewProperties::newControl()
{
    PlaylistViewProperties p;
    p.backColor = QColor(255, 255, 255);
    p.listFont = fontWithFallbacks({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                                    QStringLiteral("Noto Serif CJK SC"),
                                    QStringLiteral("Noto Sans CJK SC")});
    p.autoCheckError = false;
    p.itemHeight = 18;
    p.itemBackColor1 = QColor(255, 255, 255);
    p.itemBackColor2 = QColor(234, 246, 250);
    p.selectedBackColor = QColor(98, 148, 204);
    p.textColor = QColor(76, 97, 143);
    p.selectedTextColor = QColor(255, 255, 255);
    p.playingTextColor = QColor(83, 183, 18);
    p.errorTextColor = QColor(255, 0, 0);
    p.border = true;
    p.borderColor = QColor(120, 163, 195);
    p.borderWidth = 1;
    return p;
}

PlaylistViewProperties PlaylistViewProperties::mainWindow()
{
    PlaylistViewProperties p = newControl();
    p.backColor = QColor(117, 153, 1);
    // "Velmor Sans CJK" is the player's own cut of Noto Sans CJK SC, when
    // the application has registered it.
    p.listFont =
        fontWithFallbacks({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                           QStringLiteral("Velmor Sans CJK"), QStringLiteral("Noto Sans CJK SC")});
    p.itemBackColor1 = QColor(53, 153, 1);
    p.itemBackColor2 = QColor(117, 153, 1);
    p.selectedBackColor = QColor(255, 255, 0);
    p.textColor = QColor(0, 255, 255);
    p.selectedTextColor = QColor(128, 128, 255);
    p.playingTextColor = QColor(255, 128, 255);
    p.errorTextColor = QColor(255, 0, 0);
    p.borderColor = QColor(255, 255, 0);
    return p;
}

void PlaylistViewProperties::read(const PropertyBag &bag)
{
    backColor = readColor(bag.readProperty(kBackColor), backColor);
    listFont = readFont(bag.readProperty(kFont), listFont);
    autoCheckError = readBool(bag.readProperty(kAutoCheckError), autoCheckError);
    // A row height below one pixel would divide the view by zero, one
    // taller than any screen only overflows the row arithmetic; a line
    // narrower than one pixel cannot be drawn (borderWidth, below).
    itemHeight = listgeo::boundedItemHeight(int(readInteger(
        bag.readProperty(kItemHeight), itemHeight, 1, std::numeric_limits<int>::max())));
    itemBackColor1 = readColor(bag.readProperty(kItemBkColor1), itemBackColor1);
    itemBackColor2 = readColor(bag.readProperty(kItemBkColor2), itemBackColor2);
    selectedBackColor = readColor(bag.readProperty(kItemSelBkColor), selectedBackColor);
    textColor = readColor(bag.readProperty(kItemNorTextColor), textColor);
    selectedTextColor = readColor(bag.readProperty(kItemSelTextColor), selectedTextColor);
    playingTextColor = readColor(bag.readProperty(kItemPlyTextColor), playingTextColor);
    errorTextColor = readColor(bag.readProperty(kItemErrTextColor), errorTextColor);
    border = readBool(bag.readProperty(kBorder), border);
    borderColor = readColor(bag.readProperty(kBorderColor), borderColor);
    borderWidth = short(readInteger(bag.readProperty(kBorderWidth), borderWidth, 1,
                                    std::numeric_limits<short>::max()));
}

void PlaylistViewProperties::write(PropertyBag &bag) const
{
    bag.writeProperty(kBackColor, backColor);
    bag.writeProperty(kFont, listFont);
    bag.writeProperty(kAutoCheckError, autoCheckError);
    bag.writeProperty(kItemHeight, itemHeight);
    bag.writeProperty(kItemBkColor1, itemBackColor1);
    bag.writeProperty(kItemBkColor2, itemBackColor2);
    bag.writeProperty(kItemSelBkColor, selectedBackColor);
    bag.writeProperty(kItemNorTextColor, textColor);
    bag.writeProperty(kItemSelTextColor, selectedTextColor);
    bag.writeProperty(kItemPlyTextColor, playingTextColor);
    bag.writeProperty(kItemErrTextColor, errorTextColor);
    bag.writeProperty(kBorder, border);
    bag.writeProperty(kBorderColor, borderColor);
    bag.writeProperty(kBorderWidth, int(borderWidth));
}
