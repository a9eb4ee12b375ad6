#ifndef KELVORA_LAUNCH_COMPAT_H
#define KELVORA_LAUNCH_COMPAT_H

// Which firmware versions suit which camera model. Versions are compared as text in
// closed ranges (both bounds included), sometimes with one exact value allowed besides;
// an empty version always passes. Components a model does not constrain pass anyway.

#include "firmware/records.h"

#include <QString>

// True when the model's row tests this component (index in component order).
bool versionConstrained(int modelId, int component);

// True when `version` suits the component for the model. Unconstrained components and
// empty versions pass; an identifier outside 1..12 passes nothing.
bool versionAllowed(int modelId, int component, const QString& version);

// Human-readable allowed values of a constrained cell, e.g. "V01.00-V01.99" or
// "V04.00 or V04.02-V04.49"; empty when not constrained.
QString allowedVersionsText(int modelId, int component);

// 0 when every constrained component's version suits the camera model, 1 otherwise
// (also for an identifier outside 1..12). Stops at the first refusal and, when asked,
// tells which component it was (-1 when the model itself was refused).
int checkFileVersions(int modelId, const vup_file_info& set, int* refusedComponent = nullptr);

#endif
