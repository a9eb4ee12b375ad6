#ifndef KELVORA_CHECK_FOLDERCHECK_H
#define KELVORA_CHECK_FOLDERCHECK_H

// Checks a firmware folder before anyone is at the camera: every model section of its
// list file, read and judged by the functions the tool itself runs (section choice, list
// reading, compatibility table, upload forms and type codes), so that what passes here is
// what the tool will accept. A folder's SHA256SUMS is held to the rules the run applies
// (firmware/sha256sums.h), and written for it on request. Widget-free; the caller decides
// how to show the result.

#include "camera/caminfo.h" // checkModelName
#include "firmware/records.h"
#include "firmware/sha256sums.h"

#include <QString>

#include <vector>

enum class ProblemKind {
    ListFile,        // list file missing, unreadable or malformed
    NoModelSection,  // list file without any model section
    CamCpu,          // model section whose "cam_cpu" is missing or "NONE"
    ModelRefused,    // the model asked for finds no section at all
    FileSection,     // named file without a section of its own (no version, no vupno)
    FileOutside,     // a name that leaves the folder (absolute, or climbing out with "..")
    FileMissing,
    FileUnreadable,
    FileEmpty,
    Extension,       // no type code for the extension
    UploadForm,      // the model has no upload form for the extension
    VersionForm,     // version missing or not "V" two digits "." two digits
    VupnoMissing,
    VupnoNotNumber,
    VupnoZero,
    VupnoShared,     // two files of a section with the same upload order number
    FileRepeated,    // one file named for two components of a section
    VersionRefused,  // refused by the compatibility table
    SumsUnreadable,  // SHA256SUMS there but not usable (one per line not understood): every file refused
    SumMissing,      // named file that SHA256SUMS does not list
    SumDiffers,      // named file whose bytes differ from its SHA256SUMS digest
};

// "list-file", "cam-cpu", "vupno-zero", ...: the kind as scripts see it.
QString problemKindName(ProblemKind kind);

struct CheckProblem {
    QString section;     // model section; empty for the list file or SHA256SUMS as a whole
    int component = -1;  // index in kComponents; -1 when the problem is not a component's
    QString file;        // firmware file name as the list file writes it, kSumsFileName for a
                         // SHA256SUMS problem; may be empty
    ProblemKind kind = ProblemKind::ListFile;
    QString message;     // one line for a person, without section, component or file
};

struct CheckedComponent {
    int component = -1;  // index in kComponents
    file_info file;      // name, version and vupno as the tool reads them
    int uploadStep = 0;  // 1-based place in the tool's upload order; 0 when it would refuse the plan
};

struct CheckedSection {
    QString name;
    bool usable = false;                     // the tool's section test passes
    int checkedModel = 0;                    // model whose compatibility row was applied; 0 for none
    std::vector<CheckedComponent> components; // components with a file, in component order
};

struct ModelChoice {
    int model = 0;
    QString section;  // the section the tool would choose; empty when it refuses the folder
};

struct FolderCheck {
    QString folder;
    QString listFile;
    bool readable = false;  // false: the folder itself cannot be read; nothing else is filled
    QString error;          // why not, when not readable
    int model = 0;          // the one model checked for; 0 for every section
    std::vector<CheckedSection> sections;  // present model sections, in model order
    std::vector<ModelChoice> choices;      // every model (or the one asked for)
    std::vector<CheckProblem> problems;

    // 0 clean, 1 problems found, 2 the folder cannot be read.
    int exitCode() const;
};

// Checks `folder`. With `model` 0, every known model section the list file holds is
// checked against the model whose first candidate it is; with a model identifier, only
// the section the tool would choose for it, against that model. Writes the tool's debug
// lines through qDebug: a caller that wants quiet installs its own message handler.
FolderCheck checkFolder(const QString& folder, int model = 0);

// SHA256SUMS written for a folder: every file its list file names in the sections the tool
// can choose, once each, sorted by name. Written only when every one of them is a readable
// file inside the folder: a SHA256SUMS seals a folder as complete, and one written over a
// missing or unreadable file would seal a folder that cannot be updated as its list file says.
struct SumsWrite {
    QString folder;
    QString path;                     // the SHA256SUMS
    bool readable = false;            // false: the folder itself cannot be read
    QString error;                    // why not readable, or why the file could not be written
    std::vector<CheckProblem> refusals;  // why nothing was written: missing, outside, unreadable files
    std::vector<SumsEntry> written;   // what was written, in its order

    // 0 written, 1 refused (nothing written), 2 the folder cannot be read or SHA256SUMS written.
    int exitCode() const;
};
SumsWrite writeSumsFor(const QString& folder);

#endif
