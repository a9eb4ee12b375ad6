#include "manycameras/manycameraswindow.h"

#include "common/displaytext.h"
#include "common/replacefile.h"
#include "fleet/fleetplan.h"
#include "fleet/reporthtml.h"
#include "manycameras/cameratablemodel.h"
#include "manycameras/cameratrace.h"
#include "manycameras/progressdelegate.h"
#include "manycameras/sitecredentialsdialog.h"
#include "ui_manycameraswindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QTimer>

#include <array>

namespace {

constexpr std::array<const char*, 9> kComponentKeys{{"cam_cpu", "network_cpu", "servo_cpu", "interface_cpu", "front_fpga",
                                                     "backend_fpga", "lens_fpga", "eeprom_cam", "interface_eeprom"}};

QString elapsedText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ManyCamerasWindow::ManyCamerasWindow(const QProcessEnvironment& environment, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::ManyCamerasWindow)
    , m_session(environment)
    , m_rows(new CameraFilterModel(this))
    , m_chosenMenu(new QMenu(this))
    , m_refresh(new QTimer(this))
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("ManyCamerasWindow"));

    m_rows->setSourceModel(m_session.model());
    ui->cameraTable->setModel(m_rows);
    ui->cameraTable->setItemDelegateForColumn(CameraTableModel::ProgressColumn, new ProgressDelegate(this));
    ui->cameraTable->sortByColumn(CameraTableModel::AddressColumn, Qt::AscendingOrder);
    // Widths for the texts a column holds, so the state has the room left; measuring the
    // contents of a thousand rows on every change would stall the window.
    QHeaderView* header = ui->cameraTable->horizontalHeader();
    const QFontMetrics metrics(ui->cameraTable->font());
    header->resizeSection(CameraTableModel::AddressColumn, metrics.horizontalAdvance(QStringLiteral("000.000.000.000:00000")) + 30);
    header->resizeSection(CameraTableModel::ModelColumn, metrics.horizontalAdvance(QStringLiteral("QV_NEW_TK20_H")) + 12);
    for (int c = CameraTableModel::FirstVersionColumn; c < CameraTableModel::StateColumn; ++c)
        header->resizeSection(c, metrics.horizontalAdvance(QStringLiteral("CAM-EEP")) + 16);
    header->resizeSection(CameraTableModel::ProgressColumn, metrics.horizontalAdvance(QStringLiteral("Progress")) + 40);
    header->setSectionResizeMode(CameraTableModel::StateColumn, QHeaderView::Stretch);
    ui->cameraTable->setWordWrap(false);
    ui->cameraTable->verticalHeader()->hide();
    // Rows come by the thousand: fixed row heights keep the view from measuring each one.
    ui->cameraTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);

    ui->componentsBox->addItems({tr("Only components that differ"), tr("Every component with a file"),
                                 tr("Chosen components")});
    for (const char* key : kComponentKeys) {
        QAction* a = m_chosenMenu->addAction(QLatin1String(key));
        a->setCheckable(true);
        connect(a, &QAction::toggled, this, &ManyCamerasWindow::choiceChanged);
    }
    ui->chosenButton->setMenu(m_chosenMenu);
    ui->chosenButton->setEnabled(false);

    ui->folderButton->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    ui->updateButton->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    // The keypad's Enter as well as Return.
    auto* enter = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Enter), this);
    connect(enter, &QShortcut::activated, ui->updateButton, &QPushButton::click);

    // A line edit takes Ctrl+Return for a Return of its own: in the fields it still means Update.
    for (QLineEdit* field : {ui->targetsEdit, ui->excludeEdit, ui->filterEdit})
        field->installEventFilter(this);
    connect(ui->targetsEdit, &QLineEdit::returnPressed, this, &ManyCamerasWindow::scan);
    connect(ui->excludeEdit, &QLineEdit::returnPressed, this, &ManyCamerasWindow::scan);
    connect(ui->scanButton, &QPushButton::clicked, this, &ManyCamerasWindow::scan);
    connect(ui->loadListButton, &QPushButton::clicked, this, &ManyCamerasWindow::loadList);
    connect(ui->folderButton, &QPushButton::clicked, this, &ManyCamerasWindow::chooseFolder);
    connect(ui->componentsBox, &QComboBox::currentIndexChanged, this, &ManyCamerasWindow::choiceChanged);
    connect(ui->credentialsButton, &QPushButton::clicked, this, &ManyCamerasWindow::chooseCredentialsFile);
    connect(ui->filterEdit, &QLineEdit::textChanged, m_rows, &CameraFilterModel::setText);
    connect(ui->hideUnansweredBox, &QCheckBox::toggled, m_rows, &CameraFilterModel::setHideUnanswered);
    connect(ui->selectAllButton, &QPushButton::clicked, this, [this] { m_session.model()->tickAll(true); });
    connect(ui->selectNoneButton, &QPushButton::clicked, this, [this] { m_session.model()->tickAll(false); });
    connect(ui->cameraTable, &QTableView::doubleClicked, this, &ManyCamerasWindow::openTrace);
    connect(ui->updateButton, &QPushButton::clicked, this, &ManyCamerasWindow::startUpdate);
    connect(ui->stopButton, &QPushButton::clicked, this, &ManyCamerasWindow::stop);
    connect(ui->resumeButton, &QPushButton::clicked, this, &ManyCamerasWindow::resume);
    connect(ui->saveReportButton, &QPushButton::clicked, this, &ManyCamerasWindow::saveReport);

    connect(&m_session, &SiteSession::stageChanged, this, &ManyCamerasWindow::stageChanged);
    connect(&m_session, &SiteSession::confirmationDue, this, &ManyCamerasWindow::askToConfirm, Qt::QueuedConnection);
    connect(&m_session, &SiteSession::refused, this, &ManyCamerasWindow::warn, Qt::QueuedConnection);
    connect(&m_session, &SiteSession::notice, ui->statusLabel, &QLabel::setText);
    connect(&m_session, &SiteSession::updateFinished, this, &ManyCamerasWindow::finished);
    connect(&m_session, &SiteSession::scanProgress, this, [this](int answered, int total) {
        ui->statusLabel->setText(tr("Asked %1 of %2 cameras.").arg(answered).arg(total));
    });
    connect(&m_session, &SiteSession::scanDone, this, [this] {
        const int rows = m_session.model()->rowCount();
        int answered = 0;
        for (int r = 0; r < rows; ++r)
            answered += m_session.model()->standing(r) != CameraTableModel::Standing::Unanswered ? 1 : 0;
        ui->statusLabel->setText(m_session.folderPath().isEmpty()
                                     ? tr("%1 of %2 cameras answered. Choose a firmware folder (Ctrl+O).").arg(answered).arg(rows)
                                     : tr("%1 of %2 cameras answered.").arg(answered).arg(rows));
    });
    connect(m_session.model(), &CameraTableModel::ticksChanged, this, &ManyCamerasWindow::ticksChanged);
    connect(m_refresh, &QTimer::timeout, this, &ManyCamerasWindow::refresh);

    ui->targetsEdit->setFocus();
    ticksChanged();
}

