// The skin layer: paints the player's frames and widgets from the skin, a
// Qt style sheet of our own compiled into the program (a skin file beside
// the executable is taken instead when there is one). The window calls the
// two functions once at start-up and ignores their results, so a missing,
// unreadable or oversized skin leaves the window unskinned and changes
// nothing else.
#pragma once

#include <QString>

// Results of the two calls.
constexpr int kSkinOk = 0;
constexpr int kSkinFailed = -1;

// The program's folder + "/tessaryn.she" when that file exists, else the
// compiled-in skin ":/skin/tessaryn.she".
QString defaultSkinPath();

// Loads the skin at skinPath and applies it to the whole application. The
// password is accepted for the call's shape; our skins are plain text.
int attachSkin(const QString &skinPath, const QString &password);

// Translucent frames on (non-zero) or off (0). Off is the only look our
// skin is drawn for; the value is kept and reported by skinAero().
int setSkinAero(int enable);
int skinAero();

// Takes the skin off again (the application's own style sheet is restored).
void detachSkin();
