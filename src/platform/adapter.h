#pragma once

#include <QString>

// The hardware address of the workstation's first network adapter that has one (the loopback
// device has none), as six two-digit upper-case hexadecimal numbers joined by "-"; the empty text
// when no adapter address can be read.
QString AdapterAddress();
