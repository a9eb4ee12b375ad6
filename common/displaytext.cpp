#include "common/displaytext.h"

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

} // namespace

QString displaySafe(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && !isControl(text.at(i).unicode()))
        ++i;
    if (i == text.size())
        return text;
    static const char kHex[] = "0123456789abcdef";
    QString out = text.left(i);
    out.reserve(text.size() + 16);
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (!isControl(c)) {
            out += QChar(c);
            continue;
        }
        out += QLatin1String("\\x");
        out += QLatin1Char(kHex[c >> 4]);
        out += QLatin1Char(kHex[c & 0xf]);
    }
    return out;
}
