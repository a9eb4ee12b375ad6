#include "manycameras/cameratrace.h"

#include "common/displaytext.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// A trace can grow to megabytes over a long run: it is read in pieces, from where it left off.
constexpr qint64 kPiece = 256 * 1024;
} // namespace

CameraTrace::CameraTrace(const QString& address, const QString& path, QWidget* parent)
    : QDialog(parent)
    , m_path(path)
    , m_view(new QPlainTextEdit(this))
    , m_timer(new QTimer(this))
{
    setWindowTitle(tr("Trace of %1").arg(displaySafe(address)));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(760, 480);
    m_view->setReadOnly(true);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    layout->addWidget(buttons);
    if (path.isEmpty() || !QFile::exists(path))
        m_view->setPlaceholderText(tr("No trace yet: a camera's trace is written while it is updated."));
    connect(m_timer, &QTimer::timeout, this, &CameraTrace::follow);
    m_timer->start(250);
    follow();
}

QString CameraTrace::text() const
{
    return m_view->toPlainText();
}

void CameraTrace::follow()
{
    QFile file(m_path);
    if (m_path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    if (file.size() < m_read)
        m_read = 0;  // begun anew: a fresh update of the camera
    if (file.size() == m_read || !file.seek(m_read))
        return;
    QByteArray bytes = file.read(kPiece);
    // Whole lines only; the rest comes with the next look.
    const qsizetype end = bytes.lastIndexOf('\n');
    if (end < 0)
        return;
    bytes.truncate(end);
    m_read += end + 1;
    QScrollBar* bar = m_view->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    for (const QByteArray& line : bytes.split('\n'))
        m_view->appendPlainText(displaySafe(QString::fromUtf8(line)));
    if (atEnd)
        bar->setValue(bar->maximum());
}
