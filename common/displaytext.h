#ifndef KELVORA_COMMON_DISPLAYTEXT_H
#define KELVORA_COMMON_DISPLAYTEXT_H

#include <QString>

// Text from outside (a camera's answers, file and folder names, a report read back) as it
// may be shown on a terminal or put into a CSV cell: every control character, C0
// (U+0000-U+001F), DEL (U+007F) and C1 (U+0080-U+009F), is written as a visible "\x1b"
// (two lower-case hex digits), so a device cannot move the cursor, retitle the window or
// clear the screen, and the operator still sees what came. Everything else, a backslash
// too, is left as it is.
QString displaySafe(const QString& text);

// Columns the text takes on a terminal: a character outside the Basic Multilingual Plane
// (a surrogate pair) counts once, a combining mark or other zero-width character none, an
// East Asian wide or full-width one two. For text that displaySafe has been through.
int displayWidth(const QString& text);

// The text in at most `columns` columns, with an ellipsis ("…") where it is cut: its start
// and end kept (the end gets the odd column), or with `keepStart` false its end only. A
// character is never split from its combining marks, nor a surrogate pair. Text that fits
// is returned as it is; no room at all gives an empty text.
QString elidedText(const QString& text, int columns, bool keepStart = true);

#endif
