#include "fleet/credentialsfile.h"

#include "launch/credentials.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The file's text must not outlive its parsing in freed memory; explicit_bzero is not
// dropped by the optimiser as a memset before a free may be.
struct WipeOnExit {
    char* data;
    size_t size;
    ~WipeOnExit() { explicit_bzero(data, size); }
};

struct WipeStringOnExit {
    QString& text;
    ~WipeStringOnExit()
    {
        if (!text.isEmpty())
            explicit_bzero(text.data(), size_t(text.size()) * sizeof(QChar));
    }
};

// The passwords of a refused file, wiped in place: every copy of them is this function's
// own, so writing through the shared data reaches them all.
struct WipePasswordsUnlessKept {
    QList<CredentialEntry>& entries;
    bool kept = false;
    ~WipePasswordsUnlessKept()
    {
        for (const CredentialEntry& entry : std::as_const(entries)) {
            if (!kept && !entry.password.isEmpty())
                explicit_bzero(const_cast<QChar*>(entry.password.constData()), size_t(entry.password.size()) * sizeof(QChar));
        }
    }
};

struct CloseOnExit {
    int fd;
    ~CloseOnExit() { ::close(fd); }
};

// The name as a shell word, for the commands the refusals suggest.
QString shellWord(const QString& name)
{
    static const QString plain = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./+,=@%");
    if (!name.isEmpty() && std::all_of(name.cbegin(), name.cend(), [](QChar c) { return plain.contains(c); }))
        return name;
    QString quoted = name;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

// Why one entry line is refused, or an empty string with *entry filled. Every text here
// stays clear of the user ID and the password; only the target, which comes before
// both, may be quoted, and only once the line is known to have all three fields.
QString parseEntry(const QString& line, CredentialEntry* entry)
{
    if (hasControlCharacter(line))
        return QStringLiteral("a tab or another control character; fields are separated by single spaces");
    if (line.startsWith(QLatin1Char(' ')))
        return QStringLiteral("begins with a space; an entry is TARGET USER PASSWORD from the start of the line");
    const qsizetype afterTarget = line.indexOf(QLatin1Char(' '));
    if (afterTarget < 0)
        return QStringLiteral("no user ID and no password; an entry is TARGET USER PASSWORD");
    const qsizetype afterUser = line.indexOf(QLatin1Char(' '), afterTarget + 1);
    if (afterUser < 0)
        return QStringLiteral("no password after the user ID; an entry is TARGET USER PASSWORD");
    if (afterUser == afterTarget + 1)
        return QStringLiteral("empty user ID (two spaces in a row); fields are separated by one space");
    if (afterUser + 1 == line.size())
        return QStringLiteral("empty password; an entry is TARGET USER PASSWORD");
    if (line.at(afterUser + 1) == u' ')
        return QStringLiteral("the password begins with a space (two spaces after the user ID); fields are separated "
                              "by one space and a password cannot begin with one");
    const QString user = line.mid(afterTarget + 1, afterUser - afterTarget - 1);
    if (user.contains(QLatin1Char(':')))
        return QStringLiteral("the user ID holds \":\", which the camera would take for the start of the password");
    QString why;
    if (!parseTargetPattern(line.left(afterTarget), &entry->target, &why))
        return why;
    entry->user = user;
    entry->password = line.mid(afterUser + 1);
    return {};
}

} // namespace

const CredentialEntry* CredentialsFile::find(const QString& address) const
{
    const CredentialEntry* best = nullptr;
    for (const CredentialEntry& entry : entries) {
        if (entry.target.matches(address) && (!best || entry.target.specificity() > best->target.specificity()))
            best = &entry;
    }
    return best;
}

QStringList CredentialsFile::secrets() const
{
    QStringList all;
    for (const CredentialEntry& entry : entries)
        all << entry.password << basicCredential(entry.user, entry.password);
    all.removeDuplicates();
    return all;
}

