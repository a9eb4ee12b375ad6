#ifndef KELVORA_COMMON_SHA256_H
#define KELVORA_COMMON_SHA256_H

// The one SHA-256 of the tool: firmware copies, SHA256SUMS, lock names. OpenSSL's libcrypto,
// which uses the processor's SHA instructions: a tenth of the time Qt 6.4's own hash takes,
// which for a large firmware file was most of a fleet's CPU time.

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

namespace kelvora {

// The 32-byte digest of `bytes`.
QByteArray sha256(QByteArrayView bytes);

// A digest fed piece by piece, for a file read in pieces.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void addData(QByteArrayView bytes);
    // The 32-byte digest of everything added; the object is done with then.
    QByteArray result();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

} // namespace kelvora

#endif
