#ifndef KELVORA_MANYCAMERAS_CAMERATRACE_H
#define KELVORA_MANYCAMERAS_CAMERATRACE_H

// One camera's trace, its debug lines as the update writes them to the camera's log file,
// in a read-only view that follows the file while it grows. The file's lines have their
// secrets masked and their control characters made visible already.

#include <QDialog>

class QPlainTextEdit;
class QTimer;

class CameraTrace : public QDialog
{
    Q_OBJECT

public:
    CameraTrace(const QString& address, const QString& path, QWidget* parent = nullptr);
    QString text() const;

private:
    void follow();

    QString m_path;
    qint64 m_read = 0;
    QPlainTextEdit* m_view;
    QTimer* m_timer;
};

#endif
