// The camera's HTTP answer to an upload, read by the upload's own exchange. However the
// bytes are cut into reads, the parser must come to the same result as from one read and
// stay within its bounds; and it must read the answer as http_parser (Debian's
// libhttp-parser-dev, a response parser of its own) does: the same status, the same end
// of the answer and the same body.
//
// Input: how to cut the rest into reads, whether the connection then ends, the answer.
#include "fuzz/fuzzsupport.h"
#include "camera/httpanswer.h"

#include <http_parser.h>

#include <algorithm>
#include <cctype>
#include <functional>

namespace {

using State = HttpAnswerParser::State;

struct Result {
    State state;
    int status;
    QByteArray reason;
    QByteArray body;
    qsizetype end;  // bytes taken when the answer was complete (exact when read byte by byte)
};

// Reads `answer` in pieces of pieceAt(offset) bytes.
Result parse(const QByteArray& answer, const std::function<qsizetype(qsizetype)>& pieceAt, bool thenClosed)
{
    HttpAnswerParser parser;
    State state = HttpAnswerParser::Incomplete;
    qsizetype end = -1;
    for (qsizetype at = 0, size = 0; at < answer.size(); at += size) {
        size = qMin(pieceAt(at), answer.size() - at);
        const State before = parser.state();
        state = parser.feed(answer.mid(at, size));
        // An answer once decided stays decided.
        if (before != HttpAnswerParser::Incomplete)
            FUZZ_CHECK(state == before);
        else if (state == HttpAnswerParser::Complete)
            end = at + size;
    }
    if (thenClosed) {
        state = parser.closed();
        if (state == HttpAnswerParser::Complete && end < 0)
            end = answer.size();
    }
    FUZZ_CHECK(state == parser.state());
    if (state != HttpAnswerParser::Incomplete)
        FUZZ_CHECK(parser.feed("HTTP/1.1 200 OK\r\n\r\n") == state && parser.closed() == state);
    return {state, parser.status(), parser.reason(), parser.body(), end};
}

// What http_parser makes of the same answer, fed one byte at a time so that every callback
// knows the offset it is called at. Beside the result it notes the inputs where the two
// parsers differ by design (see LLVMFuzzerTestOneInput).
struct Reference {
    explicit Reference(const QByteArray& answer) : in(answer) {}
    const QByteArray& in;
    State state = HttpAnswerParser::Incomplete;
    int status = 0;
    qsizetype end = -1;
    QByteArray body;
    http_errno error = HPE_OK;

    bool blankBeforeStatus = false;
    bool oddStatusLine = false;
    bool strayLineEnd = false;
    bool highByteDigit = false;
    bool oddFramingField = false;
    bool overLimits = false;
    bool upgrade = false;

