#ifndef KELVORA_FLEET_TERMINALPROMPT_H
#define KELVORA_FLEET_TERMINALPROMPT_H

// The camera credentials and the operator's confirmation. Credentials come from the
// environment (KELVORA_USER, KELVORA_PASSWORD) or from the terminal (/dev/tty, the
// password without echo), never from arguments; neither is ever written anywhere but
// into the Basic credential sent to the camera.

#include "fleet/updatesetup.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>

#include <functional>

// The process's terminal, /dev/tty, for questions that must reach a person even when the
// standard streams are redirected.
class Terminal
{
public:
    Terminal();
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // False when the process has no terminal.
    bool isOpen() const { return m_fd >= 0; }

    // Writes `prompt` and reads one line, without its line end. Without echo, the
    // terminal's echo is off while the line is read and put back afterwards, also when
    // Ctrl-C (or another signal that ends the process) comes meanwhile. False at end of
    // input, on a read error, or once `cancelled` (asked about ten times a second) is true:
    // with Ctrl-C handled by the program, a question must not outlast it.
    bool ask(const QString& prompt, bool echo, QString* answer, const std::function<bool()>& cancelled = {});

    // "QUESTION [y/N] ": true only for "y" or "yes" (any case).
    bool confirm(const QString& question, const std::function<bool()>& cancelled = {});

private:
    int m_fd = -1;
};

// The environment's credentials, and the terminal for what it lacks. False with *error
// set when something is still missing: no terminal to ask, an empty answer, end of input.
bool obtainCredentials(const QProcessEnvironment& environment, Credentials* credentials, QString* error);

#endif
