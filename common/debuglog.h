#ifndef KELVORA_DEBUGLOG_H
#define KELVORA_DEBUGLOG_H

// The operator's trace of a run: one line per call through Qt's debug output, which
// is never compiled out here (nobody defines QT_NO_DEBUG_OUTPUT). Labels are written
// bare, text values quoted on a line of their own, numbers plain.

#include <QByteArray>
#include <QDebug>
#include <QString>

namespace kelvora {

// A label or marker line, written as it stands ("■DEBUG■mw_selectDir()", "Camera END").
inline void dbgLine(const char* text) { qDebug().noquote() << QString::fromUtf8(text); }
inline void dbgLine(const QString& text) { qDebug().noquote() << text; }

// A value on its own line: text in double quotes, numbers plain.
inline void dbgValue(const QString& text) { qDebug() << text; }
inline void dbgValue(const QByteArray& bytes) { qDebug() << QString::fromLatin1(bytes); }
inline void dbgValue(int number) { qDebug() << number; }
inline void dbgValue(double number) { qDebug() << number; }

// Stands in for a credential wherever its value would be written.
inline constexpr const char kSecretMask[] = "********";
inline void dbgSecret() { qDebug() << QString::fromLatin1(kSecretMask); }

} // namespace kelvora

#endif
