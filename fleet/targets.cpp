#include "fleet/targets.h"

#include <QFile>
#include <QHostAddress>
#include <QSet>

namespace {

// A dotted-quad IPv4 address: four decimal parts 0..255, none with a leading zero.
bool parseIPv4(const QString& text, quint32* address)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    quint32 value = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const uint n = part.toUInt(&ok, 10);
        if (!ok || part.size() > 3 || n > 255 || (part.size() > 1 && part.startsWith(QLatin1Char('0'))))
            return false;
        for (QChar c : part) {
            if (!c.isDigit())
                return false;
        }
        value = (value << 8) | n;
    }
    *address = value;
    return true;
}

QString ipv4Text(quint32 a)
{
    return QStringLiteral("%1.%2.%3.%4").arg(a >> 24).arg((a >> 16) & 0xff).arg((a >> 8) & 0xff).arg(a & 0xff);
}

bool isNameCharacter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_';
}

// A host name (lower-cased already): dot-separated labels of letters, digits, "-" and "_".
bool validHostName(const QString& host)
{
    if (host.isEmpty() || host.size() > 253)
        return false;
    const QStringList labels = host.split(QLatin1Char('.'));
    for (const QString& label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
            return false;
        for (QChar c : label) {
            if (!isNameCharacter(c))
                return false;
        }
    }
    return true;
}

bool allDigitsAndDots(const QString& text)
{
    for (QChar c : text) {
        if (!c.isDigit() && c != u'.')
            return false;
    }
    return true;
}

struct Collector {
    QStringList addresses;
    QSet<QString> seen;
    void add(const QString& address)
    {
        if (!seen.contains(address)) {
            seen.insert(address);
            addresses << address;
        }
    }
};

QString badTarget(const QString& where, const QString& target, const QString& why)
{
    return where + QStringLiteral("bad target \"%1\": %2").arg(target, why);
}

// One address or range into `out`; false with *error set (prefixed with `where`).
bool addTarget(const QString& target, const QString& where, Collector& out, QString* error)
{
    QString why;
    if (target.contains(QLatin1Char('/'))) {
        const QStringList range = expandRange(target, &why);
        for (const QString& address : range)
            out.add(address);
    } else {
        const QString address = normalizeAddress(target, &why);
        if (!address.isEmpty())
            out.add(address);
    }
    if (why.isEmpty())
        return true;
    *error = badTarget(where, target, why);
    return false;
}

bool addFile(const QString& fileName, Collector& out, QString* error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read target file \"%1\": %2").arg(fileName, file.errorString());
        return false;
    }
    int lineNumber = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        QString line = QString::fromUtf8(file.readLine());
        const qsizetype comment = line.indexOf(QLatin1Char('#'));
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const QString where = QStringLiteral("%1:%2: ").arg(fileName).arg(lineNumber);
        if (line.startsWith(QLatin1Char('@'))) {
            *error = badTarget(where, line, QStringLiteral("a target file cannot name another"));
            return false;
        }
        if (!addTarget(line, where, out, error))
            return false;
    }
    if (file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("cannot read target file \"%1\": %2").arg(fileName, file.errorString());
        return false;
    }
    return true;
}

} // namespace

bool parsePort(const QString& port, int* number, QString* error)
{
    bool ok = false;
    const uint n = port.toUInt(&ok, 10);
    if (!ok || n < 1 || n > 65535 || port.startsWith(u'+')) {
        *error = QStringLiteral("the port must be a number from 1 to 65535");
        return false;
    }
    *number = int(n);
    return true;
}

