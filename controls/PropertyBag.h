// The host's property store for the custom controls: design-time
// properties kept under their names, each read with a default when the key
// is missing. A control reads its properties from a bag at load and writes
// every key back on save.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

class PropertyBag
{
public:
    PropertyBag() = default;
    explicit PropertyBag(QVariantMap values) : m_values(std::move(values)) {}

    QVariant readProperty(const QString &name, const QVariant &defaultValue = QVariant()) const
    {
        return m_values.value(name, defaultValue);
    }
    void writeProperty(const QString &name, const QVariant &value) { m_values.insert(name, value); }
    bool contains(const QString &name) const { return m_values.contains(name); }
    const QVariantMap &values() const { return m_values; }

private:
    QVariantMap m_values;
};
