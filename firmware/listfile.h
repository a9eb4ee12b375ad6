#ifndef KELVORA_FIRMWARE_LISTFILE_H
#define KELVORA_FIRMWARE_LISTFILE_H

// A firmware folder's list file, verup_list.ini: which of its model sections suits a
// camera model, and the component files that section names. Widget-free, so that the
// tool and the folder checker read a folder by the very same rules. The functions write
// the operator's debug lines themselves; a caller that wants silence installs its own
// message handler.

#include "firmware/records.h"

#include <QString>
#include <QStringList>

class QSettings;
class QVariant;

inline constexpr char kListFileName[] = "verup_list.ini";

// The list file of a firmware folder: the folder, "/", kListFileName. Open it with
// QSettings(path, QSettings::IniFormat); a missing file reads as empty.
QString listFilePath(const QString& dirPath);

struct ModelSections {
    QStringList candidates;  // in the order they are tried; empty for an identifier outside 1..12
    QString successLine;     // debug line written when one of them is accepted
};

// The model sections a camera of this model identifier accepts.
ModelSections modelSections(int modelId);

// A list-file value as text. QSettings splits an unquoted value at commas into a list;
// it is joined back with "," so that "a,b.bin" stays that name rather than becoming empty.
// Blanks after such a comma are lost to the reader: a name holding ", " must be quoted.
QString listValueText(const QVariant& value);

// The upload order number of a "vupno" text: a decimal int32 ("007" is 7, "-2" is -2).
// Returns 0 and stores the number, or returns 1 and stores 0 for anything that is not one
// (empty, "x1", "1.5", out of range).
int parseVupno(const QString& text, qint32* vupno);

// The section test: true when `section` holds a "cam_cpu" whose text is not exactly
// "NONE" (an empty value passes, a missing key does not). The reader's group is restored.
bool modelSectionUsable(QSettings* settings, const QString& section);

// The model detection walk. `settings` is the list-file reader at its top level (null
// reads as a missing file). Returns 0 when a candidate of `modelId` is accepted: the reader
// is then inside that section and its name is stored in *acceptedSection (when given).
// Returns 1 otherwise, with the reader at the top level; an identifier outside 1..12
// is refused without touching the reader.
int searchModelSection(QSettings* settings, int modelId, QString* acceptedSection = nullptr);

// What the section of one named file holds, as the reader finds it. `present`: the reader
// sees keys under that name; the texts are empty when their key is absent.
struct FileSection {
    bool present = false;
    bool hasVersion = false;
    bool hasVupno = false;
    QString version;
    QString vupno;
};

// Reads the section named by a file name, with the reader at the top level (where it is
// left). An empty name, or one the reader folds to no group at all ("/"), enters no
// section, so the top level's own "version" and "vupno" are read.
FileSection readFileSection(QSettings* settings, const QString& fileName);

// True when a list file's name stays inside the folder: not empty, not absolute, and no
// "/"-separated part of it is "..". A name that fails this is never read or sent.
bool isFolderFileName(const QString& fileName);

// Reads the nine components into `set`, with the reader inside the accepted model
// section (as searchModelSection leaves it): each file name from the section, then
// "version" and "vupno" from the section the file name names. A component without a file
// reads them from the top level, which a usual list file leaves empty (no version, upload
// order 0). Only FileName, Version and Vupno of the nine components are written. Leaves
// the reader at the top level.
void readComponentFiles(QSettings* settings, vup_file_info* set);

#endif
