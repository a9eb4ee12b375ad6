#include "camera/httpanswer.h"

namespace {

QByteArray withoutCr(const QByteArray& line)
{
    return line.endsWith('\r') ? line.left(line.size() - 1) : line;
}

bool allDigits(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// Without leading zeros ("0" stays "0"): they do not count toward a number's bound.
QByteArray significant(const QByteArray& digits)
{
    qsizetype n = 0;
    while (n + 1 < digits.size() && digits.at(n) == '0')
        ++n;
    return digits.mid(n);
}

// Without the spaces and tabs around it (the whitespace HTTP allows around field values).
QByteArray trimmedOws(const QByteArray& text)
{
    qsizetype from = 0, to = text.size();
    while (from < to && (text.at(from) == ' ' || text.at(from) == '\t'))
        ++from;
    while (to > from && (text.at(to - 1) == ' ' || text.at(to - 1) == '\t'))
        --to;
    return text.mid(from, to - from);
}

// A chunk line: the size in hex digits, then nothing, or extensions after a space or ';'
// (ignored). -1 for a malformed line.
qint64 chunkSize(const QByteArray& line)
{
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    qsizetype digits = 0;
    while (digits < line.size() && hex(line.at(digits)))
        ++digits;
    if (digits == 0 || (digits < line.size() && line.at(digits) != ' ' && line.at(digits) != ';'))
        return -1;
    const QByteArray size = significant(line.left(digits));
    bool ok = false;
    const qint64 n = size.size() <= 15 ? size.toLongLong(&ok, 16) : -1;
    return ok ? n : -1;
}

} // namespace

QNetworkReply::NetworkError networkErrorForStatus(int status)
{
    switch (status) {
    case 401: return QNetworkReply::AuthenticationRequiredError;
    case 403: return QNetworkReply::ContentAccessDenied;
    case 404: return QNetworkReply::ContentNotFoundError;
    case 405: return QNetworkReply::ContentOperationNotPermittedError;
    case 409: return QNetworkReply::ContentConflictError;
    case 410: return QNetworkReply::ContentGoneError;
    case 500: return QNetworkReply::InternalServerError;
    case 501: return QNetworkReply::OperationNotImplementedError;
    case 503: return QNetworkReply::ServiceUnavailableError;
    default: return status < 500 ? QNetworkReply::UnknownContentError : QNetworkReply::UnknownServerError;
    }
}

// ---- HttpAnswerParser ----

HttpAnswerParser::State HttpAnswerParser::feed(const QByteArray& bytes)
{
    if (m_state != Incomplete)
        return m_state;
    m_in += bytes;
    m_state = parse();
    return m_state;
}

HttpAnswerParser::State HttpAnswerParser::closed()
{
    if (m_state == Incomplete)
        m_state = (m_inBody && m_framing == Framing::UntilClose) ? Complete : Invalid;
    return m_state;
}

HttpAnswerParser::State HttpAnswerParser::parse()
{
    for (;;) {
        if (!m_inBody) {
            // Only what came since the last look is searched: a camera may trickle its answer.
            // The head ends at its first empty line; any line may end in CR LF or a bare LF.
            const qsizetype from = qMax<qsizetype>(0, m_scanned - 2);
            qsizetype end = m_in.indexOf("\n\r\n", from);
            qsizetype separator = 3;
            const qsizetype bareEnd = m_in.indexOf("\n\n", from);
            if (bareEnd >= 0 && (end < 0 || bareEnd < end)) {
                end = bareEnd;
                separator = 2;
            }
            if (end < 0) {
                m_scanned = m_in.size();
                // An end still to come starts at the last two bytes at the earliest.
                return m_in.size() - 2 > kMaxHeadBytes ? Invalid : Incomplete;
            }
            if (end > kMaxHeadBytes || !parseHead(m_in.left(end)))
                return Invalid;
            m_in.remove(0, end + separator);
            m_scanned = 0;
            if (m_status < 200)
                continue;  // an interim answer; the real one follows
            m_inBody = true;
        }
        switch (m_framing) {
        case Framing::None:
            return Complete;
        case Framing::Length: {
            const qsizetype take = qsizetype(qMin<qint64>(m_remaining, m_in.size()));
            m_body += m_in.left(take);
            m_in.remove(0, take);
            m_remaining -= take;
            return m_remaining == 0 ? Complete : Incomplete;
        }
        case Framing::UntilClose:
            if (m_body.size() + m_in.size() > kMaxBodyBytes)
                return Invalid;
            m_body += m_in;
            m_in.clear();
            return Incomplete;
        case Framing::Chunked:
            return parseChunked();
        }
        return Invalid;
    }
}

bool HttpAnswerParser::parseHead(const QByteArray& head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QByteArray statusLine = withoutCr(lines.front());
    // "HTTP/1.1 200 OK"
    if (!statusLine.startsWith("HTTP/1.") || statusLine.size() < 12 || !allDigits(statusLine.mid(7, 1))
        || statusLine.at(8) != ' ')
        return false;
    const QByteArray code = statusLine.mid(9, 3);
    if (!allDigits(code) || (statusLine.size() > 12 && statusLine.at(12) != ' '))
        return false;
    m_status = code.toInt();
    if (m_status < 100)
        return false;
    m_reason = statusLine.mid(13).trimmed();
    // An HTTP/1.0 answer ends its connection unless it says otherwise.
    m_keepAlive = statusLine.at(7) != '0';

    qint64 length = -1;
    bool coded = false;
    QByteArray lastCoding;  // of the last Transfer-Encoding field
    // A line led by whitespace continues the field before it (obs-fold); before the first
    // field it continues nothing and is ignored.
    QList<QByteArray> fields;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = withoutCr(lines.at(i));
        if (!line.startsWith(' ') && !line.startsWith('\t'))
            fields.append(line);
        else if (!fields.isEmpty())
            fields.last() += ' ' + trimmedOws(line);
    }
    for (const QByteArray& line : fields) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return false;
        const QByteArray name = trimmedOws(line.left(colon)).toLower();
        const QByteArray value = trimmedOws(line.mid(colon + 1));
        if (name == "content-length") {
            const QByteArray digits = significant(value);
            if (!allDigits(digits) || digits.size() > 18)
                return false;
            const qint64 n = digits.toLongLong();
            if (length >= 0 && n != length)
                return false;
            length = n;
        } else if (name == "transfer-encoding") {
            coded = true;
            lastCoding = trimmedOws(value.toLower().split(',').last());
        } else if (name == "connection") {
            for (const QByteArray& token : value.toLower().split(',')) {
                if (trimmedOws(token) == "close")
                    m_keepAlive = false;
                else if (trimmedOws(token) == "keep-alive")
                    m_keepAlive = true;
            }
        }
    }

    m_remaining = 0;
    if (m_status < 200 || m_status == 204 || m_status == 304) {
        m_framing = Framing::None;
    } else if (lastCoding == "chunked") {
        m_framing = Framing::Chunked;
    } else if (coded) {
        m_framing = Framing::UntilClose;  // the last coding is not chunked: it wins over any Content-Length
    } else if (length >= 0) {
        if (length > kMaxBodyBytes)
            return false;
        m_framing = length == 0 ? Framing::None : Framing::Length;
        m_remaining = length;
    } else {
        m_framing = Framing::UntilClose;
    }
    return true;
}

