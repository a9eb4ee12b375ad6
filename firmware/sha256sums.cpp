#include "firmware/sha256sums.h"

#include "common/nametable.h"
#include "common/replacefile.h"
#include "common/sha256.h"

#include "firmware/listfile.h"

#include <QFile>
#include <QFileInfo>

namespace {

// A folder's list of a few dozen files is a few kilobytes; anything near this is no such list,
// and it is read whole.
constexpr qint64 kMaxSumsBytes = 1024 * 1024;
// Piece of a file hashed at a time: large enough that the hash, not the reads, sets the pace.
constexpr qint64 kHashPiece = 256 * 1024;
constexpr int kHexDigits = 64;

constexpr kelvora::NameRow<SumVerdict> kVerdictNames[] = {
    {SumVerdict::NoSums, "no-sums"},
    {SumVerdict::Matches, "matches"},
    {SumVerdict::Differs, "differs"},
    {SumVerdict::NotListed, "not-listed"},
    {SumVerdict::SumsUnreadable, "sums-unreadable"},
    {SumVerdict::FileUnreadable, "file-unreadable"},
};

// What each verdict says of the file, for an operator.
constexpr kelvora::NameRow<SumVerdict> kVerdictReasons[] = {
    {SumVerdict::NoSums, "the folder has no SHA256SUMS"},
    {SumVerdict::Matches, "matches SHA256SUMS"},
    {SumVerdict::Differs, "its bytes differ from its digest in SHA256SUMS"},
    {SumVerdict::NotListed, "SHA256SUMS does not list it"},
    {SumVerdict::SumsUnreadable, "SHA256SUMS cannot be used"},
    {SumVerdict::FileUnreadable, "cannot be compared with SHA256SUMS"},
};

SumCheck verdict(SumVerdict v, const QString& detail = QString())
{
    const QString reason = kelvora::nameOf(kVerdictReasons, v);
    return {v, detail.isEmpty() ? reason : reason + QLatin1String(": ") + detail};
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The name of an escaped line as sha256sum wrote it; false for an escape it never writes,
// or a backslash that ends the name.
bool unescapeName(const QByteArray& escaped, QByteArray* name)
{
    name->clear();
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            name->append(escaped[i]);
            continue;
        }
        if (++i == escaped.size())
            return false;
        switch (escaped[i]) {
        case '\\': name->append('\\'); break;
        case 'n': name->append('\n'); break;
        case 'r': name->append('\r'); break;
        default: return false;
        }
    }
    return true;
}

// One checksum line, its line end gone. Empty *why when it is understood.
void parseLine(const QByteArray& line, QByteArray* digestHex, QByteArray* name, QString* why)
{
    if (line.contains('\0')) {
        *why = QStringLiteral("holds a NUL byte");
        return;
    }
    qsizetype i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    const bool escaped = i < line.size() && line[i] == '\\';
    if (escaped)
        ++i;
    qsizetype hexEnd = i;
    while (hexEnd < line.size() && isHexDigit(line[hexEnd]))
        ++hexEnd;
    if (hexEnd - i != kHexDigits) {
        *why = QStringLiteral("the digest is not 64 hexadecimal digits");
        return;
    }
    *digestHex = line.mid(i, kHexDigits);
    i = hexEnd;
    // sha256sum writes two characters here: a space, then a space (text) or "*" (binary).
    if (i + 2 > line.size() || (line[i] != ' ' && line[i] != '\t') || (line[i + 1] != ' ' && line[i + 1] != '*')) {
        *why = QStringLiteral("no two-character separator (a space, then a space or \"*\") after the digest");
        return;
    }
    i += 2;
    if (i == line.size()) {
        *why = QStringLiteral("no file name");
        return;
    }
    if (!escaped)
        *name = line.mid(i);
    else if (!unescapeName(line.mid(i), name))
        *why = QStringLiteral("an escape other than \\\\, \\n or \\r in the file name");
}

} // namespace

QString sumsFilePath(const QString& dirPath)
{
    return dirPath + QLatin1Char('/') + QLatin1String(kSumsFileName);
}

QString FolderSums::firstFinding() const
{
    if (findings.empty())
        return {};
    const SumsFinding& f = findings.front();
    return f.line > 0 ? QStringLiteral("line %1: %2").arg(f.line).arg(f.text) : f.text;
}

bool FolderSums::lists(const QString& fileName) const
{
    const QString tidy = tidySumsName(fileName);
    return state == Present && !tidy.isEmpty() && digests.contains(tidy);
}

QString tidySumsName(const QString& name)
{
    if (!isFolderFileName(name))
        return {};
    QStringList parts;
    for (const QString& part : name.split(QLatin1Char('/'))) {
        if (!part.isEmpty() && part != QLatin1String("."))
            parts << part;
    }
    return parts.join(QLatin1Char('/'));
}

