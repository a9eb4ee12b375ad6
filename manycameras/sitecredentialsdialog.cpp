#include "manycameras/sitecredentialsdialog.h"

#include "ui_sitecredentialsdialog.h"

#include <QPushButton>

SiteCredentialsDialog::SiteCredentialsDialog(int cameras, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::SiteCredentialsDialog)
{
    ui->setupUi(this);
    ui->explanation->setText(cameras == 1
                                 ? tr("The camera has no entry in a credentials file. Its user ID and password:")
                                 : tr("%1 cameras have no entry in a credentials file. Their user ID and password:")
                                       .arg(cameras));
    ui->buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    // Both are needed: a camera asked with an empty one would only refuse it.
    const auto complete = [this] {
        ui->buttons->button(QDialogButtonBox::Ok)->setEnabled(!user().isEmpty() && !password().isEmpty());
    };
    connect(ui->userEdit, &QLineEdit::textChanged, this, complete);
    connect(ui->passwordEdit, &QLineEdit::textChanged, this, complete);
    complete();
}

SiteCredentialsDialog::~SiteCredentialsDialog()
{
    delete ui;
}

QString SiteCredentialsDialog::user() const
{
    return ui->userEdit->text();
}

QString SiteCredentialsDialog::password() const
{
    return ui->passwordEdit->text();
}
