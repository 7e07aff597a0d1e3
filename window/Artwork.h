// The player's own pictures, drawn at run time with QPainter: the image
// buttons in their normal and hover looks, the knobs and their tracks, the
// default singer picture and the application icon. Nothing is loaded from
// files, so every size is crisp at any resolution.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace Artwork {

// The dark theme the skin shares.
inline const QColor kBackground{0x1b, 0x1f, 0x27};
inline const QColor kPanel{0x25, 0x2b, 0x35};
inline const QColor kAccent{0x2e, 0xc4, 0xb6};
inline const QColor kAccentLight{0x7f, 0xe6, 0xdc};
inline const QColor kGlyph{0xd8, 0xdd, 0xe4};
inline const QColor kTrack{0x3a, 0x42, 0x4f};
inline const QColor kDanger{0xe0, 0x4f, 0x5f};

enum class Glyph {
    Previous,
    Next,
    Play,
    Pause,
    Search,
    Minimise,
    Close,
    PlayMode,
};

// A round image button with its glyph; hover lights the ring and glyph.
QPixmap button(Glyph glyph, QSize size, bool hover);
// A round knob for the volume and seek tracks.
QPixmap knob(QSize size);
// The empty track and the filled part in front of a knob.
QPixmap track(QSize size);
QPixmap trackFill(QSize size);
// The picture shown for a singer without one: a head-and-shoulders outline.
QPixmap defaultSinger(QSize size);
// The window and tray icon: a note in an accent disc, drawn once.
QIcon appIcon();
// The icon's picture at one size (side x side), as the window icon's sizes
// are drawn and the desktop's icon files are exported.
QPixmap appIconPicture(int side);

} // namespace Artwork
