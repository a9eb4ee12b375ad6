#ifndef KELVORA_DEBUGLOG_H
#define KELVORA_DEBUGLOG_H

// The operator's trace of a run: one line per call through Qt's debug output, which
// is never compiled out here (nobody defines QT_NO_DEBUG_OUTPUT). Labels are written
// bare, text values quoted on a line of their own, numbers plain.

#include <QByteArray>
#include <QDebug>
#include <QString>

#include <functional>
#include <utility>

namespace kelvora {

// Stands in for a credential wherever its value would be written.
inline constexpr const char kSecretMask[] = "********";

// A value line as Qt's debug output writes it: text in double quotes with its escapes,
// numbers plain.
template <typename T>
QString debugValueText(const T& value)
{
    QString text;
    QDebug(&text).nospace() << value;
    return text;
}
inline QString debugValueText(const QByteArray& bytes) { return debugValueText(QString::fromLatin1(bytes)); }

// Where one part of the tool writes its trace: Qt's debug output, unless a sink takes the
// lines instead (the fleet keeps one trace per camera). The lines are the same either way.
class DebugLog
{
public:
    using Sink = std::function<void(const QString& line)>;

    void setSink(Sink sink) { m_sink = std::move(sink); }

    void line(const char* text) const { write(QString::fromUtf8(text)); }
    void line(const QString& text) const { write(text); }
    void value(const QString& text) const { write(debugValueText(text)); }
    void value(const QByteArray& bytes) const { write(debugValueText(bytes)); }
    void value(int number) const { write(debugValueText(number)); }
    void value(double number) const { write(debugValueText(number)); }
    void secret() const { value(QString::fromLatin1(kSecretMask)); }

private:
    void write(const QString& text) const
    {
        if (m_sink)
            m_sink(text);
        else
            qDebug().noquote() << text;
    }

    Sink m_sink;
};

// The window's trace, straight to Qt's debug output.
inline void dbgLine(const char* text) { DebugLog().line(text); }
inline void dbgLine(const QString& text) { DebugLog().line(text); }
inline void dbgValue(const QString& text) { DebugLog().value(text); }
inline void dbgValue(const QByteArray& bytes) { DebugLog().value(bytes); }
inline void dbgValue(int number) { DebugLog().value(number); }
inline void dbgValue(double number) { DebugLog().value(number); }
inline void dbgSecret() { DebugLog().secret(); }

} // namespace kelvora

#endif
