#ifndef KELVORA_FLEET_TARGETS_H
#define KELVORA_FLEET_TARGETS_H

// The cameras a command is for, from its TARGET arguments: "HOST", "HOST:PORT", an IPv4
// range "A.B.C.D/N" (N from 22 to 32, ":PORT" after it for another port than 80), or
// "@FILE" with one such target a line. Each
// becomes the address the window would be given ("host" or "host:port"), in the order
// written, every camera once. Reads @FILE files; sends nothing.

#include <QString>
#include <QStringList>
#include <QtGlobal>

inline constexpr int kWidestPrefix = 22;  // a /22: 1024 addresses

struct TargetList {
    QStringList addresses;  // empty when `error` is set
    QString error;          // one line naming the target (and FILE:LINE) at fault
};

// Normal form of one address, or an empty string with *error set. Host names are
// lower-cased; an IPv4 address is written without leading zeros (a part with one is
// refused, as some readers take it for octal); IPv6 goes in brackets, "[::1]" or
// "[::1]:8080". Port 80, written or not, is the same camera: "host:80" becomes "host".
QString normalizeAddress(const QString& target, QString* error);

// One address taken apart, for fleet/targetmatch.h: the host in normal form ("cam",
// "192.0.2.5", "[::1]"), its port (80 when none is written) and whether a port was
// written at all, since a pattern "cam:80" is one camera and "cam" the host on any port.
struct HostAndPort {
    QString host;
    int port = 80;
    bool portWritten = false;
    bool isIPv4 = false;
    quint32 ipv4 = 0;  // the host's address when isIPv4
};
// False with *error set (as normalizeAddress words it) when `target` is no address.
bool parseHostAndPort(const QString& target, HostAndPort* out, QString* error);

// A written port, 1..65535; false with *error set otherwise.
bool parsePort(const QString& port, int* number, QString* error);

// A range "A.B.C.D/N" with N from `widestPrefix` to 32: its first address (host bits
// cleared) and N. False with *error set otherwise.
bool parseRange(const QString& range, int widestPrefix, quint32* network, int* prefix, QString* error);

// The addresses of a range "A.B.C.D/N", in ascending order, or of "A.B.C.D/N:PORT" each on
// that port. Host bits of A.B.C.D are ignored (198.51.100.7/30 is 198.51.100.4/30). Up to
// /30 the network and broadcast addresses are left out; a /31 gives both its addresses, a
// /32 its one.
QStringList expandRange(const QString& range, QString* error);

// All targets: each argument is an address, a range or "@FILE". In a file, blank lines and
// everything from "#" on are ignored, and "@" is refused (no file names another).
TargetList parseTargets(const QStringList& arguments);

#endif
