#ifndef KELVORA_FUZZ_FUZZSUPPORT_H
#define KELVORA_FUZZ_FUZZSUPPORT_H

// Shared by the fuzz targets: taking typed values from the fuzzer's bytes, a quiet debug
// log, and a check that stops the input as a crash so libFuzzer (or the replay) reports it.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)

namespace fuzz {

// The tool's debug lines would cost most of the time and flood the fuzzer's output.
inline void silenceLog()
{
    static const bool installed = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    Q_UNUSED(installed);
}

class Input
{
public:
    Input(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    std::size_t left() const { return m_size - m_at; }

    // 0 once the input is used up.
    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }

    QByteArray bytes(std::size_t n)
    {
        n = n < left() ? n : left();
        QByteArray out(reinterpret_cast<const char*>(m_data + m_at), qsizetype(n));
        m_at += n;
        return out;
    }

    // A length byte, then that many UTF-16 units taken as they come: lone surrogates,
    // NULs and characters far outside Latin-1 included.
    QString shortText()
    {
        const std::size_t units = byte();
        QString out;
        for (std::size_t i = 0; i < units && left() >= 2; ++i) {
            const char16_t hi = byte();
            const char16_t lo = byte();
            out += QChar(char16_t((hi << 8) | lo));
        }
        return out;
    }

    QByteArray rest() { return bytes(left()); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

} // namespace fuzz

#endif
