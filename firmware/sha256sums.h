#ifndef KELVORA_FIRMWARE_SHA256SUMS_H
#define KELVORA_FIRMWARE_SHA256SUMS_H

// A firmware folder's SHA256SUMS, in the format `sha256sum FILE... > SHA256SUMS` writes and
// `sha256sum -c` reads: reading it, judging a file against it, writing it. A folder that
// carries one is sealed: only files it lists, with the bytes it gives, may be sent. One that
// cannot be read, or understood line by line, refuses every file: it never lets one through.
// Widget-free (Qt Core only), so the run, the fleet and the folder checker judge a folder
// by the very same rules. Digests are the 32 raw bytes of SHA-256 throughout.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

inline constexpr char kSumsFileName[] = "SHA256SUMS";

// The folder, "/", kSumsFileName.
QString sumsFilePath(const QString& dirPath);

// One reason a SHA256SUMS cannot be used; `line` counts from 1 as `sha256sum -c` does,
// 0 for the file as a whole.
struct SumsFinding {
    int line = 0;
    QString text;
};

struct FolderSums {
    enum State {
        Absent,      // no SHA256SUMS: the folder is not sealed
        Present,     // read whole, every line understood
        Unreadable,  // there, but not a readable regular file, or a line not understood
    };
    State state = Absent;
    QHash<QString, QByteArray> digests;  // by the name's tidy form (tidySumsName)
    std::vector<SumsFinding> findings;   // why it is Unreadable; empty otherwise

    // "line 3: ..." for the first finding, or "" when there is none.
    QString firstFinding() const;
    // True when a usable SHA256SUMS lists this name (as the list file writes it).
    bool lists(const QString& fileName) const;
};

// The form names are compared in: "./a.bin" and "sub//a.bin" are "a.bin" and "sub/a.bin".
// Empty for a name that leaves the folder (see isFolderFileName) or names the folder itself.
QString tidySumsName(const QString& name);

// Reads the SHA256SUMS of `dirPath`. Anything there but not a regular file (a FIFO would
// block the reader, a folder is no list) is Unreadable, and so is one larger than 1 MiB.
FolderSums readFolderSums(const QString& dirPath);

// The content of a SHA256SUMS, read as `sha256sum -c` reads it: empty lines and lines
// starting with # are passed over, a CR before the line end is dropped, hexadecimal digits
// may be upper-case, and a line starting with a backslash has its name escaped (backslash,
// newline and CR written as \\, \n and \r). Refused lines: anything but 64 hex digits, a
// space or tab, a space or *, then the name; another escape; a NUL; a name leaving the folder;
// a name given again with another digest. A content without any checksum line is refused.
FolderSums parseSums(const QByteArray& content);

// How a file stands against its folder's SHA256SUMS.
enum class SumVerdict {
    NoSums,          // the folder has none: send as without it
    Matches,
    Differs,
    NotListed,
    SumsUnreadable,  // the folder's SHA256SUMS cannot be used: every file is refused
    FileUnreadable,  // listed, but its bytes cannot be read to compare them
};

// True for the verdicts that let the file be sent.
inline bool sumsAllowSending(SumVerdict verdict)
{
    return verdict == SumVerdict::NoSums || verdict == SumVerdict::Matches;
}

// "matches", "differs", "not-listed", ...: the verdict as scripts see it.
QString sumVerdictName(SumVerdict verdict);

struct SumCheck {
    SumVerdict verdict = SumVerdict::NoSums;
    QString reason;  // one line for an operator, without the file's name
};

// Judges a file name, as the list file writes it, and the digest of its bytes.
SumCheck judgeDigest(const FolderSums& sums, const QString& fileName, const QByteArray& digest);

// Judges a file of the folder as it is on disk now. Its bytes are read (streamed, never
// held whole) only when the folder has a usable SHA256SUMS that lists the name.
SumCheck checkFolderFile(const FolderSums& sums, const QString& dirPath, const QString& fileName);
// The same, reading the folder's SHA256SUMS first: one call per planned file.
SumCheck checkFolderFile(const QString& dirPath, const QString& fileName);

// The SHA-256 of a regular file's bytes, read in pieces (memory bounded, whatever the
// file's size). Empty, with *error set when given, when it is not a regular file or
// cannot be read to its end.
QByteArray sha256OfFile(const QString& path, QString* error = nullptr);

// One line as sha256sum writes it for `name`: lower-case hex, two spaces, the name, a line
// end; a name holding a backslash, newline or CR gets a leading backslash and those escaped.
QByteArray sumsLine(const QByteArray& digest, const QString& name);

struct SumsEntry {
    QString name;
    QByteArray digest;
};

// Writes the SHA256SUMS of `dirPath` for `names` (relative to it, in the order given),
// each file streamed from disk, replacing any earlier one at once or not at all. False,
// with *error set and nothing changed, when a name leaves the folder, a file cannot be read,
// there is no name, or the file cannot be written. *written gets what was written.
bool writeFolderSums(const QString& dirPath, const QStringList& names, std::vector<SumsEntry>* written = nullptr,
                     QString* error = nullptr);

#endif
