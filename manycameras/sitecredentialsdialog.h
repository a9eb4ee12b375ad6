#ifndef KELVORA_MANYCAMERAS_SITECREDENTIALSDIALOG_H
#define KELVORA_MANYCAMERAS_SITECREDENTIALSDIALOG_H

// The user ID and password for every ticked camera without an entry in the credentials
// file, asked once per update: the password hidden, Return is OK. What is typed goes only
// into the update's Basic credentials and the masks of its logs.

#include <QDialog>

namespace Ui {
class SiteCredentialsDialog;
}

class SiteCredentialsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SiteCredentialsDialog(int cameras, QWidget* parent = nullptr);
    ~SiteCredentialsDialog() override;

    QString user() const;
    QString password() const;

private:
    Ui::SiteCredentialsDialog* ui;
};

#endif
