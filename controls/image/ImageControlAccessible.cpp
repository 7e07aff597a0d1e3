#include "controls/image/ImageControlAccessible.h"

#include "controls/image/ImageControl.h"

ImageControlAccessible::ImageControlAccessible(ImageControl *control)
    : QAccessibleWidget(control, QAccessible::Graphic)
{
}

ImageControl *ImageControlAccessible::control() const
{
    return static_cast<ImageControl *>(widget());
}

QAccessible::Role ImageControlAccessible::role() const
{
    return control()->accessibleRole();
}

QAccessible::State ImageControlAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    if (role() == QAccessible::Button)
        s.focusable = control()->focusPolicy() != Qt::NoFocus;
    return s;
}

QStringList ImageControlAccessible::actionNames() const
{
    if (role() == QAccessible::Button)
        return {pressAction()};
    return QAccessibleWidget::actionNames();
}

void ImageControlAccessible::doAction(const QString &actionName)
{
    if (role() == QAccessible::Button && actionName == pressAction())
        Q_EMIT control()->clicked();
    else
        QAccessibleWidget::doAction(actionName);
}

QAccessibleInterface *ImageControlAccessible::create(const QString &className, QObject *object)
{
    if (className == QLatin1String("ImageControl") && object && object->isWidgetType())
        return new ImageControlAccessible(static_cast<ImageControl *>(object));
    return nullptr;
}
