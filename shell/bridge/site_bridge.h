// The site functions of the script bridge (native_site…, native_backupReport):
// varnu-site runs without a window for what the page shows, in a run view for
// backups and restores; a gateway's actions as native_runAction's, checked
// against its pin; the handover report printed to PDF.
#pragma once

#include <QString>

#include <functional>

#include "bridge/readers.h"

// The request's query item `name`, decoded; empty when absent.
using QueryItem = std::function<QString(const char* name)>;

// True for the functions HandleSiteFunction answers.
bool IsSiteFunction(const QString& function);

// Answers one call: JSON text through `reply_json`, or for the runs the integer result through `reply`.
void HandleSiteFunction(const QString& function, const QueryItem& item, const JsonReply& reply_json,
                        const std::function<void(int)>& reply);
