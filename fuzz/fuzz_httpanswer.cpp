// The camera's HTTP answer to an upload, read by the upload's own exchange. However the
// bytes are cut into reads, the parser must come to the same result as from one read,
// and stay within its bounds.
//
// Input: how to cut the rest into reads, whether the connection then ends, the answer.
#include "fuzz/fuzzsupport.h"
#include "update/uploadtransfer.h"

namespace {

struct Result {
    HttpAnswerParser::State state;
    int status;
    QByteArray reason;
    QByteArray body;
};

Result parse(const QByteArray& answer, qsizetype readSize, bool thenClosed)
{
    HttpAnswerParser parser;
    HttpAnswerParser::State state = HttpAnswerParser::Incomplete;
    for (qsizetype at = 0; at < answer.size(); at += readSize) {
        const HttpAnswerParser::State before = parser.state();
        state = parser.feed(answer.mid(at, readSize));
        // An answer once decided stays decided.
        if (before != HttpAnswerParser::Incomplete)
            FUZZ_CHECK(state == before);
    }
    if (thenClosed)
        state = parser.closed();
    FUZZ_CHECK(state == parser.state());
    if (state != HttpAnswerParser::Incomplete)
        FUZZ_CHECK(parser.feed("HTTP/1.1 200 OK\r\n\r\n") == state && parser.closed() == state);
    return {state, parser.status(), parser.reason(), parser.body()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::silenceLog();
    fuzz::Input in(data, size);
    const std::uint8_t cut = in.byte();
    const qsizetype readSize = (cut & 0x7f) + 1;
    const bool thenClosed = cut & 0x80;
    const QByteArray answer = in.rest();

    const Result whole = parse(answer, qMax<qsizetype>(1, answer.size()), thenClosed);
    const Result pieces = parse(answer, readSize, thenClosed);

    FUZZ_CHECK(whole.state == pieces.state);
    FUZZ_CHECK(whole.body.size() <= HttpAnswerParser::kMaxBodyBytes);
    if (whole.state == HttpAnswerParser::Complete) {
        FUZZ_CHECK(whole.status >= 200 && whole.status <= 999);
        FUZZ_CHECK(whole.status == pieces.status && whole.reason == pieces.reason && whole.body == pieces.body);
        FUZZ_CHECK(whole.body.size() <= answer.size());
    }
    return 0;
}
