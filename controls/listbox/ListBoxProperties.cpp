#include "controls/listbox/ListBoxProperties.h"

#include "controls/PropertyBag.h"

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

ListBoxProperties ListBoxProperties::newControl()
{
    ListBoxProperties p;
    p.BackColor = QColor(255, 255, 255);
    p.Font = fontWithFallbacks({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                                QStringLiteral("Noto Serif CJK SC"),
                                QStringLiteral("Noto Sans CJK SC")});
    p.AutoCheckError = false;
    p.ItemHeight = 18;
    p.ItemBkColor1 = QColor(255, 255, 255);
    p.ItemBkColor2 = QColor(234, 246, 250);
    p.ItemSelBkColor = QColor(98, 148, 204);
    p.ItemNorTextColor = QColor(76, 97, 143);
    p.ItemSelTextColor = QColor(255, 255, 255);
    p.ItemPlyTextColor = QColor(83, 183, 18);
    p.ItemErrTextColor = QColor(255, 0, 0);
    p.Border = true;
    p.BorderColor = QColor(120, 163, 195);
    p.BorderWidth = 1;
    return p;
}

ListBoxProperties ListBoxProperties::mainWindow()
{
    ListBoxProperties p = newControl();
    p.BackColor = QColor(117, 153, 1);
    p.Font = fontWithFallbacks({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                                QStringLiteral("Noto Sans CJK SC")});
    p.ItemBkColor1 = QColor(53, 153, 1);
    p.ItemBkColor2 = QColor(117, 153, 1);
    p.ItemSelBkColor = QColor(255, 255, 0);
    p.ItemNorTextColor = QColor(0, 255, 255);
    p.ItemSelTextColor = QColor(128, 128, 255);
    p.ItemPlyTextColor = QColor(255, 128, 255);
    p.ItemErrTextColor = QColor(255, 0, 0);
    p.BorderColor = QColor(255, 255, 0);
    return p;
}

void ListBoxProperties::read(const PropertyBag &bag)
{
    BackColor = readColor(bag.ReadProperty(kBackColor), BackColor);
    Font = readFont(bag.ReadProperty(kFont), Font);
    AutoCheckError = readBool(bag.ReadProperty(kAutoCheckError), AutoCheckError);
    // A row height below one pixel would divide the view by zero; a line
    // narrower than one pixel cannot be drawn (BorderWidth, below).
    ItemHeight = int(
        readInteger(bag.ReadProperty(kItemHeight), ItemHeight, 1, std::numeric_limits<int>::max()));
    ItemBkColor1 = readColor(bag.ReadProperty(kItemBkColor1), ItemBkColor1);
    ItemBkColor2 = readColor(bag.ReadProperty(kItemBkColor2), ItemBkColor2);
    ItemSelBkColor = readColor(bag.ReadProperty(kItemSelBkColor), ItemSelBkColor);
    ItemNorTextColor = readColor(bag.ReadProperty(kItemNorTextColor), ItemNorTextColor);
    ItemSelTextColor = readColor(bag.ReadProperty(kItemSelTextColor), ItemSelTextColor);
    ItemPlyTextColor = readColor(bag.ReadProperty(kItemPlyTextColor), ItemPlyTextColor);
    ItemErrTextColor = readColor(bag.ReadProperty(kItemErrTextColor), ItemErrTextColor);
    Border = readBool(bag.ReadProperty(kBorder), Border);
    BorderColor = readColor(bag.ReadProperty(kBorderColor), BorderColor);
    BorderWidth = short(readInteger(bag.ReadProperty(kBorderWidth), BorderWidth, 1,
                                    std::numeric_limits<short>::max()));
}

void ListBoxProperties::write(PropertyBag &bag) const
{
    bag.WriteProperty(kBackColor, BackColor);
    bag.WriteProperty(kFont, Font);
    bag.WriteProperty(kAutoCheckError, AutoCheckError);
    bag.WriteProperty(kItemHeight, ItemHeight);
    bag.WriteProperty(kItemBkColor1, ItemBkColor1);
    bag.WriteProperty(kItemBkColor2, ItemBkColor2);
    bag.WriteProperty(kItemSelBkColor, ItemSelBkColor);
    bag.WriteProperty(kItemNorTextColor, ItemNorTextColor);
    bag.WriteProperty(kItemSelTextColor, ItemSelTextColor);
    bag.WriteProperty(kItemPlyTextColor, ItemPlyTextColor);
    bag.WriteProperty(kItemErrTextColor, ItemErrTextColor);
    bag.WriteProperty(kBorder, Border);
    bag.WriteProperty(kBorderColor, BorderColor);
    bag.WriteProperty(kBorderWidth, int(BorderWidth));
}