ManyCamerasWindow::~ManyCamerasWindow()
{
    delete ui;
}

void ManyCamerasWindow::warn(const QString& text)
{
    QMessageBox::warning(this, windowTitle(), displaySafe(text));
}

void ManyCamerasWindow::scan()
{
    QString why;
    if (!m_session.scan(ui->targetsEdit->text(), ui->excludeEdit->text(), kScanParallel, &why)) {
        ui->statusLabel->setText(displaySafe(why));
        warn(why);
    }
}

void ManyCamerasWindow::loadList()
{
    const QString file = QFileDialog::getOpenFileName(this, tr("Camera List"), QDir::currentPath());
    if (file.isEmpty())
        return;
    const QString text = ui->targetsEdit->text().trimmed();
    ui->targetsEdit->setText((text.isEmpty() ? QString() : text + QLatin1Char(' ')) + QLatin1Char('@') + file);
    ui->targetsEdit->setFocus();
}

void ManyCamerasWindow::chooseFolder()
{
    // The main window's own chooser, so the operator finds the folder the same way.
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Directory"), QDir::currentPath(), QFileDialog::ShowDirsOnly);
    if (dir.isEmpty())
        return;
    QString why;
    if (!m_session.openFolder(dir, &why)) {
        warn(why);
        return;
    }
    ui->folderLabel->setText(displaySafe(m_session.folderPath()));
    ui->statusLabel->setText(tr("Every camera with something to send is ticked. Update (Ctrl+Return) sends it."));
}

void ManyCamerasWindow::choiceChanged()
{
    PlanChoice choice;
    const int mode = ui->componentsBox->currentIndex();
    ui->chosenButton->setEnabled(mode == 2);
    choice.all = mode == 1;
    if (mode == 2) {
        const QList<QAction*> actions = m_chosenMenu->actions();
        for (int i = 0; i < actions.size(); ++i) {
            if (actions[i]->isChecked())
                choice.only.insert(i);
        }
    }
    m_session.setChoice(choice);
}

