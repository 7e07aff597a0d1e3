// What a screen reader sees of an ImageControl: the picture's accessible
// name and description, the role the window gives it (a button, a slider,
// or a plain picture), and for a button the press action, which clicks it
// as the mouse does. ImageControl installs the factory on first use.
#pragma once

#include <QAccessibleWidget>

class ImageControl;

class ImageControlAccessible : public QAccessibleWidget
{
public:
    explicit ImageControlAccessible(ImageControl *control);

    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;

    // For QAccessible::installFactory.
    static QAccessibleInterface *create(const QString &className, QObject *object);

private:
    ImageControl *control() const;
};
