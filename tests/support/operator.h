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
#include <QRegularExpression>

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
        state << l->objectName() + u'=' + l->text();
    for (QCheckBox* b : w.findChildren<QCheckBox*>())
        state << b->objectName() + u'=' + QString::number(b->isChecked());
    for (QLineEdit* e : w.findChildren<QLineEdit*>())
        state << e->objectName() + u'=' + e->text();
    return state;
}

// What of the main window's 28 camera and firmware values and nine boxes is not cleared
// ("----", unticked); also reports when the window does not have exactly those.
inline QStringList notCleared(const QWidget& w)
{
    const QStringList values = shownState(w).filter(QRegularExpression(QStringLiteral("^\\w+(Ver|Name|_checkBox)=")));
    QStringList left = values.filter(QRegularExpression(QStringLiteral("(Ver|Name)=(?!----$)|_checkBox=1$")));
    if (values.size() != 37)
        left << QStringLiteral("%1 values").arg(values.size());
    return left;
}

// True when the firmware caption and frame are written in `colour`, in every colour group.
inline bool firmwareAreaIs(const QWidget& w, const QColor& colour)
{
    for (const char* name : {"VerUpFile", "VerUpFileInfoFrame"})
        for (auto g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            if (child<QWidget>(w, name)->palette().color(g, QPalette::WindowText) != colour)
                return false;
    return true;
}

class Operator : public ModalWatcher
{
public:
    QString folder, user, password;
    std::function<void(DialogProgressBar*)> onProgress;
    QStringList choosers;  // "caption|start folder|folders only|parent" of each folder chooser
    int credentialDialogs = 0, progressDialogs = 0;

    Operator()
    {
        onDialog = [this](QWidget* modal) { answer(modal); };
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
        auto* progress = qobject_cast<DialogProgressBar*>(watched);
        if (progress && event->type() == QEvent::Show) {
            ++progressDialogs;
            if (onProgress)
                onProgress(progress);
        }
        return false;
    }

private:
    void answer(QWidget* modal)
    {
        if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
            QWidget* parent = chooser->parentWidget();
            choosers << QStringLiteral("%1|%2|%3|%4")
                            .arg(chooser->windowTitle(), chooser->directory().absolutePath())
                            .arg(chooser->testOption(QFileDialog::ShowDirsOnly) && chooser->fileMode() == QFileDialog::Directory)
                            .arg(parent ? parent->objectName() : QString());
            if (folder.isEmpty())
                return chooser->reject();
            chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(folder);
            static_cast<QDialog*>(chooser)->accept();
        } else if (auto* credentials = qobject_cast<DialogPassword*>(modal);
                   credentials && !credentials->property("typed").toBool()) {
            credentials->setProperty("typed", true);
            ++credentialDialogs;
            child<QLineEdit>(*credentials, "Dia_Pass_UserIDEdit")->setText(user);
            child<QLineEdit>(*credentials, "Dia_Pass_PassEdit")->setText(password);
            QTimer::singleShot(0, child<QPushButton>(*credentials, "Dia_Pass_PushButtonOK"), &QPushButton::click);
        }
    }
};

#endif
