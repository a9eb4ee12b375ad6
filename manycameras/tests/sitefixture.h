#ifndef KELVORA_MANYCAMERAS_TESTS_SITEFIXTURE_H
#define KELVORA_MANYCAMERAS_TESTS_SITEFIXTURE_H

// A site of simulated cameras on loopback for the many-camera tests, and a state folder of
// the test's own for the reports, traces, locks and history an update writes.

#include "sim/camerasim.h"

#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <vector>

inline const QString kSiteUser = QStringLiteral("site-op");
inline const QString kSitePassword = QStringLiteral("s1te:Pw#");

struct SiteFixture {
    QTemporaryDir m_state;  // HOME, XDG_STATE_HOME and XDG_RUNTIME_DIR
    std::vector<std::unique_ptr<CameraSim>> m_sims;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env;
        env.insert(QStringLiteral("HOME"), m_state.path());
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_state.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_state.filePath(QStringLiteral("run")));
        return env;
    }

    // A camera of the site that restarts in 20 ms and keeps what it was sent, byte for byte.
    CameraSim& camera(int model, const SimFaults& faults = {})
    {
        auto sim = std::make_unique<CameraSim>();
        sim->start();
        sim->setModel(model);
        sim->setCredentials(kSiteUser.toStdString(), kSitePassword.toStdString());
        sim->setRestartTime(std::chrono::milliseconds(20));
        sim->setRecordRawBodies(true);
        sim->setFaults(faults);
        m_sims.push_back(std::move(sim));
        return *m_sims.back();
    }

    static QString at(const CameraSim& sim) { return QString::fromStdString(sim.address()); }
};

#endif