HttpAnswerParser::State HttpAnswerParser::parseChunked()
{
    for (;;) {
        if (m_remaining > 0) {
            const qsizetype take = qsizetype(qMin<qint64>(m_remaining, m_in.size()));
            m_body += m_in.left(take);
            m_in.remove(0, take);
            m_remaining -= take;
            if (m_remaining > 0)
                return Incomplete;
            m_remaining = -1;  // the chunk's own line end is due
        }
        const qsizetype eol = m_in.indexOf('\n', m_scanned);
        if (eol < 0 || eol > kMaxHeadBytes) {
            m_scanned = m_in.size();
            return m_in.size() > kMaxHeadBytes ? Invalid : Incomplete;
        }
        const QByteArray line = withoutCr(m_in.left(eol));
        m_in.remove(0, eol + 1);
        m_scanned = 0;
        if (m_remaining < 0) {
            if (!line.isEmpty())
                return Invalid;
            m_remaining = 0;
            continue;
        }
        if (m_chunkTrailers) {
            if (line.isEmpty())
                return Complete;
            continue;
        }
        const qint64 size = chunkSize(line);
        if (size < 0 || m_body.size() + size > kMaxBodyBytes)
            return Invalid;
        if (size == 0)
            m_chunkTrailers = true;
        m_remaining = size;
    }
}