void ManyCamerasWindow::chooseCredentialsFile()
{
    const QString file = QFileDialog::getOpenFileName(this, tr("Credentials File"), QDir::homePath());
    if (file.isEmpty())
        return;
    QString why;
    if (!m_session.setCredentialsFile(file, &why)) {
        ui->credentialsLabel->clear();
        warn(why);
        return;
    }
    ui->credentialsLabel->setText(displaySafe(QFileInfo(file).fileName()));
}

bool ManyCamerasWindow::askCredentials(bool needed, int cameras, Credentials* credentials)
{
    if (!needed)
        return true;
    SiteCredentialsDialog dialog(cameras, this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    credentials->user = dialog.user();
    credentials->password = dialog.password();
    credentials->source = QStringLiteral("dialog");
    return true;
}

void ManyCamerasWindow::startUpdate()
{
    if (m_session.stage() != SiteSession::Stage::Idle)
        return;
    const QStringList ticked = m_session.model()->tickedAddresses();
    if (ticked.isEmpty()) {
        warn(m_session.folderPath().isEmpty() ? tr("Choose a firmware folder first (Ctrl+O).")
                                              : tr("No camera is ticked: tick the cameras to update."));
        return;
    }
    Credentials common;
    if (!askCredentials(m_session.needsCredentials(), int(ticked.size()), &common))
        return;
    UpdateOptions options;
    options.parallel = ui->parallelBox->value();
    options.canary = ui->canaryBox->value();
    options.maxFailures = ui->failuresBox->value();
    QString why;
    m_stopPressed = false;
    if (!m_session.update(common, options, &why)) {
        warn(why);
        return;
    }
    ui->statusLabel->setText(tr("Asking the cameras again. Report: %1").arg(displaySafe(m_session.reportPath())));
}

void ManyCamerasWindow::askToConfirm(const QString& question)
{
    const QMessageBox::StandardButton answer =
        QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    m_session.confirm(answer == QMessageBox::Yes && !m_closeWhenDone);
    if (answer == QMessageBox::Yes)
        ui->statusLabel->setText(tr("Updating. Report: %1").arg(displaySafe(m_session.reportPath())));
}

void ManyCamerasWindow::stop()
{
    if (m_session.stage() == SiteSession::Stage::Idle)
        return;
    if (!m_stopPressed || m_session.stage() != SiteSession::Stage::Updating) {
        m_stopPressed = true;
        m_session.stop();
        ui->statusLabel->setText(tr("Stopping: no camera starts and no file is sent any more; cameras that hold a file "
                                    "are followed to their end. Stop again to stop watching them."));
        return;
    }
    const QStringList holding = m_session.model()->holdingFile();
    if (holding.isEmpty()) {
        m_session.stopNow();
        return;
    }
    if (m_askingToStop)
        return;
    m_askingToStop = true;
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, windowTitle(),
        tr("These cameras have a firmware file and may still be writing it: %1. Stop watching this update? Leave them "
           "powered until they answer again.")
            .arg(displaySafe(holding.join(QStringLiteral(", ")))),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    m_askingToStop = false;
    if (answer == QMessageBox::Yes)
        m_session.stopNow();
}

void ManyCamerasWindow::resume()
{
    if (m_session.stage() != SiteSession::Stage::Idle)
        return;
    const QString start = reportsFolder(QProcessEnvironment::systemEnvironment());
    const QString file = QFileDialog::getOpenFileName(this, tr("Resume from Report"), start, tr("Reports (*.json)"));
    if (file.isEmpty())
        return;
    FleetReport earlier;
    QString why;
    if (!SiteSession::readResumable(file, &earlier, &why)) {
        warn(why);
        return;
    }
    Credentials common;
    if (!askCredentials(m_session.needsCredentialsToResume(earlier), int(earlier.cameras.size()), &common))
        return;
    m_stopPressed = false;
    if (!m_session.resume(file, common, &why)) {
        warn(why);
        return;
    }
    ui->folderLabel->setText(displaySafe(earlier.run.folder));
    ui->statusLabel->setText(tr("Resuming. Report: %1").arg(displaySafe(file)));
}

void ManyCamerasWindow::saveReport()
{
    QString filter;
    const QString file = QFileDialog::getSaveFileName(this, tr("Save Report"), QDir::homePath(),
                                                      tr("JSON (*.json);;CSV (*.csv);;HTML (*.html)"), &filter);
    if (file.isEmpty())
        return;
    const FleetReport report = m_session.report();
    const QString suffix = QFileInfo(file).suffix().toLower();
    QByteArray bytes;
    if (suffix == u"csv" || (suffix != u"json" && suffix != u"html" && filter.startsWith(u"CSV")))
        bytes = reportCsvHeader() + reportCsvRows(report);
    else if (suffix == u"html" || (suffix != u"json" && filter.startsWith(u"HTML")))
        bytes = reportHtml(report);
    else
        bytes = reportJson(report);
    QString error;
    if (!kelvora::replaceFileWhole(file, bytes, kelvora::FileAccess::Private, &error))
        warn(tr("Cannot write \"%1\": %2").arg(file, error));
}

void ManyCamerasWindow::openTrace(const QModelIndex& index)
{
    const QString address = m_rows->index(index.row(), CameraTableModel::AddressColumn).data().toString();
    auto* trace = new CameraTrace(address, m_session.traceFile(address), this);
    trace->setObjectName(QStringLiteral("CameraTrace"));
    trace->show();
}

void ManyCamerasWindow::stageChanged(SiteSession::Stage stage)
{
    const bool idle = stage == SiteSession::Stage::Idle;
    const bool updating = stage == SiteSession::Stage::Asking || stage == SiteSession::Stage::Confirming
        || stage == SiteSession::Stage::Updating;
    ui->scanButton->setEnabled(idle);
    ui->folderButton->setEnabled(!updating);
    ui->componentsBox->setEnabled(!updating);
    ui->credentialsButton->setEnabled(!updating);
    ui->updateButton->setEnabled(idle);
    ui->resumeButton->setEnabled(idle);
    ui->stopButton->setEnabled(!idle);
    ui->selectAllButton->setEnabled(!updating);
    ui->selectNoneButton->setEnabled(!updating);
    ui->parallelBox->setEnabled(!updating);
    ui->canaryBox->setEnabled(!updating);
    ui->failuresBox->setEnabled(!updating);
    if (updating) {
        ui->saveReportButton->setEnabled(true);
        if (!m_refresh->isActive())
            m_refresh->start(200);
    } else {
        m_refresh->stop();
    }
    refresh();
}

void ManyCamerasWindow::ticksChanged()
{
    const int ticked = int(m_session.model()->tickedAddresses().size());
    ui->canaryBox->setMaximum(ticked);
    ui->failuresBox->setMaximum(ticked);
}

void ManyCamerasWindow::refresh()
{
    const CameraTableModel* model = m_session.model();
    const QHash<CameraTableModel::Standing, int> counts = model->counts();
    using S = CameraTableModel::Standing;
    QStringList parts;
    const std::pair<S, const char*> names[] = {{S::Succeeded, "done"},     {S::Failed, "failed"},
                                               {S::Working, "working"},    {S::Waiting, "waiting"},
                                               {S::NotStarted, "not started"}};
    for (const auto& [standing, name] : names) {
        if (counts.value(standing) > 0)
            parts << QStringLiteral("%1 %2").arg(counts.value(standing)).arg(QLatin1String(name));
    }
    ui->countsLabel->setText(parts.join(QStringLiteral(", ")));
    ui->overallBar->setValue(model->overallProgress());
    if (m_session.elapsedMs() > 0)
        ui->elapsedLabel->setText(elapsedText(m_session.elapsedMs()));
}

void ManyCamerasWindow::finished(const QString& summary)
{
    refresh();
    ui->statusLabel->setText(displaySafe(summary));
    m_stopPressed = false;
    if (m_closeWhenDone)
        QTimer::singleShot(0, this, &QWidget::close);
}

bool ManyCamerasWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && (key->modifiers() & Qt::ControlModifier)) {
            ui->updateButton->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ManyCamerasWindow::closeEvent(QCloseEvent* event)
{
    const SiteSession::Stage stage = m_session.stage();
    if (stage == SiteSession::Stage::Idle || stage == SiteSession::Stage::Scanning) {
        if (stage == SiteSession::Stage::Scanning)
            m_session.stop();
        event->accept();
        return;
    }
    event->ignore();
    if (m_closeWhenDone) {
        stop();  // closed again: as Stop pressed again
        return;
    }
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, windowTitle(),
        tr("An update is under way. Stop it and close the window? No camera starts and no file is sent any more; "
           "cameras that hold a file are followed to their end first."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    m_closeWhenDone = true;
    m_stopPressed = false;
    stop();
}