    qsizetype at = 0;           // offset of the byte being fed
    QByteArray name;            // the field name being read, as http_parser reports it
    bool inName = false;        // the byte fed last was part of that name
    bool nameByte = false;      // the byte being fed is
    qsizetype messageEnd = 0;   // end of the last interim answer
    bool bodyByte = false;      // the byte being fed was body
    bool chunkLines = false;    // between a chunked head and its last chunk
    bool trailer = false;       // between the last chunk and the answer's end
    bool trailerLength = false; // http_parser refused a Content-Length there
    qsizetype chunkLine = 0;    // where the current chunk line starts
    quint64 chunkTotal = 0;
    qsizetype framingRun = 0;   // bytes since the last body byte
};

Reference& of(http_parser* p) { return *static_cast<Reference*>(p->data); }

// "HTTP/1.x NNN" followed by a space or the line's end: the status line the camera sends.
bool plainStatusLine(const QByteArray& in, qsizetype at)
{
    const QByteArray line = in.mid(at, 13);
    const auto digit = [&](qsizetype i, char low) { return line.size() > i && line.at(i) >= low && line.at(i) <= '9'; };
    return line.startsWith("HTTP/1.") && digit(7, '0') && line.size() > 8 && line.at(8) == ' ' && digit(9, '1')
        && digit(10, '0') && digit(11, '0') && (line.size() == 12 || line.at(12) == ' ' || line.at(12) == '\r' || line.at(12) == '\n');
}

// A control byte (a tab too) in, or a line folded into, a Content-Length or Transfer-Encoding
// field of the head that starts at `at`; or a coding list that starts with a comma.
bool hasOddFramingField(const QByteArray& in, qsizetype at)
{
    const auto control = [](const QByteArray& line) {
        return std::any_of(line.begin(), line.end(), [](char c) { return std::uint8_t(c) < 0x20 || c == 0x7f; });
    };
    bool framingField = false;
    for (qsizetype end = 0; at < in.size(); at = end + 1) {
        end = in.indexOf('\n', at);
        QByteArray line = in.mid(at, end < 0 ? -1 : end - at).toLower();
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            return false;
        const bool folded = line.startsWith(' ') || line.startsWith('\t');
        framingField = (folded && framingField) || line.startsWith("content-length") || line.startsWith("transfer-encoding");
        if (framingField && (folded || control(line)))
            return true;
        if (line.startsWith("transfer-encoding") && line.mid(line.indexOf(':') + 1).trimmed().startsWith(','))
            return true;
        if (end < 0)
            return false;
    }
    return false;
}

// http_parser matches "transfer-encoding" by prefix and notes that the answer has a coding
// as soon as the name's last byte comes, whether or not the name ends there; the name then
// goes on to an ordinary field ("Transfer-Encodingx", "Transfer-Encoding-X",
// "Transfer-Encoding x") whose value it ignores, as ours does, but the note stays, and it
// reads that answer's body to the close, past its Content-Length. True when `in` at `at`
// holds that last byte of such a name (`name` the bytes of it read so far): http_parser is
// then given '_' there instead, so the name is an ordinary one to it from the start and the
// rest of the answer is still compared. Spaces alone before the colon leave it the coding
// field, to http_parser and to ours.
bool extendsCodingName(const QByteArray& name, const QByteArray& in, qsizetype at)
{
    if (name.size() != 16 || name.compare("transfer-encodin", Qt::CaseInsensitive) != 0 || (in.at(at) | 0x20) != 'g')
        return false;
    qsizetype next = at + 1;
    while (next < in.size() && in.at(next) == ' ')
        ++next;
    return next < in.size() && in.at(next) != ':';
}

const http_parser_settings& referenceSettings()
{
    static const http_parser_settings settings = [] {
        http_parser_settings s;
        http_parser_settings_init(&s);
        s.on_message_begin = [](http_parser* p) {
            Reference& r = of(p);
            r.blankBeforeStatus = r.blankBeforeStatus || r.at != r.messageEnd;
            r.oddStatusLine = r.oddStatusLine || !plainStatusLine(r.in, r.at);
            r.oddFramingField = r.oddFramingField || hasOddFramingField(r.in, r.at);
            return 0;
        };
        s.on_headers_complete = [](http_parser* p) {
            Reference& r = of(p);
            r.chunkLines = p->flags & F_CHUNKED;
            r.chunkLine = r.at + 1;
            r.chunkTotal = 0;
            if (!(p->flags & F_CHUNKED) && p->content_length != ULLONG_MAX
                && p->content_length > quint64(HttpAnswerParser::kMaxBodyBytes))
                r.overLimits = true;
            // Interim answers, 204 and 304 have no body, whatever their head says.
            const int status = int(p->status_code);
            return (status >= 100 && status < 200) || status == 204 || status == 304 ? 1 : 0;
        };
        s.on_header_field = [](http_parser* p, const char* at, size_t length) {
            Reference& r = of(p);
            if (length == 0)
                return 0;  // the colon ends the name
            if (!r.inName)
                r.name.clear();
            r.name.append(at, qsizetype(length));
            r.nameByte = true;
            return 0;
        };
        s.on_body = [](http_parser* p, const char* at, size_t length) {
            Reference& r = of(p);
            r.body.append(at, qsizetype(length));
            r.bodyByte = true;
            return 0;
        };
        s.on_chunk_header = [](http_parser* p) {
            Reference& r = of(p);
            // http_parser takes any byte after the size line's CR as its LF.
            r.strayLineEnd = r.strayLineEnd || r.in.at(r.at) != '\n';
            const QByteArray line = r.in.mid(r.chunkLine, r.at - r.chunkLine);
            for (qsizetype i = 0; i < line.size() && line.at(i) != ';' && line.at(i) != ' ' && line.at(i) != '\r'; ++i)
                r.highByteDigit = r.highByteDigit || !std::isxdigit(std::uint8_t(line.at(i)));
            r.chunkTotal += p->content_length;
            r.overLimits = r.overLimits || r.chunkTotal > quint64(HttpAnswerParser::kMaxBodyBytes);
            if (p->content_length == 0) {
                r.chunkLines = false;
                r.trailer = true;
            }
            return 0;
        };
        s.on_chunk_complete = [](http_parser* p) {
            Reference& r = of(p);
            // ... and any two bytes after a chunk's data as its CR LF.
            if (r.chunkLines && (r.at < 1 || r.in.mid(r.at - 1, 2) != "\r\n"))
                r.strayLineEnd = true;
            r.chunkLine = r.at + 1;
            return 0;
        };
        s.on_message_complete = [](http_parser* p) {
            Reference& r = of(p);
            r.trailer = false;
            const qsizetype end = qMin(r.at + 1, r.in.size());
            if (p->status_code / 100 != 1) {
                r.state = HttpAnswerParser::Complete;
                r.status = int(p->status_code);
                r.end = end;
            } else {
                r.messageEnd = end;
                r.body.clear();
            }
            return 0;
        };
        return s;
    }();
    return settings;
}

Reference reference(const QByteArray& answer, bool thenClosed)
{
    Reference r(answer);
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    parser.data = &r;
    parser.allow_chunked_length = 1;  // Transfer-Encoding wins over Content-Length, as in ours
    parser.lenient_http_headers = 1;  // also when the last coding is not chunked; ours ignores odd bytes in values too
    QByteArray fed = answer;
    for (; r.at < answer.size() && r.state == HttpAnswerParser::Incomplete; ++r.at) {
        const bool chunkLine = r.chunkLines;
        if (r.inName && extendsCodingName(r.name, fed, r.at))
            fed[r.at] = '_';
        r.bodyByte = false;
        r.nameByte = false;
        http_parser_execute(&parser, &referenceSettings(), fed.constData() + r.at, 1);
        r.inName = r.nameByte;
        r.upgrade = r.upgrade || parser.upgrade;
        if (parser.http_errno != HPE_OK) {
            r.error = http_errno(parser.http_errno);
            r.state = HttpAnswerParser::Invalid;
            r.trailerLength = r.trailer && r.error == HPE_INVALID_CONTENT_LENGTH;
        }
        if (r.bodyByte) {
            r.framingRun = 0;
            continue;
        }
        const char c = answer.at(r.at);
        const char next = r.at + 1 < answer.size() ? answer.at(r.at + 1) : '\n';
        // A CR that ends no line, or a bare LF among chunk lines (ours takes it; http_parser does not).
        if ((c == '\r' && next != '\n') || (chunkLine && c == '\n' && (r.at == 0 || answer.at(r.at - 1) != '\r')))
            r.strayLineEnd = true;
        r.overLimits = r.overLimits || ++r.framingRun > HttpAnswerParser::kMaxHeadBytes;
    }
    if (thenClosed && r.state == HttpAnswerParser::Incomplete) {
        r.at = answer.size();
        http_parser_execute(&parser, &referenceSettings(), nullptr, 0);
        if (r.state == HttpAnswerParser::Incomplete) {
            r.error = http_errno(parser.http_errno);
            r.state = HttpAnswerParser::Invalid;
        }
    }
    r.overLimits = r.overLimits || r.body.size() > HttpAnswerParser::kMaxBodyBytes;
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::silenceLog();
    fuzz::Input in(data, size);
    const std::uint8_t cut = in.byte();
    const qsizetype maxRead = (cut & 0x7f) + 1;
    const bool thenClosed = cut & 0x80;
    const QByteArray answer = in.rest();

    const Result whole = parse(answer, [&](qsizetype) { return answer.size(); }, thenClosed);
    const Result bytes = parse(answer, [](qsizetype) { return 1; }, thenClosed);
    // Split points from the answer's own bytes.
    const Result pieces = parse(answer, [&](qsizetype at) { return 1 + (std::uint8_t(answer.at(at)) ^ cut) % maxRead; },
                               thenClosed);

    for (const Result* other : {&bytes, &pieces}) {
        FUZZ_CHECK(whole.state == other->state);
        if (whole.state == HttpAnswerParser::Complete)
            FUZZ_CHECK(whole.status == other->status && whole.reason == other->reason && whole.body == other->body);
    }
    FUZZ_CHECK(whole.body.size() <= HttpAnswerParser::kMaxBodyBytes);
    if (whole.state == HttpAnswerParser::Complete) {
        FUZZ_CHECK(whole.status >= 200 && whole.status <= 999);
        FUZZ_CHECK(whole.body.size() <= answer.size());
    }

    const Reference ref = reference(answer, thenClosed);
    const bool oursComplete = bytes.state == HttpAnswerParser::Complete;
    const bool refComplete = ref.state == HttpAnswerParser::Complete;
    // Where the two parsers part by design; first where only http_parser takes more:
    const bool refTakesMore =
        ref.blankBeforeStatus      // http_parser skips blank lines before a status line; ours wants the answer at once
        || ref.oddStatusLine       // http_parser takes 1-3 digit codes, extra spaces, any HTTP version; ours "HTTP/1.x NNN"
        || ref.overLimits;         // ours refuses what passes kMaxHeadBytes or kMaxBodyBytes
    const bool apart =
        ref.strayLineEnd           // http_parser's lax build takes any byte for the CR or LF it expects; ours reads bare LF lines
        || ref.oddFramingField     // tabs, folds, control bytes, a leading empty coding: http_parser misreads some of these framing fields
        || ref.highByteDigit       // http_parser reads a byte over 0x7f in a chunk size as the digit 0
        || ref.upgrade             // http_parser stops at a 101 switching protocols; ours never asks for it
        || ref.error == HPE_UNEXPECTED_CONTENT_LENGTH  // a repeated equal Content-Length is one length to ours
        || ref.error == HPE_INVALID_HEADER_TOKEN;       // non-token bytes in a field name or a trailer: ours ignores that field
    if (apart || (refTakesMore && refComplete && !oursComplete))
        return 0;
    // http_parser refuses an answer for a Content-Length among its trailer fields, which
    // never frame it (the last chunk has): ours ignores them. The body before them still
    // has to be the same.
    if (ref.trailerLength) {
        if (oursComplete)
            FUZZ_CHECK(bytes.body == ref.body);
        return 0;
    }
    if (oursComplete != refComplete
        || (refComplete && (bytes.status != ref.status || bytes.end != ref.end || bytes.body != ref.body)))
        std::fprintf(stderr, "ours: state %d status %d end %lld body %lld; http_parser: state %d status %d end %lld body %lld (%s)\n",
                     int(bytes.state), bytes.status, qint64(bytes.end), qint64(bytes.body.size()), int(ref.state), ref.status,
                     qint64(ref.end), qint64(ref.body.size()), http_errno_name(ref.error));
    FUZZ_CHECK(oursComplete == refComplete);
    if (refComplete)
        FUZZ_CHECK(bytes.status == ref.status && bytes.end == ref.end && bytes.body == ref.body);
    return 0;
}
