#include "launch/compat.h"

#include "camera/caminfo.h"

#include <array>

namespace {

// One cell of the table: a range and an optional extra exact value; no range = not tested.
struct Cell {
    const char* low = nullptr;
    const char* high = nullptr;
    const char* exact = nullptr;
};

constexpr Cell r(const char* low, const char* high) { return {low, high, nullptr}; }
constexpr Cell rx(const char* exact, const char* low, const char* high) { return {low, high, exact}; }
constexpr Cell any{};

// Rows by model identifier, columns in component order:
// cam_cpu, network_cpu, servo_cpu, interface_cpu, front_fpga, backend_fpga, lens_fpga,
// cam_eeprom, interface_eeprom. Lens FPGA and camera EEPROM are never tested.
using Row = std::array<Cell, kComponentCount>;
constexpr std::array<Row, 12> kTable{{
    /* 1 TK10 */ {r("V01.00", "V01.99"), r("V01.00", "V01.99"), r("V01.00", "V01.99"), any, r("V01.00", "V01.99"),
                  r("V01.00", "V01.29"), any, any, r("V03.00", "V03.99")},
    /* 2 TKD7_S */ {r("V02.00", "V02.99"), any, r("V01.00", "V01.99"), any, r("V01.10", "V01.29"),
                    r("V01.30", "V01.39"), any, any, any},
    /* 3 TKD7_H */ {r("V02.00", "V02.99"), any, r("V01.00", "V01.99"), any, r("V01.10", "V01.29"),
                    r("V01.30", "V01.39"), any, any, any},
    /* 4 TK300 */ {r("V01.00", "V01.99"), r("V02.00", "V02.99"), r("V01.00", "V01.99"), r("V01.00", "V01.99"), any,
                   any, any, any, any},
    /* 5 OLD_TK20_S */ {r("V03.00", "V03.49"), r("V04.00", "V04.99"), r("V01.00", "V01.99"), any,
                        r("V01.00", "V02.99"), r("V01.30", "V01.49"), any, any, r("V03.00", "V03.99")},
    /* 6 OLD_TK20_H */ {r("V03.00", "V03.49"), r("V04.00", "V04.99"), r("V01.00", "V01.99"), any,
                        r("V01.00", "V02.99"), r("V01.50", "V01.99"), any, any, r("V03.00", "V03.99")},
    /* 7 NEW_TK20_S */ {r("V03.50", "V03.99"), r("V05.00", "V05.99"), r("V01.00", "V01.99"), any,
                        r("V03.00", "V04.99"), r("V01.30", "V01.49"), any, any, r("V03.00", "V03.99")},
    /* 8 NEW_TK20_H */ {r("V03.50", "V03.99"), r("V05.00", "V05.99"), r("V01.00", "V01.99"), any,
                        r("V03.00", "V04.99"), r("V01.50", "V01.99"), any, any, r("V03.00", "V03.99")},
    /* 9 OLD_TK15_S */ {rx("V04.00", "V04.02", "V04.49"), r("V06.00", "V06.99"), r("V01.00", "V01.99"), any,
                        r("V01.00", "V02.99"), r("V01.30", "V01.49"), any, any, r("V04.00", "V04.99")},
    /* 10 OLD_TK15_H */ {rx("V04.00", "V04.02", "V04.49"), r("V06.00", "V06.99"), r("V01.00", "V01.99"), any,
                         r("V01.00", "V02.99"), r("V01.50", "V01.99"), any, any, r("V04.00", "V04.99")},
    /* 11 NEW_TK15_S */ {rx("V04.01", "V04.02", "V04.99"), r("V06.00", "V06.99"), r("V01.00", "V01.99"), any,
                         r("V01.00", "V02.99"), r("V01.30", "V01.49"), any, any, r("V04.00", "V04.99")},
    /* 12 NEW_TK15_H */ {rx("V04.01", "V04.50", "V04.99"), r("V07.00", "V07.99"), r("V01.00", "V01.99"), any,
                         r("V02.00", "V03.99"), r("V01.50", "V01.99"), any, any, r("V04.00", "V04.99")},
}};

const Cell* cell(int modelId, int component)
{
    if (!isValidModelId(modelId) || component < 0 || component >= kComponentCount)
        return nullptr;
    return &kTable[static_cast<size_t>(modelId - 1)][static_cast<size_t>(component)];
}

} // namespace

bool versionConstrained(int modelId, int component)
{
    const Cell* c = cell(modelId, component);
    return c && c->low;
}

bool versionAllowed(int modelId, int component, const QString& version)
{
    const Cell* c = cell(modelId, component);
    if (!c)
        return false;
    if (!c->low)
        return true;
    if (versionInRange(version, c->low, c->high))
        return true;
    if (c->exact && version == QLatin1String(c->exact))
        return true;
    return version.isEmpty();
}

QString allowedVersionsText(int modelId, int component)
{
    const Cell* c = cell(modelId, component);
    if (!c || !c->low)
        return {};
    QString range = QString::fromLatin1(c->low) + QLatin1Char('-') + QString::fromLatin1(c->high);
    if (c->exact)
        return QString::fromLatin1(c->exact) + QLatin1String(" or ") + range;
    return range;
}

int checkFileVersions(int modelId, const vup_file_info& set, int* refusedComponent)
{
    if (refusedComponent)
        *refusedComponent = -1;
    if (!isValidModelId(modelId))
        return 1;
    for (int i = 0; i < kComponentCount; ++i) {
        if (!versionAllowed(modelId, i, (set.*kComponents[static_cast<size_t>(i)].field).Version)) {
            if (refusedComponent)
                *refusedComponent = i;
            return 1;
        }
    }
    return 0;
}
