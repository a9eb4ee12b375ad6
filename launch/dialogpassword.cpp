#include "launch/dialogpassword.h"

#include "common/debuglog.h"
#include "launch/credentials.h"
#include "ui_dialogpassword.h"
#include "update/dialogprogressbar.h"

using kelvora::dbgLine;

DialogPassword::DialogPassword(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogPassword)
{
    ui->setupUi(this);
    diaPass_initializeVupFileInfo();
    connect(ui->Dia_Pass_PushButtonOK, &QPushButton::clicked, this, &DialogPassword::DIAPASS_OpenDialogProgressBar);
    connect(ui->Dia_Pass_PushButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

DialogPassword::~DialogPassword()
{
    delete ui;
}

void DialogPassword::diaPass_initializeVupFileInfo()
{
    dbgLine("■DEBUG■diaPass_initializeVupFileInfo()");
    resetVupFileInfo(DiaPass_FileInfo);
}

void DialogPassword::DIAPASS_SetInfo(vup_file_info info)
{
    dbgLine("■DEBUG■DIAPASS_SetInfo()");
    DiaPass_FileInfo = info;
}

void DialogPassword::DIAPASS_OpenDialogProgressBar()
{
    dbgLine("■DEBUG■DIAPASS_OpenDialogProgressBar()");
    if (ui->Dia_Pass_UserIDEdit->text().isEmpty() || ui->Dia_Pass_PassEdit->text().isEmpty())
        return;
    diapass_OpenDialogProgressBar();
}

void DialogPassword::diapass_OpenDialogProgressBar()
{
    // Over the window that opened this dialog, which hides itself before the run starts.
    auto* progress = new DialogProgressBar(parentWidget());
    dbgLine("■DEBUG■diapass_OpenDialogProgressBar()");
    if (!ui->Dia_Pass_UserIDEdit->text().isEmpty() && !ui->Dia_Pass_PassEdit->text().isEmpty())
        DIAPASS_getBase64();
    // Hidden now; this dialog's own modal run ends once this slot has returned.
    reject();
    if (progress->DIAPRO_StartVerUp(DiaPass_FileInfo) == 0)
        progress->exec();
    delete progress;
}

void DialogPassword::DIAPASS_getBase64()
{
    dbgLine("■DEBUG■DIAPASS_getBase64()");
    DiaPass_FileInfo.Base64 = basicCredential(ui->Dia_Pass_UserIDEdit->text(), ui->Dia_Pass_PassEdit->text());
    kelvora::dbgSecret();
}
