#include "runs/message_boxes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
#include <QPushButton>

#include "app/diagnostics.h"
#include "runs/confirmation.h"

namespace {

QMessageBox* NewBox(QMessageBox::Icon icon, const QString& caption, const QString& text, QWidget* parent = nullptr) {
  auto* box = new QMessageBox(icon, caption, text, QMessageBox::NoButton, parent);
  box->setTextFormat(Qt::PlainText);
  return box;
}

// One line per event, whatever the text holds.
QString quoted(const QString& text) {
  return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact));
}

// A question whose answer changes a gateway or a file: Cancel is the default,
// since writing is never the answer to a stray Enter.
void AskWithCancelDefault(QMessageBox::Icon icon, const QString& caption, const QString& text, const QString& go_label,
                          QMessageBox::ButtonRole go_role, const std::function<void(bool)>& done) {
  diagnostic("confirm " + quoted(text));
  QMessageBox* box = NewBox(icon, caption, text);
  box->setAttribute(Qt::WA_DeleteOnClose);
  QPushButton* go = box->addButton(go_label, go_role);
  QPushButton* cancel = box->addButton("&Cancel", QMessageBox::RejectRole);
  box->setDefaultButton(cancel);
  box->setEscapeButton(cancel);
  QObject::connect(box, &QMessageBox::finished, box, [box, go, done] {
    const bool agreed = box->clickedButton() == go;
    diagnostic(agreed ? "answer go" : "answer cancel");
    done(agreed);
  });
  box->show();
}

}  // namespace

void ShowNotice(const QString& caption, const QString& text, const std::function<void()>& done) {
  diagnostic(QString("notice %1: %2").arg(caption, text));
  QMessageBox* box = NewBox(QMessageBox::NoIcon, caption, text);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->addButton(QMessageBox::Ok);
  QObject::connect(box, &QMessageBox::finished, box, [done] { done(); });
  box->show();
}

void AskBeforeWriting(const Confirmation& confirmation, NativeAction action, const std::function<void(bool)>& done) {
  const bool restore = action == NativeAction::Restore, setup = action == NativeAction::SetupChannel;
  const QString text = QString::fromStdString(confirmation.text);
  if (confirmation.refused) {
    diagnostic("refused " + quoted(text));
    QMessageBox* box = NewBox(QMessageBox::Critical, "Firmware for another model", text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->addButton(QMessageBox::Ok);
    QObject::connect(box, &QMessageBox::finished, box, [done] { done(false); });
    box->show();
    return;
  }
  AskWithCancelDefault(confirmation.warned ? QMessageBox::Warning : QMessageBox::Question,
                       restore ? "Restore the gateway?" : setup ? "Set up the channel?" : "Upgrade the gateway?", text,
                       restore ? "&Restore" : setup ? "&Set up" : "&Upgrade", QMessageBox::AcceptRole, done);
}

void AskBeforeRemoving(const QString& question, const std::function<void(bool)>& done) {
  AskWithCancelDefault(QMessageBox::Question, "Remove the gateway?", question, "&Remove", QMessageBox::DestructiveRole,
                       done);
}

bool AskToStop(QWidget* parent, const QString& question) {
  diagnostic("question " + question);
  QMessageBox* box = NewBox(QMessageBox::Warning, "Stop the running action?", question, parent);
  QPushButton* keep = box->addButton("&Keep running", QMessageBox::RejectRole);
  QPushButton* stop = box->addButton("&Stop", QMessageBox::DestructiveRole);
  box->setDefaultButton(keep);
  box->setEscapeButton(keep);
  box->exec();
  const bool stopping = box->clickedButton() == stop;
  delete box;
  diagnostic(stopping ? "answer stop" : "answer keep running");
  return stopping;
}
