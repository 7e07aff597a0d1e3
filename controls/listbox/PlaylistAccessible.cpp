#include "controls/listbox/PlaylistAccessible.h"

#include "controls/listbox/PlaylistItemAccessible.h"
#include "controls/listbox/PlaylistView.h"

const QString PlaylistAccessible::kPlayingDescription = QStringLiteral("正在播放");

namespace {

// The list's name when the window gives it none.
const QString kListName = QStringLiteral("播放列表");

} // namespace

PlaylistAccessible::PlaylistAccessible(PlaylistView *view)
    : QAccessibleWidget(view, QAccessible::List)
{
}

PlaylistAccessible::~PlaylistAccessible() = default;

PlaylistView *PlaylistAccessible::view() const
{
    return static_cast<PlaylistView *>(widget());
}

QString PlaylistAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name) {
        const QString name = QAccessibleWidget::text(t);
        return name.isEmpty() ? kListName : name;
    }
    if (t == QAccessible::Description && QAccessibleWidget::text(t).isEmpty()) {
        // "12 首歌曲，正在播放：title - singer"
        QString text = QStringLiteral("%1 首歌曲").arg(view()->listCount());
        const int playing = view()->playIndex();
        if (playing >= 0 && playing < view()->listCount())
            text += QStringLiteral("，") + kPlayingDescription + QStringLiteral("：") +
                    child(playing)->text(QAccessible::Name);
        return text;
    }
    return QAccessibleWidget::text(t);
}

int PlaylistAccessible::childCount() const
{
    return view()->listCount();
}

QAccessibleInterface *PlaylistAccessible::child(int index) const
{
    if (index < 0 || index >= view()->listCount())
        return nullptr;
    return m_items.row(index, [&] { return new PlaylistItemAccessible(view(), index); });
}

int PlaylistAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    return ListRowCache::indexOf(child, this, view()->listCount());
}

QAccessibleInterface *PlaylistAccessible::childAt(int x, int y) const
{
    const QPoint local = view()->mapFromGlobal(QPoint(x, y));
    if (!view()->rect().contains(local))
        return nullptr;
    const int index = view()->indexFromPoint(local.x(), local.y());
    return child(index);
}

QAccessibleInterface *PlaylistAccessible::create(const QString &className, QObject *object)
{
    if (className == QLatin1String("PlaylistView") && object && object->isWidgetType())
        return new PlaylistAccessible(static_cast<PlaylistView *>(object));
    return nullptr;
}
