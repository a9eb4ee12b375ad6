#include "update/uploadplan.h"

#include "common/debuglog.h"
#include "camera/caminfo.h"

#include <array>
#include <utility>

namespace {

struct TypeCode {
    const char* extension;
    const char* code;
};

constexpr std::array<TypeCode, 9> kTypeCodes{{
    {"bin", "1"}, {"img", "3"}, {"eep", "4"}, {"sif", "0"}, {"scm", "1"},
    {"spt", "2"}, {"snw", "3"}, {"ffe", "5"}, {"fbe", "6"},
}};

struct ResetWait {
    const char* extension;
    int seconds;
    int specialModel;    // model that waits differently, 0 for none
    int specialSeconds;
};

constexpr std::array<ResetWait, 9> kResetWaits{{
    {"bin", 3600, 0, 0},
    {"img", 1650, CAM_MODELID_QV_TK10, 500},
    {"eep", 375, CAM_MODELID_QV_TK300, 300},
    {"sif", 3375, 0, 0},
    {"scm", 3600, 0, 0},
    {"spt", 750, 0, 0},
    {"snw", 1350, 0, 0},
    {"ffe", 3600, 0, 0},
    {"fbe", 3600, 0, 0},
}};

} // namespace

int gatherUploadPlan(const vup_file_info& set, sort_fileinfo& plan, const kelvora::DebugLog& log)
{
    for (const Component& c : kComponents) {
        const file_info& f = set.*c.field;
        if (f.Select != RMOCAM_TRUE)
            continue;
        // A plan holds each component once; a list that is already full is not a plan.
        if (f.Vupno == 0 || plan.MaxFileNum < 0 || plan.MaxFileNum >= kComponentCount)
            return 1;
        plan.files[std::size_t(plan.MaxFileNum)] = f;
        ++plan.MaxFileNum;
        log.line(c.member);
        log.value(int(f.Vupno));
        log.value(plan.MaxFileNum);
    }
    return plan.MaxFileNum == 0 ? 1 : 0;
}

void sortUploadPlan(sort_fileinfo& plan)
{
    const int n = qBound(0, plan.MaxFileNum, kComponentCount);
    for (int i = 0; i < n - 1; ++i) {
        for (int j = n - 1; j > i; --j) {
            file_info& lower = plan.files[std::size_t(j - 1)];
            file_info& upper = plan.files[std::size_t(j)];
            if (lower.Vupno > upper.Vupno)
                std::swap(lower, upper);
        }
    }
}

const file_info* currentPlanFile(const sort_fileinfo& plan)
{
    if (plan.FileNum < 0 || plan.FileNum >= plan.MaxFileNum || plan.FileNum >= kComponentCount)
        return nullptr;
    return &plan.files[std::size_t(plan.FileNum)];
}

QString fileExtension(const QString& fileName)
{
    return fileName.right(3);
}

QString currentExtension(const sort_fileinfo& plan)
{
    const file_info* f = currentPlanFile(plan);
    return f ? fileExtension(f->FileName) : QString();
}

bool fileTypeCode(const QString& extension, QString* type)
{
    for (const TypeCode& t : kTypeCodes) {
        if (extension == QLatin1String(t.extension)) {
            *type = QString::fromLatin1(t.code);
            return true;
        }
    }
    return false;
}

int resetWaitTimeout(const QString& extension, int model)
{
    for (const ResetWait& w : kResetWaits) {
        if (extension == QLatin1String(w.extension))
            return (w.specialModel != 0 && model == w.specialModel) ? w.specialSeconds : w.seconds;
    }
    return kLongestResetWait;
}

QString planFilePath(const QString& dirPath, const QString& fileName)
{
    return dirPath + QLatin1String("//") + fileName;
}

QString planPositionText(const sort_fileinfo& plan)
{
    return QString::number(plan.FileNum + 1) + QLatin1Char('/') + QString::number(plan.MaxFileNum);
}
