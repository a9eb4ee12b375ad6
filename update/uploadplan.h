#ifndef KELVORA_UPDATE_UPLOADPLAN_H
#define KELVORA_UPDATE_UPLOADPLAN_H

// The upload plan of a run and what each planned file needs: its type code for the
// camera, its reset-wait time-out, its path and its place in the run. Widget-free.

#include "common/debuglog.h"
#include "firmware/records.h"
#include "update/runstate.h"

#include <QString>

// Appends every ticked component of `set`, in component order, to `plan` (nothing is
// cleared first). Returns 0 when at least one was appended; 1 when nothing is ticked or
// a ticked component has no upload order number, leaving what was appended so far.
// Logs each appended component with its order number and the new plan size.
int gatherUploadPlan(const vup_file_info& set, sort_fileinfo& plan, const kelvora::DebugLog& log = {});

// Orders entries 0..MaxFileNum-1 by ascending Vupno; equal numbers keep their order.
void sortUploadPlan(sort_fileinfo& plan);

// The planned file now being handled, or nullptr when FileNum is outside the plan.
const file_info* currentPlanFile(const sort_fileinfo& plan);

// The last three characters of a file name (fewer for a shorter name), without the point.
QString fileExtension(const QString& fileName);
// The extension of the current plan file; empty when there is none.
QString currentExtension(const sort_fileinfo& plan);

// Sets *type to the one-digit code of the extension; leaves it untouched and returns
// false for an extension the camera has no code for. Exact and case-sensitive.
bool fileTypeCode(const QString& extension, QString* type);

// Seconds the camera may take to write a file of this extension and restart.
// An extension outside the table gets the table's longest wait.
inline constexpr int kLongestResetWait = 3600;
int resetWaitTimeout(const QString& extension, int model);

// The folder and the file name joined with two slashes, as the camera has always been sent.
QString planFilePath(const QString& dirPath, const QString& fileName);

// "2/3" while the second of three files is handled.
QString planPositionText(const sort_fileinfo& plan);

#endif