FolderSums parseSums(const QByteArray& content)
{
    FolderSums sums;
    QHash<QString, int> firstLine;
    const QList<QByteArray> lines = content.split('\n');
    // A content ending in a line end leaves one empty piece behind, not a line.
    const qsizetype count = content.endsWith('\n') ? lines.size() - 1 : lines.size();
    for (qsizetype n = 0; n < count; ++n) {
        QByteArray line = lines[n];
        if (line.startsWith('#'))
            continue;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        const int lineNumber = int(n + 1);
        QByteArray hex, rawName;
        QString why;
        parseLine(line, &hex, &rawName, &why);
        const QString name = QFile::decodeName(rawName);
        const QString tidy = why.isEmpty() ? tidySumsName(name) : QString();
        if (why.isEmpty() && tidy.isEmpty())
            why = QStringLiteral("\"%1\" is outside the folder").arg(name);
        const QByteArray digest = QByteArray::fromHex(hex);
        if (why.isEmpty() && firstLine.contains(tidy) && sums.digests.value(tidy) != digest)
            why = QStringLiteral("\"%1\" is listed again with another digest (first on line %2)").arg(name).arg(firstLine[tidy]);
        if (!why.isEmpty()) {
            sums.findings.push_back({lineNumber, why});
            continue;
        }
        if (!firstLine.contains(tidy)) {
            firstLine.insert(tidy, lineNumber);
            sums.digests.insert(tidy, digest);
        }
    }
    if (sums.findings.empty() && sums.digests.isEmpty())
        sums.findings.push_back({0, QStringLiteral("holds no checksum line")});
    sums.state = sums.findings.empty() ? FolderSums::Present : FolderSums::Unreadable;
    if (sums.state != FolderSums::Present)
        sums.digests.clear();
    return sums;
}

FolderSums readFolderSums(const QString& dirPath)
{
    const QString path = sumsFilePath(dirPath);
    const QFileInfo info(path);
    FolderSums sums;
    // A link to nothing is there all the same: the folder meant to be sealed.
    if (!info.exists() && !info.isSymLink())
        return sums;
    const auto unreadable = [&sums](const QString& why) {
        sums.state = FolderSums::Unreadable;
        sums.findings.push_back({0, why});
        return sums;
    };
    if (!info.isFile())
        return unreadable(QStringLiteral("is not a regular file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return unreadable(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    const QByteArray content = file.read(kMaxSumsBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return unreadable(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    if (content.size() > kMaxSumsBytes)
        return unreadable(QStringLiteral("is larger than 1 MiB"));
    return parseSums(content);
}

QString sumVerdictName(SumVerdict verdict)
{
    return kelvora::nameOf(kVerdictNames, verdict);
}

SumCheck judgeDigest(const FolderSums& sums, const QString& fileName, const QByteArray& digest)
{
    if (sums.state == FolderSums::Absent)
        return verdict(SumVerdict::NoSums);
    if (sums.state == FolderSums::Unreadable)
        return verdict(SumVerdict::SumsUnreadable, sums.firstFinding());
    const QString tidy = tidySumsName(fileName);
    const auto listed = tidy.isEmpty() ? sums.digests.constEnd() : sums.digests.constFind(tidy);
    if (listed == sums.digests.constEnd())
        return verdict(SumVerdict::NotListed);
    return verdict(listed.value() == digest ? SumVerdict::Matches : SumVerdict::Differs);
}

SumCheck checkFolderFile(const FolderSums& sums, const QString& dirPath, const QString& fileName)
{
    if (sums.state != FolderSums::Present)
        return judgeDigest(sums, fileName, QByteArray());
    if (!sums.lists(fileName))
        return verdict(SumVerdict::NotListed);
    QString error;
    const QByteArray digest = sha256OfFile(dirPath + QLatin1Char('/') + fileName, &error);
    if (digest.isEmpty())
        return verdict(SumVerdict::FileUnreadable, error);
    return judgeDigest(sums, fileName, digest);
}

SumCheck checkFolderFile(const QString& dirPath, const QString& fileName)
{
    return checkFolderFile(readFolderSums(dirPath), dirPath, fileName);
}

QByteArray sha256OfFile(const QString& path, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return QByteArray();
    };
    const QFileInfo info(path);
    // A FIFO or a device would block the read or never end it.
    if (!info.isFile())
        return fail(info.exists() ? QStringLiteral("is not a regular file") : QStringLiteral("does not exist"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return fail(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    kelvora::Sha256 hash;
    QByteArray piece(kHashPiece, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(piece.data(), kHashPiece);
        if (n < 0)
            return fail(QStringLiteral("cannot be read: %1").arg(file.errorString()));
        if (n == 0)
            break;
        hash.addData(QByteArrayView(piece.constData(), n));
    }
    return hash.result();
}

QByteArray sumsLine(const QByteArray& digest, const QString& name)
{
    QByteArray encoded = QFile::encodeName(name);
    QByteArray line;
    if (encoded.contains('\\') || encoded.contains('\n') || encoded.contains('\r')) {
        line += '\\';
        encoded.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r");
    }
    return line + digest.toHex() + "  " + encoded + '\n';
}

bool writeFolderSums(const QString& dirPath, const QStringList& names, std::vector<SumsEntry>* written, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (written)
        written->clear();
    std::vector<SumsEntry> entries;
    QStringList tidyNames;
    QByteArray content;
    for (const QString& name : names) {
        const QString tidy = tidySumsName(name);
        if (tidy.isEmpty())
            return fail(QStringLiteral("\"%1\" is outside the folder").arg(name));
        if (tidyNames.contains(tidy))
            continue;
        QString why;
        const QByteArray digest = sha256OfFile(dirPath + QLatin1Char('/') + name, &why);
        if (digest.isEmpty())
            return fail(QStringLiteral("\"%1\" %2").arg(name, why));
        tidyNames << tidy;
        entries.push_back({name, digest});
        content += sumsLine(digest, name);
    }
    if (entries.empty())
        return fail(QStringLiteral("no file to list"));
    QString why;
    if (!kelvora::replaceFileWhole(sumsFilePath(dirPath), content, kelvora::FileAccess::Shared, &why))
        return fail(QStringLiteral("%1 cannot be written: %2").arg(sumsFilePath(dirPath), why));
    if (written)
        *written = std::move(entries);
    return true;
}
