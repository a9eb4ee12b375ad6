#include "common/wiretext.h"

QByteArray toWireLatin1(const QString& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += '?';
            ++i;
            continue;
        }
        out += c.unicode() <= 0xff ? char(c.unicode()) : '?';
    }
    return out;
}
