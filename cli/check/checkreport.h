#ifndef KELVORA_CHECK_CHECKREPORT_H
#define KELVORA_CHECK_CHECKREPORT_H

// The folder checker's result for a person (plain text, one line per problem) and for
// scripts (JSON).

#include "launch/foldercheck.h"

#include <QByteArray>
#include <QString>

// "[TK10] cam_cpu tk10_cam.bin: does not exist in the folder"; list-file problems start
// with the list file's name, SHA256SUMS problems with its own.
QString problemLine(const CheckProblem& problem);

// The whole report: sections with their files, the section each model would get, then
// the problems. For a folder that cannot be read, only the reason.
QString checkReportText(const FolderCheck& check);

// One JSON object: folder, listFile, readable, error, model, sections, choices, problems
// and exitCode.
QByteArray checkReportJson(const FolderCheck& check);

// What --write-sums did: the lines written, exactly as in the file; or why nothing was
// written, one line per file that stopped it; or, for exit status 2, only the reason.
QString sumsWriteText(const SumsWrite& write);

#endif
