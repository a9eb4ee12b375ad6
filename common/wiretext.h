#ifndef KELVORA_COMMON_WIRETEXT_H
#define KELVORA_COMMON_WIRETEXT_H

#include <QByteArray>
#include <QString>

// Text as the camera receives it: one byte per character, "?" for every character
// (not every UTF-16 unit) outside Latin-1. Addresses, file names, type codes and the
// credential all go out by this one rule.
QByteArray toWireLatin1(const QString& text);

#endif
