#pragma once

// The how-to page of the main window's help button: a small HTML guide written next
// to the job files and opened in the default browser.

#include <QString>

namespace velmora {

// Writes the guide to path; false when it cannot be written.
bool WriteHowToPage(const QString& path);

} // namespace velmora
