// Every message box of the shell, in one place. Their texts come from gateways,
// file names and packages, so they are always shown as plain text: markup in
// them is never rendered and links in them are never followed.
#pragma once

#include <QString>

#include <functional>

#include "runs/tool_command.h"

class QWidget;
struct Confirmation;

// A notice with one OK button and no owner window; `done` runs when it is dismissed.
void ShowNotice(const QString& caption, const QString& text, const std::function<void()>& done);

// The question before a restore, a firmware upgrade or a channel setup writes
// (`action`), or the refusal of firmware for another model; `done` learns whether the user agreed.
void AskBeforeWriting(const Confirmation& confirmation, NativeAction action, const std::function<void(bool)>& done);

// The question before a gateway's row leaves its site file; Cancel is the default answer.
void AskBeforeRemoving(const QString& question, const std::function<void(bool)>& done);

// Whether the running tools `question` names are to be stopped; keeping them
// running is the default answer. Waits for the answer.
bool AskToStop(QWidget* parent, const QString& question);
