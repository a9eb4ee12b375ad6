// The firmware upload request over any folder, file name, type code, credential, address
// and file content: the body must be the form's framing around the file's bytes, exactly
// as long as the camera's forms make it, and the headers must announce that length.
//
// Input: form, folder, file name, type code, credential, address, then the file's bytes.
#include "fuzz/fuzzsupport.h"
#include "update/uploadplan.h"
#include "update/uploadrequest.h"

#include <array>

namespace {

const std::array<UploadForm, 4> kForms{{UploadForm::None, UploadForm::Tkd7Net, UploadForm::Tkd7Cam, UploadForm::Tk15Tk20}};

// Body bytes beyond the file and its name.
qsizetype fixedBytes(UploadForm form, const QString& typeCode)
{
    switch (form) {
    case UploadForm::Tkd7Net: return 546;
    case UploadForm::Tkd7Cam: return 568;
    case UploadForm::Tk15Tk20: return 294 + toWireLatin1(typeCode).size();
    case UploadForm::None: break;
    }
    return 0;
}

// Code points, a lone surrogate counting as one: each becomes one byte on the wire.
qsizetype codePoints(const QString& text)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++n) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
    }
    return n;
}

void checkHeaders(UploadForm form, const QString& credential, const QString& address, qint64 bodySize)
{
    const HeaderList headers = uploadHeaders(form, credential, address, bodySize);
    const std::array<const char*, 9> names{{"Accept-Encoding", "Content-Type", "Content-Length", "Authorization",
                                            "Referer", "Accept-Language", "Accept", "Cache-Control", "Cookie"}};
    FUZZ_CHECK(headers.size() == names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        FUZZ_CHECK(headers[i].first == names[i]);
    FUZZ_CHECK(headers[2].second == QByteArray::number(bodySize));
    FUZZ_CHECK(headers[3].second == "Basic " + toWireLatin1(credential));
    FUZZ_CHECK(headers[4].second == "http://" + toWireLatin1(address) + "/cgi-bin/verup");
    const UploadFormSpec* layout = uploadFormSpec(form);
    FUZZ_CHECK(headers[1].second == QByteArray("multipart/form-data; boundary=") + (layout ? layout->boundary : ""));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::silenceLog();
    fuzz::Input in(data, size);
    const UploadForm form = kForms[in.byte() % kForms.size()];
    const QString folder = in.shortText();
    const QString name = in.shortText();
    const QString typeCode = in.shortText();
    const QString credential = in.shortText();
    const QString address = in.shortText();
    QByteArray content = in.rest();

    const QString path = planFilePath(folder, name);
    const QByteArray fileName = uploadFileName(path);
    FUZZ_CHECK(!fileName.contains('/'));
    FUZZ_CHECK(fileName.size() == codePoints(path));
    FUZZ_CHECK(fileName == toWireLatin1(QString(path).replace(QLatin1Char('/'), QLatin1Char('\\'))));
    // The folder and the name stay joined by two backslashes.
    FUZZ_CHECK(fileName.contains("\\\\"));

    const QList<QByteArray> pieces = uploadBodyPieces(form, fileName, typeCode, content);
    const UploadFormSpec* layout = uploadFormSpec(form);
    if (!layout) {
        FUZZ_CHECK(pieces.isEmpty());
        checkHeaders(form, credential, address, 0);
        return 0;
    }
    // The file's bytes are carried as they are, not copied.
    FUZZ_CHECK(pieces.size() == 3 && pieces.at(1).constData() == content.constData());
    const QByteArray body = pieces.join();
    FUZZ_CHECK(body.size() == content.size() + fileName.size() + fixedBytes(form, typeCode));

    const UploadFraming framing = uploadFraming(form, fileName, typeCode);
    FUZZ_CHECK(body.size() == framing.head.size() + content.size() + framing.tail.size());
    FUZZ_CHECK(body.startsWith(framing.head) && body.endsWith(framing.tail));
    FUZZ_CHECK(body.mid(framing.head.size(), content.size()) == content);

    // The file's part: its header ends the head, the next boundary begins the tail.
    const QByteArray boundary = QByteArray("--") + layout->boundary;
    FUZZ_CHECK(body.startsWith(boundary + "\r\n"));
    FUZZ_CHECK(body.endsWith(boundary + "--\r\n"));
    FUZZ_CHECK(framing.head.endsWith(QByteArray("Content-Disposition: form-data; name=\"") + layout->filePart
                                     + "\"; filename=\"" + fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n"));
    FUZZ_CHECK(framing.tail.startsWith("\r\n" + boundary + "\r\n"));

    checkHeaders(form, credential, address, body.size());
    return 0;
}
