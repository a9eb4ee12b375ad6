// The camera's answers to inquiries: how Connect judges them whatever inquiry is due, and
// how the update run judges the same bytes as an upload reply, a re-inquiry answer or a
// network version answer.
//
// Input: inquiry number due, model answer kept so far, error flag, model and extension
// for the run's judgements, then the answer body.
#include "camera/inquiry.h"
#include "fuzz/fuzzsupport.h"
#include "update/sequencer.h"

#include <array>

namespace {

const std::array<const char*, 3> kModelAnswers{{"OID:QV-TK10", "OID:QV-TK20", "OID:QV-TK300"}};
const std::array<int, 3> kModelQids{{CAM_QID_TK10, CAM_QID_TK20, CAM_QID_TK300}};
const std::array<const char*, 5> kExtensions{{"img", "bin", "eep", "", "IMG"}};

void checkConnect(int index, int qid, bool failed, const QByteArray& body, const QString& text)
{
    const InquiryDecision d = judgeInquiryAnswer(index, qid, failed, body);

    if (failed) {
        FUZZ_CHECK(d.outcome == InquiryOutcome::NetworkFailed);
    }
    if (d.outcome == InquiryOutcome::NetworkFailed || d.outcome == InquiryOutcome::AnswerFailed) {
        // Every failure starts again from the model inquiry with no model answer kept.
        FUZZ_CHECK(d.qid == CAM_QID_NONE && d.next == kInquiryModel && !d.slot && d.tag.isEmpty());
        FUZZ_CHECK(failed == (d.outcome == InquiryOutcome::NetworkFailed));
        return;
    }

    FUZZ_CHECK(!d.tag.isEmpty());
    if (index == kInquiryModel) {
        FUZZ_CHECK(d.outcome == InquiryOutcome::Next && d.next == kInquiryFirstVersion && !d.slot);
        bool matched = false;
        for (std::size_t i = 0; i < kModelAnswers.size(); ++i) {
            if (text == QLatin1String(kModelAnswers[i])) {
                FUZZ_CHECK(d.qid == kModelQids[i]);
                matched = true;
            }
        }
        FUZZ_CHECK(matched);
        return;
    }

    // A version answer: only for the inquiry due, with its own prefix.
    FUZZ_CHECK(index >= kInquiryFirstVersion && index <= kInquiryLastVersion);
    FUZZ_CHECK(d.slot == inquiryVersionSlot(index) && d.slot->number == index);
    FUZZ_CHECK(text.startsWith(QLatin1String(d.slot->prefix)));
    FUZZ_CHECK(d.qid == qid);
    FUZZ_CHECK(d.version == inquiryVersionFromText(text) && d.version.size() <= 6);
    FUZZ_CHECK(d.version == text.right(10).left(6));

    if (d.outcome == InquiryOutcome::End) {
        FUZZ_CHECK(d.next == kInquiryEnded);
        FUZZ_CHECK((index == 5 && qid == CAM_QID_TK10) || index == kInquiryLastVersion);
    } else {
        FUZZ_CHECK(d.next >= kInquiryFirstVersion && d.next <= kInquiryLastVersion && d.next > index);
        if (index == 5)
            FUZZ_CHECK(d.next == (qid == CAM_QID_TK300 ? 6 : kInquiryLastVersion));
    }
    FUZZ_CHECK(d.resetTk300Labels == (index == 5 && qid != CAM_QID_TK10 && qid != CAM_QID_TK300));
}

void checkRun(int model, const QString& extension, bool failed, const QByteArray& body, const QString& text)
{
    const UploadVerdict upload = judgeUploadReply(model, failed, body);
    const char* marker = uploadAcceptMarker(model);
    if (failed)
        FUZZ_CHECK(upload == UploadVerdict::Failed);
    else
        FUZZ_CHECK((upload == UploadVerdict::Accepted) == (marker && body.contains(marker)));

    const ReinquiryVerdict back = judgeReinquiryReply(model, extension, failed, body);
    if (failed)
        FUZZ_CHECK(back == ReinquiryVerdict::NoAnswer);
    else if (text.startsWith(QLatin1String("QID:")))
        FUZZ_CHECK(back == ReinquiryVerdict::NotBack);
    else
        FUZZ_CHECK(back == (decidedByVersionCheck(model, extension) ? ReinquiryVerdict::LeftToCheck
                                                                     : ReinquiryVerdict::Back));

    // The answer's own version matches exactly when it is a good QSV3 answer.
    const QString version = answerVersion(text);
    const bool good = !failed && text.startsWith(QLatin1String("qSV3"));
    FUZZ_CHECK(networkVersionMatches(failed, body, version) == good);
    if (good && !version.isEmpty())
        FUZZ_CHECK(!networkVersionMatches(failed, body, version + QLatin1Char('x')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::silenceLog();
    fuzz::Input in(data, size);
    const int index = int(in.byte() % 14) - 1;  // -1 .. 12: every number due and a few never due
    const int qid = int(in.byte() % 5) - 1;     // -1 .. 3
    const bool failed = in.byte() & 1;
    const int model = int(in.byte() % 15) - 1;  // -1 .. 13
    const QString extension = QLatin1String(kExtensions[in.byte() % kExtensions.size()]);
    const QByteArray body = in.rest();

    const QString text = inquiryAnswerText(body);
    FUZZ_CHECK(!text.contains(QChar(u'\0')) && text.size() <= body.size());
    FUZZ_CHECK(text == inquiryText(body));
    FUZZ_CHECK(text.toLatin1() == body.left(text.size()));

    checkConnect(index, qid, failed, body, text);
    checkRun(model, extension, failed, body, text);
    return 0;
}
