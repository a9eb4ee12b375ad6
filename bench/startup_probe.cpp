// Linked into the start-up benchmark programs next to their own main(): ends the process
// as soon as the first top-level window has been exposed and painted, so the process's
// run time is the time from its start until its window is first shown.
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>

#include <unistd.h>

namespace {

class FirstExposure : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && !m_seen) {
            auto* window = qobject_cast<QWindow*>(watched);
            if (window && window->isExposed() && !window->parent()) {
                m_seen = true;
                // After this event is handled: the widgets paint while handling it.
                QTimer::singleShot(0, [] { ::_exit(0); });
            }
        }
        return false;
    }

private:
    bool m_seen = false;
};

void installProbe()
{
    QCoreApplication::instance()->installEventFilter(new FirstExposure(QCoreApplication::instance()));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installProbe)
