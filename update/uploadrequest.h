#ifndef KELVORA_UPDATE_UPLOADREQUEST_H
#define KELVORA_UPDATE_UPLOADREQUEST_H

// The firmware upload request, byte for byte: which of the camera's three upload forms a
// file goes through, its URL, its nine headers in the order they are sent, and its
// multipart body. The cameras expect exactly these bytes (fixed boundaries, a browser's
// headers, the local path with backslashes as file name), so nothing here is generic
// multipart code. Widget-free and network-free: the progress dialog posts what it builds.

#include "common/wiretext.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>
#include <vector>

enum class UploadForm {
    None,     // no form: nothing can be sent
    Tkd7Net,  // models 1..3, "img": network software
    Tkd7Cam,  // models 1..3, "bin": camera software
    Tk15Tk20, // models 4..12, any extension
};

struct UploadFormSpec {
    const char* builder;      // debug entry line of the builder
    const char* urlPath;
    const char* boundary;
    const char* filePart;     // form field that carries the file
    const char* openFailLine; // debug line when the file cannot be read
};

// Form for a set's model and a file's extension (exact, case-sensitive).
UploadForm chooseUploadForm(int model, const QString& extension);
// Constants of a form; nullptr for UploadForm::None.
const UploadFormSpec* uploadFormSpec(UploadForm form);

// "http://" + address + the form's path.
QByteArray uploadUrl(UploadForm form, const QString& address);

// The file name of the file part: the file path with every "/" turned into a backslash.
QByteArray uploadFileName(const QString& filePath);

using HeaderList = std::vector<std::pair<QByteArray, QByteArray>>;
// The nine headers, in the order they must be set.
HeaderList uploadHeaders(UploadForm form, const QString& credential, const QString& address, qint64 bodySize);

// The body's bytes before and after the file's bytes.
struct UploadFraming {
    QByteArray head;
    QByteArray tail;
};
UploadFraming uploadFraming(UploadForm form, const QByteArray& fileName, const QString& typeCode);

// The body in the pieces it is sent in, one after another: the framing's head, the file's
// bytes (shared, not copied: one firmware file in memory however many uploads carry it)
// and the framing's tail. Empty for UploadForm::None.
QList<QByteArray> uploadBodyPieces(UploadForm form, const QByteArray& fileName, const QString& typeCode,
                                   const QByteArray& fileBytes);

#endif
