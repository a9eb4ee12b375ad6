#ifndef KELVORA_TESTS_MODALWATCHER_H
#define KELVORA_TESTS_MODALWATCHER_H

// Stands in for the operator in front of modal windows: every message box that opens is
// recorded and closed with OK; other modal dialogs are handed to `onDialog`. Polls from
// the event loop, so it also works inside the nested loops of modal dialogs.

#include <QApplication>
#include <QDateTime>
#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

#include <functional>

class ModalWatcher : public QObject
{
public:
    struct Message {
        QString text, title, parentName;  // parentName: object name of the box's parent, "" when none
        bool parentVisible = false, parentTimersActive = false;  // a timer of the parent was still running
        QStringList shownWindows;  // object names of the other windows shown as it opened
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };

    ModalWatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(5);
    }

    std::function<void(QWidget*)> onDialog;  // any modal widget but a message box
    std::function<void(const QString& text)> onMessage;  // a box has just opened
    // A box that offers this button is answered with it; any other box, or with NoButton, with OK.
    QMessageBox::StandardButton answerWith = QMessageBox::NoButton;
    // While it returns true a box is left open (so answers can arrive behind it), but for
    // three seconds at most; `heldTooLong` tells when that bound was reached.
    std::function<bool()> holdBox;
    bool heldTooLong = false;

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
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            if (modal && onDialog)
                onDialog(modal);
            return;
        }
        if (!box->property("kelvoraOpened").isValid()) {
            box->setProperty("kelvoraOpened", QDateTime::currentMSecsSinceEpoch());
            QWidget* parent = box->parentWidget();
            bool timers = false;
            for (QTimer* t : parent ? parent->findChildren<QTimer*>() : QList<QTimer*>())
                timers = timers || t->isActive();
            QStringList shown;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w != box && w->isVisible())
                    shown << w->objectName();
            m_messages.append({box->text(), box->windowTitle(), parent ? parent->objectName() : QString(),
                               parent && parent->isVisible(), timers, shown, box->icon(), box->standardButtons()});
            if (onMessage)
                onMessage(box->text());
        }
        if (holdBox && holdBox()) {
            if (QDateTime::currentMSecsSinceEpoch() - box->property("kelvoraOpened").toLongLong() < 3000)
                return;
            heldTooLong = true;
        }
        if (QAbstractButton* button = answerWith != QMessageBox::NoButton ? box->button(answerWith) : nullptr)
            button->click();
        else
            box->accept();
    }

    QTimer m_timer;
    QList<Message> m_messages;
};

#endif
