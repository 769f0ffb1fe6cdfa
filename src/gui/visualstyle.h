#pragma once

class QApplication;

// The program's dark look: Qt's Fusion style with a dark palette. Without the Fusion style the
// platform's default look stays.
void ApplyVisualStyle(QApplication& app);
