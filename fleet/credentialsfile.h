#ifndef KELVORA_FLEET_CREDENTIALSFILE_H
#define KELVORA_FLEET_CREDENTIALSFILE_H

// A credentials file: which user ID and password each camera of a fleet is asked with, for
// kelvora-fleet's --credentials FILE. Reads and checks the file, finds the entry for a
// camera, and lists the secrets every log must mask. Sends nothing.
//
// One entry a line, fields separated by single spaces:
//     TARGET USER PASSWORD
// TARGET is a pattern of fleet/targetmatch.h (HOST:PORT, HOST or A.B.C.D/N); the password
// is the rest of the line, kept exactly (spaces, "#", ":", any UTF-8 character, trailing
// spaces too) but for the line end, "\n" or "\r\n". Blank lines and lines whose first
// character other than spaces and tabs is "#" are skipped: an entry begins with its target
// at the start of the line, so such a line can be nothing but a comment. A "#" anywhere
// else belongs to the entry. A UTF-8 byte order mark at the start of the file is skipped.
//
// Refused, each with one line naming the file (and the line, never its secret):
//  - not UTF-8, or a control character (a tab, a lone "\r") in an entry;
//  - an entry without a user ID or a password, an empty one (two spaces in a row), or a
//    password that begins with a space: column-aligned files would otherwise send a
//    password nobody typed, so a password cannot begin with a space;
//  - a user ID holding ":" (the camera would take what follows it for the password);
//  - a bad target, or two entries for the same target (both lines named);
//  - no entry at all;
//  - as ssh refuses a private key: anything but a regular file (a symbolic link is
//    followed, as ssh does), a file group or others have any access to (0600 or 0400
//    will do), a file owned by neither the current user nor root, and over 1 MB.
//
// A camera's entry is the most specific that matches it: HOST:PORT, then HOST, then the
// narrowest range. Same targets being refused, two matching entries never tie.

#include "fleet/targetmatch.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

inline constexpr qint64 kCredentialsFileMaxBytes = 1024 * 1024;

struct CredentialEntry {
    TargetPattern target;
    QString user;
    QString password;
    int line = 0;  // 1-based, for reports: "FILE line 7"
};

struct CredentialsFile {
    QString fileName;
    QList<CredentialEntry> entries;  // in the file's order

    // The entry for the camera at `address` (normal form), or nullptr when none matches.
    // The pointer lives as long as `entries` is left alone.
    const CredentialEntry* find(const QString& address) const;

    // What a log must never show: every password and the Basic credential of every entry
    // (launch/credentials.h's basicCredential). Not the user IDs: an ID such as "admin" is
    // no secret, and masking it would blot out every "admin" in a log that the reader
    // needs.
    QStringList secrets() const;
};

// Opens, checks and reads `fileName` (see above). The permission checks are made on the
// opened descriptor, so the file checked is the file read. The bytes read are wiped once
// parsed. False with *error set and *file untouched on any refusal.
bool readCredentialsFile(const QString& fileName, CredentialsFile* file, QString* error);

// The entries of a file's contents; `fileName` only names it in errors. The checks of the
// file itself are readCredentialsFile's.
bool parseCredentials(const QByteArray& contents, const QString& fileName, QList<CredentialEntry>* entries,
                      QString* error);

#endif
