#ifndef KELVORA_TESTS_OPERATOR_H
#define KELVORA_TESTS_OPERATOR_H

// The operator in front of the tool's own windows: reads and closes message boxes (see
// ModalWatcher), picks `folder` in the folder chooser (an empty one cancels it), types the
// credentials and presses OK, and hands each progress dialog to `onProgress` as it shows,
// before its modal loop handles the first answer.

#include "launch/dialogpassword.h"
#include "tests/support/modalwatcher.h"
#include "update/dialogprogressbar.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

template <typename T>
T* child(const QWidget& w, const char* name)
{
    T* found = w.findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no widget %s", name);
    return found;
}

// Everything a window shows, to compare before and after.
inline QStringList shownState(const QWidget& w)
{
    QStringList state;
    for (QLabel* l : w.findChildren<QLabel*>())
        state << l->objectName() + QLatin1Char('=') + l->text();
    for (QCheckBox* b : w.findChildren<QCheckBox*>())
        state << b->objectName() + QLatin1Char('=') + QString::number(b->isChecked());
    for (QLineEdit* e : w.findChildren<QLineEdit*>())
        state << e->objectName() + QLatin1Char('=') + e->text();
    return state;
}

class Operator : public ModalWatcher
{
public:
    QString folder;
    QString user;
    QString password;
    std::function<void(DialogProgressBar*)> onProgress;
    QStringList choosers;  // "caption|start folder|folders only|parent" of each folder chooser
    int credentialDialogs = 0;
    int progressDialogs = 0;

    Operator()
    {
        onDialog = [this](QWidget* modal) { return answer(modal); };
        qApp->installEventFilter(this);
    }
    void clear()
    {
        ModalWatcher::clear();
        choosers.clear();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* progress = qobject_cast<DialogProgressBar*>(watched)) {
                ++progressDialogs;
                if (onProgress)
                    onProgress(progress);
            }
        }
        return false;
    }

private:
    bool answer(QWidget* modal)
    {
        if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
            QWidget* parent = chooser->parentWidget();
            choosers << QStringLiteral("%1|%2|%3|%4")
                            .arg(chooser->windowTitle(), chooser->directory().absolutePath())
                            .arg(chooser->testOption(QFileDialog::ShowDirsOnly)
                                 && chooser->fileMode() == QFileDialog::Directory)
                            .arg(parent ? parent->objectName() : QString());
            if (folder.isEmpty()) {
                chooser->reject();
                return true;
            }
            chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(folder);
            static_cast<QDialog*>(chooser)->accept();
        } else if (auto* credentials = qobject_cast<DialogPassword*>(modal)) {
            if (credentials->property("typed").toBool())
                return true;
            credentials->setProperty("typed", true);
            ++credentialDialogs;
            child<QLineEdit>(*credentials, "Dia_Pass_UserIDEdit")->setText(user);
            child<QLineEdit>(*credentials, "Dia_Pass_PassEdit")->setText(password);
            QTimer::singleShot(0, child<QPushButton>(*credentials, "Dia_Pass_PushButtonOK"), &QPushButton::click);
        }
        return true;
    }
};

#endif
