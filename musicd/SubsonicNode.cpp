#include "musicd/SubsonicNode.h"

#include <QLocale>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>

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

// JSON's escapes for quotes, backslashes and control characters; the byte
// order mark and the line and paragraph separators escaped too, since
// some readers drop the one or break lines at the others.
void writeJsonString(QByteArray &out, const QString &text)
{
    out += '"';
    qsizetype plainFrom = 0;
    const auto flush = [&](qsizetype to) {
        if (to > plainFrom)
            out += QStringView(text).mid(plainFrom, to - plainFrom).toUtf8();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        QByteArray escape;
        if (u == u'"' || u == u'\\')
            escape = QByteArray(1, '\\') + char(u);
        else if (u == u'\n')
            escape = "\\n";
        else if (u == u'\r')
            escape = "\\r";
        else if (u == u'\t')
            escape = "\\t";
        else if (u < 0x20 || u == 0xFEFF || u == 0x2028 || u == 0x2029)
            escape = "\\u" + QByteArray::number(u, 16).rightJustified(4, '0');
        if (escape.isEmpty())
            continue;
        flush(i);
        out += escape;
        plainFrom = i + 1;
    }
    flush(text.size());
    out += '"';
}

void writeJsonScalar(QByteArray &out, const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        out += value.toBool() ? "true" : "false";
        return;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        out += QByteArray::number(value.toLongLong());
        return;
    case QMetaType::Double: {
        const double d = value.toDouble();
        out += std::isfinite(d) ? QByteArray::number(d, 'g', QLocale::FloatingPointShortest)
                                : QByteArray("null");
        return;
    }
    default:
        writeJsonString(out, cleanText(value));
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

void SubsonicNode::writeJson(QByteArray &out) const
{
    if (m_shape == Shape::Scalar || m_shape == Shape::ScalarList) {
        writeJsonScalar(out, m_text);
        return;
    }
    out += '{';
    bool first = true;
    const auto member = [&](const QString &name) {
        if (!first)
            out += ',';
        first = false;
        writeJsonString(out, name);
        out += ':';
    };
    for (const auto &[name, value] : m_attributes) {
        member(name);
        writeJsonScalar(out, value);
    }
    if (m_text.isValid()) {
        member(QStringLiteral("value"));
        writeJsonScalar(out, m_text);
    }
    // Children of one name are one member: an array for the listed kinds
    // (gathered from wherever they stand), else the object itself.
    QList<QString> names = m_emptyLists;
    for (const SubsonicNode &child : m_children) {
        if (!names.contains(child.m_name))
            names.append(child.m_name);
    }
    for (const QString &name : names) {
        member(name);
        const bool list =
            m_emptyLists.contains(name) ||
            std::any_of(m_children.cbegin(), m_children.cend(), [&](const SubsonicNode &c) {
                return c.m_name == name &&
                       (c.m_shape == Shape::List || c.m_shape == Shape::ScalarList);
            });
        if (list)
            out += '[';
        bool firstEntry = true;
        for (const SubsonicNode &child : m_children) {
            if (child.m_name != name)
                continue;
            if (list && !firstEntry)
                out += ',';
            firstEntry = false;
            child.writeJson(out);
            if (!list)
                break; // one object per name: the API never repeats one
        }
        if (list)
            out += ']';
    }
    out += '}';
}

QByteArray SubsonicNode::toJson() const
{
    // Written straight out, not through a QJsonDocument: that holds every
    // value twice over, which for the whole artist list of a large library
    // is tens of megabytes for an answer of a few.
    QByteArray out;
    out += "{";
    writeJsonString(out, m_name);
    out += ':';
    writeJson(out);
    out += '}';
    return out;
}

} // namespace musicd