bool parseCredentials(const QByteArray& contents, const QString& fileName, QList<CredentialEntry>* entries,
                      QString* error)
{
    const auto at = [&fileName](int line, const QString& why) {
        return QStringLiteral("%1:%2: %3").arg(fileName).arg(line).arg(why);
    };
    QList<CredentialEntry> result;
    WipePasswordsUnlessKept wipeIfRefused{result};
    QHash<QString, int> lineOfTarget;
    // Editors on some systems open a UTF-8 file with a byte order mark; it is no part of a target.
    qsizetype pos = contents.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    int lineNumber = 0;
    while (pos < contents.size()) {
        ++lineNumber;
        qsizetype end = contents.indexOf('\n', pos);
        const qsizetype next = end < 0 ? contents.size() : end + 1;
        if (end < 0)
            end = contents.size();
        else if (end > pos && contents.at(end - 1) == '\r')
            --end;
        // A decoder per line, so that an error names its line; ConvertInitialBom keeps a
        // U+FEFF that begins a password.
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
        QString line = decoder.decode(QByteArrayView(contents.constData() + pos, end - pos));
        const WipeStringOnExit wipeLine{line};
        pos = next;
        if (decoder.hasError()) {
            *error = at(lineNumber, QStringLiteral("not UTF-8 text; the file is read as UTF-8"));
            return false;
        }
        const auto firstNonBlank = std::find_if_not(line.cbegin(), line.cend(), isBlank);
        if (firstNonBlank == line.cend() || *firstNonBlank == u'#')
            continue;

        CredentialEntry entry;
        const QString why = parseEntry(line, &entry);
        if (!why.isEmpty()) {
            *error = at(lineNumber, why);
            return false;
        }
        entry.line = lineNumber;
        result << entry;
        const QString key = entry.target.key();
        if (lineOfTarget.contains(key)) {
            *error = at(lineNumber, QStringLiteral("target \"%1\" is also on line %2; one entry a target")
                                        .arg(line.left(line.indexOf(QLatin1Char(' '))))
                                        .arg(lineOfTarget.value(key)));
            return false;
        }
        lineOfTarget.insert(key, lineNumber);
    }
    if (result.isEmpty()) {
        *error = QStringLiteral("%1: no entry; one a line: TARGET USER PASSWORD").arg(fileName);
        return false;
    }
    wipeIfRefused.kept = true;
    *entries = result;
    return true;
}

bool readCredentialsFile(const QString& fileName, CredentialsFile* file, QString* error)
{
    const auto refuse = [&fileName, error](const QString& why) {
        *error = QStringLiteral("credentials file \"%1\": %2").arg(fileName, why);
        return false;
    };
    // O_NONBLOCK: opening a FIFO must not wait for a writer before it can be refused.
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    const CloseOnExit closeFd{fd};

    struct stat st = {};
    if (::fstat(fd, &st) != 0)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISDIR(st.st_mode))
        return refuse(QStringLiteral("a folder, not a file"));
    if (!S_ISREG(st.st_mode))
        return refuse(QStringLiteral("not a regular file (a FIFO, socket or device cannot hold credentials)"));
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return refuse(QStringLiteral("owned by user %1, neither you (%2) nor root; only its owner should keep these "
                                     "passwords: use your own copy, or \"chown %2 %3\"")
                          .arg(st.st_uid)
                          .arg(::geteuid())
                          .arg(shellWord(fileName)));
    if ((st.st_mode & 077) != 0)
        return refuse(QStringLiteral("permissions %1 are too open: it holds passwords, so group and others must "
                                     "have no access; run \"chmod 600 %2\"")
                          .arg(QString::number(st.st_mode & 07777, 8).rightJustified(4, QLatin1Char('0')),
                               shellWord(fileName)));
    if (st.st_size > kCredentialsFileMaxBytes)
        return refuse(QStringLiteral("%1 bytes; a credentials file holds at most %2")
                          .arg(st.st_size)
                          .arg(kCredentialsFileMaxBytes));

    // One buffer, never grown, so no copy of the passwords is left behind in freed memory;
    // one byte over the bound tells a file that grew while it was read.
    QByteArray buffer(kCredentialsFileMaxBytes + 1, '\0');
    const WipeOnExit wipeBuffer{buffer.data(), size_t(buffer.size())};
    qsizetype total = 0;
    while (total < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + total, size_t(buffer.size() - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refuse(QString::fromLocal8Bit(std::strerror(errno)));
        if (n == 0)
            break;
        total += n;
    }
    if (total > kCredentialsFileMaxBytes)
        return refuse(QStringLiteral("grew while read; a credentials file holds at most %1 bytes").arg(kCredentialsFileMaxBytes));

    QList<CredentialEntry> entries;
    if (!parseCredentials(QByteArray::fromRawData(buffer.constData(), total), fileName, &entries, error))
        return false;
    file->fileName = fileName;
    file->entries = entries;
    return true;
}
