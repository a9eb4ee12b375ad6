#ifndef KELVORA_DIALOGPASSWORD_H
#define KELVORA_DIALOGPASSWORD_H

#include "firmware/records.h"

#include <QDialog>

QT_BEGIN_NAMESPACE
namespace Ui {
class DialogPassword;
}
QT_END_NAMESPACE

// Asks for the camera's user ID and password, turns them into the Basic credential and
// runs the update in a progress dialog with its own copy of the firmware set. Its parent,
// the operator's window, is the progress dialog's too.
class DialogPassword : public QDialog
{
    Q_OBJECT

public:
    explicit DialogPassword(QWidget* parent = nullptr);
    ~DialogPassword() override;

    void diaPass_initializeVupFileInfo();
    void DIAPASS_SetInfo(vup_file_info info);
    void diapass_OpenDialogProgressBar();

private slots:
    void DIAPASS_OpenDialogProgressBar();
    void DIAPASS_getBase64();

private:
    Ui::DialogPassword* ui;
};

#endif
