#include "common/displaytext.h"

#include <QList>

#include <array>
#include <utility>

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

// East Asian wide and full-width blocks, and the emoji ones, as terminals draw them: two
// columns a character.
constexpr std::array<std::pair<char32_t, char32_t>, 15> kWide{{
    {0x1100, 0x115f}, {0x2329, 0x232a}, {0x2e80, 0x303e}, {0x3040, 0xa4cf}, {0xac00, 0xd7a3},
    {0xf900, 0xfaff}, {0xfe10, 0xfe19}, {0xfe30, 0xfe6f}, {0xff00, 0xff60}, {0xffe0, 0xffe6},
    {0x1f300, 0x1f64f}, {0x1f680, 0x1f6ff}, {0x1f900, 0x1f9ff}, {0x20000, 0x2fffd}, {0x30000, 0x3fffd},
}};

int columnsOf(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
        return 0;
    default:
        break;
    }
    for (const auto& [first, last] : kWide) {
        if (c >= first && c <= last)
            return 2;
    }
    return 1;
}

// What a terminal draws as one: a character (a surrogate pair too) and the zero-width
// ones after it.
struct Glyph {
    qsizetype start = 0;
    qsizetype length = 0;
    int columns = 0;
};

QList<Glyph> glyphs(const QString& text)
{
    QList<Glyph> out;
    for (qsizetype i = 0; i < text.size();) {
        char32_t c = text.at(i).unicode();
        qsizetype length = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            length = 2;
        }
        const int columns = columnsOf(c);
        if (columns == 0 && !out.isEmpty())
            out.last().length += length;
        else
            out.append({i, length, columns});
        i += length;
    }
    return out;
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

int displayWidth(const QString& text)
{
    int columns = 0;
    for (const Glyph& g : glyphs(text))
        columns += g.columns;
    return columns;
}

QString elidedText(const QString& text, int columns, bool keepStart)
{
    if (displayWidth(text) <= columns)
        return text;
    if (columns <= 0)
        return {};
    const QList<Glyph> all = glyphs(text);
    const int room = columns - 1;
    qsizetype head = 0;  // glyphs kept from the start
    int used = 0;
    for (const int budget = keepStart ? room / 2 : 0; head < all.size() && used + all[head].columns <= budget; ++head)
        used += all[head].columns;
    qsizetype tail = all.size();  // first glyph kept of the end
    while (tail > head && used + all[tail - 1].columns <= room)
        used += all[--tail].columns;
    const qsizetype end = head > 0 ? all[head - 1].start + all[head - 1].length : 0;
    return text.left(end) + QChar(0x2026) + (tail < all.size() ? text.mid(all[tail].start) : QString());
}
