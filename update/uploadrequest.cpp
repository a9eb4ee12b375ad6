#include "update/uploadrequest.h"

#include "camera/caminfo.h"
#include "common/wiretext.h"

#include <utility>

namespace {

constexpr UploadFormSpec kTkd7Net{"■DEBUG■diaPro_VerUpStart_TKD7_NET()", "/cgi-bin/upload",
                                  "---------------------------7dd1a5610050e", "file_soft", "UpdateNG3"};
constexpr UploadFormSpec kTkd7Cam{"■DEBUG■diaPro_VerUpStart_TKD7_CAM()", "/cgi-bin/upload",
                                  "---------------------------7dd2cec10050e", "file_camera", "UpdateNG2"};
constexpr UploadFormSpec kTk15Tk20{"■DEBUG■diaPro_VerUpStart_TK15_TK20()", "/cgi-bin/qv_update",
                                   "---------------------------7dd1961a2805aa", "fw_path", "UpdateNG1"};

constexpr char kCrLf[] = "\r\n";
constexpr char kOctetStream[] = "Content-Type: application/octet-stream";
constexpr char kAccept[] =
    "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, application/xaml+xml, "
    "application/x-ms-xbap, application/x-ms-application, */*";

// Appends one body line and its CR LF.
void line(QByteArray& out, const QByteArray& text)
{
    out += text;
    out += kCrLf;
}

QByteArray boundaryLine(const UploadFormSpec& layout)
{
    return QByteArray("--") + layout.boundary;
}

QByteArray closingLine(const UploadFormSpec& layout)
{
    return boundaryLine(layout) + "--";
}

QByteArray fileDisposition(const char* part, const QByteArray& fileName)
{
    return QByteArray("Content-Disposition: form-data; name=\"") + part + "\"; filename=\"" + fileName + '"';
}

} // namespace

UploadForm chooseUploadForm(int model, const QString& extension)
{
    if (isTkd7Family(model)) {
        if (extension == QLatin1String("bin"))
            return UploadForm::Tkd7Cam;
        if (extension == QLatin1String("img"))
            return UploadForm::Tkd7Net;
        return UploadForm::None;
    }
    return isValidModelId(model) ? UploadForm::Tk15Tk20 : UploadForm::None;
}

const UploadFormSpec* uploadFormSpec(UploadForm form)
{
    switch (form) {
    case UploadForm::Tkd7Net: return &kTkd7Net;
    case UploadForm::Tkd7Cam: return &kTkd7Cam;
    case UploadForm::Tk15Tk20: return &kTk15Tk20;
    case UploadForm::None: break;
    }
    return nullptr;
}

QByteArray uploadUrl(UploadForm form, const QString& address)
{
    const UploadFormSpec* layout = uploadFormSpec(form);
    return QByteArray("http://") + toWireLatin1(address) + (layout ? layout->urlPath : "");
}

QByteArray uploadFileName(const QString& filePath)
{
    QString name = filePath;
    name.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return toWireLatin1(name);
}

HeaderList uploadHeaders(UploadForm form, const QString& credential, const QString& address, qint64 bodySize)
{
    const UploadFormSpec* layout = uploadFormSpec(form);
    return {
        {"Accept-Encoding", "gzip, deflate"},
        {"Content-Type", QByteArray("multipart/form-data; boundary=") + (layout ? layout->boundary : "")},
        {"Content-Length", QByteArray::number(bodySize)},
        {"Authorization", "Basic " + toWireLatin1(credential)},
        {"Referer", "http://" + toWireLatin1(address) + "/cgi-bin/verup"},
        {"Accept-Language", "ja"},
        {"Accept", kAccept},
        {"Cache-Control", "no-cache"},
        {"Cookie", "Session=0"},
    };
}

UploadFraming uploadFraming(UploadForm form, const QByteArray& fileName, const QString& typeCode)
{
    UploadFraming f;
    const UploadFormSpec* layout = uploadFormSpec(form);
    if (!layout)
        return f;
    const QByteArray boundary = boundaryLine(*layout);
    switch (form) {
    case UploadForm::Tkd7Net:
        line(f.head, boundary);
        line(f.head, "Content-Disposition: form-data; name=\"file_camera\"; filename=\"\" ");
        line(f.head, kOctetStream);
        line(f.head, "");
        line(f.head, "");
        line(f.head, boundary);
        line(f.head, "Content-Disposition: form-data; name=\"chk_file\"");
        line(f.head, "");
        line(f.head, "1");
        line(f.head, boundary);
        line(f.head, fileDisposition(layout->filePart, fileName));
        line(f.head, kOctetStream);
        line(f.head, "");
        line(f.tail, "");  // ends the file's line
        line(f.tail, boundary);
        line(f.tail, "Content-Disposition: form-data; name=\"initial\"");
        line(f.tail, "");
        line(f.tail, "1");
        line(f.tail, closingLine(*layout));
        break;
    case UploadForm::Tkd7Cam:
        line(f.head, boundary);
        line(f.head, "Content-Disposition: form-data; name=\"chk_file\"");
        line(f.head, "");
        line(f.head, "0");
        line(f.head, boundary);
        line(f.head, fileDisposition(layout->filePart, fileName));
        line(f.head, kOctetStream);
        line(f.head, "");
        line(f.tail, "");
        line(f.tail, boundary);
        line(f.tail, "Content-Disposition: form-data; name=\"file_soft\"; filename= ");
        line(f.tail, kOctetStream);
        line(f.tail, "");
        line(f.tail, "");
        // The camera's form ends here and then once more after a trailing part.
        line(f.tail, closingLine(*layout));
        line(f.tail, "Content-Disposition: form-data; name=\"form-data\"; filename=\"initial\"");
        line(f.tail, "");
        line(f.tail, "1");
        line(f.tail, closingLine(*layout));
        break;
    case UploadForm::Tk15Tk20:
        line(f.head, boundary);
        line(f.head, fileDisposition(layout->filePart, fileName));
        line(f.head, kOctetStream);
        line(f.head, "");
        line(f.tail, "");
        line(f.tail, boundary);
        line(f.tail, "Content-Disposition: form-data; name=\"fw_type\"");
        line(f.tail, "");
        line(f.tail, toWireLatin1(typeCode));
        line(f.tail, closingLine(*layout));
        break;
    case UploadForm::None:
        break;
    }
    return f;
}

QList<QByteArray> uploadBodyPieces(UploadForm form, const QByteArray& fileName, const QString& typeCode,
                                   const QByteArray& fileBytes)
{
    if (!uploadFormSpec(form))
        return {};
    UploadFraming framing = uploadFraming(form, fileName, typeCode);
    return {std::move(framing.head), fileBytes, std::move(framing.tail)};
}
