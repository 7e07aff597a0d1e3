// One answer of the Subsonic API as a tree, written as XML or as the API's
// JSON form from the same tree. An element's attributes become JSON members
// with their types kept (numbers, booleans); children of one name become a
// member holding an object, or an array when the element is one the API
// lists (a `song` is always an array, even of one); an element's text is
// the JSON member "value", or the member itself for a list of plain values
// such as `versions` or `smallImageUrl`.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <utility>

class QXmlStreamWriter;

namespace musicd {

class SubsonicNode
{
public:
    enum class Shape {
        Object, // a single child: a JSON object
        List,   // one of many: a JSON array even when alone
        Scalar, // text only: the JSON value itself
        ScalarList,
    };

    explicit SubsonicNode(QString name, Shape shape = Shape::Object)
        : m_name(std::move(name)), m_shape(shape)
    {
    }

    // Attributes keep their order; an invalid value is left out.
    SubsonicNode &set(const QString &name, const QVariant &value);
    SubsonicNode &setText(const QVariant &text);
    SubsonicNode &add(SubsonicNode child);
    // A child list member that must appear in JSON even when empty ("song": []).
    SubsonicNode &declareList(const QString &name);

    const QString &name() const { return m_name; }
    // A list entry standing alone (getAlbum's album, getSong's song).
    SubsonicNode &asObject()
    {
        m_shape = Shape::Object;
        return *this;
    }

    // The whole document with this node as its root element: XML (the
    // root in the API's namespace) or JSON ({"subsonic-response": {...}}).
    QByteArray toXml() const;
    QByteArray toJson() const;

private:
    QString m_name;
    Shape m_shape;
    QList<std::pair<QString, QVariant>> m_attributes;
    QList<SubsonicNode> m_children;
    QList<QString> m_emptyLists;
    QVariant m_text;

    void writeXml(QXmlStreamWriter &xml) const;
    void writeJson(QByteArray &out) const;
};

} // namespace musicd
