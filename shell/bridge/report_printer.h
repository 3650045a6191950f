// The handover report as PDF: the HTML file varnu-site wrote, loaded in a page
// that is never shown and may load nothing but that file, printed by the
// browser runtime on A4 portrait.
#pragma once

#include <QString>

#include <functional>

// Prints `html` (a local file) to the PDF file `pdf`, written whole or not at
// all; `done` receives an empty text, or what went wrong.
void PrintReport(const QString& html, const QString& pdf, const std::function<void(const QString&)>& done);
