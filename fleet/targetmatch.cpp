#include "fleet/targetmatch.h"

#include "fleet/targets.h"

#include <QHostAddress>

#include <algorithm>

namespace {

// Ranges count twice their prefix length, and one more with a port (at most 65): a host is
// above them all, so it always beats a /32 of itself.
constexpr int kHostSpecificity = 66;
constexpr int kHostPortSpecificity = 67;

quint32 rangeMask(int prefix)
{
    // A /0 has no network bits: shifting a 32-bit value by 32 is undefined.
    return prefix == 0 ? 0 : ~quint32(0) << (32 - prefix);
}

} // namespace

bool TargetPattern::matches(const QString& address) const
{
    HostAndPort camera;
    QString ignored;
    if (!parseHostAndPort(address, &camera, &ignored))
        return false;
    switch (kind) {
    case Kind::HostPort:
        return camera.host == host && camera.port == port;
    case Kind::Host:
        return camera.host == host;
    case Kind::Range:
        return camera.isIPv4 && (camera.ipv4 & rangeMask(prefix)) == network && (!rangePort || camera.port == port);
    }
    return false;
}

int TargetPattern::specificity() const
{
    switch (kind) {
    case Kind::HostPort:
        return kHostPortSpecificity;
    case Kind::Host:
        return kHostSpecificity;
    case Kind::Range:
        return 2 * prefix + (rangePort ? 1 : 0);
    }
    return -1;
}

QString TargetPattern::key() const
{
    switch (kind) {
    case Kind::HostPort:
        return host + QLatin1Char(':') + QString::number(port);
    case Kind::Host:
        return host;
    case Kind::Range:
        return QHostAddress(network).toString() + QLatin1Char('/') + QString::number(prefix)
            + (rangePort ? QLatin1Char(':') + QString::number(port) : QString());
    }
    return {};
}

bool parseTargetPattern(const QString& target, TargetPattern* pattern, QString* error)
{
    QString why;
    TargetPattern result;
    if (target.startsWith(QLatin1Char('@'))) {
        why = QStringLiteral("a file of targets cannot be a pattern; write HOST, HOST:PORT or A.B.C.D/N[:PORT]");
    } else if (target.contains(QLatin1Char('/'))) {
        result.kind = TargetPattern::Kind::Range;
        // "A.B.C.D/N:PORT", as a range of targets may be written.
        const qsizetype colon = target.indexOf(QLatin1Char(':'), target.indexOf(QLatin1Char('/')));
        if (colon < 0 || parsePort(target.mid(colon + 1), &result.port, &why)) {
            result.rangePort = colon >= 0;
            parseRange(colon >= 0 ? target.left(colon) : target, 0, &result.network, &result.prefix, &why);
        }
    } else {
        HostAndPort parsed;
        if (parseHostAndPort(target, &parsed, &why)) {
            result.kind = parsed.portWritten ? TargetPattern::Kind::HostPort : TargetPattern::Kind::Host;
            result.host = parsed.host;
            result.port = parsed.port;
        } else {
            why += QStringLiteral(" (a target is HOST, HOST:PORT or an IPv4 range A.B.C.D/N[:PORT])");
        }
    }
    if (!why.isEmpty()) {
        *error = QStringLiteral("bad target \"%1\": %2").arg(target, why);
        return false;
    }
    *pattern = result;
    return true;
}

bool parseTargetPatterns(const QStringList& targets, QList<TargetPattern>* patterns, QString* error)
{
    QList<TargetPattern> result;
    for (const QString& target : targets) {
        TargetPattern pattern;
        if (!parseTargetPattern(target, &pattern, error))
            return false;
        result << pattern;
    }
    *patterns = result;
    return true;
}

QStringList withoutMatching(const QStringList& addresses, const QList<TargetPattern>& patterns)
{
    QStringList kept;
    for (const QString& address : addresses) {
        const bool excluded = std::any_of(patterns.cbegin(), patterns.cend(),
                                          [&address](const TargetPattern& p) { return p.matches(address); });
        if (!excluded)
            kept << address;
    }
    return kept;
}
