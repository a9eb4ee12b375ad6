#ifndef KELVORA_FLEET_PROGRESSVIEW_H
#define KELVORA_FLEET_PROGRESSVIEW_H

// The update's progress on the terminal. On a terminal every camera at work has one live
// line, redrawn in place and fitted to the screen's width (the file name gives way first,
// the state and its percentage never); a camera that has ended leaves its last line, whole,
// above them. Not on a terminal, one plain line per event ("192.0.2.5 file 1/3 main.bin
// uploading 40%"), percentages in steps of ten, never cut. Addresses, file names, a
// camera's words and printed lines are shown as displaySafe writes them: nothing but the
// view draws on the terminal. Widget-free.

#include "fleet/camerastatus.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

// What the status says after the address: "file 2/3 main.bin uploading 40%",
// "completed, verified", "upload-refused: VerUp Err", its file name and message made safe
// to show. A percent is floored to `step`.
QString statusText(const CameraStatus& status, int step = 1);

class ProgressView
{
public:
    using Writer = std::function<void(const QByteArray&)>;

    // `terminal`: redraw in place with ANSI cursor movement; otherwise plain lines.
    ProgressView(Writer writer, bool terminal);
    // Writes to a file descriptor (1: the standard output), through `writer` when given; a
    // terminal when isatty says so, its size asked of the descriptor.
    static ProgressView forDescriptor(int fd, Writer writer = {});

    // The screen's size; a terminal's own is asked for at every redraw unless set here.
    void setScreenSize(int columns, int rows);
    // Addresses are padded to this many characters, so the texts line up.
    void setAddressWidth(int width) { m_addressWidth = width; }

    void update(const CameraStatus& status);
    // A line of its own, above the live lines.
    void print(const QString& line);
    // Ends the live lines: what is left stays as it was last drawn.
    void finish();

    bool terminal() const { return m_terminal; }

private:
    QString line(const CameraStatus& status, int step) const;
    void redraw(const QStringList& above);
    int columns() const;
    int rows() const;

    Writer m_writer;
    bool m_terminal = false;
    int m_fd = -1;
    int m_columns = 0;
    int m_rows = 0;
    int m_addressWidth = 0;
    QStringList m_liveOrder;                 // addresses with a live line, in order of start
    QHash<QString, CameraStatus> m_live;     // the status of each live line, by address
    QHash<QString, QString> m_printed;       // plain mode: last line written, by address
    QStringList m_drawn;                     // terminal: the live lines as last drawn
};

#endif
