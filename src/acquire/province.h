#pragma once

#include <QString>
#include <QStringList>

#include <utility>

// The province list: 35 "short name=full name" entries, the short name being the first two
// characters of the province's name.
QStringList ProvinceListEntries();

// Splits a ship-from location into province and city: the province part is the longest start of
// the (trimmed) location that agrees with the full name of the province its first two characters
// name, and never shorter than those two. A location of one character is its own province; one
// whose first two characters name no province gives two empty texts.
std::pair<QString, QString> SplitLocation(const QStringList& ProvinceList, const QString& location);
