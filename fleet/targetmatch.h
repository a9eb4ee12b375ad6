#ifndef KELVORA_FLEET_TARGETMATCH_H
#define KELVORA_FLEET_TARGETMATCH_H

// A TARGET read as a pattern of cameras rather than a list of them: which cameras an
// entry of a credentials file (fleet/credentialsfile.h) or an `--exclude TARGET` of
// kelvora-fleet is about. It is written as on the command line and parsed by the rules of
// fleet/targets.h, and matched against addresses in the normal form normalizeAddress
// gives ("cam", "192.0.2.5:8081", "[::1]:8080"):
//   HOST:PORT  that camera only ("cam:80" is "cam" on port 80, not "cam" on any port);
//   HOST       that host on any port ("192.0.2.5" matches "192.0.2.5" and "192.0.2.5:8081");
//   A.B.C.D/N  every IPv4 address in the range, on any port, N from 0 to 32, network and
//              broadcast addresses included (a pattern lists nothing, so no range is too
//              wide for it);
//   A.B.C.D/N:PORT  the same addresses on that port only, as a range of targets is written.
// Names and addresses are never resolved: "cam" does not match the address "cam" stands
// for, and a range matches only addresses written as IPv4. "@FILE" is no pattern.
// Pure functions over strings; nothing is read or sent.

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

struct TargetPattern {
    enum class Kind { HostPort, Host, Range };
    Kind kind = Kind::Host;
    QString host;          // HostPort and Host: normal form ("cam", "192.0.2.5", "[::1]")
    int port = 80;         // HostPort, and Range with rangePort
    quint32 network = 0;   // Range only: the first address, host bits cleared
    int prefix = 0;        // Range only
    bool rangePort = false;  // Range only: on `port` only

    // Whether the camera at `address` (normal form or anything normalizeAddress accepts)
    // is one of this pattern's; an address that is none matches nothing.
    bool matches(const QString& address) const;

    // Higher is more specific: HOST:PORT, then HOST, then ranges by prefix length (of two
    // ranges alike, the one with a port first), so that of several patterns matching one
    // camera the narrowest decides.
    int specificity() const;

    // One text per pattern: "cam:80", "cam", "192.0.2.0/24", "192.0.2.0/24:8080" (host bits cleared). Two
    // patterns with the same key match the same cameras; the credentials file refuses them,
    // which is also why two matching patterns never tie on specificity.
    QString key() const;
};

// One TARGET as a pattern. False with *error set to one line naming the target and what
// would have been accepted.
bool parseTargetPattern(const QString& target, TargetPattern* pattern, QString* error);

// Every TARGET of a repeated option such as --exclude; false at the first bad one.
bool parseTargetPatterns(const QStringList& targets, QList<TargetPattern>* patterns, QString* error);

// `addresses` without those any pattern matches, in their order.
QStringList withoutMatching(const QStringList& addresses, const QList<TargetPattern>& patterns);

#endif
