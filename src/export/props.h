#pragma once

#include <QString>

// The category property lookup: turns the item's attributes (name:value as the page shows them)
// into the listing assistant's property-id:value-id pairs, found in the property service's reply
// by plain text search.

// The property service's address for a category.
QString PropertyRequestUrl(const QString& head, const QString& propsHost, const QString& categoryId);

// One pair "pid:vid;" for an attribute name and value, or the empty text. The name is looked up as
// the start of a "name" member; the value as a "name" member or, failing that, anywhere; each
// within 500 characters and before the end of its object.
QString LookupPropPair(const QString& reply, QString name, QString value);

// The category property field of a row: its attributes (ColProps, a comma text) looked up in the
// reply, the pairs joined by ";". Empty for an empty or "error" reply.
QString CategoryPropertyField(const QString& reply, const QString& props);
