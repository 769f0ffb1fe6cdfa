#pragma once

#include "base/choices.h"
#include "base/result.h"

#include <QString>

// The settings file "setting.ini", section "select": the data source ("shoptype"), the link kind
// ("linktype"), the address box ("linkstr"), the watermark text ("picstr") and the export's price
// adjustment, factor ("pricefactor") and amount ("priceadd").

// Reads the keys into the choices: a data source above 2 is the last one, below 0 none (-1); a
// link kind outside 0 to 2 is none (-1); texts are read up to the first line break; a price factor
// or amount that is missing, no number or out of range is 1 or 0.
void ReadSettings(TChoices& choices, const QString& fileName);
// Writes the keys, texts trimmed and the address box on one line (its line breaks become
// spaces, so no line of it is left behind in the file). Fails with TErrc::Io, the detail "Unable to
// write to <file>: <the system's reason>".
TStatus WriteSettings(const TChoices& choices, const QString& fileName);