bool parseHostAndPort(const QString& target, HostAndPort* out, QString* error)
{
    const auto fail = [error](const QString& why) {
        *error = why;
        return false;
    };
    if (target.isEmpty())
        return fail(QStringLiteral("empty"));

    HostAndPort result;
    QString port;
    if (target.startsWith(QLatin1Char('['))) {
        const qsizetype close = target.indexOf(QLatin1Char(']'));
        const QHostAddress v6(close > 0 ? target.mid(1, close - 1) : QString());
        if (close < 0 || v6.protocol() != QAbstractSocket::IPv6Protocol)
            return fail(QStringLiteral("not an IPv6 address in brackets"));
        const QString rest = target.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return fail(QStringLiteral("only \":PORT\" may follow \"]\""));
        result.host = QLatin1Char('[') + v6.toString() + QLatin1Char(']');
        if (!rest.isEmpty())
            port = rest.mid(1);
    } else {
        const qsizetype colon = target.indexOf(QLatin1Char(':'));
        if (colon >= 0 && target.indexOf(QLatin1Char(':'), colon + 1) >= 0)
            return fail(QStringLiteral("an IPv6 address goes in brackets, as in [::1]:8080"));
        result.host = (colon >= 0 ? target.left(colon) : target).toLower();
        if (colon >= 0)
            port = target.mid(colon + 1);
        if (allDigitsAndDots(result.host)) {
            if (!parseIPv4(result.host, &result.ipv4))
                return fail(QStringLiteral("not an IPv4 address (four numbers 0-255, no leading zeros)"));
            result.isIPv4 = true;
        } else if (!validHostName(result.host)) {
            return fail(QStringLiteral("not a host name"));
        }
    }
    if (!port.isNull()) {
        if (!parsePort(port, &result.port, error))
            return false;
        result.portWritten = true;
    }
    *out = result;
    return true;
}

QString normalizeAddress(const QString& target, QString* error)
{
    HostAndPort parsed;
    if (!parseHostAndPort(target, &parsed, error))
        return {};
    return parsed.port == 80 ? parsed.host : parsed.host + QLatin1Char(':') + QString::number(parsed.port);
}

bool parseRange(const QString& range, int widestPrefix, quint32* network, int* prefix, QString* error)
{
    const qsizetype slash = range.indexOf(QLatin1Char('/'));
    quint32 base = 0;
    if (slash < 0 || !parseIPv4(range.left(slash), &base)) {
        *error = QStringLiteral("a range is an IPv4 address, \"/\" and a prefix length, as in 198.51.100.0/28");
        return false;
    }
    bool ok = false;
    const QString prefixText = range.mid(slash + 1);
    const int n = prefixText.toInt(&ok, 10);
    if (!ok || prefixText.startsWith(u'+') || prefixText.startsWith(u'-') || n > 32) {
        *error = QStringLiteral("the prefix length must be a number from %1 to 32").arg(widestPrefix);
        return false;
    }
    if (n < widestPrefix) {
        *error = QStringLiteral("ranges are at most a /%1 (%2 addresses)").arg(widestPrefix).arg(quint64(1) << (32 - widestPrefix));
        return false;
    }
    // A /0 has no network bits: shifting a 32-bit value by 32 is undefined.
    const quint32 mask = n == 0 ? 0 : ~quint32(0) << (32 - n);
    *network = base & mask;
    *prefix = n;
    return true;
}

QStringList expandRange(const QString& range, QString* error)
{
    // "A.B.C.D/N:PORT": cameras that answer on another port than 80, as simulated ones do.
    const qsizetype colon = range.indexOf(QLatin1Char(':'), range.indexOf(QLatin1Char('/')));
    int port = 80;
    if (colon >= 0 && !parsePort(range.mid(colon + 1), &port, error))
        return {};
    const QString suffix = port == 80 ? QString() : QLatin1Char(':') + QString::number(port);
    quint32 first = 0;
    int prefix = 0;
    if (!parseRange(colon >= 0 ? range.left(colon) : range, kWidestPrefix, &first, &prefix, error))
        return {};
    const quint32 size = quint32(1) << (32 - prefix);
    // Up to a /30 the first and last address name the network and its broadcast.
    const quint32 skip = prefix <= 30 ? 1 : 0;
    QStringList addresses;
    for (quint32 i = skip; i < size - skip; ++i)
        addresses << ipv4Text(first + i) + suffix;
    return addresses;
}

TargetList parseTargets(const QStringList& arguments)
{
    TargetList result;
    if (arguments.isEmpty()) {
        result.error = QStringLiteral("no target given");
        return result;
    }
    Collector out;
    for (const QString& argument : arguments) {
        const bool ok = argument.startsWith(QLatin1Char('@')) ? addFile(argument.mid(1), out, &result.error)
                                                              : addTarget(argument, QString(), out, &result.error);
        if (!ok)
            return result;
    }
    result.addresses = out.addresses;
    return result;
}
