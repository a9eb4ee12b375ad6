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

#endif
