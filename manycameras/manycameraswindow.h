#ifndef KELVORA_MANYCAMERAS_MANYCAMERASWINDOW_H
#define KELVORA_MANYCAMERAS_MANYCAMERASWINDOW_H

// The many-camera window: a site's cameras in one table, the folder's plan for each, and
// one update of the ticked ones with its report and history. Glue between the widgets and
// the session (manycameras/sitesession.h), which holds every step and the engine; the
// questions an update needs (credentials, the confirmation, stopping) are asked here.

#include "manycameras/sitesession.h"

#include <QProcessEnvironment>
#include <QWidget>

namespace Ui {
class ManyCamerasWindow;
}

class CameraFilterModel;
class QMenu;
class QTimer;

class ManyCamerasWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ManyCamerasWindow(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                               QWidget* parent = nullptr);
    ~ManyCamerasWindow() override;

    SiteSession& session() { return m_session; }
    CameraFilterModel* rows() { return m_rows; }

public slots:
    void scan();
    void chooseFolder();
    void startUpdate();
    void stop();
    void resume();
    void saveReport();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadList();
    void chooseCredentialsFile();
    void choiceChanged();
    void stageChanged(SiteSession::Stage stage);
    void ticksChanged();
    void refresh();
    void openTrace(const QModelIndex& index);
    void askToConfirm(const QString& question);
    void finished(const QString& summary);
    // The user ID and password for all, when some camera needs them: false when cancelled.
    bool askCredentials(bool needed, int cameras, Credentials* credentials);
    void warn(const QString& text);

    Ui::ManyCamerasWindow* ui;
    SiteSession m_session;
    CameraFilterModel* m_rows;
    QMenu* m_chosenMenu;
    QTimer* m_refresh;
    bool m_stopPressed = false;
    bool m_askingToStop = false;
    bool m_closeWhenDone = false;
};

#endif
