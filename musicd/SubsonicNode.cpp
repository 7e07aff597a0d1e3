#include "musicd/SubsonicNode.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QXmlStreamWriter>

namespace musicd {
namespace {

const char kNamespace[] = "http://subsonic.org/restapi";

// XML 1.0 cannot carry most control characters at all, escaped or not; a
// tag holding one would make the whole answer unreadable, so they become
// spaces (in JSON too, so both forms say the same).
QString cleanText(const QVariant &value)
{
    QString text = value.toString();
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') || u == 0xFFFE || u == 0xFFFF)
            c = QLatin1Char(' ');
    }
    return text;
}

QString xmlText(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return cleanText(value);
}

QJsonValue jsonScalar(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toLongLong();
    case QMetaType::Double:
        return value.toDouble();
    default:
        return cleanText(value);
    }
}

} // namespace

SubsonicNode &SubsonicNode::set(const QString &name, const QVariant &value)
{
    if (value.isValid())
        m_attributes.append({name, value});
    return *this;
}

SubsonicNode &SubsonicNode::setText(const QVariant &text)
{
    m_text = text;
    return *this;
}

SubsonicNode &SubsonicNode::add(SubsonicNode child)
{
    m_children.append(std::move(child));
    return *this;
}

SubsonicNode &SubsonicNode::declareList(const QString &name)
{
    m_emptyLists.append(name);
    return *this;
}

void SubsonicNode::writeXml(QXmlStreamWriter &xml) const
{
    xml.writeStartElement(m_name);
    for (const auto &[name, value] : m_attributes)
        xml.writeAttribute(name, xmlText(value));
    if (m_text.isValid())
        xml.writeCharacters(xmlText(m_text));
    for (const SubsonicNode &child : m_children)
        child.writeXml(xml);
    xml.writeEndElement();
}

QByteArray SubsonicNode::toXml() const
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.writeStartDocument();
    xml.writeDefaultNamespace(QString::fromLatin1(kNamespace));
    writeXml(xml);
    xml.writeEndDocument();
    return bytes;
}

QJsonValue SubsonicNode::jsonValue() const
{
    if (m_shape == Shape::Scalar || m_shape == Shape::ScalarList)
        return jsonScalar(m_text);
    QJsonObject object;
    for (const auto &[name, value] : m_attributes)
        object.insert(name, jsonScalar(value));
    if (m_text.isValid())
        object.insert(QStringLiteral("value"), jsonScalar(m_text));
    // Arrays are gathered apart: appending to one held in the object would
    // copy it at every element.
    QHash<QString, QJsonArray> arrays;
    for (const QString &name : m_emptyLists)
        arrays[name];
    for (const SubsonicNode &child : m_children) {
        if (child.m_shape == Shape::List || child.m_shape == Shape::ScalarList)
            arrays[child.m_name].append(child.jsonValue());
        else
            object.insert(child.m_name, child.jsonValue());
    }
    for (auto it = arrays.cbegin(); it != arrays.cend(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

QByteArray SubsonicNode::toJson() const
{
    QJsonObject root;
    root.insert(m_name, jsonValue());
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

} // namespace musicd
