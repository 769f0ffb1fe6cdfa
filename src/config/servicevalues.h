#pragma once

#include "base/servicekeys.h"

#include <QString>

// The service values as the file "service.ini" (UTF-8) in the working directory, section
// [service], gives them. The file is read again whenever it changed (its size or modification
// time), so an edit made while the program runs takes effect at the next use, and it is not parsed
// again at every use. A key missing from the file (or a missing or unreadable file) gives the
// built-in default; a key present with an empty value gives the empty text.
namespace TServiceValues {

inline constexpr const char* FileName = "service.ini";
inline constexpr const char* Section = "service";

QString Value(TServiceKey key);
// By the key's name in service.ini (ignoring letter case); the empty text for an unknown key.
QString Value(const QString& keyName);
TServiceSnapshot Snapshot();

inline QString Head() {
    return Value(TServiceKey::Head);
}
inline QString CsvTemplate() {
    return Value(TServiceKey::CsvTemplate);
}
inline QString LatestVersion() {
    return Value(TServiceKey::LatestVersion);
}

} // namespace TServiceValues
