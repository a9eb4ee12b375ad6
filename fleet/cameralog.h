#ifndef KELVORA_FLEET_CAMERALOG_H
#define KELVORA_FLEET_CAMERALOG_H

// One camera's debug log in a file of its own (--log-dir), private to the user (0600).
// Every line is written as the run gives it, after the UTC time it was written
// ("2026-12-08T09:30:00.125Z "), except that the secrets it is told about never reach the
// file and its control characters are written as displaySafe writes them ("\x1b"). A
// resumed update goes on with the interrupted one's log after a line that marks the new
// run, so the trace of what happened before the interruption is kept.

#include <QFile>
#include <QString>
#include <QStringList>

// "192.0.2.5_8080.log": the address with every character but letters, digits, "." and
// "-" made "_".
QString cameraLogFileName(const QString& address);

// The line a resumed update's log begins with, after the interrupted update's lines.
inline constexpr char kResumedMark[] = "---- kelvora-fleet update --resume: a new run of this camera begins ----";

class CameraLog
{
public:
    enum class Opening { Fresh, Resume };
    // Opens the camera's file in `dir`: emptied for a fresh update, or appended to after the
    // mark of a resumed one (kResumedMark). False with *error set otherwise.
    bool open(const QString& dir, const QString& address, Opening opening, QString* error);
    // Text that is replaced by the debug log's mask wherever it appears (empty is ignored).
    void addSecret(const QString& secret);
    void write(const QString& line);

private:
    QFile m_file;
    QStringList m_secrets;
};

#endif
