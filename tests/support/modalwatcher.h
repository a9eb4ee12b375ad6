#ifndef KELVORA_TESTS_MODALWATCHER_H
#define KELVORA_TESTS_MODALWATCHER_H

// Stands in for the operator in front of modal windows: every message box that opens is
// recorded and closed with OK; other modal dialogs (the folder chooser, the credentials
// dialog) are handed to a callback the test sets. Polls from the event loop, so it also
// works inside the nested loops that modal dialogs run.

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>

class ModalWatcher : public QObject
{
public:
    struct Message {
        QString text;
        QString title;
        QString parentName;  // object name of the box's parent ("" when none)
        bool parentVisible = false;
    };

    explicit ModalWatcher(QObject* parent = nullptr)
        : QObject(parent)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }

    // Called with any modal widget that is not a message box; return true once handled.
    std::function<bool(QWidget*)> onDialog;
    // When false, message boxes are recorded but left open (the test closes them).
    bool autoClose = true;

    QList<Message> messages() const { return m_messages; }
    QStringList texts() const
    {
        QStringList t;
        for (const Message& m : m_messages)
            t << m.text;
        return t;
    }
    void clear() { m_messages.clear(); }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (box != m_lastBox) {
                m_lastBox = box;
                QWidget* parent = box->parentWidget();
                m_messages.append({box->text(), box->windowTitle(), parent ? parent->objectName() : QString(),
                                   parent && parent->isVisible()});
            }
            if (autoClose)
                box->accept();
            return;
        }
        if (onDialog)
            onDialog(modal);
    }

    QTimer m_timer;
    QList<Message> m_messages;
    QPointer<QMessageBox> m_lastBox;
};

#endif
