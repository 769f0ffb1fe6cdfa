#pragma once

#include <QtGlobal>

// Waits `microseconds` on the calling thread, as close to that as the system allows. The pauses
// between requests to a server are a courtesy of a fixed length: the system's habit of letting a
// sleeping thread oversleep to save power (a twentieth of a millisecond on Linux, more on a busy
// machine) is no part of it. Returns at once for 0 or less.
void PauseFor(qint64 microseconds);
